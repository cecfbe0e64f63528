#include "panel/new_mail_notification.h"

#include "support/notification_service.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace kingyo {
namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");

class NewMailNotificationTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(bus.startDaemon()) << bus.failure().toStdString(); }

    void startService() { ASSERT_TRUE(service.start()) << bus.failure().toStdString(); }

    NewMailNotification &notification()
    {
        if (!notification_) {
            QImage icon(64, 64, QImage::Format_ARGB32);
            icon.fill(Qt::red);
            notification_ = std::make_unique<NewMailNotification>([this] { return bus.connection(); }, icon);
        }
        return *notification_;
    }

    QList<test::NotifyCall> notifyCalls() { return service.notifyCalls(); }

    // Shows `count` and waits for the service's answer.
    void showAndWait(int count, const QList<MailSummary> &newest = {})
    {
        const int before = notifyCalls().size();
        notification().show(count, newest);
        ASSERT_TRUE(QTest::qWaitFor([&] { return notification().shownId() != 0 && notifyCalls().size() > before; }));
    }

    test::PrivateBus bus;
    test::NotificationService service{bus};
    std::unique_ptr<NewMailNotification> notification_;
};

TEST_F(NewMailNotificationTest, SaysHowManyCameWithTheIconAndADefaultAction)
{
    startService();
    showAndWait(3);

    const QList<test::NotifyCall> calls = notifyCalls();
    ASSERT_EQ(calls.size(), 1);
    EXPECT_EQ(calls[0].appName, QStringLiteral("kingyo"));
    EXPECT_EQ(calls[0].summary, QStringLiteral("新着メール 3 通"));
    EXPECT_EQ(calls[0].replacesId, 0u);
    EXPECT_TRUE(calls[0].actions.contains(QStringLiteral("default")));
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

TEST_F(NewMailNotificationTest, TheBodyNamesTheNewestAsPlainTextThenTheRest)
{
    startService();
    const QList<MailSummary> newest{{QStringLiteral("Eve <i>"), QStringLiteral("<b>Win</b> & \"free\"")},
                                    {QString(), QStringLiteral("件名だけ")},
                                    {QStringLiteral("差出人だけ"), QString()}};
    showAndWait(5, newest);
    showAndWait(3, newest);

    const QList<test::NotifyCall> calls = notifyCalls();
    ASSERT_EQ(calls.size(), 2);
    const QString lines = QStringLiteral("Eve &lt;i&gt; — &lt;b&gt;Win&lt;/b&gt; &amp; &quot;free&quot;\n件名だけ\n差出人だけ");
    EXPECT_EQ(calls[0].body, lines + QStringLiteral("\nほか 2 通"));
    EXPECT_EQ(calls[1].body, lines);
    EXPECT_EQ(calls[1].summary, QStringLiteral("新着メール 3 通"));
}

TEST_F(NewMailNotificationTest, ANewerOneReplacesTheOneShowingUntilThatIsClosed)
{
    startService();
    showAndWait(1);
    const uint first = notification().shownId();
    showAndWait(2);
    EXPECT_EQ(notifyCalls().last().replacesId, first);

    ASSERT_EQ(service.close(notification().shownId()).type(), QDBusMessage::ReplyMessage);
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

    service.invokeAction(id + 100, QStringLiteral("default"));
    service.invokeAction(id, QStringLiteral("other"));
    service.invokeAction(id, QStringLiteral("default"));

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
