#pragma once
#include "support/private_bus.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

namespace kingyo::test {

// What python3-dbusmock's notification service was sent in one Notify call.
struct NotifyCall {
    QString appName;
    uint replacesId = 0;
    QString summary;
    QString body;
    QStringList actions;
    QVariantMap hints;
};

// The notification service on a private bus, as the desktop's stand-in.
class NotificationService {
public:
    explicit NotificationService(PrivateBus &bus) : bus_(bus) {}

    bool start() { return bus_.startNotificationDaemonMock(); }

    // Every Notify the service answered so far, oldest first.
    QList<NotifyCall> notifyCalls()
    {
        const QDBusMessage reply = mockCall(QStringLiteral("GetMethodCalls"), {QStringLiteral("Notify")});
        QList<NotifyCall> calls;
        if (reply.arguments().isEmpty())
            return calls;
        const QDBusArgument list = qvariant_cast<QDBusArgument>(reply.arguments().constFirst());
        list.beginArray();
        while (!list.atEnd()) {
            quint64 timestamp = 0;
            QVariantList arguments;
            list.beginStructure();
            list >> timestamp >> arguments;
            list.endStructure();
            calls << NotifyCall{arguments.value(0).toString(), arguments.value(1).toUInt(),
                                arguments.value(3).toString(), arguments.value(4).toString(),
                                arguments.value(5).toStringList(),
                                qdbus_cast<QVariantMap>(arguments.value(6))};
        }
        list.endArray();
        return calls;
    }

    // The service says the user chose `action` of notification `id`.
    QDBusMessage invokeAction(uint id, const QString &action)
    {
        return emitSignal(QStringLiteral("ActionInvoked"), QStringLiteral("us"), {id, action});
    }
    QDBusMessage close(uint id)
    {
        return emitSignal(QStringLiteral("NotificationClosed"), QStringLiteral("uu"), {id, 2u});
    }

private:
    QDBusMessage emitSignal(const QString &name, const QString &signature, const QVariantList &arguments)
    {
        return mockCall(QStringLiteral("EmitSignal"),
                        {QStringLiteral("org.freedesktop.Notifications"), name, signature, arguments});
    }

    QDBusMessage mockCall(const QString &method, const QVariantList &arguments)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
            QStringLiteral("org.freedesktop.DBus.Mock"), method);
        call.setArguments(arguments);
        return bus_.connection().call(call, QDBus::Block, 5000);
    }

    PrivateBus &bus_;
};

} // namespace kingyo::test
