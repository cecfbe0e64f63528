#pragma once
#include <QDBusConnection>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <memory>

namespace kingyo::test {

// A dbus-daemon of our own (no service activation) standing in for the system bus,
// optionally with python3-dbusmock's NetworkManager on it. Both processes are
// stopped by their own pids when this goes away.
class PrivateSystemBus {
public:
    PrivateSystemBus();
    ~PrivateSystemBus();

    bool startDaemon();
    bool startNetworkManagerMock();
    // Runs a stuck mock: it owns NetworkManager's name but never answers.
    bool startSilentNetworkManager();

    QString address() const { return address_; }
    QDBusConnection connection(); // a client connection of the test itself
    QString failure() const { return failure_; }
    QString mockLog() const;

private:
    bool startMock(const QStringList &arguments);
    bool waitForNetworkManagerName();
    static void stop(QProcess &process);

    QTemporaryDir dir_;
    QProcess daemon_;
    QProcess mock_;
    QString address_;
    QString connectionName_;
    QString failure_;
};

} // namespace kingyo::test
