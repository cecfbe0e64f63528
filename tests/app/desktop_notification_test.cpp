// Checks the timer ran tell the desktop of new mail; choosing the notification brings
// the notice back.
#include "app/browser_sign_in.h"
#include "app/mail_waiting_fixture.h"
#include "panel/id_pass_form.h"
#include "panel/new_mail_notification.h"
#include "settings/account_file.h"
#include "support/notification_service.h"

#include "support/message_boxes.h"
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace kingyo {
namespace {

class DesktopNotificationTest : public test::MailWaitingFixture {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(bus.startDaemon()) << bus.failure().toStdString();
        ASSERT_TRUE(service.start()) << bus.failure().toStdString();
        notification = std::make_unique<NewMailNotification>([this] { return bus.connection(); }, QImage());
        wireNotification(context, *notification);
    }

    // The summaries the desktop was sent, once what was sent so far has arrived.
    QStringList summariesSent(int expected)
    {
        QStringList summaries;
        EXPECT_TRUE(QTest::qWaitFor([&] { return service.notifyCalls().size() >= expected; }, 5000));
        for (const test::NotifyCall &call : service.notifyCalls())
            summaries << call.summary;
        return summaries;
    }

    test::PrivateBus bus;
    test::NotificationService service{bus};
    std::unique_ptr<NewMailNotification> notification;
};

TEST_F(DesktopNotificationTest, OnlyTimedChecksThatFindMailTellTheDesktopWhileTheOptionIsOn)
{
    timedCheck(2);
    check(3); // clicked: the user is looking
    timedCheck(0);
    context.settings.setMailWatch({.countNewOnly = true, .intervalMinutes = 1, .notify = false});
    timedCheck(4);
    context.settings.setMailWatch({.countNewOnly = true, .intervalMinutes = 1, .notify = true});
    timedCheck(1);

    EXPECT_EQ(summariesSent(2), (QStringList{QStringLiteral("新着メール 2 通"), QStringLiteral("新着メール 1 通")}));
}

// The notification says it, with the letter: the notice waits for the notification's 表示.
TEST_F(DesktopNotificationTest, ATimedCheckOpensNoNoticeUntilTheNotificationIsChosen)
{
    timedCheck(2);
    ASSERT_TRUE(QTest::qWaitFor([&] { return notification->shownId() != 0; }, 5000));
    EXPECT_FALSE(context.msgForm.isLoaded() && context.msgForm.get()->isVisible());
    EXPECT_TRUE(letter());
    for (int choice = 0; choice < 2; ++choice) {
        if (choice == 1) { // the notice closed takes the letter; choosing brings both back
            context.msgForm.get()->close();
            ASSERT_FALSE(letter());
        }
        service.invokeAction(notification->shownId(), QStringLiteral("default"));
        ASSERT_TRUE(QTest::qWaitFor([&] { return context.msgForm.isLoaded() && context.msgForm.get()->isVisible(); },
                                    5000));
        EXPECT_EQ(context.msgForm.get()->text2()->text(), QStringLiteral("2"));
        EXPECT_TRUE(letter());
    }
}

// A session bus without a notification service: the notice tells of the mail instead.
TEST_F(DesktopNotificationTest, WhereNoServiceAnswersATimedCheckOpensTheNotice)
{
    test::PrivateBus bare;
    ASSERT_TRUE(bare.startDaemon()) << bare.failure().toStdString();
    NewMailNotification unheard([&bare] { return bare.connection(); }, QImage());
    wireNotification(context, unheard);
    timedCheck(2);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return context.msgForm.isLoaded() && context.msgForm.get()->isVisible(); }, 5000));
    EXPECT_EQ(context.msgForm.get()->text2()->text(), QStringLiteral("2"));
}

// A sign-in the provider no longer honours stops checks by themselves until the user
// signs in again: the first timed check of a streak says so in its box and on the
// desktop, a click in its box, and no check asks for a password.
TEST_F(DesktopNotificationTest, ASignInToRenewIsToldOncePerStreakAndNeverAsksForAPassword)
{
    QTemporaryDir dir;
    QDir(dir.path()).mkdir(QStringLiteral("★MailData"));
    context.settings.setPaths(AppPaths{.programDir = dir.path()});
    ASSERT_TRUE(writeSignIn(context.settings.paths(), knownSignIn(SignIn::Provider::Google),
                            QStringLiteral("taro@example.jp")));
    wireSignIn(context); // and no refresh token: as after the provider refused it
    context.settings.setMailWatch({.countNewOnly = false, .intervalMinutes = 1, .notify = true});
    QStringList titles;
    QTimer boxes;
    QObject::connect(&boxes, &QTimer::timeout, [&titles] {
        if (auto *box = test::shownMessageBox()) {
            titles << box->windowTitle();
            box->button(QMessageBox::Ok)->click();
        }
    });
    boxes.start(5);
    const struct {
        void (*run)(Program &);
        QStringList titles;
    } checks[] = {{runPeriodicMailCheck, {"エラー"}}, {runPeriodicMailCheck, {}}, {runMailCheck, {"エラー"}}};
    for (const auto &c : checks) {
        titles.clear();
        check(0, c.run);
        EXPECT_EQ(titles, c.titles);
    }
    EXPECT_EQ(summariesSent(1), QStringList{QStringLiteral("メールを確認できません")});
    EXPECT_FALSE(context.idPassForm.isLoaded() && context.idPassForm.get()->isVisible());
    EXPECT_TRUE(mailLog.filter(QStringLiteral("authenticate")).isEmpty());
}

} // namespace
} // namespace kingyo
