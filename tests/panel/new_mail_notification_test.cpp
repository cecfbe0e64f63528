#include "panel/new_mail_notification.h"

#include "support/private_bus.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace kingyo {
namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kMockInterface = QStringLiteral("org.freedesktop.DBus.Mock");

// What the service was sent in one Notify call.
struct NotifyCall {
    QString appName;
    uint replacesId = 0;
    QString summary;
    QStringList actions;
    QVariantMap hints;
    int expireTimeout = 0;
};

class NewMailNotificationTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(bus.startDaemon()) << bus.failure().toStdString(); }

    void startService() { ASSERT_TRUE(bus.startNotificationDaemonMock()) << bus.failure().toStdString(); }

    NewMailNotification &notification()
    {
        if (!notification_) {
            QImage icon(64, 64, QImage::Format_ARGB32);
            icon.fill(Qt::red);
            notification_ = std::make_unique<NewMailNotification>(bus.connection(), QStringLiteral("io.github.kingyo"),
                                                                  icon);
        }
        return *notification_;
    }

    QDBusMessage mockCall(const QString &method, const QVariantList &arguments)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kMockInterface, method);
        call.setArguments(arguments);
        return bus.connection().call(call, QDBus::Block, 5000);
    }

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
            NotifyCall call;
            call.appName = arguments.value(0).toString();
            call.replacesId = arguments.value(1).toUInt();
            call.summary = arguments.value(3).toString();
            call.actions = arguments.value(5).toStringList();
            call.hints = qdbus_cast<QVariantMap>(arguments.value(6));
            call.expireTimeout = arguments.value(7).toInt();
            calls << call;
        }
        list.endArray();
        return calls;
    }

    // Shows `count` and waits for the service's answer.
    void showAndWait(int count)
    {
        const int before = notifyCalls().size();
        notification().show(count);
        ASSERT_TRUE(QTest::qWaitFor([&] { return notification().shownId() != 0 && notifyCalls().size() > before; }));
    }

    void emitSignal(const QString &name, const QString &signature, const QVariantList &arguments)
    {
        const QDBusMessage reply = mockCall(QStringLiteral("EmitSignal"),
                                            {kService, name, signature, arguments});
        ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    }

    test::PrivateBus bus;
    std::unique_ptr<NewMailNotification> notification_;
};

TEST_F(NewMailNotificationTest, SaysHowManyCameWithTheIconAndADefaultAction)
{
    startService();
    showAndWait(3);

    const QList<NotifyCall> calls = notifyCalls();
    ASSERT_EQ(calls.size(), 1);
    EXPECT_EQ(calls[0].appName, QStringLiteral("kingyo"));
    EXPECT_EQ(calls[0].summary, QStringLiteral("新着メール 3 通"));
    EXPECT_EQ(calls[0].replacesId, 0u);
    EXPECT_TRUE(calls[0].actions.contains(QStringLiteral("default")));
    EXPECT_EQ(calls[0].hints.value(QStringLiteral("desktop-entry")).toString(), QStringLiteral("io.github.kingyo"));
    // The picture goes as RGBA rows: width, height, stride, alpha, 8 bits, 4 channels, bytes.
    const QDBusArgument image = qvariant_cast<QDBusArgument>(calls[0].hints.value(QStringLiteral("image-data")));
    int width = 0, height = 0, stride = 0, bits = 0, channels = 0;
    bool alpha = false;
    QByteArray bytes;
    image.beginStructure();
    image >> width >> height >> stride >> alpha >> bits >> channels >> bytes;
    image.endStructure();
    EXPECT_EQ(std::tuple(width, height, stride, alpha, bits, channels), std::tuple(64, 64, 256, true, 8, 4));
    ASSERT_EQ(bytes.size(), 64 * 256);
    EXPECT_EQ(bytes.left(4), QByteArray("\xff\x00\x00\xff", 4)); // red, opaque, in RGBA order
}

TEST_F(NewMailNotificationTest, ANewerOneReplacesTheOneShowingUntilThatIsClosed)
{
    startService();
    showAndWait(1);
    const uint first = notification().shownId();
    showAndWait(2);
    EXPECT_EQ(notifyCalls().last().replacesId, first);

    emitSignal(QStringLiteral("NotificationClosed"), QStringLiteral("uu"), {notification().shownId(), 2u});
    ASSERT_TRUE(QTest::qWaitFor([&] { return notification().shownId() == 0; }));
    showAndWait(4);
    EXPECT_EQ(notifyCalls().last().replacesId, 0u);
}

TEST_F(NewMailNotificationTest, OnlyItsOwnDefaultActionActivatesIt)
{
    startService();
    showAndWait(5);
    const uint id = notification().shownId();
    QSignalSpy activated(&notification(), &NewMailNotification::activated);

    emitSignal(QStringLiteral("ActionInvoked"), QStringLiteral("us"), {id + 100, QStringLiteral("default")});
    emitSignal(QStringLiteral("ActionInvoked"), QStringLiteral("us"), {id, QStringLiteral("other")});
    emitSignal(QStringLiteral("ActionInvoked"), QStringLiteral("us"), {id, QStringLiteral("default")});

    ASSERT_TRUE(activated.wait(5000));
    QTest::qWait(200); // the two that do not count would have arrived first
    ASSERT_EQ(activated.size(), 1);
    EXPECT_EQ(activated.first().value(0).toInt(), 5);
}

TEST_F(NewMailNotificationTest, WithoutAServiceOrWithAStuckOneNothingWaits)
{
    for (bool stuck : {false, true}) {
        if (stuck) {
            ASSERT_TRUE(bus.startSilentService(kService)) << bus.failure().toStdString();
        }
        QElapsedTimer clock;
        clock.start();
        notification().show(1);
        // Waiting for the answer would take the whole call timeout.
        EXPECT_LT(clock.elapsed(), NewMailNotification::kCallTimeout.count() / 2) << "stuck: " << stuck;
        QTest::qWait(stuck ? int(NewMailNotification::kCallTimeout.count()) + 500 : 300);
        EXPECT_EQ(notification().shownId(), 0u) << "stuck: " << stuck;
    }
}

} // namespace
} // namespace kingyo
