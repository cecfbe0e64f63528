// Counting only new mail without a real server: the seen store, the count, the UIDL
// reply's checks against scripted servers, and a server that keeps no unique IDs.
#include "fake_pop3_server.h"
#include "mail/mail_check.h"
#include "noted_surroundings.h"
#include "mail/pop3_failure.h"
#include "mail/blocking_pop3.h"
#include "mail/qt_printers.h"
#include "mail/seen_messages.h"
#include "pop3_login.h"
#include "settings/shared_state.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QSslCertificate>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>

namespace kingyo {
namespace {

using namespace pop3;
using Ids = std::vector<std::string>;

struct CountCase {
    const char *name;
    std::set<std::string> seen;
    Ids onServer;
    int expected;
};

void PrintTo(const CountCase &c, std::ostream *out) { *out << c.name; }

class CountNew : public ::testing::TestWithParam<CountCase> {};

TEST_P(CountNew, CountsTheMessagesWhoseIdsWereNotSeen)
{
    EXPECT_EQ(countNewMessages(GetParam().seen, GetParam().onServer), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CountNew,
    ::testing::Values(CountCase{"first_check", {}, {"a", "b", "c"}, 3},
                      CountCase{"nothing_changed", {"a", "b", "c"}, {"a", "b", "c"}, 0},
                      CountCase{"one_arrived", {"a", "b", "c"}, {"a", "b", "c", "d"}, 1},
                      CountCase{"one_gone_one_arrived", {"a", "b", "c", "d"}, {"a", "c", "d", "e"}, 1},
                      CountCase{"all_gone", {"a", "b"}, {}, 0},
                      CountCase{"ids_differ_by_case", {"abc"}, {"ABC"}, 1}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(SeenMessageStore, KeepsWhatWasSavedPrivatelyAndApartPerServerAndUser)
{
    QTemporaryDir dir;
    const SeenMessageStore store(dir.path(), QStringLiteral("pop.example.org:110"), QStringLiteral("kingyo"));
    EXPECT_TRUE(store.load().empty()) << "no store yet";
    ASSERT_TRUE(store.save({"a", "b"}));
    EXPECT_EQ(store.load(), (std::set<std::string>{"a", "b"}));
    EXPECT_EQ(QFile(store.path()).permissions() & ~(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser),
              QFile::Permissions{});

    ASSERT_TRUE(store.save({"b", "c"}));
    EXPECT_EQ(store.load(), (std::set<std::string>{"b", "c"})) << "pruned to what the server holds";

    const SeenMessageStore otherUser(dir.path(), QStringLiteral("pop.example.org:110"), QStringLiteral("kingyo2"));
    const SeenMessageStore otherServer(dir.path(), QStringLiteral("pop.example.net:110"), QStringLiteral("kingyo"));
    EXPECT_NE(otherUser.path(), store.path());
    EXPECT_NE(otherServer.path(), store.path());
    EXPECT_TRUE(otherUser.load().empty());
    // A user ID that would be a path does not leave the folder.
    const SeenMessageStore hostile(dir.path(), QStringLiteral("../../x"), QStringLiteral("../../../etc/passwd"));
    EXPECT_EQ(QFileInfo(hostile.path()).absolutePath(), QDir(dir.path()).absolutePath());
}

TEST(SeenMessageStore, AMissingFolderStoresNothingAndLeavesNoFile)
{
    QTemporaryDir dir;
    const SeenMessageStore store(dir.filePath(QStringLiteral("missing")), QStringLiteral("s"), QStringLiteral("u"));
    EXPECT_FALSE(store.save({"a"}));
    EXPECT_TRUE(store.load().empty());
    EXPECT_FALSE(QDir(dir.filePath(QStringLiteral("missing"))).exists());
}

QByteArray idLinesOfSize(qint64 size, std::set<std::string> *ids)
{
    QByteArray text;
    for (int n = 0; text.size() < size; ++n) {
        const std::string id = std::to_string(n) + std::string(69 - std::to_string(n).size(), 'x') + 'z';
        ids->insert(id);
        text += QByteArray::fromStdString(id) + '\n';
    }
    return text;
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// What was not read is not kingyo's: it stays as it was, in its mode too.
TEST(SeenMessageStore, AFileThatWasNotReadIsLeftAsItIs)
{
    QTemporaryDir dir;
    const SeenMessageStore store(dir.path(), QStringLiteral("s"), QStringLiteral("u"));
    const UnreadMarkStore mark(dir.path(), QStringLiteral("s"), QStringLiteral("u"));
    std::set<std::string> ids;
    const QByteArray atBound = idLinesOfSize(SeenMessageStore::kFileLimit, &ids).left(SeenMessageStore::kFileLimit);
    ASSERT_TRUE(writeBytes(store.path(), atBound));
    EXPECT_EQ(store.load().size(), ids.size()) << "a file at the bound is read";

    const QByteArray overBound = atBound + "one-more\n";
    ASSERT_TRUE(writeBytes(store.path(), overBound));
    EXPECT_TRUE(store.load().empty());
    EXPECT_FALSE(store.save({"a"}));
    EXPECT_EQ(QFileInfo(store.path()).size(), overBound.size());

    for (const QString &path : {store.path(), mark.path()}) {
        QFile::remove(path);
        ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0644), 0);
    }
    EXPECT_FALSE(store.save({"a"}));
    EXPECT_FALSE(mark.save({1, 2}));
    for (const QString &path : {store.path(), mark.path()}) {
        EXPECT_EQ(QFileInfo(path).permissions() & 0x0fff, 0x0644) << "still the FIFO, unchanged";
        ASSERT_TRUE(QFile::remove(path) && QDir(dir.path()).mkdir(QFileInfo(path).fileName()));
    }
    EXPECT_FALSE(store.save({"a"}));
    EXPECT_FALSE(mark.save({1, 2}));
    for (const QString &path : {store.path(), mark.path()})
        EXPECT_TRUE(QFileInfo(path).isDir() && (QFileInfo(path).permissions() & QFileDevice::ExeOwner))
            << "still a folder one may enter";

    // Short IDs: their number is bound as well as their bytes.
    ASSERT_TRUE(QDir(dir.path()).rmdir(QFileInfo(store.path()).fileName()));
    std::vector<std::string> most;
    for (std::size_t n = 0; n < SeenMessageStore::kMaxIds; ++n)
        most.push_back(std::to_string(n));
    ASSERT_TRUE(store.save(most));
    EXPECT_EQ(store.load().size(), SeenMessageStore::kMaxIds);
    most.push_back("one-more");
    EXPECT_FALSE(store.save(most));
    QByteArray lines;
    for (const std::string &id : most)
        lines += QByteArray::fromStdString(id) + '\n';
    ASSERT_TRUE(writeBytes(store.path(), lines));
    EXPECT_TRUE(store.load().empty());
}

Pop3Settings settingsFor(const test::FakePop3Server &server)
{
    Pop3Settings settings;
    settings.timeoutMs = 5000;
    settings.extraCaCertificates = QSslCertificate::fromPath(server.certificatePath());
    return settings;
}

struct UidlCase {
    const char *scenario;
    int expected;
    MailProblem problem;
};

void PrintTo(const UidlCase &c, std::ostream *out) { *out << c.scenario; }

class UidlReply : public ::testing::TestWithParam<UidlCase> {};

// A malformed list is refused as a whole, and the session goes on (QUIT is answered).
TEST_P(UidlReply, IsReadOnlyWhenEveryLineIsSound)
{
    const UidlCase &c = GetParam();
    test::FakePop3Server server(QString::fromLatin1(c.scenario));
    {
        test::BlockingPop3Client client(settingsFor(server));
        ASSERT_EQ(test::connectAndLogIn(client, server.address(), QStringLiteral("kingyo"), QStringLiteral("pw"), false), c.problem == MailProblem::UidlRefused ? 3 : 2);
        Ids ids;
        EXPECT_EQ(client.uniqueIds(&ids), c.expected);
        EXPECT_EQ(client.failure().problem, c.problem);
        if (c.expected == 2)
            EXPECT_EQ(ids, (Ids{"aaa", "bbb"}));
        else
            EXPECT_TRUE(ids.empty());
        EXPECT_EQ(client.checkMessage(2), 0) << "the session lives on";
    }
    EXPECT_TRUE(server.received().endsWith("UIDL\r\nQUIT\r\n"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UidlReply,
    ::testing::Values(UidlCase{"uidl_good", 2, MailProblem::None},
                      UidlCase{"uidl_out_of_order", kServerError, MailProblem::UidlUnreadable},
                      UidlCase{"uidl_too_few", kServerError, MailProblem::UidlUnreadable},
                      UidlCase{"uidl_too_many", kServerError, MailProblem::UidlUnreadable},
                      UidlCase{"uidl_no_id", kServerError, MailProblem::UidlUnreadable},
                      UidlCase{"uidl_id_too_long", kServerError, MailProblem::UidlUnreadable},
                      UidlCase{"uidl_id_with_control", kServerError, MailProblem::UidlUnreadable},
                      UidlCase{"uidl_not_a_number", kServerError, MailProblem::UidlUnreadable},
                      UidlCase{"three_without_uidl", kServerError, MailProblem::UidlRefused}),
    [](const auto &info) { return std::string(info.param.scenario); });

// Counting new mail needs only the IDs: no sizes are asked for, and none can be had.
TEST(UidlReply, AsksForNoSizes)
{
    test::FakePop3Server server(QStringLiteral("uidl_good"));
    {
        test::BlockingPop3Client client(settingsFor(server));
        ASSERT_EQ(test::connectAndLogIn(client, server.address(), QStringLiteral("kingyo"), QStringLiteral("pw"),
                                        false, false),
                  2);
        Ids ids;
        ASSERT_EQ(client.uniqueIds(&ids), 2);
        EXPECT_EQ(client.messageSize(1), kServerError);
    }
    EXPECT_TRUE(server.received().endsWith("STAT\r\nUIDL\r\nQUIT\r\n")) << server.received().toStdString();
}

TEST(UidlReply, IsRefusedBeforeLogin)
{
    test::BlockingPop3Client client(Pop3Settings{});
    Ids ids{"stale"};
    EXPECT_EQ(client.uniqueIds(&ids), kNotConnected);
    EXPECT_TRUE(ids.empty());
}

// A server without UIDL: the waiting count, said as always, and no message fetched.
TEST(NewOnlyCheck, AServerWithoutUniqueIdsGivesItsWaitingCount)
{
    test::FakePop3Server server(QStringLiteral("three_without_uidl"));
    QTemporaryDir data;
    NetworkMailLibrary library(settingsFor(server));
    SharedState state;
    state.pop3Server = server.address();
    test::NotedSurroundings windows;
    MailCheck check(state, library, windows);
    check.setNewOnlyFolder(data.path());
    QSignalSpy finished(&check, &MailCheck::finished);
    ASSERT_TRUE(check.start());
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_EQ(windows.notices, QList<int>{3});
    EXPECT_TRUE(windows.errors.isEmpty());
    EXPECT_TRUE(QDir(data.path()).isEmpty()) << "nothing to remember";
    check.shutDown(true);
    EXPECT_FALSE(server.received().contains("RETR"));
}

} // namespace
} // namespace kingyo
