// Counting only new mail against the private Dovecot: unique IDs seen by one check are
// not new at the next, whatever is delivered or expunged in between.
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
#include <sys/stat.h>

namespace kingyo {
namespace {

using test::TestPop3Server;

const QString kUser = QStringLiteral("peggy");

QString maildirOf(const QString &user)
{
    return QStringLiteral(KINGYO_POP3_SERVER_DIR "/home/") + user + QStringLiteral("/Maildir");
}

class NewMailDovecotTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QString problem;
        ASSERT_TRUE(server.load(&problem)) << problem.toStdString();
        server.clearMailbox(kUser);
        library = std::make_unique<NetworkMailLibrary>(server.trustingSettings());
        state.pop3Server = QStringLiteral("127.0.0.1:%1").arg(server.port());
        check = std::make_unique<MailCheck>(state, *library, windows);
        check->setNewOnlyFolder(data.path());
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
        EXPECT_EQ(windows.errors, QList<MailFailure>{});
        return finished.isEmpty() ? -100 : finished.first().first().toInt();
    }

    void deliver(int number)
    {
        server.deliver(kUser, QByteArray("From: a@example.org\r\nSubject: message ") + QByteArray::number(number) +
                                  "\r\n\r\nhello\r\n");
    }

    // Removes one stored message, as a client that deleted it elsewhere would.
    void expungeOne()
    {
        const QString maildir = maildirOf(kUser);
        for (const char *sub : {"cur", "new"}) {
            QDir folder(maildir + u'/' + QLatin1String(sub));
            const QStringList names = folder.entryList(QDir::Files, QDir::Name);
            if (!names.isEmpty()) {
                ASSERT_TRUE(folder.remove(names.first()));
                return;
            }
        }
        FAIL() << "no message to expunge";
    }

    TestPop3Server server;
    QTemporaryDir data;
    std::unique_ptr<NetworkMailLibrary> library;
    SharedState state;
    test::NotedSurroundings windows{{kUser, TestPop3Server::passwordOf(kUser)}};
    std::unique_ptr<MailCheck> check;
};

TEST_F(NewMailDovecotTest, CountsEachMessageOnceAcrossChecks)
{
    for (int number = 1; number <= 3; ++number)
        deliver(number);
    EXPECT_EQ(runCheck(), 3);
    EXPECT_EQ(runCheck(), 0);
    deliver(4);
    EXPECT_EQ(runCheck(), 1);
    expungeOne();
    deliver(5);
    EXPECT_EQ(runCheck(), 1);
    EXPECT_EQ(runCheck(), 0);
    EXPECT_EQ(windows.notices, (QList<int>{3, 0, 1, 1, 0}));
    QList<QStringList> named; // the subjects each notice was given, newest first
    for (const QList<MailSummary> &newest : windows.newest) {
        named.append(QStringList{});
        for (const MailSummary &summary : newest)
            named.last() << summary.subject;
    }
    EXPECT_EQ(named, (QList<QStringList>{{"message 3", "message 2", "message 1"}, {}, {"message 4"}, {"message 5"}, {}}));
    // No message was fetched, nor marked by reading its headers: Dovecot marks a retrieved message seen (",S" in its name).
    const QDir cur(maildirOf(kUser) + QStringLiteral("/cur"));
    for (const QString &name : cur.entryList(QDir::Files))
        EXPECT_FALSE(name.contains(QStringLiteral(":2,S"))) << name.toStdString();
}

TEST_F(NewMailDovecotTest, TheStoreHoldsOnlyWhatTheServerStillHoldsAndOnlyItsOwnerReadsIt)
{
    for (int number = 1; number <= 3; ++number)
        deliver(number);
    runCheck();
    const QStringList stores = QDir(data.path()).entryList(QDir::Files);
    ASSERT_EQ(stores.size(), 1) << stores.join(u' ').toStdString();
    QFile store(data.filePath(stores.first()));
    EXPECT_EQ(store.permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther), 0);
    ASSERT_TRUE(store.open(QIODevice::ReadOnly));
    EXPECT_EQ(store.readAll().count('\n'), 3);
    store.close();

    server.clearMailbox(kUser);
    deliver(4);
    EXPECT_EQ(runCheck(), 1);
    ASSERT_TRUE(store.open(QIODevice::ReadOnly));
    EXPECT_EQ(store.readAll().count('\n'), 1);
}

// The file's identity: a store written anew is a new file renamed over the old one.
ino_t inodeOf(const QString &path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_ino : 0;
}

TEST_F(NewMailDovecotTest, TheStoreIsRewrittenOnlyWhenTheServerHoldsOtherMessages)
{
    for (int number = 1; number <= 2; ++number)
        deliver(number);
    EXPECT_EQ(runCheck(), 2);
    const QStringList stores = QDir(data.path()).entryList(QDir::Files);
    ASSERT_EQ(stores.size(), 1);
    const QString store = data.filePath(stores.first());
    const ino_t first = inodeOf(store);
    ASSERT_NE(first, 0u);

    EXPECT_EQ(runCheck(), 0);
    EXPECT_EQ(inodeOf(store), first) << "nothing came or went: the store stays as it was";

    expungeOne();
    EXPECT_EQ(runCheck(), 0);
    const ino_t afterExpunge = inodeOf(store);
    EXPECT_NE(afterExpunge, first) << "a message went: its ID leaves the store";
    deliver(3);
    EXPECT_EQ(runCheck(), 1);
    EXPECT_NE(inodeOf(store), afterExpunge) << "a message came: its ID joins the store";
    EXPECT_EQ(runCheck(), 0) << "and is not new at the next check";
}

} // namespace
} // namespace kingyo
