// The IDLE watcher against Dovecot (the shared one, or one of a row's own that it stops
// or distrusts) and against a scripted server for what Dovecot will not do.
#include "mail/imap/imap_watcher.h"
#include "mail/imap/imap_channel.h"
#include "mail/network_mail_library.h"
#include "mail/qt_printers.h"
#include "mail/test_oauth_provider.h"
#include "mail/test_pop3_server.h"
#include "settings/server_trust.h"
#include "support/fakes.h"

#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>
#include <optional>

namespace kingyo {
namespace {

using namespace std::chrono_literals;
using test::TestPop3Server;

constexpr int kHangGuardMs = 20000;
constexpr int kQuietMs = 1500; // past Dovecot's own look at the mailbox each second
const QString kUser = QStringLiteral("victor");

QByteArray message(int number)
{
    return "From: a@example.org\r\nSubject: " + QByteArray::number(number) + "\r\n\r\nhello\r\n";
}

// What a watcher said, as words in order, and the failures it named.
struct WatcherLog {
    explicit WatcherLog(ImapWatcher *watcher)
    {
        const auto say = [this](const char *word) { return [this, word] { words << QString::fromLatin1(word); }; };
        const auto fail = [this](const char *word) {
            return [this, word](const MailFailure &failure) {
                words << QString::fromLatin1(word);
                failures << failure;
            };
        };
        QObject::connect(watcher, &ImapWatcher::watching, say("watching"));
        QObject::connect(watcher, &ImapWatcher::reconnected, say("reconnected"));
        QObject::connect(watcher, &ImapWatcher::mailArrived, say("arrived"));
        QObject::connect(watcher, &ImapWatcher::idleUnavailable, say("unavailable"));
        QObject::connect(watcher, &ImapWatcher::connectionLost, fail("lost"));
        QObject::connect(watcher, &ImapWatcher::stopped, fail("stopped"));
    }
    bool waitFor(const QString &word, int times = 1)
    {
        return QTest::qWaitFor([&] { return words.count(word) >= times; }, kHangGuardMs);
    }

    QStringList words;
    QList<MailFailure> failures;
};

MailServerAddress imapAt(quint16 port)
{
    return {MailServerAddress::Protocol::Imap, QStringLiteral("127.0.0.1"), port, false};
}

class ImapWatcherDovecot : public ::testing::TestWithParam<std::chrono::milliseconds> {};

TEST_P(ImapWatcherDovecot, EachRiseOfTheInboxIsToldOnceAndAFallNever)
{
    TestPop3Server server;
    QString problem;
    ASSERT_TRUE(server.load(&problem)) << problem.toStdString();
    const QString user = GetParam() == 200ms ? QStringLiteral("ursula") : kUser; // rows run side by side
    server.clearMailbox(user);
    ConnectionSettings settings;
    settings.extraCaCertificates = QSslCertificate::fromPath(server.certificatePath());
    testing::ScriptedRandom random;
    ImapWatcher watcher(settings, random, {GetParam(), {}});
    WatcherLog log(&watcher);
    watcher.watch(imapAt(server.imapPort()), user, TestPop3Server::passwordOf(user));
    ASSERT_TRUE(log.waitFor(QStringLiteral("watching")));
    for (int number = 1; number <= 2; ++number) {
        server.deliver(user, message(number));
        ASSERT_TRUE(log.waitFor(QStringLiteral("arrived"), number));
    }
    server.expungeOne(user);
    QTest::qWait(kQuietMs);
    server.deliver(user, message(3));
    ASSERT_TRUE(log.waitFor(QStringLiteral("arrived"), 3));
    QTest::qWait(kQuietMs);
    EXPECT_EQ(log.words.join(u' '), QStringLiteral("watching arrived arrived arrived"));
    server.clearMailbox(user);
}

INSTANTIATE_TEST_SUITE_P(Renewing, ImapWatcherDovecot, ::testing::Values(25min, 200ms),
                         [](const auto &info) { return std::to_string(info.param.count()) + "ms"; });

TEST(ImapWatcherTokens, ARefreshedTokenKeepsTheConnectionAndGoesOutAtTheNextLogin)
{
    TestPop3Server server;
    QString problem;
    ASSERT_TRUE(server.load(&problem)) << problem.toStdString();
    test::TestOAuthProvider provider(server.oauthPort());
    const QString user = QStringLiteral("owen@kingyo.test"), client = QStringLiteral("kingyo-watcher");
    const auto first = provider.signIn(user, client), second = provider.signIn(user, client);
    ConnectionSettings settings;
    settings.extraCaCertificates = QSslCertificate::fromPath(server.certificatePath());
    testing::ScriptedRandom random;
    ImapWatcher watcher(settings, random);
    WatcherLog log(&watcher);
    watcher.watch(imapAt(server.imapPort()), user, MailSecret::accessToken(first.access));
    ASSERT_TRUE(log.waitFor(QStringLiteral("watching")));
    provider.revoke(first.refresh); // the first token with it: a login with it would be refused

    watcher.watch(imapAt(server.imapPort()), user, MailSecret::accessToken(second.access));
    auto lent = watcher.lend(imapAt(server.imapPort()), user); // still in IDLE on the first login
    ASSERT_TRUE(lent);
    watcher.takeBack(std::move(lent));
    watcher.wake();
    ASSERT_TRUE(log.waitFor(QStringLiteral("reconnected")));
    EXPECT_EQ(log.words.join(u' '), QStringLiteral("watching watching reconnected"));
}

// A Dovecot of the row's own, started and stopped by the script in a folder of its own.
class PrivateDovecot {
public:
    PrivateDovecot()
    {
        EXPECT_EQ(QProcess::execute(kScript, {QStringLiteral("start"), dir()}), 0);
        QString problem;
        EXPECT_TRUE(server->loadFrom(dir(), &problem)) << problem.toStdString();
    }
    ~PrivateDovecot()
    {
        server.reset(); // lets go of the mailboxes it holds before they go
        QProcess::execute(kScript, {QStringLiteral("stop"), dir()});
    }
    // Down, its clients cut off, and up again on the same port, the event loop running.
    void restart()
    {
        QProcess script;
        script.start(kScript, {QStringLiteral("restart"), dir()});
        ASSERT_TRUE(QTest::qWaitFor([&] { return script.state() == QProcess::NotRunning; }, kHangGuardMs));
        ASSERT_EQ(script.exitCode(), 0);
    }

    std::optional<TestPop3Server> server{std::in_place};

private:
    QString dir() const { return folder_.filePath(QStringLiteral("server")); }
    inline static const QString kScript = QStringLiteral(KINGYO_TEST_POP3_SERVER_SCRIPT);
    QTemporaryDir folder_;
};

// Relays each connection on loopback to a port. freeze() makes the relays open by then
// swallow what comes either way without closing: a peer gone without a word.
class LoopbackRelay {
public:
    explicit LoopbackRelay(quint16 target) : target_(target)
    {
        listener_.listen(QHostAddress::LocalHost);
        QObject::connect(&listener_, &QTcpServer::newConnection, [this] {
            while (QTcpSocket *client = listener_.nextPendingConnection())
                relay(client);
        });
    }
    quint16 port() const { return listener_.serverPort(); }
    void freeze() { *std::exchange(frozen_, std::make_shared<bool>(false)) = true; }
    int connections = 0;

private:
    void relay(QTcpSocket *client)
    {
        ++connections;
        auto *server = new QTcpSocket(client);
        server->connectToHost(QHostAddress::LocalHost, target_);
        const auto pipe = [frozen = frozen_](QTcpSocket *from, QTcpSocket *to) {
            QObject::connect(from, &QTcpSocket::readyRead, to, [=] {
                const QByteArray bytes = from->readAll();
                if (!*frozen)
                    to->write(bytes);
            });
            QObject::connect(from, &QTcpSocket::errorOccurred, to, [=] {
                if (!*frozen)
                    to->disconnectFromHost();
            });
        };
        pipe(client, server);
        pipe(server, client);
    }

    QTcpServer listener_;
    quint16 target_;
    std::shared_ptr<bool> frozen_ = std::make_shared<bool>(false);
};

// How a scripted server's connection goes; the n-th connection takes the n-th of the
// script, and every one after the script the last.
// FloodsInIdle: the server's first IDLE is answered with a flood of EXISTS lines.
enum class Imap { Idles, ByeInIdle, EndsIdle, WithoutIdle, RefusesLogin, FloodsInIdle };

class ScriptedImapServer {
public:
    explicit ScriptedImapServer(std::vector<Imap> script) : script_(std::move(script))
    {
        listener_.listen(QHostAddress::LocalHost);
        QObject::connect(&listener_, &QTcpServer::newConnection, [this] {
            while (QTcpSocket *peer = listener_.nextPendingConnection())
                serve(peer, script_[std::min(std::size_t(connections++), script_.size() - 1)]);
        });
    }
    quint16 port() const { return listener_.serverPort(); }
    int connections = 0;
    int idles = 0; // IDLE commands heard

private:
    void serve(QTcpSocket *peer, Imap how)
    {
        const QByteArray capabilities = how == Imap::WithoutIdle ? "[CAPABILITY IMAP4rev1]" : "[CAPABILITY IMAP4rev1 IDLE]";
        peer->write("* OK " + capabilities + "\r\n");
        auto idleTag = std::make_shared<QByteArray>();
        QObject::connect(peer, &QTcpSocket::readyRead, peer, [this, peer, how, idleTag, capabilities] {
            while (peer->canReadLine()) {
                const QList<QByteArray> words = peer->readLine().trimmed().split(' ');
                const QByteArray tag = words.value(0), command = words.value(1).toUpper();
                if (tag == "DONE") {
                    peer->write(*idleTag + " OK\r\n");
                } else if (command == "LOGIN") {
                    peer->write(tag + (how == Imap::RefusesLogin ? " NO [AUTHENTICATIONFAILED] no\r\n" : " OK " + capabilities + "\r\n"));
                } else if (command == "EXAMINE") {
                    peer->write("* 3 EXISTS\r\n" + tag + " OK\r\n");
                } else if (command == "IDLE") {
                    ++idles;
                    *idleTag = tag;
                    peer->write("+ idling\r\n");
                    peer->write(how == Imap::ByeInIdle ? "* BYE going away\r\n" : how == Imap::EndsIdle ? tag + " OK\r\n" : "");
                    if (how == Imap::FloodsInIdle && idles == 1)
                        flood(peer);
                } else {
                    peer->write(tag + " OK\r\n"); // NOOP, LOGOUT
                }
            }
        });
    }

    static void flood(QTcpSocket *peer)
    {
        QByteArray lines;
        for (int count = 4; count < 100'004; ++count)
            lines += "* " + QByteArray::number(count) + " EXISTS\r\n";
        peer->write(lines);
    }

    std::vector<Imap> script_;
    QTcpServer listener_;
};

enum class Server { Dovecot, DistrustedDovecot, Scripted };
// Restart and Freeze come once the first IDLE is reached, the rest in the slot of connectionLost().
enum class Then { Nothing, RestartServer, FreezeRelay, Wake, Stop, Delete };

struct Fault {
    const char *name;
    Server server;
    std::vector<Imap> script;
    Then then;
    const char *words;   // what the watcher said; a delivery follows "reconnected" from Dovecot
    MailProblem problem; // the failure it named first
    int connections;     // made through the relay; -1: any number
    int idles = 0;       // at least so many IDLE commands to the scripted server
};

void PrintTo(const Fault &fault, std::ostream *out) { *out << fault.name; }

class ImapWatcherFault : public ::testing::TestWithParam<Fault> {};

TEST_P(ImapWatcherFault, RetriesStopsOrReconnectsAsTheRowSays)
{
    const Fault &row = GetParam();
    std::unique_ptr<PrivateDovecot> dovecot;
    std::unique_ptr<ScriptedImapServer> scripted;
    ServerTrust trust;
    ConnectionSettings settings;
    settings.timeoutMs = 2000;
    if (row.server == Server::Scripted) {
        scripted = std::make_unique<ScriptedImapServer>(row.script);
    } else {
        dovecot = std::make_unique<PrivateDovecot>();
        settings.trust = &trust;
        if (row.server == Server::Dovecot)
            settings.extraCaCertificates = QSslCertificate::fromPath(dovecot->server->certificatePath());
    }
    LoopbackRelay relay(scripted ? scripted->port() : dovecot->server->imapPort());
    testing::ScriptedRandom random;
    // Only wake() ends the wait, and only a renewal finds the relay gone quiet.
    const BackoffTimings backoff{row.then == Then::Wake ? 10min : 50ms, 400ms, 0.2};
    const auto renewal = row.then == Then::FreezeRelay ? 300ms : 25min;
    auto watcher = std::make_unique<ImapWatcher>(settings, random, ImapWatcherTimings{renewal, backoff});
    WatcherLog log(watcher.get());
    QObject::connect(watcher.get(), &ImapWatcher::connectionLost, [&] {
        if (row.then == Then::Wake)
            watcher->wake();
        if (row.then == Then::Stop)
            watcher->stop();
        if (row.then == Then::Delete)
            watcher.reset();
    });
    watcher->watch(imapAt(relay.port()), kUser, TestPop3Server::passwordOf(kUser));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !log.words.isEmpty(); }, kHangGuardMs));
    if (row.then == Then::RestartServer)
        dovecot->restart();
    if (row.then == Then::FreezeRelay)
        relay.freeze();
    if (dovecot && row.then != Then::Nothing) {
        ASSERT_TRUE(log.waitFor(QStringLiteral("reconnected"))) << log.words.join(u' ').toStdString() << describe(log.failures.value(0));
        dovecot->server->deliver(kUser, message(1));
    }
    const QStringList expected = QString::fromLatin1(row.words).split(u' ');
    (void)QTest::qWaitFor([&] { return log.words.size() >= expected.size(); }, kHangGuardMs);
    QTest::qWait(kQuietMs); // and nothing more
    EXPECT_EQ(log.words, expected);
    EXPECT_EQ(log.failures.value(0).problem, row.problem) << describe(log.failures.value(0));
    if (row.connections >= 0) {
        EXPECT_EQ(relay.connections, row.connections);
    }
    EXPECT_GE(scripted ? scripted->idles : 0, row.idles);
}

using P = MailProblem;
const char *const kBackInIdle = "watching lost watching reconnected";
const char *const kBackWithMail = "watching lost watching reconnected arrived";

INSTANTIATE_TEST_SUITE_P(
    Table, ImapWatcherFault,
    ::testing::Values(
        Fault{"DovecotRestarts", Server::Dovecot, {}, Then::RestartServer, kBackWithMail, P::ClosedByServer, -1},
        Fault{"RelayGoesQuiet", Server::Dovecot, {}, Then::FreezeRelay, kBackWithMail, P::Silent, 2},
        Fault{"ByeInIdle", Server::Scripted, {Imap::ByeInIdle, Imap::Idles}, Then::Nothing, kBackInIdle, P::ClosedByServer, 2},
        Fault{"WakeInBackoff", Server::Scripted, {Imap::ByeInIdle, Imap::Idles}, Then::Wake, kBackInIdle, P::ClosedByServer, 2},
        Fault{"StopInBackoff", Server::Scripted, {Imap::ByeInIdle}, Then::Stop, "watching lost", P::ClosedByServer, 1},
        Fault{"DeletedInBackoff", Server::Scripted, {Imap::ByeInIdle}, Then::Delete, "watching lost", P::ClosedByServer, 1},
        Fault{"LoginRefused", Server::Scripted, {Imap::RefusesLogin}, Then::Nothing, "stopped", P::LoginRejected, 1},
        Fault{"CertificateUntrusted", Server::DistrustedDovecot, {}, Then::Nothing, "stopped", P::CertificateUnknown, 1},
        Fault{"NoIdle", Server::Scripted, {Imap::WithoutIdle}, Then::Nothing, "unavailable", P::None, 1},
        Fault{"ServerEndsIdle", Server::Scripted, {Imap::EndsIdle}, Then::Nothing, "watching", P::None, 1, 3}),
    [](const auto &info) { return std::string(info.param.name); });

// News still on its way when the connection is lent goes nowhere, without a crash;
// the watch goes on once the connection is back.
TEST(ImapWatcherFlood, NewsArrivingAsTheConnectionIsLentIsDropped)
{
    ScriptedImapServer server({Imap::FloodsInIdle});
    testing::ScriptedRandom random;
    ImapWatcher watcher({}, random);
    WatcherLog log(&watcher);
    const MailServerAddress address = imapAt(server.port());
    std::unique_ptr<ImapChannel> lent;
    QObject::connect(&watcher, &ImapWatcher::mailArrived, [&] {
        if (!lent) // as a check starts at the first rise
            lent = watcher.lend(address, kUser);
    });
    watcher.watch(address, kUser, QStringLiteral("pw"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return lent != nullptr; }, kHangGuardMs));
    QTest::qWait(kQuietMs); // the rest of the flood reaches the lent connection
    watcher.takeBack(std::move(lent));
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.idles == 2; }, kHangGuardMs));
    EXPECT_EQ(log.words.join(u' '), QStringLiteral("watching arrived"));
    EXPECT_EQ(server.connections, 1);
}

// A server that drops every connection soon after IDLE sees the waits grow: reaching
// IDLE is not yet health (waits of 20, 40, 80, 160, 320 ms, then 640).
TEST(ImapWatcherBackoff, AServerThatDropsEveryConnectionInIdleSeesTheWaitsDouble)
{
    ScriptedImapServer server({Imap::ByeInIdle});
    testing::ScriptedRandom random;
    ImapWatcher watcher({}, random, {25min, {20ms, 10min, 0}});
    watcher.watch(imapAt(server.port()), kUser, QStringLiteral("pw"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.connections == 6; }, kHangGuardMs));
    QTest::qWait(300);
    EXPECT_EQ(server.connections, 6);
}

// A check of the account while it is watched, and what happens to the watch meanwhile.
// FreezeRelay: the watched connection has died without a word when the check borrows it.
enum class During { Nothing, Wake, Abandon, FreezeRelay };

struct Loan {
    const char *name;
    const char *watched; // each row its own, as rows run side by side
    const char *user;    // the check's
    During during;
    int connections;  // made through the relay in all
    int unread;       // the check's count (-1: it did not end)
};

void PrintTo(const Loan &loan, std::ostream *out) { *out << loan.name; }

class ImapWatcherLoan : public ::testing::TestWithParam<Loan> {};

TEST_P(ImapWatcherLoan, ACheckBorrowsTheIdleConnectionOfItsAccountAndTheWatchGoesOn)
{
    const Loan &row = GetParam();
    TestPop3Server server;
    QString problem;
    ASSERT_TRUE(server.load(&problem)) << problem.toStdString();
    const QString watched = QString::fromLatin1(row.watched), checked = QString::fromLatin1(row.user);
    for (const QString &user : {watched, checked})
        server.clearMailbox(user);
    LoopbackRelay relay(server.imapPort());
    Pop3Settings settings;
    settings.extraCaCertificates = QSslCertificate::fromPath(server.certificatePath());
    settings.borrowedProbeMs = 5000; // a loaded machine still answers a live NOOP by then
    testing::ScriptedRandom random;
    ImapWatcher watcher(settings, random, {25min, {10min, 10min, 0}}); // only wake() retries
    WatcherLog log(&watcher);
    NetworkMailLibrary library(settings);
    library.setLender(&watcher);
    watcher.watch(imapAt(relay.port()), watched, TestPop3Server::passwordOf(watched));
    ASSERT_TRUE(log.waitFor(QStringLiteral("watching")));
    server.deliver(checked, message(1));
    if (checked == watched) {
        ASSERT_TRUE(log.waitFor(QStringLiteral("arrived")));
    }

    if (row.during == During::FreezeRelay)
        relay.freeze();
    int handle = -1;
    library.connect(QStringLiteral("imap://127.0.0.1:%1").arg(relay.port()), QDeadlineTimer(kHangGuardMs),
                    [&](std::int64_t result) { handle = int(result); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return handle > 0; }, kHangGuardMs));
    std::int64_t unread = -1;
    library.countUnread(handle, checked, TestPop3Server::passwordOf(checked), std::nullopt, 3,
                        [&](const UnreadCount &count) { unread = count.result; });
    if (row.during == During::Wake)
        watcher.wake();
    if (row.during == During::Abandon)
        library.abandon();
    else
        ASSERT_TRUE(QTest::qWaitFor([&] { return unread >= 0; }, kHangGuardMs)) << describe(library.lastFailure());
    library.close(handle);
    if (row.during != During::Nothing) {
        ASSERT_TRUE(log.waitFor(QStringLiteral("reconnected"))) << log.words.join(u' ').toStdString();
    }

    server.deliver(watched, message(2)); // still told, once
    const int arrivals = checked == watched ? 2 : 1;
    ASSERT_TRUE(log.waitFor(QStringLiteral("arrived"), arrivals));
    QTest::qWait(kQuietMs);
    EXPECT_EQ(unread, row.unread);
    EXPECT_EQ(relay.connections, row.connections);
    EXPECT_EQ(log.words.count(QStringLiteral("arrived")), arrivals) << log.words.join(u' ').toStdString();
    EXPECT_TRUE(log.failures.isEmpty());
    for (const QString &user : {watched, checked})
        server.clearMailbox(user);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ImapWatcherLoan,
    ::testing::Values(Loan{"SameAccount", "walter", "walter", During::Nothing, 1, 1},
                      Loan{"OtherAccount", "wendy", "xavier", During::Nothing, 2, 1},
                      Loan{"WokenMeanwhile", "yvonne", "yvonne", During::Wake, 2, 1},
                      Loan{"CheckAbandoned", "zoe", "zoe", During::Abandon, 2, -1},
                      Loan{"DeadLinkReplaced", "carol", "carol", During::FreezeRelay, 3, 1}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
} // namespace kingyo
