#include "mail/dialup_hangup.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <csignal>
#include <limits>
#include <sys/types.h>

using NmSettings = QMap<QString, QVariantMap>; // a{sa{sv}}

namespace kingyo {
namespace {

const QString kService = QStringLiteral("org.freedesktop.NetworkManager");
const QString kManagerPath = QStringLiteral("/org/freedesktop/NetworkManager");
const QString kActiveInterface = QStringLiteral("org.freedesktop.NetworkManager.Connection.Active");
const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

// Calls one method and waits no longer than what is left of the budget.
QDBusMessage callWithin(QDBusConnection &bus, const QDeadlineTimer &deadline, const QString &path,
                        const QString &interface, const QString &method, const QVariantList &arguments = {})
{
    const qint64 remaining = deadline.remainingTime();
    if (remaining <= 0)
        return QDBusMessage::createError(QDBusError::Timeout, QString());
    QDBusMessage call = QDBusMessage::createMethodCall(kService, path, interface, method);
    call.setArguments(arguments);
    return bus.call(call, QDBus::Block, int(remaining));
}

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

} // namespace

DialupHangup::DialupHangup(QDBusConnection bus, QStringList runDirs, std::chrono::milliseconds budget)
    : bus_(std::move(bus)), runDirs_(std::move(runDirs)), budget_(budget)
{
    qDBusRegisterMetaType<NmSettings>();
}

void DialupHangup::hangUpAll()
{
    if (bus_.isConnected())
        hangUpNetworkManagerLinks(QDeadlineTimer(budget_));
    hangUpPppDaemons();
}

void DialupHangup::hangUpNetworkManagerLinks(const QDeadlineTimer &deadline)
{
    const QDBusMessage reply = callWithin(bus_, deadline, kManagerPath, kPropertiesInterface, QStringLiteral("Get"),
                                          {kService, QStringLiteral("ActiveConnections")});
    for (const QString &active : objectPaths(unwrapVariant(firstReplyArgument(reply)))) {
        if (isDialup(active, deadline))
            deactivate(active, deadline);
    }
}

bool DialupHangup::isDialup(const QString &activeConnection, const QDeadlineTimer &deadline)
{
    const auto active = demarshalled<QVariantMap>(
        firstReplyArgument(callWithin(bus_, deadline, activeConnection, kPropertiesInterface, QStringLiteral("GetAll"),
                                      {kActiveInterface})),
        QLatin1String("a{sv}"));
    const QString type = unwrapVariant(active.value(QStringLiteral("Type"))).toString();
    static const QSet<QString> dialupTypes{QStringLiteral("gsm"), QStringLiteral("cdma"), QStringLiteral("pppoe"),
                                           QStringLiteral("adsl")};
    if (dialupTypes.contains(type))
        return true;
    if (type != QLatin1String("bluetooth"))
        return false;
    // A Bluetooth link is dial-up only when it uses the phone as a modem.
    const QString settingsPath = objectPath(unwrapVariant(active.value(QStringLiteral("Connection"))));
    if (settingsPath.isEmpty())
        return false;
    const auto settings = demarshalled<NmSettings>(
        firstReplyArgument(callWithin(bus_, deadline, settingsPath,
                                      QStringLiteral("org.freedesktop.NetworkManager.Settings.Connection"),
                                      QStringLiteral("GetSettings"))),
        QLatin1String("a{sa{sv}}"));
    return unwrapVariant(settings.value(QStringLiteral("bluetooth")).value(QStringLiteral("type"))).toString()
        == QLatin1String("dun");
}

void DialupHangup::deactivate(const QString &activeConnection, const QDeadlineTimer &deadline)
{
    // Refusals (no permission, already gone) are ignored: the others still go.
    callWithin(bus_, deadline, kManagerPath, kService, QStringLiteral("DeactivateConnection"),
               {QVariant::fromValue(QDBusObjectPath(activeConnection))});
}

void DialupHangup::hangUpPppDaemons()
{
    QSet<QString> seenDirs; // /var/run is usually /run under another name
    QSet<pid_t> signalled;
    for (const QString &dir : runDirs_) {
        const QString canonical = QFileInfo(dir).canonicalFilePath();
        if (canonical.isEmpty() || seenDirs.contains(canonical))
            continue;
        seenDirs.insert(canonical);
        const QStringList pidFiles = QDir(canonical).entryList({QStringLiteral("ppp*.pid")}, QDir::Files);
        for (const QString &name : pidFiles) {
            const pid_t pid = pidFromFile(canonical + u'/' + name);
            if (pid == 0 || signalled.contains(pid) || !isPppDaemon(pid))
                continue;
            ::kill(pid, SIGTERM); // SIGHUP would only make a persistent link redial
            signalled.insert(pid);
        }
    }
}

} // namespace kingyo
