// The access token kept fresh against the test provider beside the private Dovecot: a
// token near its end (by the wall clock the test sets) is refreshed once for all who
// ask and logs in; one nearing its end is refreshed by itself; a revoked refresh token
// asks for a new sign-in, a provider slow, broken or failing is a failure worth a retry;
// a refresh that brings no refresh token keeps the one held; a token address planted in
// the account file gets nothing.
#include "mail/auth/access_token_source.h"
#include "mail/auth/imap_token_count.h"
#include "mail/qt_printers.h"
#include "settings/account_file.h"
#include "settings/app_paths.h"
#include "settings/profile_file.h"
#include "test_oauth_provider.h"
#include "test_pop3_server.h"

#include <QDir>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <optional>

namespace kingyo {
namespace {

using namespace std::chrono_literals;
using test::TestOAuthProvider;
using test::TestPop3Server;

struct Fetched {
    bool answered = false;
    MailSecret token;
    MailFailure failure;
};

class AccessTokenSourceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QString problem;
        ASSERT_TRUE(server.load(&problem)) << problem.toStdString();
        provider.emplace(server.oauthPort());
    }

    SignIn signInFor(const QString &client) const
    {
        return {SignIn::Provider::Other, provider->url(QStringLiteral("/authorize")),
                provider->url(QStringLiteral("/token")), QStringLiteral("mail"), client, {}};
    }
    // Fetches, checking that the answer comes later than the call.
    std::shared_ptr<Fetched> fetch(AccessTokenSource &source, QDeadlineTimer deadline = QDeadlineTimer(10s))
    {
        auto fetched = std::make_shared<Fetched>();
        source.fetch(deadline, [fetched](const MailSecret &token, const MailFailure &failure) {
            EXPECT_FALSE(fetched->answered) << "answered twice";
            *fetched = {true, token, failure};
        });
        EXPECT_FALSE(fetched->answered) << "answered within the call";
        return fetched;
    }
    static void waitFor(const std::shared_ptr<Fetched> &fetched)
    {
        ASSERT_TRUE(QTest::qWaitFor([&fetched] { return fetched->answered; }, 10000)); // a failure gtest sees
    }

    static constexpr const char *kUser = "orla@kingyo.test";
    TestPop3Server server;
    std::optional<TestOAuthProvider> provider;
    QNetworkAccessManager network;
    std::chrono::system_clock::time_point now = std::chrono::system_clock::now();
    WallClock clock = [this] { return now; };
};

TEST_F(AccessTokenSourceTest, ATokenNearItsEndIsRefreshedOnceForAllAndLogsIn)
{
    const QString user = QString::fromUtf8(kUser), client = QStringLiteral("kingyo-source");
    server.clearMailbox(user);
    server.deliver(user, "From: a@example.org\r\nSubject: one\r\n\r\nhello\r\n");
    provider->configureClient(client, 0); // dead at the server from the start
    const TestOAuthProvider::Tokens first = provider->signIn(user, client);
    provider->configureClient(client, 3600);
    AccessTokenSource source(network, clock);
    QSignalSpy refreshed(&source, &AccessTokenSource::refreshed);
    source.use(signInFor(client), first.refresh, {first.access, now + 1h, first.refresh});

    const auto held = fetch(source);
    waitFor(held);
    EXPECT_EQ(held->token, MailSecret::accessToken(first.access)); // an hour left, by our clock

    now += 1h - 59s;
    const auto one = fetch(source), other = fetch(source);
    waitFor(one);
    waitFor(other);
    ASSERT_EQ(one->failure, MailFailure{});
    EXPECT_TRUE(one->token.isAccessToken());
    EXPECT_NE(one->token.text(), first.access);
    EXPECT_EQ(other->token, one->token);
    ASSERT_EQ(refreshed.size(), 1);
    EXPECT_EQ(refreshed.first().first().value<MailSecret>(), one->token);
    EXPECT_EQ(test::countUnreadWithToken(server, user, first.access).second.problem, MailProblem::TokenRejected);
    EXPECT_EQ(test::countUnreadWithToken(server, user, one->token.text()).first, 1);
    server.clearMailbox(user);
}

TEST_F(AccessTokenSourceTest, ATokenNearingItsEndIsRefreshedByItself)
{
    const QString client = QStringLiteral("kingyo-ahead");
    const TestOAuthProvider::Tokens first = provider->signIn(QString::fromUtf8(kUser), client);
    AccessTokenSource source(network, clock);
    source.setTimings({30s, 5min, 10ms, 10ms});
    QSignalSpy refreshed(&source, &AccessTokenSource::refreshed);
    source.use(signInFor(client), first.refresh, {first.access, now + 10min, first.refresh});
    QTest::qWait(200);
    EXPECT_EQ(refreshed.size(), 0); // not due yet
    now += 6min;
    ASSERT_TRUE(refreshed.wait(5000));
    EXPECT_NE(refreshed.first().first().value<MailSecret>().text(), first.access);
}

TEST_F(AccessTokenSourceTest, ARefusedRefreshAsksForASignInAndAFailingProviderForARetry)
{
    struct Row {
        const char *name;
        std::optional<TestOAuthProvider::Fault> fault; // none: the refresh token is revoked
        MailProblem problem;
        const char *serverText = "";
        std::chrono::milliseconds requestTimeout = 30s;
        std::chrono::milliseconds deadline = 10s;
    };
    const Row rows[] = {
        {"revoked", std::nullopt, MailProblem::SignInAgain,
         R"({"error": "invalid_grant", "error_description": "unknown or revoked refresh token"})"},
        {"slow", TestOAuthProvider::Fault{"token", "slow", "", 3}, MailProblem::TokenServiceUnavailable, "", 300ms},
        {"broken", TestOAuthProvider::Fault{"token", "broken"}, MailProblem::TokenServiceUnavailable},
        {"failing", TestOAuthProvider::Fault{"token", "error", "server_error"}, MailProblem::TokenServiceUnavailable,
         R"({"error": "server_error"})"},
        {"proxyPage", TestOAuthProvider::Fault{"token", "html"}, MailProblem::TokenServiceUnavailable,
         "HTTP 502 Bad Gateway"},
        {"pastTheDeadline", TestOAuthProvider::Fault{"token", "slow", "", 3}, MailProblem::TooLong, "", 30s, 200ms},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const QString client = QStringLiteral("kingyo-source-%1").arg(QString::fromLatin1(row.name));
        const TestOAuthProvider::Tokens tokens = provider->signIn(QString::fromUtf8(kUser), client);
        if (row.fault)
            provider->fault(client, *row.fault);
        else
            provider->revoke(tokens.refresh);
        AccessTokenSource source(network, clock);
        source.setTimings({row.requestTimeout});
        QSignalSpy signInNeeded(&source, &AccessTokenSource::signInNeeded);
        source.use(signInFor(client), tokens.refresh);
        const auto fetched = fetch(source, QDeadlineTimer(row.deadline));
        waitFor(fetched);
        EXPECT_EQ(fetched->failure.problem, row.problem);
        EXPECT_EQ(fetched->failure.serverText, QString::fromUtf8(row.serverText));
        EXPECT_EQ(fetched->token, MailSecret());
        const bool refused = row.problem == MailProblem::SignInAgain;
        EXPECT_EQ(signInNeeded.size(), refused ? 1 : 0);
        EXPECT_EQ(source.signedIn(), !refused);
    }
}

TEST_F(AccessTokenSourceTest, ARefreshThatBringsNoRefreshTokenKeepsTheOneHeld)
{
    const QString client = QStringLiteral("kingyo-no-rotation");
    const TestOAuthProvider::Tokens tokens = provider->signIn(QString::fromUtf8(kUser), client);
    provider->fault(client, {"token", "no_refresh_token", "", 0, 2});
    AccessTokenSource source(network, clock);
    QSignalSpy rotated(&source, &AccessTokenSource::refreshTokenChanged);
    source.use(signInFor(client), tokens.refresh);
    for (int refresh = 0; refresh < 2; ++refresh, now += 2h) {
        const auto fetched = fetch(source);
        waitFor(fetched);
        EXPECT_EQ(fetched->failure, MailFailure{}) << "refresh " << refresh;
        EXPECT_TRUE(fetched->token.isAccessToken());
    }
    EXPECT_TRUE(source.signedIn());
    EXPECT_EQ(rotated.size(), 0);
}

// Whoever wrote the account file, a refresh token goes only to an address a sign-in may
// use: a listener on loopback notes every connection made to it.
TEST_F(AccessTokenSourceTest, ATokenAddressPlantedInTheAccountFileGetsNothing)
{
    QTcpServer listener;
    ASSERT_TRUE(listener.listen(QHostAddress::LocalHost));
    int connections = 0;
    QObject::connect(&listener, &QTcpServer::newConnection, [&] {
        while (QTcpSocket *socket = listener.nextPendingConnection()) {
            ++connections;
            socket->close();
        }
    });
    const struct {
        const char *planted;
        bool reached;
    } rows[] = {
        {"http://[::ffff:127.0.0.1]:%1/token", false},
        {"http://localhost.:%1/token", false},
        {"http://127.0.0.1:%1/token", true}, // a loopback address as written: the listener hears it
    };
    const QString client = QStringLiteral("kingyo-planted");
    const TestOAuthProvider::Tokens tokens = provider->signIn(QString::fromUtf8(kUser), client);
    for (const auto &row : rows) {
        SCOPED_TRACE(row.planted);
        QTemporaryDir dir;
        const AppPaths paths{.programDir = dir.path()};
        ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("★MailData")));
        ASSERT_TRUE(writeSignIn(paths, signInFor(client), QString::fromUtf8(kUser)));
        const QString planted = QString::fromLatin1(row.planted).arg(listener.serverPort());
        ASSERT_TRUE(writeProfileStrings(paths.accountFile(), QStringLiteral("EXEINI"),
                                        {{QStringLiteral("OAUTHTOKENURL"), planted}}, NewFileAccess::OwnerOnly));
        const std::optional<SignIn> signIn = readSignIn(paths);
        ASSERT_TRUE(signIn);
        connections = 0;
        AccessTokenSource source(network, clock);
        source.setTimings({500ms});
        source.use(*signIn, tokens.refresh);
        const auto fetched = fetch(source);
        waitFor(fetched);
        EXPECT_EQ(connections > 0, row.reached);
        EXPECT_EQ(fetched->failure.problem,
                  row.reached ? MailProblem::TokenServiceUnavailable : MailProblem::UnsafeSignInAddress);
        EXPECT_TRUE(source.signedIn()) << "the refresh token is kept: the address is what is wrong";
    }
}

} // namespace
} // namespace kingyo
