#include "mail/connection/connection_recorder.h"
#include "mail/connection/mail_connection.h"
#include "mail/fake_pop3_server.h"
#include "mail/qt_printers.h"

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <optional>

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kingyo {
namespace {

using test::ConnectionRecorder;

constexpr int kStepMs = 300;
constexpr int kQuietMs = 4 * kStepMs; // past every timer a row arms

// A resolver that answers only when released; shared with the lookup's thread,
// which may outlive the test.
struct Gate {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> entered = false;
    std::atomic<bool> returned = false;

    static HostLookup::Resolver resolverOf(const std::shared_ptr<Gate> &gate)
    {
        return [gate](const QString &) {
            gate->entered = true;
            gate->released.wait_for(std::chrono::seconds(30));
            gate->returned = true;
            return QList<QHostAddress>{QHostAddress::LocalHost};
        };
    }
};

// A loopback port whose listen queue is full: the kernel drops every further SYN,
// so a connect to it is never answered.
class FullBacklog {
public:
    FullBacklog()
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        ::bind(listener_, reinterpret_cast<sockaddr *>(&address), length);
        ::listen(listener_, 0);
        ::getsockname(listener_, reinterpret_cast<sockaddr *>(&address), &length);
        port_ = ntohs(address.sin_port);
        filler_ = ::socket(AF_INET, SOCK_STREAM, 0);
        ::connect(filler_, reinterpret_cast<sockaddr *>(&address), length);
    }
    ~FullBacklog()
    {
        ::close(filler_);
        ::close(listener_);
    }
    quint16 port() const { return port_; }

private:
    int listener_ = -1;
    int filler_ = -1;
    quint16 port_ = 0;
};

enum class Server {
    Silent,          // accepts and never says a word
    Cutting,         // accepts and closes at once
    Dripping,        // a byte every tenth of the step
    FullBacklog,     // never answers the connect
    Refused,         // nobody listens
    HangingResolver, // the name lookup never answers
    UnknownName,     // the name lookup finds nothing
    SecondAddress,   // the name's first address refuses, the second listens
};
enum class Then { Nothing, AwaitReply, StartTls };

// One scripted server of a row, on loopback.
class ScriptedServer {
public:
    explicit ScriptedServer(Server kind) : kind_(kind)
    {
        listener_.listen(QHostAddress::LocalHost);
        port_ = listener_.serverPort();
        QObject::connect(&listener_, &QTcpServer::newConnection, [this] {
            while (QTcpSocket *peer = listener_.nextPendingConnection())
                accepted(peer);
        });
        QObject::connect(&drip_, &QTimer::timeout, [this] {
            for (QTcpSocket *peer : std::as_const(peers_))
                peer->write("+");
        });
        if (kind == Server::Refused)
            listener_.close();
        if (kind == Server::FullBacklog)
            port_ = backlog_.emplace().port();
    }
    QString host() const
    {
        const bool named = kind_ == Server::HangingResolver || kind_ == Server::UnknownName || kind_ == Server::SecondAddress;
        return named ? QStringLiteral("pop.example.test") : QStringLiteral("127.0.0.1");
    }
    quint16 port() const { return port_; }
    HostLookup::Resolver resolver() const
    {
        switch (kind_) {
        case Server::HangingResolver:
            return Gate::resolverOf(gate);
        case Server::UnknownName:
            return [](const QString &) { return QList<QHostAddress>{}; };
        case Server::SecondAddress:
            return [](const QString &) { return QList<QHostAddress>{QHostAddress("127.0.0.2"), QHostAddress::LocalHost}; };
        default:
            return &HostLookup::resolve;
        }
    }
    // Whether a client's first bytes (its TLS hello) have arrived.
    bool heardClient() const
    {
        return std::any_of(peers_.begin(), peers_.end(), [](QTcpSocket *peer) { return peer->bytesAvailable() > 0; });
    }

    std::shared_ptr<Gate> gate = std::make_shared<Gate>();

private:
    void accepted(QTcpSocket *peer)
    {
        peers_ << peer;
        if (kind_ == Server::Cutting)
            peer->disconnectFromHost();
        if (kind_ == Server::Dripping)
            drip_.start(kStepMs / 10);
    }

    Server kind_;
    QTcpServer listener_;
    quint16 port_ = 0;
    std::optional<FullBacklog> backlog_;
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
        StallCase{"LookupNeverAnswers", Server::HangingResolver, false, Then::Nothing, 0, "failed", MailProblem::ConnectSilent, kSilentPlace},
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

// The moments abandon() or destruction may come; none says anything afterwards.
struct AbandonCase {
    const char *name;
    Server server;
    bool implicitTls;
    Then then;
    bool destroy; // instead of abandon()
};

void PrintTo(const AbandonCase &c, std::ostream *out) { *out << c.name; }

class MailConnectionAbandon : public ::testing::TestWithParam<AbandonCase> {};

TEST_P(MailConnectionAbandon, SaysNothingMoreAndNeverWaits)
{
    const AbandonCase &row = GetParam();
    ScriptedServer server(row.server);
    ConnectionSettings settings;
    settings.timeoutMs = kStepMs;
    settings.deadline = QDeadlineTimer(2 * kStepMs);
    settings.resolver = server.resolver();
    auto connection = std::make_unique<MailConnection>(settings);
    ConnectionRecorder recorder(connection.get());
    connection->open(server.host(), server.port(), row.implicitTls);
    if (row.then != Then::Nothing) {
        ASSERT_TRUE(recorder.waitFor(QStringLiteral("opened")));
        thenDo(row.then, *connection);
    }
    if (row.server == Server::HangingResolver)
        ASSERT_TRUE(QTest::qWaitFor([&] { return server.gate->entered.load(); }, ConnectionRecorder::kHangGuardMs));
    if (row.implicitTls || row.then == Then::StartTls)
        ASSERT_TRUE(QTest::qWaitFor([&] { return server.heardClient(); }, ConnectionRecorder::kHangGuardMs));
    const QStringList before = recorder.events;
    if (row.destroy)
        connection.reset();
    else
        connection->abandon();
    EXPECT_FALSE(server.gate->returned) << "waited for the lookup";
    server.gate->release.set_value(); // a late answer must find nobody listening
    if (row.server == Server::HangingResolver)
        ASSERT_TRUE(QTest::qWaitFor([&] { return server.gate->returned.load(); }, ConnectionRecorder::kHangGuardMs));
    QTest::qWait(kQuietMs);
    EXPECT_EQ(recorder.events, before);
}

INSTANTIATE_TEST_SUITE_P(
    Table, MailConnectionAbandon,
    ::testing::Values(AbandonCase{"DuringLookup", Server::HangingResolver, false, Then::Nothing, false},
                      AbandonCase{"DestroyedDuringLookup", Server::HangingResolver, false, Then::Nothing, true},
                      AbandonCase{"DuringConnect", Server::FullBacklog, false, Then::Nothing, false},
                      AbandonCase{"DestroyedDuringConnect", Server::FullBacklog, false, Then::Nothing, true},
                      AbandonCase{"DuringHandshake", Server::Silent, true, Then::Nothing, false},
                      AbandonCase{"DestroyedDuringHandshake", Server::Silent, true, Then::Nothing, true},
                      AbandonCase{"DuringUpgrade", Server::Silent, false, Then::StartTls, false},
                      AbandonCase{"AwaitingReply", Server::Silent, false, Then::AwaitReply, false}),
    [](const auto &info) { return std::string(info.param.name); });

// The receiver may delete the connection in the slot of any of its signals.
class MailConnectionDeletedInSlot : public ::testing::TestWithParam<const char *> {};

TEST_P(MailConnectionDeletedInSlot, Survives)
{
    const QString deleteOn = QString::fromLatin1(GetParam());
    test::FakePop3Server server(QStringLiteral("stls_injected"));
    ConnectionSettings settings;
    settings.extraCaCertificates = QSslCertificate::fromPath(server.certificatePath());
    QPointer<MailConnection> connection = new MailConnection(settings);
    ConnectionRecorder recorder(connection);
    const auto deleteAfter = [&](const QString &event) {
        if (event == deleteOn)
            delete connection;
        return !connection;
    };
    // Greeting, STLS, the handshake, QUIT and the server's goodbye: every signal once.
    QObject::connect(connection, &MailConnection::opened, [&] { deleteAfter(QStringLiteral("opened")); });
    QObject::connect(connection, &MailConnection::readyRead, [&] {
        if (deleteAfter(QStringLiteral("readyRead")) || connection->isEncrypted())
            return;
        if (recorder.received.contains("begin TLS"))
            connection->startTls();
        else if (recorder.received.endsWith("\r\n"))
            connection->send("STLS\r\n");
    });
    QObject::connect(connection, &MailConnection::encrypted, [&] {
        if (!deleteAfter(QStringLiteral("encrypted")))
            connection->send("QUIT\r\n");
    });
    QObject::connect(connection, &MailConnection::failed, [&](const MailFailure &failure) {
        EXPECT_EQ(failure.problem, MailProblem::ClosedByServer);
        deleteAfter(QStringLiteral("failed"));
    });
    connection->open(QStringLiteral("127.0.0.1"), server.port(), false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !connection; }, ConnectionRecorder::kHangGuardMs)) << recorder.events.join(u' ').toStdString();
    QTest::qWait(kStepMs); // whatever the sockets still do after
}

INSTANTIATE_TEST_SUITE_P(Table, MailConnectionDeletedInSlot,
                         ::testing::Values("opened", "readyRead", "encrypted", "failed"),
                         [](const auto &info) { return std::string(info.param); });

// Plaintext the server slipped in after its "+OK" to STLS must never read as if it came encrypted.
TEST(MailConnectionUpgrade, DropsWhatCameBeforeTheHandshake)
{
    test::FakePop3Server server(QStringLiteral("stls_injected"));
    ConnectionSettings settings;
    settings.extraCaCertificates = QSslCertificate::fromPath(server.certificatePath());
    MailConnection connection(settings);
    ConnectionRecorder recorder(&connection);
    QByteArray clear; // read a byte at a time, up to the end of the STLS reply
    QObject::disconnect(&connection, &MailConnection::readyRead, nullptr, nullptr);
    QObject::connect(&connection, &MailConnection::readyRead, [&] {
        if (connection.isEncrypted()) {
            char buffer[4096];
            while (const qint64 got = connection.read(buffer, sizeof buffer))
                recorder.received.append(buffer, got);
            return;
        }
        char byte;
        while (connection.read(&byte, 1) == 1) {
            clear += byte;
            if (clear.count('\n') == 1 && clear.endsWith('\n'))
                return connection.send("STLS\r\n");
            if (clear.count('\n') == 2)
                return connection.startTls();
        }
    });
    QObject::connect(&connection, &MailConnection::encrypted, [&] { connection.send("CAPA\r\n"); });
    connection.open(QStringLiteral("127.0.0.1"), server.port(), false);
    ASSERT_TRUE(recorder.waitForText("\r\n.\r\n")) << recorder.events.join(u' ').toStdString();
    EXPECT_TRUE(clear.endsWith("+OK begin TLS\r\n")) << clear.toStdString();
    EXPECT_TRUE(recorder.received.startsWith("+OK\r\n")) << recorder.received.toStdString();
}

} // namespace
} // namespace kingyo
