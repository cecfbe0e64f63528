// The bowl's letter follows the notice: shown when a check finds new mail, taken away by
// closing the notice or by a check the user ran that finds none.
#include "app/mail_waiting_fixture.h"
#include "settings/app_paths.h"

#include <QDir>
#include <QLineEdit>
#include <QTemporaryDir>

namespace kingyo {
namespace {

using MailWaitingTest = test::MailWaitingFixture;

TEST_F(MailWaitingTest, ShowsWhileNewMailWaitsAndGoesWithTheNoticeOrAnEmptyCheck)
{
    EXPECT_FALSE(letter());
    check(2);
    EXPECT_TRUE(letter());
    check(0);
    EXPECT_FALSE(letter());
    check(1);
    EXPECT_TRUE(letter());
    timedCheck(0);
    EXPECT_TRUE(letter()) << "a quiet check leaves the notice, and the letter, as they were";
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

// With an interval, the same mail is told once: a timed check tells only of mail beyond
// what was told, also the first after 新着のみ数える is ticked.
TEST_F(MailWaitingTest, TimedChecksTellTheSameMailOnceHoweverTheyCount)
{
    QTemporaryDir dir; // the seen IDs of the new-only checks
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("★MailData")));
    context.settings.setPaths(AppPaths{.programDir = dir.path()});
    // The count the notice told, closed after; empty when it stayed closed.
    const auto told = [this](int waiting) {
        timedCheck(waiting);
        if (!context.msgForm.isLoaded() || !context.msgForm.get()->isVisible())
            return QString();
        const QString count = context.msgForm.get()->text2()->text();
        context.msgForm.get()->close();
        return count;
    };
    context.settings.setMailWatch({.countNewOnly = false, .intervalMinutes = 1});
    EXPECT_EQ(told(5), "5");
    EXPECT_EQ(told(5), "");
    EXPECT_EQ(told(6), "6");
    mail.ids = std::vector<std::string>{"a", "b", "c", "d", "e", "f"};
    context.settings.setMailWatch({.countNewOnly = true, .intervalMinutes = 1});
    EXPECT_EQ(told(6), "") << "the six were told before";
    mail.ids->push_back("g");
    EXPECT_EQ(told(7), "1");
}

} // namespace
} // namespace kingyo
