#pragma once
#include <QDBusConnection>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <memory>

namespace kingyo::test {

// A dbus-daemon of our own (no service activation) standing in for the system or the
// session bus, optionally with one of python3-dbusmock's services on it, and with
// gnome-keyring's Secret Service beside it if asked. Every process is stopped by its own
// pid when this goes away.
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
    // gnome-keyring-daemon's Secret Service, its keyrings in a folder of this bus's own.
    // Unlocked: it opens the login keyring with a password given on stdin (making it
    // the first time). Locked: the login keyring is made by such a daemon, which is
    // stopped, and then opened by one that nobody unlocks. Unmade: there is no keyring
    // yet; the first save asks the user (see startLatePrompter()) to make one.
    enum class KeyringLock { Unlocked, Locked, Unmade };
    bool startKeyring(KeyringLock lock);
    // The desktop's keyring prompter (gcr's system prompter) as a slow user: it answers
    // every prompt of the keyring "yes" after the delay, a password prompt with the
    // password "kingyo-test-login". Its log (mockLog()) holds "prompt <type>" for each.
    bool startLatePrompter(double delaySeconds);
    // What a process needs to reach the keyring on this bus (and only it).
    QProcessEnvironment keyringEnvironment() const;

    QString address() const { return address_; }
    QDBusConnection connection(); // a client connection of the test itself
    QString failure() const { return failure_; }
    QString mockLog() const;

private:
    bool startMock(const QStringList &arguments, const QString &busName);
    bool startKeyringDaemon(bool unlock);
    bool waitForName(const QString &busName, const QProcess &service);
    static void stop(QProcess &process);

    QTemporaryDir dir_;
    QProcess daemon_;
    QProcess mock_;
    QProcess keyring_;
    QString address_;
    QString connectionName_;
    QString failure_;
};

} // namespace kingyo::test
