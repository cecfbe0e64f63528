#pragma once
#include <QDBusConnection>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <memory>

namespace kingyo::test {

// A dbus-daemon of our own (no service activation) standing in for the system or the
// session bus, optionally with one of python3-dbusmock's services on it. Both processes
// are stopped by their own pids when this goes away.
class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();

    bool startDaemon();
    bool startNetworkManagerMock();
    bool startLogindMock();
    bool startNotificationDaemonMock();
    // Runs a stuck service: it owns `busName` but never answers.
    bool startSilentService(const QString &busName);

    QString address() const { return address_; }
    QDBusConnection connection(); // a client connection of the test itself
    QString failure() const { return failure_; }
    QString mockLog() const;

private:
    bool startMock(const QStringList &arguments, const QString &busName);
    bool waitForName(const QString &busName);
    static void stop(QProcess &process);

    QTemporaryDir dir_;
    QProcess daemon_;
    QProcess mock_;
    QString address_;
    QString connectionName_;
    QString failure_;
};

} // namespace kingyo::test
