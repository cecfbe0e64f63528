#include "mail/connection/host_lookup.h"

#include <QUrl>
#include <mutex>
#include <netdb.h>
#include <sys/socket.h>
#include <system_error>
#include <thread>

namespace kingyo {

// All the lookup's thread touches besides its own copies: the owner clears target
// when it goes, and the thread posts only under the mutex while target is set.
struct HostLookup::Shared {
    std::mutex mutex;
    HostLookup *target = nullptr;

    void deliver(const QList<QHostAddress> &addresses)
    {
        const std::lock_guard lock(mutex);
        if (!target)
            return;
        // A queued call to an object destroyed before it runs is dropped with it.
        QMetaObject::invokeMethod(
            target, [owner = target, addresses] { emit owner->finished(addresses); }, Qt::QueuedConnection);
    }
};

QList<QHostAddress> HostLookup::resolve(const QString &host)
{
    const QByteArray name = QUrl::toAce(host);
    if (name.isEmpty())
        return {};
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG;
    addrinfo *found = nullptr;
    int status = getaddrinfo(name.constData(), nullptr, &hints, &found);
    if (status == EAI_BADFLAGS) { // a C library without AI_ADDRCONFIG
        hints.ai_flags = 0;
        status = getaddrinfo(name.constData(), nullptr, &hints, &found);
    }
    if (status != 0)
        return {};
    QList<QHostAddress> addresses;
    for (const addrinfo *entry = found; entry; entry = entry->ai_next) {
        const QHostAddress address(entry->ai_addr);
        if (!address.isNull() && !addresses.contains(address))
            addresses << address;
    }
    freeaddrinfo(found);
    return addresses;
}

HostLookup::HostLookup(const QString &host, Resolver resolver, QObject *parent)
    : QObject(parent), shared_(std::make_shared<Shared>())
{
    shared_->target = this;
    try {
        std::thread([shared = shared_, host, resolver = std::move(resolver)] {
            shared->deliver(resolver(host));
        }).detach();
    } catch (const std::system_error &) { // no thread to be had: as if the name were unknown
        shared_->deliver({});
    }
}

HostLookup::~HostLookup()
{
    const std::lock_guard lock(shared_->mutex);
    shared_->target = nullptr;
}

}
