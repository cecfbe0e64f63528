// The browser sign-in against the test provider beside the private Dovecot: its tokens
// log in over IMAP and count the mail; a provider that answers slowly, brokenly or with
// an error, a stray or second redirect, a browser that never comes back and an address
// that is not safe end in one clear outcome, and no code or token reaches stderr.
#include "mail/auth/imap_token_count.h"
#include "mail/auth/oauth_sign_in.h"
#include "mail/qt_printers.h"
#include "test_oauth_provider.h"
#include "test_pop3_server.h"

#include <QLoggingCategory>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>
#include <optional>

namespace kingyo {
namespace {

// A wait for a signal ends when it comes: only a fault waits this long, also on a
// loaded machine.
constexpr int kSignalMs = 30000;

using namespace std::chrono_literals;
using test::TestOAuthProvider;
using test::TestPop3Server;

// Like the codes of a big provider, and more: each of these characters must reach the
// token endpoint as the provider sent it.
const QString kCodePrefix = QStringLiteral("4/0A+b%=");

class OAuthSignInTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QString problem;
        ASSERT_TRUE(server.load(&problem)) << problem.toStdString();
        provider.emplace(server.oauthPort());
    }

    SignIn signInFor(const QString &client)
    {
        provider->setCodePrefix(client, kCodePrefix);
        return {SignIn::Provider::Other, provider->url(QStringLiteral("/authorize")),
                provider->url(QStringLiteral("/token")), QStringLiteral("mail"), client, {}};
    }

    struct Run {
        std::unique_ptr<OAuthSignIn> signIn;
        std::unique_ptr<QSignalSpy> browser, tokens, failures;
        int outcomes() const { return int(tokens->size() + failures->size()); }
    };
    Run begin(const SignIn &signIn, std::chrono::milliseconds tokenTimeout = 30s, std::chrono::milliseconds redirectWait = 10min)
    {
        Run run{std::make_unique<OAuthSignIn>(signIn, QString::fromUtf8(kUser), network), {}, {}, {}};
        run.browser = std::make_unique<QSignalSpy>(run.signIn.get(), &OAuthSignIn::openBrowser);
        run.tokens = std::make_unique<QSignalSpy>(run.signIn.get(), &OAuthSignIn::signedIn);
        run.failures = std::make_unique<QSignalSpy>(run.signIn.get(), &OAuthSignIn::failed);
        run.signIn->setTimings({redirectWait, tokenTimeout});
        run.signIn->start();
        return run;
    }
    static QUrl authorization(const Run &run)
    {
        return run.browser->isEmpty() ? QUrl() : run.browser->first().first().toUrl();
    }

    static constexpr const char *kUser = "omar@kingyo.test";
    TestPop3Server server;
    std::optional<TestOAuthProvider> provider;
    QNetworkAccessManager network;
};

TEST_F(OAuthSignInTest, ItsTokensLogInOverImapAndCountTheMail)
{
    const QString user = QString::fromUtf8(kUser);
    server.clearMailbox(user);
    for (const char *subject : {"one", "two", "three"})
        server.deliver(user, QByteArray("From: a@example.org\r\nSubject: ") + subject + "\r\n\r\nhello\r\n");
    Run run = begin(signInFor(QStringLiteral("kingyo-signin")));
    ASSERT_TRUE(run.browser->wait(kSignalMs));
    TestOAuthProvider::browse(authorization(run));
    ASSERT_TRUE(run.tokens->wait(kSignalMs)) << "failed: " << run.failures->size();
    const auto tokens = run.tokens->first().first().value<OAuthTokens>();
    EXPECT_FALSE(tokens.refresh.isEmpty());
    const auto lifetime = tokens.expiresAt - std::chrono::system_clock::now();
    EXPECT_TRUE(lifetime > 3500s && lifetime <= 3600s);
    EXPECT_EQ(test::countUnreadWithToken(server, user, tokens.access).first, 3);
    server.clearMailbox(user);
}

TEST_F(OAuthSignInTest, EndsOnceWithoutATokenInStderrWhateverTheProviderAnswers)
{
    QLoggingCategory::setFilterRules(QStringLiteral("qt.networkauth*=true")); // whatever Qt would say, said
    struct Row {
        const char *name;
        std::optional<TestOAuthProvider::Fault> fault;
        bool signedIn;
        const char *serverText = "";
        bool strayFirst = false;    // the first redirect is not ours: nothing may come of it
        bool secondRedirect = false; // the browser comes again right after the first
        std::chrono::milliseconds tokenTimeout = 30s;
        bool browses = true; // false: the browser never comes back
        MailProblem problem = MailProblem::SignInFailed;
    };
    const Row rows[] = {
        {"slow", TestOAuthProvider::Fault{"token", "slow", "", 3}, false, "", false, false, 300ms},
        {"broken", TestOAuthProvider::Fault{"token", "broken"}, false},
        {"error", TestOAuthProvider::Fault{"token", "error", "invalid_client"}, false, R"({"error": "invalid_client"})"},
        {"denied", TestOAuthProvider::Fault{"authorize", "error", "access_denied"}, false,
         "access_denied: the user said no"},
        {"otherVerifier", TestOAuthProvider::Fault{"authorize", "other_challenge"}, false,
         R"({"error": "invalid_grant", "error_description": "code_verifier does not match the code_challenge"})"},
        {"wrongState", TestOAuthProvider::Fault{"authorize", "wrong_state"}, true, "", true},
        {"secondRedirect", TestOAuthProvider::Fault{"token", "slow", "", 1}, true, "", false, true}, // while trading
        {"unanswered", std::nullopt, false, "", false, false, 30s, false, MailProblem::SignInUnanswered},
    };
    QStringList tokensGot;
    ::testing::internal::CaptureStderr(); // fd 2, where Qt's messages go
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const QString client = QStringLiteral("kingyo-%1").arg(QString::fromLatin1(row.name));
        if (row.fault)
            provider->fault(client, *row.fault);
        Run run = begin(signInFor(client), row.tokenTimeout, row.browses ? 10min : 300ms);
        ASSERT_TRUE(run.browser->wait(kSignalMs));
        QString page;
        EXPECT_EQ(row.browses && TestOAuthProvider::browse(authorization(run), &page), row.browses);
        if (row.strayFirst) {
            QTest::qWait(500);
            EXPECT_EQ(run.outcomes(), 0);
            EXPECT_TRUE(page.contains(QStringLiteral("受け付けませんでした"))) << page.toStdString();
            EXPECT_TRUE(TestOAuthProvider::browse(authorization(run)));
        }
        if (row.secondRedirect)
            TestOAuthProvider::browse(authorization(run)); // may find the handler closed already
        ASSERT_TRUE(QTest::qWaitFor([&run] { return run.outcomes() > 0; }, kSignalMs)); // a failure gtest sees
        QTest::qWait(1200); // nothing after, not even once a slow exchange ends
        ASSERT_EQ(run.outcomes(), 1);
        ASSERT_EQ(run.tokens->size(), row.signedIn ? 1 : 0);
        if (row.signedIn) {
            tokensGot << run.tokens->first().first().value<OAuthTokens>().access
                      << run.tokens->first().first().value<OAuthTokens>().refresh;
            continue;
        }
        const auto failure = run.failures->first().first().value<MailFailure>();
        EXPECT_EQ(failure.problem, row.problem);
        EXPECT_EQ(failure.serverText, QString::fromUtf8(row.serverText));
    }

    SCOPED_TRACE("an address in the clear away from this machine");
    SignIn unsafe = signInFor(QStringLiteral("kingyo-unsafe"));
    unsafe.tokenUrl = QUrl(QStringLiteral("http://192.0.2.1/token"));
    Run run = begin(unsafe);
    ASSERT_TRUE(run.failures->wait(kSignalMs));
    EXPECT_EQ(run.browser->size(), 0);
    EXPECT_EQ(run.failures->first().first().value<MailFailure>().problem, MailProblem::UnsafeSignInAddress);

    const QByteArray written = QByteArray::fromStdString(::testing::internal::GetCapturedStderr());
    for (const QString &secret : tokensGot + QStringList{QStringLiteral("broken"), kCodePrefix.left(4),
                                                         QString::fromLatin1(QUrl::toPercentEncoding(kCodePrefix.left(4)))})
        EXPECT_FALSE(written.contains(secret.toUtf8())) << secret.toStdString();
    QLoggingCategory::setFilterRules({});
}

} // namespace
} // namespace kingyo
