#pragma once
#include <QDBusConnection>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

namespace kingyo {

// Says when the machine may have lost its connections and the network is there again:
// it resumed from sleep (logind's PrepareForSleep(false)), or NetworkManager reports
// the internet reachable once more (state CONNECTED_GLOBAL, or connectivity FULL, after
// anything else). Only listens: nothing is asked of the bus, nothing waits. Without a
// bus, logind or NetworkManager it never says anything.
class WakeSignals : public QObject {
    Q_OBJECT
public:
    explicit WakeSignals(QDBusConnection systemBus, QObject *parent = nullptr);

signals:
    void woke();

private slots:
    void sleepPrepared(bool sleeping);
    void propertiesChanged(const QString &interface, const QVariantMap &changed, const QStringList &invalidated);

private:
    void networkSeen();

    uint networkState_ = 0; // NetworkManager's properties; 0 (unknown) until it says
    uint connectivity_ = 0;
    bool online_ = false;
};

} // namespace kingyo
