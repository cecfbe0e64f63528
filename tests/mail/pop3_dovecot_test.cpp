#include "mail/blocking_pop3.h"
#include "mail/qt_printers.h"
#include "pop3_login.h"
#include "support/process_memory.h"
#include "test_pop3_server.h"

#include <QDir>
#include <QFile>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

// AddressSanitizer keeps freed memory in quarantine: peak memory means nothing there.
#if defined(__SANITIZE_ADDRESS__)
#define KINGYO_MEMORY_IS_MEASURABLE 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KINGYO_MEMORY_IS_MEASURABLE 0
#endif
#endif
#ifndef KINGYO_MEMORY_IS_MEASURABLE
#define KINGYO_MEMORY_IS_MEASURABLE 1
#endif

namespace kingyo {
namespace {

using namespace pop3;
using test::TestPop3Server;
using ::testing::HasSubstr;
using ::testing::Not;

class DovecotTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QString problem;
        ASSERT_TRUE(server_.load(&problem)) << problem.toStdString();
    }

    QString plainAddress() const { return serverField("127.0.0.1:{plain}"); }
    // Logs the client in as user with the user's own password; see connectAndLogIn().
    int logIn(test::BlockingPop3Client &client, const QString &user, bool apop = false, const QString &field = {}) const
    {
        return test::connectAndLogIn(client, field.isEmpty() ? plainAddress() : field, user,
                                     TestPop3Server::passwordOf(user), apop);
    }
    QString serverField(const char *pattern) const
    {
        return QString::fromUtf8(pattern)
            .replace(QStringLiteral("{plain}"), QString::number(server_.port()))
            .replace(QStringLiteral("{tls}"), QString::number(server_.tlsPort()));
    }

    // A message of about the given size, CRLF line ends, numbered in its subject.
    static QByteArray message(int number, int bodyLines)
    {
        QByteArray text = "From: sender@example.jp\r\nSubject: message " + QByteArray::number(number) + "\r\n\r\n";
        for (int line = 0; line < bodyLines; ++line)
            text += "line " + QByteArray::number(line) + " of message " + QByteArray::number(number) + "\r\n";
        return text;
    }

    TestPop3Server server_;
};

TEST_F(DovecotTest, ThreeMessagesComeInOrderWithTheirSizes)
{
    const QString user = QStringLiteral("alice");
    server_.clearMailbox(user);
    const QList<QByteArray> messages{message(1, 3), message(2, 300), message(3, 30)};
    for (const QByteArray &m : messages)
        server_.deliver(user, m);

    test::BlockingMailLibrary library(server_.trustingSettings());
    library.initialize();
    library.setOption(1, 8192);
    const int handle = library.connect(plainAddress());
    ASSERT_GT(handle, 0) << describe(library.lastFailure());
    ASSERT_EQ(library.authenticate(handle, user, TestPop3Server::passwordOf(user), false), 3)
        << describe(library.lastFailure());
    for (int k = 1; k <= 3; ++k) {
        EXPECT_EQ(library.mailStatus(handle, k), 0);
        EXPECT_EQ(library.mailSize(handle, k), messages[k - 1].size());
        ASSERT_EQ(library.fetchMail(handle, k), 0) << describe(library.lastFailure());
        EXPECT_EQ(library.lastBodySize(handle), messages[k - 1].size()) << k;
    }
    EXPECT_EQ(library.mailStatus(handle, 4), kNoSuchMessage);
    library.close(handle);
    library.end();
}

TEST_F(DovecotTest, EmptyMailboxCountsZero)
{
    const QString user = QStringLiteral("bob");
    server_.clearMailbox(user);
    test::BlockingMailLibrary library(server_.trustingSettings());
    const int handle = library.connect(plainAddress());
    ASSERT_GT(handle, 0);
    EXPECT_EQ(library.authenticate(handle, user, TestPop3Server::passwordOf(user), true), 0)
        << describe(library.lastFailure());
    EXPECT_EQ(library.mailStatus(handle, 1), kNoSuchMessage);
    library.close(handle);
}

TEST_F(DovecotTest, StuffedDotsEightBitAndLongLinesArriveWhole)
{
    const QString user = QStringLiteral("carol");
    server_.clearMailbox(user);
    const QByteArray tricky = "Subject: =?UTF-8?B?6YeR6a2a?=\r\n\r\n"
                              ".\r\n..\r\n.hidden\r\n\r\n.\r\n"
                              "金魚が泳ぐ \xff\xfe\x80 bytes\r\n" +
                              QByteArray(200000, 'L') + "\r\n" + "end.\r\n.";
    server_.deliver(user, tricky + "\r\n");
    test::BlockingPop3Client client(server_.trustingSettings());
    ASSERT_EQ(logIn(client, user), 1) << describe(client.failure());
    ASSERT_EQ(client.retrieve(1), 0) << describe(client.failure());
    EXPECT_EQ(client.lastBodySize(), tricky.size() + 2);
    EXPECT_EQ(client.messageSize(1), tricky.size() + 2);
}

struct TransportCase {
    const char *name;
    const char *field; // {plain}: the plain port, {tls}: the POP3S port
    bool apop;
    bool needsIpv6;
};

// Names the case in test listings.
void PrintTo(const TransportCase &c, std::ostream *out)
{
    *out << c.name;
}

class DovecotTransport : public DovecotTest, public ::testing::WithParamInterface<TransportCase> {};

TEST_P(DovecotTransport, LogsInEncryptedAndFetches)
{
    const TransportCase &c = GetParam();
    if (c.needsIpv6 && !server_.hasIpv6())
        GTEST_SKIP() << "no IPv6 loopback here";
    const QString user = QStringLiteral("erin");
    server_.clearMailbox(user);
    const QByteArray only = message(1, 10);
    server_.deliver(user, only);

    test::BlockingPop3Client client(server_.trustingSettings());
    ASSERT_EQ(logIn(client, user, c.apop, serverField(c.field)), 1) << describe(client.failure());
    EXPECT_TRUE(client.usesTls()) << "STLS was offered, or the port was POP3S";
    ASSERT_EQ(client.retrieve(1), 0);
    EXPECT_EQ(client.lastBodySize(), only.size());
}

INSTANTIATE_TEST_SUITE_P(Pop3, DovecotTransport,
                         ::testing::Values(TransportCase{"stls_user_pass", "127.0.0.1:{plain}", false, false},
                                           TransportCase{"stls_apop", "pop3://127.0.0.1:{plain}", true, false},
                                           TransportCase{"pop3s_user_pass", "pop3s://127.0.0.1:{tls}", false, false},
                                           TransportCase{"pop3s_by_name_apop", "pop3s://localhost:{tls}", true, false},
                                           TransportCase{"ipv6_stls", "[::1]:{plain}", false, true},
                                           TransportCase{"ipv6_pop3s_apop", "pop3s://[::1]:{tls}", true, true}),
                         [](const auto &info) { return std::string(info.param.name); });

struct RejectionCase {
    const char *name;
    const char *user;
    const char *password;
    bool apop;
};

// Names the case in test listings.
void PrintTo(const RejectionCase &c, std::ostream *out)
{
    *out << c.name;
}

class DovecotRejection : public DovecotTest, public ::testing::WithParamInterface<RejectionCase> {};

TEST_P(DovecotRejection, IsALoginFailureWithTheServersWords)
{
    const RejectionCase &c = GetParam();
    test::BlockingMailLibrary library(server_.trustingSettings());
    const int handle = library.connect(plainAddress());
    ASSERT_GT(handle, 0);
    EXPECT_EQ(library.authenticate(handle, QString::fromUtf8(c.user), QString::fromUtf8(c.password), c.apop),
              kLoginRejected);
    const std::string text = describe(library.lastFailure());
    EXPECT_EQ(library.lastFailure().problem, MailProblem::LoginRejected) << text;
    EXPECT_THAT(text, HasSubstr("Authentication failed")); // Dovecot's own words, kept apart
    EXPECT_THAT(text, Not(HasSubstr(c.password)));
    EXPECT_EQ(library.fetchMail(handle, 1), kNotConnected);
    // A second try on the same connection is refused at once rather than left waiting.
    EXPECT_EQ(library.authenticate(handle, QString::fromUtf8(c.user), QString::fromUtf8(c.password), c.apop),
              kNotConnected);
    library.close(handle);
}

INSTANTIATE_TEST_SUITE_P(Pop3, DovecotRejection,
                         ::testing::Values(RejectionCase{"wrong_password", "frank", "not-franks-password", false},
                                           RejectionCase{"wrong_password_apop", "frank", "not-franks-password", true},
                                           RejectionCase{"unknown_user", "nobody-here", "whatever-1", false}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(DovecotTest, PasswordWithSpacesQuotesAndMoreThanAsciiIsSentWhole)
{
    for (const QString &user : {QStringLiteral("grace"), TestPop3Server::hardToQuoteUser()}) {
        server_.clearMailbox(user);
        test::BlockingMailLibrary library(server_.trustingSettings());
        const int handle = library.connect(plainAddress());
        ASSERT_GT(handle, 0);
        EXPECT_EQ(library.authenticate(handle, user, TestPop3Server::passwordOf(user), false), 0)
            << user.toStdString() << ": " << describe(library.lastFailure());
        library.close(handle);
    }
}

class DovecotUntrusted : public DovecotTest, public ::testing::WithParamInterface<const char *> {};

TEST_P(DovecotUntrusted, CertificateIsRefusedBeforeAnyPassword)
{
    const QString user = QStringLiteral("heidi");
    Pop3Settings settings; // the system store only: the test certificate is not in it
    settings.timeoutMs = 10000;
    test::BlockingMailLibrary library(settings);
    const int handle = library.connect(serverField(GetParam()));
    ASSERT_GT(handle, 0);
    EXPECT_EQ(library.authenticate(handle, user, TestPop3Server::passwordOf(user), false), kTlsFailure);
    EXPECT_EQ(library.lastFailure().problem, MailProblem::TlsFailed) << describe(library.lastFailure());
    library.close(handle);
    EXPECT_THAT(server_.logText().toStdString(), Not(HasSubstr("user=<heidi>")));
}

INSTANTIATE_TEST_SUITE_P(Pop3, DovecotUntrusted, ::testing::Values("127.0.0.1:{plain}", "pop3s://127.0.0.1:{tls}"));

TEST_F(DovecotTest, FiftyMegabyteMessageIsCountedNotKept)
{
    const QString user = QStringLiteral("dave");
    server_.clearMailbox(user);
    constexpr int kMegabytes = 50;
    const QByteArray line = QByteArray(78, 'm') + "\r\n";
    const QByteArray megabyte = line.repeated(1024 * 1024 / line.size());
    server_.deliver(user, [&](const auto &append) {
        append("Subject: big\r\n\r\n");
        for (int i = 0; i < kMegabytes; ++i)
            append(megabyte);
    });
    const std::int64_t expected = 16 + std::int64_t{kMegabytes} * megabyte.size();

    test::BlockingPop3Client client(server_.trustingSettings());
    ASSERT_EQ(logIn(client, user), 1) << describe(client.failure());
    ASSERT_TRUE(test::resetPeakMemory()); // the peak below belongs to the fetch
    const std::int64_t before = test::statusKilobytes("VmRSS");
    ASSERT_EQ(client.retrieve(1), 0) << describe(client.failure());
    const std::int64_t growth = test::statusKilobytes("VmHWM") - before;
    EXPECT_EQ(client.lastBodySize(), expected);
    if (KINGYO_MEMORY_IS_MEASURABLE) {
        EXPECT_LT(growth, 16 * 1024) << "kB of peak memory growth for a 50 MB message";
    }
}

TEST_F(DovecotTest, MessagesCanBeFetchedOutOfOrderAndLeftInFlight)
{
    const QString user = QStringLiteral("ivan");
    server_.clearMailbox(user);
    QList<QByteArray> messages;
    for (int i = 1; i <= 200; ++i) {
        messages << message(i, i % 17);
        server_.deliver(user, messages.back());
    }
    Pop3Settings settings = server_.trustingSettings();
    settings.pipeline.window = 8;
    settings.pipeline.bytes = 0;
    test::BlockingPop3Client client(settings);
    ASSERT_EQ(logIn(client, user), 200) << describe(client.failure());
    for (const int k : {1, 2, 3, 7, 5, 5, 200, 100, 101}) {
        ASSERT_EQ(client.retrieve(k), 0) << k;
        EXPECT_EQ(client.lastBodySize(), messages[k - 1].size()) << k;
    }
    client.quit(); // RETRs still in flight: goodbye without waiting for them
    EXPECT_EQ(client.retrieve(102), kNotConnected);
}

QStringList storedNamesHolding(const QString &user, const QByteArray &part)
{
    QStringList names;
    const QString maildir = QStringLiteral(KINGYO_POP3_SERVER_DIR "/home/") + user + QStringLiteral("/Maildir/");
    for (const char *sub : {"new", "cur"}) {
        const QDir folder(maildir + QLatin1String(sub));
        for (const QString &name : folder.entryList(QDir::Files)) {
            QFile file(folder.filePath(name));
            if (file.open(QIODevice::ReadOnly) && file.readAll().contains(part))
                names << name;
        }
    }
    return names;
}

// Dovecot marks a message it gave out whole with ",S" in its file name.
TEST_F(DovecotTest, HeadersComeWithoutTheBodyAndLeaveTheMessageUnread)
{
    const QString user = QStringLiteral("carol");
    server_.clearMailbox(user);
    const QByteArray headers = "Subject: hi\r\n";
    server_.deliver(user, headers + "\r\nsecret body line\r\n");
    server_.deliver(user, message(2, 3));
    server_.deliver(user, message(3, 3));
    {
        test::BlockingPop3Client client(server_.trustingSettings());
        ASSERT_EQ(logIn(client, user), 3) << describe(client.failure());
        ASSERT_EQ(client.retrieve(2), 0); // RETR 3 goes along, pipelined
        QByteArray block;
        ASSERT_EQ(client.topHeaders(1, &block), 0) << describe(client.failure());
        EXPECT_THAT(block.toStdString(), HasSubstr(headers.toStdString()));
        EXPECT_THAT(block.toStdString(), Not(HasSubstr("secret body")));
    }
    const QStringList retrieved = storedNamesHolding(user, "line 0 of message 2");
    const QStringList topped = storedNamesHolding(user, "secret body line");
    ASSERT_EQ(retrieved.size(), 1);
    ASSERT_EQ(topped.size(), 1);
    EXPECT_TRUE(retrieved.first().contains(QStringLiteral(":2,S")));
    EXPECT_FALSE(topped.first().contains(QStringLiteral(":2,S")));
}

} // namespace
} // namespace kingyo
