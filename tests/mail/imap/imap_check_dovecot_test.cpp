// The mail check against the private Dovecot over IMAP: it counts the unread messages of
// INBOX, names the newest, and in new-only mode counts only what came after its mark.
#include "mail/mail_check.h"
#include "mail/network_mail_library.h"
#include "mail/qt_printers.h"
#include "noted_surroundings.h"
#include "settings/shared_state.h"
#include "test_pop3_server.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace kingyo {
namespace {

using test::TestPop3Server;

const QString kUser = QStringLiteral("judy");

QByteArray message(int number)
{
    return "From: a@example.org\r\nSubject: message " + QByteArray::number(number) + "\r\n\r\nhello\r\n";
}

QStringList subjects(const QList<MailSummary> &newest)
{
    QStringList named;
    for (const MailSummary &summary : newest)
        named << summary.subject;
    return named;
}

// Over STARTTLS on the IMAP port, or TLS from the first byte.
class ImapCheckDovecotTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        QString problem;
        ASSERT_TRUE(server.load(&problem)) << problem.toStdString();
        server.clearMailbox(kUser);
        library = std::make_unique<NetworkMailLibrary>(server.trustingSettings());
        state.pop3Server = GetParam() ? QStringLiteral("imaps://127.0.0.1:%1").arg(server.imapsPort())
                                      : QStringLiteral("imap://127.0.0.1:%1").arg(server.imapPort());
        check = std::make_unique<MailCheck>(state, *library, windows);
    }
    void TearDown() override
    {
        check->shutDown(true);
        server.clearMailbox(kUser);
    }

    int runCheck()
    {
        QSignalSpy finished(check.get(), &MailCheck::finished);
        EXPECT_TRUE(check->start());
        EXPECT_TRUE(finished.wait(20000));
        return finished.isEmpty() ? -100 : finished.first().first().toInt();
    }

    // A message some other client has read already.
    void deliverRead(int number)
    {
        static int serial = 0;
        QFile file(QStringLiteral(KINGYO_POP3_SERVER_DIR "/home/%1/Maildir/cur/%2.read%3.kingyo:2,S")
                       .arg(kUser)
                       .arg(QDateTime::currentSecsSinceEpoch())
                       .arg(++serial));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(message(number));
    }

    QStringList readMessages() const
    {
        return QDir(QStringLiteral(KINGYO_POP3_SERVER_DIR "/home/%1/Maildir/cur").arg(kUser))
            .entryList({QStringLiteral("*,S*")}, QDir::Files);
    }

    TestPop3Server server;
    std::unique_ptr<NetworkMailLibrary> library;
    SharedState state;
    test::NotedSurroundings windows{{kUser, TestPop3Server::passwordOf(kUser)}};
    std::unique_ptr<MailCheck> check;
};

TEST_P(ImapCheckDovecotTest, CountsTheUnreadAndNamesTheNewestWithoutMarkingThemRead)
{
    deliverRead(1);
    server.deliver(kUser, message(2));
    server.deliver(kUser, message(3));
    EXPECT_EQ(runCheck(), 2);
    EXPECT_EQ(windows.errors, QList<MailFailure>{});
    ASSERT_EQ(windows.newest.size(), 1);
    EXPECT_EQ(subjects(windows.newest.first()), (QStringList{"message 3", "message 2"}));
    EXPECT_EQ(readMessages().size(), 1) << "reading headers marked a message read";
    EXPECT_EQ(runCheck(), 2) << "without new-only every unread message counts each time";
}

TEST_P(ImapCheckDovecotTest, NewOnlyCountsWhatCameAfterTheLastCheck)
{
    QTemporaryDir data;
    check->setNewOnlyFolder(data.path());
    server.deliver(kUser, message(1));
    server.deliver(kUser, message(2));
    EXPECT_EQ(runCheck(), 2) << "a first check: every unread message is new";
    EXPECT_EQ(runCheck(), 0);
    server.deliver(kUser, message(3));
    deliverRead(4);
    EXPECT_EQ(runCheck(), 1) << "only the unread one of those that came";
    EXPECT_EQ(windows.notices, (QList<int>{2, 0, 1}));
    EXPECT_EQ(subjects(windows.newest.last()), QStringList{"message 3"});

    // A mailbox made anew (another UIDVALIDITY) counts as at a first check: its unread
    // messages, never every message it holds.
    const QStringList marks = QDir(data.path()).entryList(QDir::Files);
    ASSERT_EQ(marks.size(), 1);
    QFile mark(data.filePath(marks.first()));
    EXPECT_EQ(mark.permissions() & (QFile::ReadGroup | QFile::ReadOther), 0);
    ASSERT_TRUE(mark.open(QIODevice::WriteOnly | QIODevice::Truncate));
    mark.write("1 999\n");
    mark.close();
    // A fresh check reads the file; this one remembers what it stored.
    check = std::make_unique<MailCheck>(state, *library, windows);
    check->setNewOnlyFolder(data.path());
    EXPECT_EQ(runCheck(), 3);
    EXPECT_EQ(runCheck(), 0);
    EXPECT_EQ(windows.errors, QList<MailFailure>{});
}

TEST_P(ImapCheckDovecotTest, HardPasswordsLogInAndWrongOnesAreRefused)
{
    const QString hard = TestPop3Server::hardToQuoteUser();
    server.clearMailbox(hard);
    server.deliver(hard, message(1));
    const struct {
        QString password;
        int count;
        MailProblem problem;
    } rows[] = {
        {TestPop3Server::passwordOf(hard), 1, MailProblem::None},
        {TestPop3Server::passwordOf(hard) + u'x', failureCode(MailProblem::LoginRejected),
         MailProblem::LoginRejected},
    };
    for (const auto &row : rows) {
        windows = test::NotedSurroundings({hard, row.password});
        check = std::make_unique<MailCheck>(state, *library, windows);
        EXPECT_EQ(runCheck(), row.count);
        ASSERT_EQ(windows.errors.size(), row.problem == MailProblem::None ? 0 : 1);
        if (!windows.errors.isEmpty()) {
            EXPECT_EQ(windows.errors.first().problem, row.problem);
            EXPECT_FALSE(windows.errors.first().serverText.contains(row.password));
        }
    }
    server.clearMailbox(hard);
}

INSTANTIATE_TEST_SUITE_P(Transports, ImapCheckDovecotTest, ::testing::Values(false, true),
                         [](const auto &info) { return info.param ? "Imaps" : "StartTls"; });

} // namespace
} // namespace kingyo
