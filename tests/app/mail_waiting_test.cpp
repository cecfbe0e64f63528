// The bowl's letter follows the mail checks: shown when one finds new mail, taken away
// by a check that finds none or by closing the notice.
#include "app/application.h"
#include "app/mail_check_windows.h"
#include "app/program.h"
#include "fish/bowl_window.h"
#include "fish/living_bowl.h"
#include "mail/mail_check.h"
#include "mail/recording_mail_library.h"
#include "panel/msg_form.h"
#include "support/fakes.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

namespace kingyo {
namespace {

class MailWaitingTest : public ::testing::Test {
protected:
    MailWaitingTest() : mail(mailLog)
    {
        context.random = &random;
        context.clock = &clock;
        context.mail = &mail;
        context.settings.state().pop3Server = QStringLiteral("127.0.0.1:1");
        context.settings.confirmAccount({QStringLiteral("kingyo"), QStringLiteral("pw")}, false);
        wireWindows(context);
        bowl = std::make_unique<BowlWindow>(random, clock);
        wireBowl(context, *bowl);
        wireMailCheck(context);
    }
    ~MailWaitingTest() override
    {
        context.mailCheck->shutDown(false);
        discardWindows(context);
    }

    void check(int waiting)
    {
        mail.authenticateResult = waiting;
        QSignalSpy finished(context.mailCheck.get(), &MailCheck::finished);
        runMailCheck(context);
        ASSERT_TRUE(finished.wait(5000));
    }
    bool letter() { return bowl->living().mailWaiting(); }

    QStringList mailLog;
    test::RecordingMailLibrary mail;
    testing::ScriptedRandom random;
    testing::SteppingClock clock;
    Program context;
    std::unique_ptr<BowlWindow> bowl;
};

TEST_F(MailWaitingTest, ShowsWhileNewMailWaitsAndGoesWithTheNoticeOrAnEmptyCheck)
{
    EXPECT_FALSE(letter());
    check(2);
    EXPECT_TRUE(letter());
    check(0);
    EXPECT_FALSE(letter());
    check(1);
    EXPECT_TRUE(letter());
    context.msgForm.get()->close();
    EXPECT_FALSE(letter());
    check(1);
    EXPECT_TRUE(letter()) << "a later check with mail shows it again";
}

// A timed check tells only of mail, and a tick during a check under way starts nothing.
TEST_F(MailWaitingTest, TimedChecksAreQuietWithoutMailAndNeverOverlap)
{
    QSignalSpy finished(context.mailCheck.get(), &MailCheck::finished);
    mail.authenticateResult = 0;
    runPeriodicMailCheck(context);
    runPeriodicMailCheck(context);
    ASSERT_TRUE(finished.wait(5000));
    EXPECT_FALSE(finished.wait(300)) << "the second tick came during the first check";
    EXPECT_EQ(mailLog.filter(QStringLiteral("connect")).size(), 1);
    EXPECT_FALSE(context.msgForm.isLoaded() && context.msgForm.get()->isVisible()) << "no notice for no mail";

    mail.authenticateResult = 2;
    runPeriodicMailCheck(context);
    ASSERT_TRUE(finished.wait(5000));
    ASSERT_TRUE(context.msgForm.isLoaded());
    EXPECT_TRUE(context.msgForm.get()->isVisible());
    EXPECT_TRUE(letter());
}

} // namespace
} // namespace kingyo
