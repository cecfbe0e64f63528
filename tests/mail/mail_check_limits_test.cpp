// A check beside the event loop: slow servers end at the check's deadline, the loop keeps
// turning meanwhile, one check runs at a time, and the program's end is never kept waiting.
#include "fake_pop3_server.h"
#include "mail/mail_check.h"
#include "mail/pop3_failure.h"
#include "mail/network_mail_library.h"
#include "mail/qt_printers.h"
#include "mail/recording_mail_library.h"
#include "noted_surroundings.h"
#include "settings/shared_state.h"

#include <QSignalSpy>
#include <QSslCertificate>
#include <QTimer>
#include <gtest/gtest.h>

namespace kingyo {
namespace {

using namespace std::chrono_literals;

struct SlowServerCase {
    const char *scenario;
};

void PrintTo(const SlowServerCase &c, std::ostream *out) { *out << c.scenario; }

class SlowServer : public ::testing::TestWithParam<SlowServerCase> {};

// Each byte of a dripping server, or each of 100,000 messages, comes within the step
// timeout; only the check's own deadline ends them. The event loop keeps turning.
TEST_P(SlowServer, EndsAtTheChecksDeadlineWhileTheEventLoopKeepsTurning)
{
    test::FakePop3Server server(QString::fromLatin1(GetParam().scenario));
    Pop3Settings settings;
    settings.extraCaCertificates = QSslCertificate::fromPath(server.certificatePath());
    NetworkMailLibrary library(settings);
    SharedState state;
    state.pop3Server = server.address();
    test::NotedSurroundings windows;
    MailCheck check(state, library, windows, 1500ms);

    int ticks = 0;
    QTimer tick; // stands in for the bowl's timers
    QObject::connect(&tick, &QTimer::timeout, [&ticks] { ++ticks; });
    tick.start(10);
    QSignalSpy finished(&check, &MailCheck::finished);
    ASSERT_TRUE(check.start());
    ASSERT_TRUE(finished.wait(15000));

    EXPECT_EQ(finished.at(0).at(0).toInt(), pop3::kTooLong);
    ASSERT_EQ(windows.errors.size(), 1);
    EXPECT_EQ(windows.errors.first().problem, MailProblem::TooLong) << describe(windows.errors.first());
    EXPECT_EQ(windows.notices, QList<int>{pop3::kTooLong});
    EXPECT_GT(ticks, 30) << "the event loop stood still during the check";
}

INSTANTIATE_TEST_SUITE_P(MailCheck, SlowServer,
                         ::testing::Values(SlowServerCase{"dripping_message"}, SlowServerCase{"huge_mailbox"}),
                         [](const auto &info) { return std::string(info.param.scenario); });

TEST(MailCheckLimits, EndingDuringAStalledCheckWaitsOnNothing)
{
    test::FakePop3Server server(QStringLiteral("stall_after_greeting"));
    NetworkMailLibrary library;
    SharedState state;
    state.pop3Server = server.address();
    test::NotedSurroundings windows;
    auto check = std::make_unique<MailCheck>(state, library, windows);
    ASSERT_TRUE(check->start());
    QSignalSpy finished(check.get(), &MailCheck::finished);
    EXPECT_FALSE(finished.wait(300)); // well inside the greeting's silence

    EXPECT_TRUE(check->shutDown(true)) << "the mail thread did not stop within a second";
    QCoreApplication::processEvents();
    EXPECT_TRUE(windows.errors.isEmpty()) << "an abandoned check shows nothing";
    EXPECT_TRUE(windows.notices.isEmpty());
    EXPECT_FALSE(check->start()) << "no check after the end";
}

TEST(MailCheckLimits, ASecondStartDuringACheckStartsNothing)
{
    QStringList log;
    test::RecordingMailLibrary library(log);
    SharedState state;
    state.pop3Server = QStringLiteral("pop.example.test");
    test::NotedSurroundings windows;
    MailCheck check(state, library, windows);
    QSignalSpy running(&check, &MailCheck::runningChanged);
    QSignalSpy finished(&check, &MailCheck::finished);

    ASSERT_TRUE(check.start());
    EXPECT_TRUE(check.isRunning());
    EXPECT_FALSE(check.start());
    ASSERT_TRUE(finished.wait(5000));
    QCoreApplication::processEvents();

    EXPECT_EQ(log.filter(QStringLiteral("connect")).size(), 1);
    EXPECT_EQ(finished.size(), 1);
    EXPECT_FALSE(check.isRunning());
    ASSERT_EQ(running.size(), 2);
    EXPECT_TRUE(running.at(0).at(0).toBool());
    EXPECT_FALSE(running.at(1).at(0).toBool());
    EXPECT_TRUE(check.start()) << "a later check starts again";
    EXPECT_TRUE(finished.wait(5000));
}

} // namespace
} // namespace kingyo
