#include "mail/mail_check.h"

#include "mail/pop3_failure.h"
#include "mail/recording_mail_library.h"
#include "settings/shared_state.h"

#include "mail/seen_messages.h"

#include <QSignalSpy>
#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <optional>
#include <gtest/gtest.h>

namespace kingyo {
namespace {

class RecordingSurroundings final : public MailCheckSurroundings {
public:
    explicit RecordingSurroundings(QStringList &log) : log_(log) {}

    Account stored{QStringLiteral("taro"), QStringLiteral("secret")};
    bool hangUpOption = false;
    bool keyringLocked = false;
    QList<MailFailure> errorsShown;
    TrustAnswer trustAnswer = TrustAnswer::Declined;
    std::function<void()> onNotice;
    QStringList subjectsShown; // of the latest notice
    // An account that signs in through the browser: what fetching a token answers.
    std::optional<std::pair<MailSecret, MailFailure>> token;

    Account readAccount() override
    {
        log_ << QStringLiteral("readAccount");
        return stored;
    }
    bool passwordLocked() override { return keyringLocked; }
    bool signsInWithToken() override { return token.has_value(); }
    void fetchAccessToken(QDeadlineTimer, TokenAnswer answer) override
    {
        log_ << QStringLiteral("fetchToken");
        QTimer::singleShot(0, [answer, given = *token] { answer(given.first, given.second); });
    }
    void fillAccountDialog(const Account &account) override
    {
        log_ << QStringLiteral("fillAccount %1 %2").arg(account.userId, account.password);
    }
    void showAccountDialog() override { log_ << QStringLiteral("showAccountDialog"); }
    void showError(const MailFailure &failure) override
    {
        log_ << QStringLiteral("error");
        errorsShown << failure;
    }
    TrustAnswer trustCertificate(const MailFailure &) override
    {
        log_ << QStringLiteral("trust");
        return trustAnswer;
    }
    void showNotice(int count, const QList<MailSummary> &newest) override
    {
        log_ << QStringLiteral("notice %1").arg(count);
        subjectsShown.clear();
        for (const MailSummary &summary : newest)
            subjectsShown << summary.subject;
        if (onNotice)
            onNotice();
    }
    bool hangUpAfterCheck() override { return hangUpOption; }
    void hangUp() override { log_ << QStringLiteral("hangUp"); }

private:
    QStringList &log_;
};

class MailCheckTest : public ::testing::Test {
protected:
    MailCheckTest() { state.pop3Server = QStringLiteral("pop.example.test"); }

    // One whole check; the count its notice showed (-100 when it never finished).
    int run(std::chrono::milliseconds budget = MailCheck::kBudget)
    {
        MailCheck check(state, mail, surroundings, budget);
        return runOn(check);
    }
    int runOn(MailCheck &check)
    {
        QSignalSpy finished(&check, &MailCheck::finished);
        EXPECT_TRUE(check.start());
        return finished.wait(5000) ? finished.at(0).at(0).toInt() : -100;
    }

    QStringList log;
    SharedState state;
    test::RecordingMailLibrary mail{log};
    RecordingSurroundings surroundings{log};
};

const QStringList kLogIn{"connect pop.example.test", "readAccount", "fillAccount taro secret",
                         "authenticate 7 taro secret user"};

TEST_F(MailCheckTest, ThreeMessagesAreFetchedInOrderThenTheConnectionClosesAndTheNoticeShowsTheCount)
{
    mail.authenticateResult = 3;
    EXPECT_EQ(run(), 3);
    QStringList expected = kLogIn;
    for (int k = 1; k <= 3; ++k)
        expected << QStringLiteral("status 7 %1").arg(k) << QStringLiteral("size 7 %1").arg(k)
                 << QStringLiteral("fetch 7 %1").arg(k);
    expected << "headers 7 3" << "headers 7 2" << "headers 7 1" << "close 7" << "notice 3";
    EXPECT_EQ(log, expected);
}

TEST_F(MailCheckTest, AnEmptyMailboxClosesTheConnectionWithoutPerMessageCalls)
{
    mail.authenticateResult = 0;
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(log, (kLogIn + QStringList{"close 7", "notice 0"}));
}

TEST_F(MailCheckTest, AFailedLoginShowsTheLibraryTextBeforeClosingAndNoticesTheCode)
{
    mail.authenticateResult = -5;
    EXPECT_EQ(run(), -5);
    EXPECT_EQ(log, (kLogIn + QStringList{"lastFailure", "error", "close 7", "notice -5"}));
    EXPECT_EQ(surroundings.errorsShown, QList<MailFailure>{mail.failure});
}

TEST_F(MailCheckTest, AMissingPasswordShowsTheAccountDialogAndSkipsTheLogin)
{
    surroundings.stored.password.clear();
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(log, (QStringList{"connect pop.example.test", "readAccount", "fillAccount taro ", "showAccountDialog",
                                "close 7", "notice 0"}));
}

TEST_F(MailCheckTest, APasswordTheKeyringWithholdsIsSaidSoWithoutConnectingOrAskingForTheAccount)
{
    surroundings.stored.password.clear();
    surroundings.keyringLocked = true;
    EXPECT_EQ(run(), pop3::kNotConnected);
    EXPECT_EQ(log, (QStringList{"readAccount", "fillAccount taro ", "error",
                                QStringLiteral("notice %1").arg(pop3::kNotConnected)}));
    EXPECT_EQ(surroundings.errorsShown, (QList<MailFailure>{{MailProblem::KeyringLocked, {}, {}}}));
}

TEST_F(MailCheckTest, AMissingUserIdShowsTheAccountDialogAndSkipsTheLogin)
{
    surroundings.stored.userId.clear();
    run();
    EXPECT_TRUE(log.contains("showAccountDialog"));
    EXPECT_FALSE(log.filter("authenticate").size());
}

TEST_F(MailCheckTest, NoServerNameStartsNoCheckAndSaysNothing)
{
    state.pop3Server.clear();
    surroundings.hangUpOption = true;
    MailCheck check(state, mail, surroundings);
    EXPECT_FALSE(check.start());
    EXPECT_FALSE(check.isRunning());
    QCoreApplication::sendPostedEvents(); // anything queued would come now
    EXPECT_TRUE(log.isEmpty());
}

TEST_F(MailCheckTest, AFailedConnectionIsReportedThenNoticedAsNothingNewWithoutAClose)
{
    mail.connectResult = -1;
    mail.failure = MailFailure{MailProblem::HostNotFound, {"pop.example.test", "110"}, {}};
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(log, (QStringList{"connect pop.example.test", "lastFailure", "error", "notice 0"}));
    EXPECT_EQ(surroundings.errorsShown, QList<MailFailure>{mail.failure});
}

TEST_F(MailCheckTest, OtherNegativeHandlesAreOrdinaryConnections)
{
    mail.connectResult = -2;
    run();
    EXPECT_TRUE(log.contains("close -2"));
}

TEST_F(MailCheckTest, TheRunStoresTheAccountItRead)
{
    state.userId = QStringLiteral("old");
    state.userPass = QStringLiteral("old");
    run();
    EXPECT_EQ(state.userId, "taro");
    EXPECT_EQ(state.userPass, "secret");
}

TEST_F(MailCheckTest, TheAccountIsReadAgainForEveryRun)
{
    run();
    surroundings.stored = {QStringLiteral("hanako"), QStringLiteral("pw2")};
    log.clear();
    run();
    EXPECT_TRUE(log.contains("authenticate 7 hanako pw2 user"));
}

TEST_F(MailCheckTest, ApopIsAskedForWhenTheFlagIsNonZero)
{
    for (std::int16_t flag : {std::int16_t(-1), std::int16_t(1), std::int16_t(0)}) {
        log.clear();
        state.apopFlag = flag;
        run();
        EXPECT_TRUE(log.contains(flag ? "authenticate 7 taro secret apop" : "authenticate 7 taro secret user"))
            << "flag " << flag;
    }
}

TEST_F(MailCheckTest, AMessageWhoseSizeFailsIsSkippedAndTheLoopGoesOn)
{
    mail.authenticateResult = 3;
    mail.sizes[2] = -3;
    EXPECT_EQ(run(), 3);
    EXPECT_FALSE(log.contains("fetch 7 2"));
    EXPECT_TRUE(log.contains("fetch 7 1"));
    EXPECT_TRUE(log.contains("fetch 7 3"));
    EXPECT_EQ(log.last(), "notice 3");
}

struct NewestCase {
    const char *name;
    int waiting;
    std::optional<std::vector<std::string>> newOnlyIds; // none: a full check
    std::vector<std::string> seen;
    QMap<int, int> headerResults;
    QStringList asked;
    QStringList subjects;
};

void PrintTo(const NewestCase &c, std::ostream *out) { *out << c.name; }

class MailCheckNewestTest : public MailCheckTest, public ::testing::WithParamInterface<NewestCase> {};

TEST_P(MailCheckNewestTest, TheHeadersOfTheNewestNewMessagesGoWithTheCount)
{
    const NewestCase &c = GetParam();
    QTemporaryDir dir;
    MailCheck check(state, mail, surroundings);
    if (c.newOnlyIds) {
        SeenMessageStore(dir.path(), state.pop3Server, QStringLiteral("taro")).save(c.seen);
        check.setNewOnlyFolder(dir.path());
        mail.ids = c.newOnlyIds;
    }
    mail.authenticateResult = c.waiting;
    mail.headerResults = c.headerResults;
    const int expectedCount = c.newOnlyIds ? c.waiting - static_cast<int>(c.seen.size()) : c.waiting;
    EXPECT_EQ(runOn(check), expectedCount);
    QStringList asked = log.filter(QStringLiteral("headers "));
    asked.replaceInStrings(QStringLiteral("headers 7 "), QString());
    EXPECT_EQ(asked, c.asked);
    EXPECT_EQ(surroundings.subjectsShown, c.subjects);
}

const std::vector<std::string> kFiveIds{"a", "b", "c", "d", "e"};

INSTANTIATE_TEST_SUITE_P(
    Checks, MailCheckNewestTest,
    ::testing::Values(
        NewestCase{"FullCheckHighestThree", 5, {}, {}, {}, {"5", "4", "3"}, {"message 5", "message 4", "message 3"}},
        NewestCase{"NewOnlyPicksNewNumbers", 5, kFiveIds, {"b", "d"}, {}, {"5", "3", "1"},
                   {"message 5", "message 3", "message 1"}},
        NewestCase{"OneRefusedIsLeftOut", 5, {}, {}, {{4, pop3::kServerError}}, {"5", "4", "3"},
                   {"message 5", "message 3"}},
        NewestCase{"SessionOverStopsAsking", 5, kFiveIds, {}, {{4, pop3::kTooLong}}, {"5", "4"}, {"message 5"}}),
    [](const auto &info) { return std::string(info.param.name); });

struct HangUpCase {
    const char *name;
    QString server;
    int connectResult;
    int authenticateResult;
};

// Names the case in test listings.
void PrintTo(const HangUpCase &c, std::ostream *out)
{
    *out << c.name;
}

class MailCheckHangUpTest : public MailCheckTest, public ::testing::WithParamInterface<HangUpCase> {};

TEST_P(MailCheckHangUpTest, TheOptionHangsUpAfterTheNoticeWhateverTheResult)
{
    const HangUpCase &c = GetParam();
    state.pop3Server = c.server;
    mail.connectResult = c.connectResult;
    mail.authenticateResult = c.authenticateResult;
    surroundings.hangUpOption = true;
    const int count = run();
    ASSERT_GE(log.size(), 2);
    EXPECT_EQ(log.at(log.size() - 2), QStringLiteral("notice %1").arg(count));
    EXPECT_EQ(log.last(), "hangUp");
}

INSTANTIATE_TEST_SUITE_P(Results, MailCheckHangUpTest,
                         ::testing::Values(HangUpCase{"NewMail", "pop", 7, 2}, HangUpCase{"NoMail", "pop", 7, 0},
                                           HangUpCase{"LoginFailed", "pop", 7, -5},
                                           HangUpCase{"NoConnection", "pop", -1, 0}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(MailCheckTest, WithoutTheOptionNothingIsHungUp)
{
    mail.authenticateResult = 2;
    run();
    EXPECT_FALSE(log.contains("hangUp"));
}

using TrustAnswer = MailCheckSurroundings::TrustAnswer;

const MailFailure kUnknownCertificate{
    MailProblem::CertificateUnknown, {QStringLiteral("pop.example.test"), QStringLiteral("995"), QString(64, u'a')}, {}};

TEST_F(MailCheckTest, ADeferredCertificateIsShownAsAwaitingTheUserAndNotRetried)
{
    mail.authenticateResult = pop3::kTlsFailure;
    mail.failure = kUnknownCertificate;
    surroundings.trustAnswer = TrustAnswer::Deferred;
    run();
    EXPECT_EQ(log.mid(log.indexOf("trust")),
              (QStringList{"trust", "error", "close 7", QStringLiteral("notice %1").arg(pop3::kTlsFailure)}));
    ASSERT_EQ(surroundings.errorsShown.size(), 1);
    EXPECT_EQ(surroundings.errorsShown[0].problem, MailProblem::CertificateAwaitsUser);
    EXPECT_EQ(surroundings.errorsShown[0].facts, kUnknownCertificate.facts);
}

TEST_F(MailCheckTest, AQuestionAskedEndsTheCheckAtOnceWithoutAnErrorBox)
{
    mail.authenticateResult = pop3::kTlsFailure;
    mail.failure = kUnknownCertificate;
    surroundings.trustAnswer = TrustAnswer::Asked;
    EXPECT_EQ(run(), pop3::kTlsFailure);
    EXPECT_EQ(log.mid(log.indexOf("trust")),
              (QStringList{"trust", "close 7", QStringLiteral("notice %1").arg(pop3::kTlsFailure)}));
    EXPECT_EQ(log.filter("authenticate").size(), 1);
}

// An account that signs in through the browser logs in with the access token the
// surroundings fetch, as the mail address, and never with APOP.
TEST_F(MailCheckTest, AnAccountThatSignsInThroughTheBrowserLogsInWithTheFetchedToken)
{
    surroundings.stored = {QStringLiteral("taro@example.jp"), QString()};
    surroundings.token = {MailSecret::accessToken(QStringLiteral("ya29")), {}};
    state.apopFlag = 1;
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(log, (QStringList{"fetchToken", "connect pop.example.test", "readAccount",
                                "authenticate 7 taro@example.jp token:ya29 user", "close 7", "notice 0"}));
}

// Seen IDs stay in memory when the folder is unwritable, and are stored only after the notice.
TEST_F(MailCheckTest, EachMessageIsAnnouncedOnceWhetherOrNotItsIdCanBeStored)
{
    for (const bool writable : {true, false}) {
        SCOPED_TRACE(writable ? "writable" : "unwritable");
        QTemporaryDir dir;
        const QString folder = writable ? dir.path() : dir.filePath(QStringLiteral("missing"));
        const SeenMessageStore store(folder, state.pop3Server, QStringLiteral("taro"));
        std::optional<std::size_t> storedAtFirstNotice;
        surroundings.onNotice = [&] { storedAtFirstNotice = storedAtFirstNotice.value_or(store.load().size()); };
        const struct {
            std::vector<std::string> onServer;
            int announced;
        } checks[] = {{{"a", "b"}, 2}, {{"a", "b", "c"}, 1}, {{"b", "c"}, 0}};
        {
            MailCheck check(state, mail, surroundings);
            check.setNewOnlyFolder(folder);
            for (const auto &c : checks) {
                mail.ids = c.onServer;
                mail.authenticateResult = static_cast<int>(c.onServer.size());
                EXPECT_EQ(runOn(check), c.announced) << c.onServer.size() << " on the server";
            }
        } // its last store written
        EXPECT_EQ(storedAtFirstNotice, std::optional<std::size_t>(0));
        EXPECT_EQ(store.load(), (writable ? std::set<std::string>{"b", "c"} : std::set<std::string>{}));
    }
}

} // namespace
} // namespace kingyo
