// Logins with an OAuth2 access token against the private Dovecot, which checks each
// token with the test provider beside it: over IMAP (STARTTLS and IMAPS) and POP3 (STLS
// and POP3S), a good token counts the mail; a revoked or expired one is refused as a
// token, with the server's JSON and never the token in the failure; one the server cannot
// check just now (the provider's introspection failing) is a failure worth a retry.
#include "mail/blocking_pop3.h"
#include "mail/qt_printers.h"
#include "test_oauth_provider.h"
#include "test_pop3_server.h"

#include <gtest/gtest.h>
#include <ostream>

namespace kingyo {
namespace {

using test::TestOAuthProvider;
using test::TestPop3Server;

struct Transport {
    const char *name;
    const char *field; // {port} stands for the server's port of that transport
    quint16 (TestPop3Server::*port)() const;
    const char *user;  // a mailbox of its own, as the transports run side by side
    const char *unavailable; // how the server's words begin when it cannot check a token just now
};

void PrintTo(const Transport &transport, std::ostream *out)
{
    *out << transport.name;
}

const Transport kTransports[] = {
    {"ImapStartTls", "imap://127.0.0.1:{port}", &TestPop3Server::imapPort, "olive@kingyo.test", "Temporary authentication failure."},
    {"Imaps", "imaps://127.0.0.1:{port}", &TestPop3Server::imapsPort, "oscar@kingyo.test", "Temporary authentication failure."},
    {"Pop3Stls", "pop3://127.0.0.1:{port}", &TestPop3Server::port, "opal@kingyo.test", "[SYS/TEMP] Temporary authentication failure."},
    {"Pop3s", "pop3s://127.0.0.1:{port}", &TestPop3Server::tlsPort, "otto@kingyo.test", "[SYS/TEMP] Temporary authentication failure."},
};

class TokenLoginDovecotTest : public ::testing::TestWithParam<Transport> {
protected:
    void SetUp() override
    {
        QString problem;
        ASSERT_TRUE(server.load(&problem)) << problem.toStdString();
        server.clearMailbox(user());
        for (const char *subject : {"one", "two"})
            server.deliver(user(), QByteArray("From: a@example.org\r\nSubject: ") + subject + "\r\n\r\nhello\r\n");
    }
    void TearDown() override { server.clearMailbox(user()); }

    QString user() const { return QString::fromUtf8(GetParam().user); }

    // The unread messages (IMAP) or those waiting (POP3), or a failure code.
    std::int64_t logInAndCount(const QString &token)
    {
        test::BlockingMailLibrary library(server.trustingSettings());
        const QString field = QString::fromUtf8(GetParam().field).replace(
            QStringLiteral("{port}"), QString::number((server.*GetParam().port)()));
        const int handle = library.connect(field);
        if (handle < 0)
            return handle;
        const MailSecret secret = MailSecret::accessToken(token);
        const std::int64_t count = library.async().counting(handle) == MailLibrary::Counting::Unread
                                       ? library.countUnread(handle, user(), secret).result
                                       : library.authenticate(handle, user(), secret, false, MailLibrary::Use::ListIds);
        failure = library.lastFailure();
        library.close(handle);
        return count;
    }

    TestPop3Server server;
    MailFailure failure;
};

TEST_P(TokenLoginDovecotTest, AGoodTokenCountsTheMailAndARefusedOneSaysWhyWithoutTheToken)
{
    TestOAuthProvider provider(server.oauthPort());
    const QString client = QStringLiteral("kingyo-%1").arg(QString::fromUtf8(GetParam().name));
    const TestOAuthProvider::Tokens revoked = provider.signIn(user(), client);
    provider.revoke(revoked.refresh); // its access tokens go with it
    provider.configureClient(client, 3600, 3000); // past a POP3 command line, as some providers' tokens are
    const QString longToken = provider.signIn(user(), client).access;
    provider.configureClient(client, 0);
    const QString expired = provider.signIn(user(), client).access;
    const QString unchecked = provider.signIn(user(), client + QStringLiteral("-down")).access;
    provider.fault(client + QStringLiteral("-down"), {"introspect", "error", "server_error", 5, 3});
    const QString rejected = QStringLiteral(R"({"status":"invalid_token"})");

    const struct {
        const char *name;
        QString token;
        std::int64_t count;
        MailProblem problem;
        QString serverText;
    } rows[] = {
        {"good", provider.signIn(user()).access, 2, MailProblem::None, {}},
        {"long", longToken, 2, MailProblem::None, {}},
        {"revoked", revoked.access, failureCode(MailProblem::TokenRejected), MailProblem::TokenRejected, rejected},
        {"expired", expired, failureCode(MailProblem::TokenRejected), MailProblem::TokenRejected, rejected},
        {"unchecked", unchecked, failureCode(MailProblem::TokenServiceUnavailable), MailProblem::TokenServiceUnavailable,
         QString::fromUtf8(GetParam().unavailable)},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_FALSE(row.token.isEmpty());
        failure = {};
        EXPECT_EQ(logInAndCount(row.token), row.count);
        if (row.problem == MailProblem::None)
            continue;
        EXPECT_EQ(failure.problem, row.problem);
        EXPECT_TRUE(failure.serverText.startsWith(row.serverText)) << failure.serverText.toStdString(); // then a time stamp
        EXPECT_FALSE(failure.serverText.contains(row.token) || failure.facts.join(u' ').contains(row.token));
    }
}

INSTANTIATE_TEST_SUITE_P(Transports, TokenLoginDovecotTest, ::testing::ValuesIn(kTransports),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
} // namespace kingyo
