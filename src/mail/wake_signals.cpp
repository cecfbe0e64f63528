#include "mail/wake_signals.h"

namespace kingyo {
namespace {

const QString kNetworkManagerPath = QStringLiteral("/org/freedesktop/NetworkManager");
const QString kNetworkManager = QStringLiteral("org.freedesktop.NetworkManager");
constexpr uint kConnectedGlobal = 70;
constexpr uint kConnectivityFull = 4;

} // namespace

WakeSignals::WakeSignals(QDBusConnection systemBus, QObject *parent) : QObject(parent)
{
    // No sender named: for a named one Qt would ask the bus who owns it and wait for the
    // answer. Anyone else sending these only makes the watcher reconnect early.
    systemBus.connect(QString(), QStringLiteral("/org/freedesktop/login1"), QStringLiteral("org.freedesktop.login1.Manager"),
                      QStringLiteral("PrepareForSleep"), this, SLOT(sleepPrepared(bool)));
    systemBus.connect(QString(), kNetworkManagerPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                      QStringLiteral("PropertiesChanged"), this,
                      SLOT(propertiesChanged(QString, QVariantMap, QStringList)));
}

void WakeSignals::sleepPrepared(bool sleeping)
{
    if (!sleeping)
        emit woke();
}

void WakeSignals::propertiesChanged(const QString &interface, const QVariantMap &changed, const QStringList &)
{
    if (interface != kNetworkManager)
        return;
    bool ok = false;
    if (const uint state = changed.value(QStringLiteral("State")).toUInt(&ok); ok)
        networkState_ = state;
    if (const uint connectivity = changed.value(QStringLiteral("Connectivity")).toUInt(&ok); ok)
        connectivity_ = connectivity;
    networkSeen();
}

// The state and the connectivity change apart, often both for one change: the
// network counts as back once, when either first says so.
void WakeSignals::networkSeen()
{
    const bool online = networkState_ == kConnectedGlobal || connectivity_ == kConnectivityFull;
    if (online && !online_)
        emit woke();
    online_ = online;
}

} // namespace kingyo
