#include "mail/dialup_hangup.h"

#include <QDBusArgument>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <csignal>
#include <functional>
#include <limits>
#include <utility>
#include <sys/types.h>

using NmSettings = QMap<QString, QVariantMap>; // a{sa{sv}}

namespace kingyo {
namespace {

const QString kService = QStringLiteral("org.freedesktop.NetworkManager");
const QString kManagerPath = QStringLiteral("/org/freedesktop/NetworkManager");
const QString kActiveInterface = QStringLiteral("org.freedesktop.NetworkManager.Connection.Active");
const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kSettingsInterface = QStringLiteral("org.freedesktop.NetworkManager.Settings.Connection");

QVariant firstReplyArgument(const QDBusMessage &reply)
{
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return reply.arguments().constFirst();
}

QVariant unwrapVariant(const QVariant &value)
{
    if (value.canConvert<QDBusVariant>())
        return qvariant_cast<QDBusVariant>(value).variant();
    return value;
}

// A reply argument of the expected D-Bus signature as T; an empty T for anything else.
template <typename T>
T demarshalled(const QVariant &value, QLatin1String signature)
{
    if (!value.canConvert<QDBusArgument>())
        return {};
    const QDBusArgument argument = qvariant_cast<QDBusArgument>(value);
    if (argument.currentSignature() != signature)
        return {};
    return qdbus_cast<T>(argument);
}

QStringList objectPaths(const QVariant &value)
{
    QStringList paths;
    for (const QDBusObjectPath &path : demarshalled<QList<QDBusObjectPath>>(value, QLatin1String("ao")))
        paths << path.path();
    return paths;
}

QString objectPath(const QVariant &value)
{
    return value.canConvert<QDBusObjectPath>() ? qvariant_cast<QDBusObjectPath>(value).path() : QString();
}

bool isPppDaemon(pid_t pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (!comm.open(QIODevice::ReadOnly))
        return false;
    return comm.readLine(64).trimmed() == "pppd";
}

// The process a pid file names: its first line, a number above 1 (never init), or 0.
pid_t pidFromFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    bool ok = false;
    const qlonglong pid = file.readLine(32).trimmed().toLongLong(&ok);
    return ok && pid > 1 && pid <= std::numeric_limits<pid_t>::max() ? pid_t(pid) : 0;
}

// Asks every pppd named by a pid file to end its link; says how many were asked.
int hangUpPppDaemons(const QStringList &runDirs)
{
    QSet<QString> seenDirs; // /var/run is usually /run under another name
    QSet<pid_t> signalled;
    int asked = 0;
    for (const QString &dir : runDirs) {
        const QString canonical = QFileInfo(dir).canonicalFilePath();
        if (canonical.isEmpty() || seenDirs.contains(canonical))
            continue;
        seenDirs.insert(canonical);
        const QStringList pidFiles = QDir(canonical).entryList({QStringLiteral("ppp*.pid")}, QDir::Files);
        for (const QString &name : pidFiles) {
            const pid_t pid = pidFromFile(canonical + u'/' + name);
            if (pid == 0 || signalled.contains(pid) || !isPppDaemon(pid))
                continue;
            if (::kill(pid, SIGTERM) == 0) // SIGHUP would only make a persistent link redial
                ++asked;
            signalled.insert(pid);
        }
    }
    return asked;
}

bool isDialupType(const QString &type)
{
    static const QSet<QString> dialupTypes{QStringLiteral("gsm"), QStringLiteral("cdma"), QStringLiteral("pppoe"),
                                           QStringLiteral("adsl")};
    return dialupTypes.contains(type);
}

// A Bluetooth link is dial-up only when it uses the phone as a modem.
bool usesPhoneAsModem(const QDBusMessage &settingsReply)
{
    const auto settings = demarshalled<NmSettings>(firstReplyArgument(settingsReply), QLatin1String("a{sa{sv}}"));
    return unwrapVariant(settings.value(QStringLiteral("bluetooth")).value(QStringLiteral("type"))).toString()
        == QLatin1String("dun");
}

} // namespace

// One hang-up: NetworkManager's answers awaited under one deadline, then the pppd
// daemons. Each call may take only what is left of the budget, so the last answer
// or its timeout comes by the deadline and ends the run; a late answer is dropped
// by the bus library and never read.
class DialupHangup::Run : public QObject {
public:
    explicit Run(DialupHangup &owner) : QObject(&owner), owner_(owner), deadline_(owner.budget_)
    {
        // An absent NetworkManager or bus answers this with an error: no links, then pppd.
        call(kManagerPath, kPropertiesInterface, QStringLiteral("Get"), {kService, QStringLiteral("ActiveConnections")},
             [this](const QDBusMessage &reply) { listed(reply); });
    }

private:
    using ReplyHandler = std::function<void(const QDBusMessage &)>;

    void call(const QString &path, const QString &interface, const QString &method, const QVariantList &arguments,
              ReplyHandler onReply)
    {
        QDBusMessage message = QDBusMessage::createMethodCall(kService, path, interface, method);
        message.setArguments(arguments);
        const int timeout = int(qMax<qint64>(1, deadline_.remainingTime()));
        // Without a bus Qt's call would never finish: answer it with the error at once.
        const QDBusPendingCall pending = owner_.bus_.isConnected()
            ? owner_.bus_.asyncCall(message, timeout)
            : QDBusPendingCall::fromError(QDBusError(QDBusError::Disconnected, QString()));
        auto *watcher = new QDBusPendingCallWatcher(pending, this);
        ++pending_;
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, onReply = std::move(onReply)] {
            watcher->deleteLater();
            onReply(watcher->reply()); // may send more before this one counts as answered
            if (--pending_ == 0)
                end();
        });
    }

    void listed(const QDBusMessage &reply)
    {
        for (const QString &active : objectPaths(unwrapVariant(firstReplyArgument(reply))))
            call(active, kPropertiesInterface, QStringLiteral("GetAll"), {kActiveInterface},
                 [this, active](const QDBusMessage &properties) { propertiesRead(active, properties); });
    }

    void propertiesRead(const QString &active, const QDBusMessage &reply)
    {
        const auto properties = demarshalled<QVariantMap>(firstReplyArgument(reply), QLatin1String("a{sv}"));
        const QString type = unwrapVariant(properties.value(QStringLiteral("Type"))).toString();
        if (isDialupType(type)) {
            deactivate(active);
            return;
        }
        const QString settingsPath = objectPath(unwrapVariant(properties.value(QStringLiteral("Connection"))));
        if (type != QLatin1String("bluetooth") || settingsPath.isEmpty())
            return;
        call(settingsPath, kSettingsInterface, QStringLiteral("GetSettings"), {},
             [this, active](const QDBusMessage &settings) {
                 if (usesPhoneAsModem(settings))
                     deactivate(active);
             });
    }

    void deactivate(const QString &active)
    {
        ++linksAsked_;
        // Refusals (no permission, already gone) are ignored: the others still go.
        call(kManagerPath, kService, QStringLiteral("DeactivateConnection"),
             {QVariant::fromValue(QDBusObjectPath(active))}, [](const QDBusMessage &) {});
    }

    void end()
    {
        linksAsked_ += hangUpPppDaemons(owner_.runDirs_);
        owner_.runEnded(linksAsked_);
    }

    DialupHangup &owner_;
    QDeadlineTimer deadline_;
    int pending_ = 0;
    int linksAsked_ = 0;
};

DialupHangup::DialupHangup(QDBusConnection bus, QStringList runDirs, std::chrono::milliseconds budget,
                           QObject *parent)
    : QObject(parent), bus_(std::move(bus)), runDirs_(std::move(runDirs)), budget_(budget)
{
    qDBusRegisterMetaType<NmSettings>();
}

void DialupHangup::hangUpAll()
{
    if (run_)
        requestedAgain_ = true;
    else
        startRun();
}

void DialupHangup::startRun() { run_ = new Run(*this); }

void DialupHangup::runEnded(int linksAsked)
{
    run_->deleteLater(); // its own answer handler may be on the stack
    run_ = nullptr;
    if (std::exchange(requestedAgain_, false))
        startRun();
    emit finished(linksAsked);
}

} // namespace kingyo
