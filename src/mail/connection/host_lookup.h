#pragma once
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

namespace kingyo {

// One name lookup on a thread of its own, which nobody waits for: destroying the
// lookup drops it at any moment, and the program may end while the thread still
// waits for a DNS server that never answers. The answer arrives through the event
// loop of the thread that started it.
class HostLookup : public QObject {
    Q_OBJECT
public:
    using Resolver = std::function<QList<QHostAddress>(const QString &host)>;
    // The system's resolver: every address of the host, IPv4 and IPv6; none when not found.
    static QList<QHostAddress> resolve(const QString &host);

    explicit HostLookup(const QString &host, Resolver resolver = &HostLookup::resolve, QObject *parent = nullptr);
    ~HostLookup() override;
    HostLookup(const HostLookup &) = delete;
    HostLookup &operator=(const HostLookup &) = delete;

signals:
    // Never after the lookup is destroyed; empty when the name was not found.
    void finished(const QList<QHostAddress> &addresses);

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
};

}
