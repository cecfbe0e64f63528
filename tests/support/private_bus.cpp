#include "support/private_bus.h"

#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>
#include <QUuid>

namespace kingyo::test {
namespace {

const QString kNetworkManager = QStringLiteral("org.freedesktop.NetworkManager");

QByteArray busConfig(const QString &socketDir)
{
    return QStringLiteral(R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>custom</type>
  <listen>unix:dir=%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)")
        .arg(socketDir)
        .toUtf8();
}

} // namespace

PrivateBus::PrivateBus() : connectionName_(QUuid::createUuid().toString()) {}

PrivateBus::~PrivateBus()
{
    QDBusConnection::disconnectFromBus(connectionName_);
    stop(mock_);
    stop(keyring_);
    stop(daemon_);
}

void PrivateBus::stop(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate(); // SIGTERM to the pid we started
    if (!process.waitForFinished(3000)) {
        process.kill();
        process.waitForFinished(3000);
    }
}

bool PrivateBus::startDaemon()
{
    const QString configPath = dir_.filePath(QStringLiteral("bus.conf"));
    QFile config(configPath);
    if (!config.open(QIODevice::WriteOnly) || config.write(busConfig(dir_.path())) < 0) {
        failure_ = QStringLiteral("cannot write the bus configuration");
        return false;
    }
    config.close();
    daemon_.start(QStringLiteral("dbus-daemon"),
                  {QStringLiteral("--config-file=") + configPath, QStringLiteral("--nofork"),
                   QStringLiteral("--print-address=1")});
    if (!daemon_.waitForStarted(5000) || !daemon_.waitForReadyRead(5000)) {
        failure_ = QStringLiteral("dbus-daemon did not start: ") + daemon_.errorString();
        return false;
    }
    address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    return !address_.isEmpty();
}

QString PrivateBus::mockLog() const
{
    QFile log(dir_.filePath(QStringLiteral("mock.log")));
    return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
}

QDBusConnection PrivateBus::connection() { return QDBusConnection::connectToBus(address_, connectionName_); }

bool PrivateBus::startNetworkManagerMock()
{
    return startMock({QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--template"),
                      QStringLiteral("networkmanager")},
                     kNetworkManager);
}

bool PrivateBus::startLogindMock()
{
    return startMock({QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--template"),
                      QStringLiteral("logind")},
                     QStringLiteral("org.freedesktop.login1"));
}

bool PrivateBus::startNotificationDaemonMock()
{
    return startMock({QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--template"),
                      QStringLiteral("notification_daemon")},
                     QStringLiteral("org.freedesktop.Notifications"));
}

bool PrivateBus::startSilentService(const QString &busName)
{
    const QString script = QStringLiteral(
        "import dbus, time\n"
        "bus = dbus.bus.BusConnection('%1')\n"
        "bus.request_name('%2')\n"
        "print('ready', flush=True)\n"
        "time.sleep(600)\n");
    return startMock({QStringLiteral("-c"), script.arg(address_, busName)}, busName);
}

bool PrivateBus::startLatePrompter(double delaySeconds)
{
    // gcr's prompter protocol: the keyring begins, the prompter says it is ready, the
    // keyring asks, the prompter answers, the keyring stops. The password travels in the
    // secret exchange: our public key is 1, so the keyring's shared secret is 1 (padded
    // to the 1536-bit prime) whatever its own key; the transport key is its HKDF-SHA256,
    // and the password is AES-128-CBC under it.
    const QString script = QStringLiteral(R"(
import base64, hashlib, hmac, os, subprocess, dbus, dbus.service, dbus.mainloop.glib
from gi.repository import GLib
PROMPTER = 'org.gnome.keyring.internal.Prompter'
NO_PROPERTIES = dbus.Dictionary({}, signature='sv')
KEY = hmac.new(hmac.new(bytes(32), bytes(191) + b'\x01', hashlib.sha256).digest(), b'\x01',
               hashlib.sha256).digest()[:16]

def exchange(password=None):
    lines = ['[sx-aes-1]', 'public=AQ==']
    if password is not None:
        iv = os.urandom(16)
        sealed = subprocess.run(['openssl', 'enc', '-aes-128-cbc', '-K', KEY.hex(), '-iv', iv.hex()],
                                input=password, capture_output=True, check=True).stdout
        lines += ['secret=' + base64.b64encode(sealed).decode(), 'iv=' + base64.b64encode(iv).decode()]
    return '\n'.join(lines) + '\n'

class Prompter(dbus.service.Object):
    def call_back(self, sender, path, method, *args):
        bus.get_object(sender, path, introspect=False).get_dbus_method(method, PROMPTER + '.Callback')(
            *args, reply_handler=lambda *a: None, error_handler=lambda *a: None)
        return False

    @dbus.service.method(PROMPTER, in_signature='o', sender_keyword='sender')
    def BeginPrompting(self, callback, sender):
        GLib.idle_add(self.call_back, sender, callback, 'PromptReady', '', NO_PROPERTIES, exchange())

    @dbus.service.method(PROMPTER, in_signature='osa{sv}s', sender_keyword='sender')
    def PerformPrompt(self, callback, kind, properties, received, sender):
        print('prompt', kind, flush=True)
        answer = exchange(b'kingyo-test-login' if kind == 'password' else None)
        GLib.timeout_add(%2, self.call_back, sender, callback, 'PromptReady', 'yes', NO_PROPERTIES, answer)

    @dbus.service.method(PROMPTER, in_signature='o', sender_keyword='sender')
    def StopPrompting(self, callback, sender):
        GLib.idle_add(self.call_back, sender, callback, 'PromptDone')

dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.bus.BusConnection('%1')
prompter = Prompter(bus, '/org/gnome/keyring/Prompter')
bus.request_name('org.gnome.keyring.SystemPrompter')
GLib.MainLoop().run()
)");
    return startMock({QStringLiteral("-c"), script.arg(address_).arg(int(delaySeconds * 1000))},
                     QStringLiteral("org.gnome.keyring.SystemPrompter"));
}

QProcessEnvironment PrivateBus::keyringEnvironment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString home = dir_.filePath(QStringLiteral("home"));
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address_);
    environment.insert(QStringLiteral("HOME"), home);
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/data"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir_.filePath(QStringLiteral("runtime")));
    return environment;
}

bool PrivateBus::startKeyring(KeyringLock lock)
{
    if (!QDir().mkpath(dir_.filePath(QStringLiteral("runtime")))
        || !QFile::setPermissions(dir_.filePath(QStringLiteral("runtime")),
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner)) {
        failure_ = QStringLiteral("cannot make the keyring's runtime folder");
        return false;
    }
    if (lock != KeyringLock::Locked)
        return startKeyringDaemon(lock == KeyringLock::Unlocked);
    if (!startKeyringDaemon(true))
        return false;
    stop(keyring_);
    return startKeyringDaemon(false);
}

bool PrivateBus::startKeyringDaemon(bool unlock)
{
    QStringList arguments{QStringLiteral("--foreground"), QStringLiteral("--components=secrets"),
                          QStringLiteral("--control-directory=") + dir_.filePath(QStringLiteral("runtime/keyring"))};
    if (unlock)
        arguments << QStringLiteral("--unlock");
    keyring_.setProcessEnvironment(keyringEnvironment());
    keyring_.setStandardOutputFile(dir_.filePath(QStringLiteral("keyring.out")));
    // Its warnings that no prompt can be shown, which the locked keyring's tests want.
    keyring_.setStandardErrorFile(dir_.filePath(QStringLiteral("keyring.log")));
    keyring_.start(QStringLiteral("gnome-keyring-daemon"), arguments);
    if (!keyring_.waitForStarted(5000)) {
        failure_ = QStringLiteral("gnome-keyring-daemon did not start: ") + keyring_.errorString();
        return false;
    }
    if (unlock) {
        keyring_.write("kingyo-test-login");
        keyring_.waitForBytesWritten(5000); // nothing else writes it: no event loop runs here
    }
    keyring_.closeWriteChannel();
    if (waitForName(QStringLiteral("org.freedesktop.secrets"), keyring_))
        return true;
    QFile log(dir_.filePath(QStringLiteral("keyring.log")));
    if (log.open(QIODevice::ReadOnly))
        failure_ += QStringLiteral(": ") + QString::fromUtf8(log.readAll());
    return false;
}

bool PrivateBus::startMock(const QStringList &arguments, const QString &busName)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), address_);
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address_);
    mock_.setProcessEnvironment(environment);
    mock_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    mock_.setStandardOutputFile(dir_.filePath(QStringLiteral("mock.log"))); // its call log
    // Debian's own interpreter: that is where python3-dbusmock is installed.
    mock_.start(QStringLiteral("/usr/bin/python3"), arguments);
    if (!mock_.waitForStarted(5000)) {
        failure_ = QStringLiteral("python3 did not start: ") + mock_.errorString();
        return false;
    }
    return waitForName(busName, mock_);
}

bool PrivateBus::waitForName(const QString &busName, const QProcess &service)
{
    QDBusConnection bus = connection();
    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        if (bus.interface()->isServiceRegistered(busName))
            return true;
        if (service.state() == QProcess::NotRunning)
            break;
        QThread::msleep(20);
    }
    failure_ = busName + QStringLiteral(" never appeared on the private bus");
    return false;
}

} // namespace kingyo::test
