#include "fake_pop3_server.h"
#include "mail/mail_headers.h"
#include "mail/blocking_pop3.h"
#include "mail/qt_printers.h"
#include "pop3_login.h"

#include <QElapsedTimer>
#include <QFile>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace kingyo {
namespace {

using namespace pop3;
using test::FakePop3Server;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr int kShortTimeoutMs = 300;
constexpr int kNormalTimeoutMs = 5000;
const QString kPassword = QStringLiteral("open-sesame-9");

Pop3Settings settingsFor(const FakePop3Server &server, int timeoutMs = kNormalTimeoutMs)
{
    Pop3Settings settings;
    settings.timeoutMs = timeoutMs;
    settings.extraCaCertificates = QSslCertificate::fromPath(server.certificatePath());
    return settings;
}

// Connects to the fake server and logs in as "kingyo"; see connectAndLogIn().
int loginTo(test::BlockingPop3Client &client, const FakePop3Server &server, bool apop = false)
{
    return test::connectAndLogIn(client, server.address(), QStringLiteral("kingyo"), kPassword, apop);
}

struct FailedLoginCase {
    const char *scenario;
    bool apop;
    int expected;
    MailProblem problem;
    const char *detail; // in the failure's facts or the server's words; empty: none asked
    bool passwordMayGo; // the fault shows only after the password went out
};

// Names the case in test listings.
void PrintTo(const FailedLoginCase &c, std::ostream *out)
{
    *out << c.scenario;
}

class FailedLogin : public ::testing::TestWithParam<FailedLoginCase> {};

TEST_P(FailedLogin, GivesItsOwnCodeAndSaysWhy)
{
    const FailedLoginCase &c = GetParam();
    FakePop3Server server(QString::fromLatin1(c.scenario));
    {
        test::BlockingPop3Client client(settingsFor(server, kShortTimeoutMs));
        QElapsedTimer clock;
        clock.start();
        EXPECT_EQ(loginTo(client, server, c.apop), c.expected);
        EXPECT_LT(clock.elapsed(), 5000) << "the client hung beyond its timeout";
        EXPECT_EQ(client.failure().problem, c.problem) << describe(client.failure());
        EXPECT_THAT(describe(client.failure()), HasSubstr(c.detail));
        EXPECT_THAT(describe(client.failure()), Not(HasSubstr(kPassword.toStdString())));
        // A dead session stays dead and says so at once.
        if (c.expected != kApopUnavailable) {
            EXPECT_EQ(client.retrieve(1), c.expected);
        }
    }
    if (!c.passwordMayGo) {
        EXPECT_THAT(server.received().toStdString(), Not(HasSubstr(kPassword.toStdString())));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Pop3HostileServer, FailedLogin,
    ::testing::Values(
        FailedLoginCase{"stall_after_greeting", false, kTimeout, MailProblem::Silent, "", false},
        FailedLoginCase{"no_ok_greeting", false, kProtocolError, MailProblem::NotPop3, "", false},
        FailedLoginCase{"err_greeting", false, kProtocolError, MailProblem::NoGreeting, "too many connections", false},
        FailedLoginCase{"stls_refused", false, kTlsFailure, MailProblem::StlsRefused, "not today", false},
        FailedLoginCase{"stls_then_garbage", false, kTlsFailure, MailProblem::TlsFailed, "", false},
        FailedLoginCase{"apop_plain_greeting", true, kApopUnavailable, MailProblem::ApopUnavailable, "", false},
        FailedLoginCase{"negative_count", false, kProtocolError, MailProblem::CountUnreadable, "-", true},
        FailedLoginCase{"garbage_count", false, kProtocolError, MailProblem::CountUnreadable, "", true},
        FailedLoginCase{"count_beyond_list", false, kProtocolError, MailProblem::ListMismatch, "2000000000", true},
        FailedLoginCase{"list_beyond_count", false, kProtocolError, MailProblem::ListMismatch, "", true}),
    [](const auto &info) { return std::string(info.param.scenario); });

struct FailedMessageCase {
    const char *scenario;
    int expected;
    MailProblem problem;
};

void PrintTo(const FailedMessageCase &c, std::ostream *out)
{
    *out << c.scenario;
}

class FailedMessage : public ::testing::TestWithParam<FailedMessageCase> {};

// A message that stalls, is cut or never ends fails with its own code and words,
// and the session is over from then on.
TEST_P(FailedMessage, EndsTheSessionWithItsOwnCode)
{
    const FailedMessageCase &c = GetParam();
    FakePop3Server server(QString::fromLatin1(c.scenario));
    test::BlockingPop3Client client(settingsFor(server, kShortTimeoutMs));
    ASSERT_EQ(loginTo(client, server), 1);
    EXPECT_EQ(client.retrieve(1), c.expected);
    EXPECT_EQ(client.failure().problem, c.problem) << describe(client.failure());
    EXPECT_EQ(client.retrieve(1), c.expected);
    EXPECT_EQ(client.messageSize(1), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Pop3HostileServer, FailedMessage,
    ::testing::Values(FailedMessageCase{"stall_mid_message", kTimeout, MailProblem::Silent},
                      FailedMessageCase{"cut_mid_message", kConnectionLost, MailProblem::ClosedByServer},
                      FailedMessageCase{"endless_message", kProtocolError, MailProblem::ReplyOverrun}),
    [](const auto &info) { return std::string(info.param.scenario); });

struct HeadersCase {
    const char *scenario;
    int expected;
    MailProblem problem;
    qsizetype kept; // bytes of the header block handed over
    int afterwards; // what retrieving the message then gives
};

void PrintTo(const HeadersCase &c, std::ostream *out) { *out << c.scenario; }

class Headers : public ::testing::TestWithParam<HeadersCase> {};

TEST_P(Headers, AreCappedAndARefusalCostsOnlyThem)
{
    const HeadersCase &c = GetParam();
    FakePop3Server server(QString::fromLatin1(c.scenario));
    {
        test::BlockingMailLibrary library(settingsFor(server, kShortTimeoutMs));
        const int handle = library.connect(server.address());
        ASSERT_GT(handle, 0);
        ASSERT_GE(library.authenticate(handle, QStringLiteral("kingyo"), kPassword, false), 1);
        QByteArray headers("stale");
        EXPECT_EQ(library.messageHeaders(handle, 1, &headers), c.expected);
        EXPECT_EQ(library.lastFailure().problem, c.problem) << describe(library.lastFailure());
        EXPECT_EQ(headers.size(), c.kept);
        EXPECT_EQ(library.fetchMail(handle, 1), c.afterwards);
    }
    EXPECT_TRUE(server.received().contains("TOP 1 0\r\n"));
}

INSTANTIATE_TEST_SUITE_P(
    Pop3HostileServer, Headers,
    ::testing::Values(HeadersCase{"huge_headers", 0, MailProblem::None, kHeaderBlockLimit, 0},
                      HeadersCase{"three_without_uidl", kServerError, MailProblem::MessageRefused, 0, 0}),
    [](const auto &info) { return std::string(info.param.scenario); });

TEST(Pop3HostileServer, MegabyteLinesAreReadThrough)
{
    FakePop3Server server(QStringLiteral("huge_line"));
    test::BlockingPop3Client client(settingsFor(server));
    ASSERT_EQ(loginTo(client, server), 1);
    ASSERT_EQ(client.retrieve(1), 0);
    EXPECT_EQ(client.lastBodySize(), (1 << 20) + 2);
}

TEST(Pop3HostileServer, UnreadableSizesFailOnlyTheirOwnMessage)
{
    FakePop3Server server(QStringLiteral("garbage_sizes"));
    test::BlockingPop3Client client(settingsFor(server));
    ASSERT_EQ(loginTo(client, server), 4);
    EXPECT_EQ(client.messageSize(1), 25);
    for (int message : {2, 3, 4})
        EXPECT_EQ(client.messageSize(message), kServerError) << message;
    EXPECT_EQ(client.retrieve(2), 0);
    EXPECT_EQ(client.lastBodySize(), 22);
    EXPECT_EQ(client.messageSize(5), kNoSuchMessage);
    EXPECT_EQ(client.retrieve(0), kNoSuchMessage);
}

TEST(Pop3HostileServer, RepliesInjectedBeforeTheHandshakeAreDropped)
{
    FakePop3Server server(QStringLiteral("stls_injected"));
    {
        test::BlockingPop3Client client(settingsFor(server));
        EXPECT_EQ(loginTo(client, server), 0) << describe(client.failure());
        EXPECT_TRUE(client.usesTls());
    }
    const QByteArray received = server.received();
    const QByteArray inTheClear = received.left(received.indexOf("<TLS>"));
    EXPECT_EQ(inTheClear, "CAPA\r\nSTLS\r\n");
    EXPECT_TRUE(received.contains("PASS " + kPassword.toUtf8())) << "the login went on inside TLS";
}

TEST(Pop3HostileServer, CertificateForAnotherNameIsRefusedBeforeThePassword)
{
    // Signed by a trusted certificate, but not for 127.0.0.1.
    FakePop3Server server(QStringLiteral("stls_injected"), QStringLiteral("DNS:elsewhere.invalid"));
    {
        test::BlockingPop3Client client(settingsFor(server));
        EXPECT_EQ(loginTo(client, server), kTlsFailure);
        EXPECT_EQ(client.failure().problem, MailProblem::TlsFailed);
    }
    EXPECT_FALSE(server.received().contains(kPassword.toUtf8()));
}

TEST(Pop3HostileServer, BareServerWithoutCapaAndWithBareLineFeeds)
{
    FakePop3Server server(QStringLiteral("bare_server"));
    {
        test::BlockingPop3Client client(settingsFor(server));
        ASSERT_EQ(loginTo(client, server), 2);
        EXPECT_EQ(client.messageSize(1), 22);
        ASSERT_EQ(client.retrieve(1), 0);
        EXPECT_EQ(client.lastBodySize(), QByteArray("Subject: one\n\n.dot\n").size());
        ASSERT_EQ(client.retrieve(2), 0);
        EXPECT_EQ(client.lastBodySize(), 0);
    }
    EXPECT_EQ(server.received(), "CAPA\r\nUSER kingyo\r\nPASS open-sesame-9\r\nSTAT\r\nLIST\r\nRETR 1\r\nRETR 2\r\nQUIT\r\n");
}

TEST(Pop3HostileServer, PipelinedRepliesReachTheMessageAskedFor)
{
    FakePop3Server server(QStringLiteral("pipelined"));
    {
        test::BlockingPop3Client client(settingsFor(server));
        ASSERT_EQ(loginTo(client, server), 10);
        for (const int message : {1, 2, 5, 3, 10, 10}) {
            ASSERT_EQ(client.retrieve(message), 0) << message;
            EXPECT_EQ(client.lastBodySize(), QByteArray::number(message).repeated(10).size() + 2) << message;
        }
    }
    const QByteArray received = server.received();
    EXPECT_TRUE(received.contains("STAT\r\nLIST\r\n"));
    EXPECT_TRUE(received.endsWith("QUIT\r\n"));
}

TEST(Pop3HostileServer, ApopSendsTheDigestOfTimestampAndPassword)
{
    FakePop3Server server(QStringLiteral("apop_rfc_example"));
    {
        test::BlockingPop3Client client(settingsFor(server));
        // The example of RFC 1939; its printed digest is wrong, this one is
        // MD5("<1896.697170952@dbc.mindspring.com>tanstaaf") from another MD5.
        EXPECT_EQ(test::connectAndLogIn(client, server.address(), QStringLiteral("mrose"), QStringLiteral("tanstaaf"), true),
                  0);
    }
    const QByteArray received = server.received();
    EXPECT_TRUE(received.contains("APOP mrose 3bb2a25fc1387c60fe0f855905965be0\r\n")) << received.toStdString();
    EXPECT_FALSE(received.contains("tanstaaf"));
}

TEST(Pop3HostileServer, ServerTextIsCleanedBoundedAndHidesThePassword)
{
    FakePop3Server server(QStringLiteral("hostile_error_text"));
    test::BlockingMailLibrary library(settingsFor(server));
    const int handle = library.connect(server.address());
    ASSERT_GT(handle, 0);
    EXPECT_EQ(library.authenticate(handle, QStringLiteral("kingyo"), kPassword, false), kLoginRejected);
    const QString text = library.lastFailure().serverText;
    EXPECT_THAT(text.toStdString(), HasSubstr("bad"));
    EXPECT_THAT(text.toStdString(), Not(HasSubstr(kPassword.toStdString())));
    EXPECT_LT(text.size(), 400);
    for (const QChar c : text)
        EXPECT_TRUE(c.isPrint()) << "control character " << int{c.unicode()};
    library.close(handle);
}

TEST(Pop3HostileServer, AnEchoedPasswordWithATabIsHiddenToo)
{
    FakePop3Server server(QStringLiteral("echoes_password"));
    const QString password = QStringLiteral("tab\there-9");
    test::BlockingMailLibrary library(settingsFor(server));
    const int handle = library.connect(server.address());
    ASSERT_GT(handle, 0);
    EXPECT_EQ(library.authenticate(handle, QStringLiteral("kingyo"), password, false), kLoginRejected);
    const std::string text = library.lastFailure().serverText.toStdString();
    EXPECT_THAT(text, HasSubstr("wrong password"));
    EXPECT_THAT(text, Not(HasSubstr("here-9"))) << "the password shows, its tab made a space";
    library.close(handle);
}

TEST(Pop3HostileServer, CredentialsWithLineBreaksAreNeverSent)
{
    FakePop3Server server(QStringLiteral("bare_server"));
    {
        test::BlockingPop3Client client(settingsFor(server));
        EXPECT_EQ(test::connectAndLogIn(client, server.address(), QStringLiteral("kingyo"), QStringLiteral("x\r\nDELE 1")),
                  kUnsafeCredentials);
    }
    EXPECT_FALSE(server.received().contains("DELE"));
}

TEST(NetworkMailLibrary, UnknownHandlesAndServersFailCleanly)
{
    test::BlockingMailLibrary library;
    const QString unreadable = QStringLiteral("pop3://[::1");
    EXPECT_EQ(library.connect(unreadable), -1);
    EXPECT_EQ(library.lastFailure(), (MailFailure{MailProblem::UnreadableServerField, {unreadable}, {}}));
    EXPECT_EQ(library.authenticate(42, QStringLiteral("a"), QStringLiteral("b"), false), kNotConnected);
    EXPECT_EQ(library.mailStatus(42, 1), kNotConnected);
    EXPECT_EQ(library.mailSize(42, 1), kNotConnected);
    EXPECT_EQ(library.fetchMail(42, 1), kNotConnected);
    library.close(42);
}

TEST(NetworkMailLibrary, RefusedConnectionGivesMinusOneAndAText)
{
    // A port that was free a moment ago: nothing listens there now.
    quint16 port = 0;
    {
        FakePop3Server server(QStringLiteral("stall_after_greeting"));
        port = server.port();
    }
    test::BlockingMailLibrary library;
    EXPECT_EQ(library.connect(QStringLiteral("127.0.0.1:%1").arg(port)), -1);
    EXPECT_EQ(library.lastFailure(), (MailFailure{MailProblem::ConnectionRefused, {"127.0.0.1", QString::number(port)}, {}}));
}

} // namespace
} // namespace kingyo
