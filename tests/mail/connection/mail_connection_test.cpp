#include "mail/connection/connection_recorder.h"
#include "mail/connection/mail_connection.h"
#include "mail/fake_pop3_server.h"
#include "mail/qt_printers.h"

#include <QDir>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <vector>

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kingyo {
namespace {

using test::ConnectionRecorder;

constexpr int kStepMs = 300;
constexpr int kQuietMs = 4 * kStepMs; // past every timer a row arms

// Answers only when released; shared with the lookup's thread, which may outlive the test.
struct Gate {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
};

enum class Server {
    Silent,        // accepts and never says a word
    Cutting,       // accepts and closes at once
    Dripping,      // a byte every tenth of the step
    FullBacklog,   // never answers the connect
    Refused,       // nobody listens
    HangingName,   // the name lookup never answers
    UnknownName,   // the name lookup finds nothing
    SecondAddress, // the name's first address refuses, the second listens
};
enum class Then { Nothing, AwaitReply, StartTls };

// One row's server, on loopback.
class ScriptedServer {
public:
    explicit ScriptedServer(Server kind) : kind_(kind)
    {
        listener_.listen(QHostAddress::LocalHost);
        port_ = listener_.serverPort();
        QObject::connect(&listener_, &QTcpServer::newConnection, [this] {
            while (QTcpSocket *peer = listener_.nextPendingConnection()) {
                peers_ << peer;
                if (kind_ == Server::Cutting)
                    peer->disconnectFromHost();
                if (kind_ == Server::Dripping)
                    drip_.start(kStepMs / 10);
            }
        });
        QObject::connect(&drip_, &QTimer::timeout, [this] {
            for (QTcpSocket *peer : std::as_const(peers_))
                peer->write("+");
        });
        if (kind == Server::Refused)
            listener_.close();
        if (kind == Server::FullBacklog)
            fillBacklog();
    }
    ~ScriptedServer()
    {
        for (const int fd : fds_)
            ::close(fd);
    }
    QString host() const
    {
        const bool named = kind_ == Server::HangingName || kind_ == Server::UnknownName || kind_ == Server::SecondAddress;
        return named ? QStringLiteral("pop.example.test") : QStringLiteral("127.0.0.1");
    }
    quint16 port() const { return port_; }
    HostLookup::Resolver resolver() const
    {
        if (kind_ == Server::HangingName) {
            return [gate = gate](const QString &) {
                gate->released.wait_for(std::chrono::seconds(30));
                return QList<QHostAddress>{QHostAddress::LocalHost};
            };
        }
        QList<QHostAddress> found;
        if (kind_ == Server::SecondAddress)
            found = {QHostAddress(QStringLiteral("127.0.0.2")), QHostAddress::LocalHost};
        return [found](const QString &) { return found; };
    }
    // Whether a client's first bytes (its TLS hello) have arrived.
    bool heardClient() const
    {
        return std::any_of(peers_.begin(), peers_.end(), [](QTcpSocket *peer) { return peer->bytesAvailable() > 0; });
    }

    std::shared_ptr<Gate> gate = std::make_shared<Gate>();

private:
    // A listener of its own with a queue of one, filled: the kernel drops every further SYN.
    void fillBacklog()
    {
        sockaddr_in address{.sin_family = AF_INET, .sin_port = 0, .sin_addr = {htonl(INADDR_LOOPBACK)}, .sin_zero = {}};
        socklen_t length = sizeof address;
        fds_ = {::socket(AF_INET, SOCK_STREAM, 0), ::socket(AF_INET, SOCK_STREAM, 0)};
        ::bind(fds_[0], reinterpret_cast<sockaddr *>(&address), length);
        ::listen(fds_[0], 0);
        ::getsockname(fds_[0], reinterpret_cast<sockaddr *>(&address), &length);
        ::connect(fds_[1], reinterpret_cast<sockaddr *>(&address), length);
        port_ = ntohs(address.sin_port);
    }

    Server kind_;
    QTcpServer listener_;
    quint16 port_ = 0;
    std::vector<int> fds_;
    QTimer drip_;
    QList<QTcpSocket *> peers_;
};

struct StallCase {
    const char *name;
    Server server;
    bool implicitTls;
    Then then;
    int deadlineMs; // 0: none
    const char *events;
    MailProblem problem;
    QStringList facts; // "{host}" and "{port}" stand for the row's server
};

void PrintTo(const StallCase &c, std::ostream *out) { *out << c.name; }

void thenDo(Then then, MailConnection &connection)
{
    if (then == Then::AwaitReply)
        connection.setAwaitingReply(true);
    if (then == Then::StartTls)
        connection.startTls();
}

class MailConnectionStall : public ::testing::TestWithParam<StallCase> {};

TEST_P(MailConnectionStall, EndsWithItsFailureAndFacts)
{
    const StallCase &row = GetParam();
    ScriptedServer server(row.server);
    ConnectionSettings settings;
    settings.timeoutMs = kStepMs;
    settings.resolver = server.resolver();
    if (row.deadlineMs > 0) {
        settings.timeoutMs = 10 * ConnectionRecorder::kHangGuardMs;
        settings.deadline = QDeadlineTimer(row.deadlineMs);
    }
    MailConnection connection(settings);
    ConnectionRecorder recorder(&connection);
    connection.open(server.host(), server.port(), row.implicitTls);
    if (row.then != Then::Nothing) {
        ASSERT_TRUE(recorder.waitFor(QStringLiteral("opened")));
        thenDo(row.then, connection);
    }
    if (row.problem == MailProblem::None)
        QTest::qWait(kQuietMs);
    else
        ASSERT_TRUE(recorder.waitFor(QStringLiteral("failed")));
    QTest::qWait(kStepMs); // nothing more after a failure
    server.gate->release.set_value();
    EXPECT_EQ(recorder.events.join(u' '), QString::fromLatin1(row.events));
    QStringList facts = row.facts;
    facts.replaceInStrings(QStringLiteral("{host}"), server.host());
    facts.replaceInStrings(QStringLiteral("{port}"), QString::number(server.port()));
    if (row.problem != MailProblem::None) {
        ASSERT_EQ(recorder.failures.size(), 1);
        EXPECT_EQ(recorder.failures[0], (MailFailure{row.problem, facts, {}}));
    }
}

const QStringList kPlace{"{host}", "{port}"};
const QStringList kSilentPlace{"{host}", "{port}", "0.3"};
const QStringList kSilentStep{"0.3"};

INSTANTIATE_TEST_SUITE_P(
    Table, MailConnectionStall,
    ::testing::Values(
        StallCase{"LookupNeverAnswers", Server::HangingName, false, Then::Nothing, 0, "failed", MailProblem::ConnectSilent, kSilentPlace},
        StallCase{"NameUnknown", Server::UnknownName, false, Then::Nothing, 0, "failed", MailProblem::HostNotFound, kPlace},
        StallCase{"ConnectNeverAnswers", Server::FullBacklog, false, Then::Nothing, 0, "failed", MailProblem::ConnectSilent, kSilentPlace},
        StallCase{"Refused", Server::Refused, false, Then::Nothing, 0, "failed", MailProblem::ConnectionRefused, kPlace},
        StallCase{"FirstAddressRefuses", Server::SecondAddress, false, Then::Nothing, 0, "opened", MailProblem::None, {}},
        StallCase{"SilentHandshake", Server::Silent, true, Then::Nothing, 0, "failed", MailProblem::Silent, kSilentStep},
        StallCase{"SilentUpgrade", Server::Silent, false, Then::StartTls, 0, "opened failed", MailProblem::Silent, kSilentStep},
        StallCase{"SilentReply", Server::Silent, false, Then::AwaitReply, 0, "opened failed", MailProblem::Silent, kSilentStep},
        StallCase{"SilenceNotAwaited", Server::Silent, false, Then::Nothing, 0, "opened", MailProblem::None, {}},
        StallCase{"DrippingReply", Server::Dripping, false, Then::AwaitReply, 0, "opened", MailProblem::None, {}},
        StallCase{"DeadlineDuringHandshake", Server::Silent, true, Then::Nothing, kStepMs, "failed", MailProblem::TooLong, {}},
        StallCase{"DeadlineWhileTalking", Server::Dripping, false, Then::AwaitReply, kStepMs, "opened failed", MailProblem::TooLong, {}},
        StallCase{"CutWhenOpen", Server::Cutting, false, Then::Nothing, 0, "opened failed", MailProblem::ClosedByServer, {}}),
    [](const auto &info) { return std::string(info.param.name); });

// Greeting, STLS, the handshake, QUIT and the server's goodbye: each signal comes, and
// the receiver may delete the connection in any slot ("": it never does). The STLS reply
// is read a byte at a time, so what the server slipped in after it is still unread when
// the handshake starts, and must never read as if it came encrypted.
class MailConnectionDriven : public ::testing::TestWithParam<const char *> {};

TEST_P(MailConnectionDriven, SurvivesDeletionInEachSlotAndDropsPlaintextBeforeTls)
{
    const QString deleteOn = QString::fromLatin1(GetParam());
    test::FakePop3Server server(QStringLiteral("stls_injected"));
    ConnectionSettings settings;
    settings.extraCaCertificates = QSslCertificate::fromPath(server.certificatePath());
    QPointer<MailConnection> connection = new MailConnection(settings);
    QByteArray clear;
    QByteArray secret;
    bool failed = false;
    const auto deleteAfter = [&](const QString &event) {
        if (event == deleteOn)
            delete connection;
        return !connection;
    };
    QObject::connect(connection, &MailConnection::opened, [&] { deleteAfter(QStringLiteral("opened")); });
    QObject::connect(connection, &MailConnection::readyRead, [&] {
        char byte;
        while (!deleteAfter(QStringLiteral("readyRead")) && connection->read(&byte, 1) == 1) {
            (connection->isEncrypted() ? secret : clear) += byte;
            if (connection->isEncrypted() || !clear.endsWith('\n'))
                continue;
            if (clear.count('\n') == 1)
                return connection->send("STLS\r\n");
            return connection->startTls();
        }
    });
    QObject::connect(connection, &MailConnection::encrypted, [&] {
        if (!deleteAfter(QStringLiteral("encrypted")))
            connection->send("QUIT\r\n");
    });
    QObject::connect(connection, &MailConnection::failed, [&](const MailFailure &failure) {
        EXPECT_EQ(failure.problem, MailProblem::ClosedByServer);
        failed = !deleteAfter(QStringLiteral("failed"));
    });
    connection->open(QStringLiteral("127.0.0.1"), server.port(), false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !connection || failed; }, ConnectionRecorder::kHangGuardMs));
    QTest::qWait(kStepMs); // whatever the sockets still do after
    if (deleteOn.isEmpty()) {
        EXPECT_TRUE(clear.endsWith("+OK begin TLS\r\n")) << clear.toStdString();
        EXPECT_EQ(secret, "+OK bye\r\n");
        delete connection;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, MailConnectionDriven, ::testing::Values("", "opened", "readyRead", "encrypted", "failed"),
                         [](const auto &info) { return *info.param ? std::string(info.param) : std::string("none"); });

// How long this process's connection to the port lasts after its peer vanished without
// a word, nothing being sent: 0 for ever (no keep-alive), -1 when there is no such connection.
int secondsToNoticeVanishedPeer(quint16 port)
{
    for (const QString &name : QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::System)) {
        const int fd = name.toInt();
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        if (::getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &length) != 0 || ntohs(peer.sin_port) != port)
            continue;
        int on = 0, idle = 0, interval = 0, probes = 0;
        socklen_t size = sizeof(int);
        ::getsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, &size);
        ::getsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, &size);
        ::getsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, &size);
        ::getsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, &size);
        return on ? idle + interval * probes : 0;
    }
    return -1;
}

class MailConnectionKeepAlive : public ::testing::TestWithParam<bool> {};

TEST_P(MailConnectionKeepAlive, OnlyALongLivedConnectionNoticesAVanishedPeerWithinTwoMinutes)
{
    ScriptedServer server(Server::Silent);
    ConnectionSettings settings;
    settings.keepAlive = GetParam();
    MailConnection connection(settings);
    ConnectionRecorder recorder(&connection);
    connection.open(server.host(), server.port(), false);
    ASSERT_TRUE(recorder.waitFor(QStringLiteral("opened")));
    const int seconds = secondsToNoticeVanishedPeer(server.port());
    if (GetParam()) {
        EXPECT_GT(seconds, 0);
        EXPECT_LE(seconds, 120);
    } else {
        EXPECT_EQ(seconds, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, MailConnectionKeepAlive, ::testing::Bool());

} // namespace
} // namespace kingyo
