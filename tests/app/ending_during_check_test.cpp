// Every way of ending the program during every step of a mail check: the program as
// runApplication() wires it, with the real POP3 library, against servers that stop
// answering at that step.
#include "app/application.h"
#include "app/mail_check_windows.h"
#include "app/program.h"
#include "fish/bowl_window.h"
#include "mail/fake_pop3_server.h"
#include "mail/mail_check.h"
#include "mail/network_mail_library.h"
#include "support/fakes.h"

#include <QApplication>
#include <QFile>
#include <QMouseEvent>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <csignal>
#include <future>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <optional>
#include <ostream>
#include <sys/socket.h>
#include <unistd.h>

namespace kingyo {
namespace {

enum class Ending { RightClick, Sigterm, Sigint, Sighup, Logout, BowlClosedFromOutside };
enum class Step { NameLookup, Connect, TlsHandshake, Login, Fetch, QuitWait };
const char *const kEndingNames[] = {"RightClick", "Sigterm", "Sigint", "Sighup", "Logout", "BowlClosed"};
const char *const kStepNames[] = {"NameLookup", "Connect", "TlsHandshake", "Login", "Fetch", "QuitWait"};
void PrintTo(Ending ending, std::ostream *out) { *out << kEndingNames[int(ending)]; }
void PrintTo(Step step, std::ostream *out) { *out << kStepNames[int(step)]; }

std::atomic<int> lookupsStarted{0};

// A DNS server that never answers: the lookup's thread waits for good.
QList<QHostAddress> resolveNever(const QString &)
{
    static const auto never = (new std::promise<void>)->get_future().share(); // never set, never freed
    ++lookupsStarted;
    never.wait();
    return {};
}

constexpr int kEstablished = 0x01;
constexpr int kSynSent = 0x02;
constexpr int kCloseWait = 0x08;

// Client sockets to this loopback port in one of these states, from the kernel's table;
// sockets with a local port in `besides` do not count.
int clientSockets(quint16 serverPort, std::initializer_list<int> states, const QList<quint16> &besides = {})
{
    int count = 0;
    for (const char *table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        QFile file(QString::fromLatin1(table));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        file.readLine(); // the column names
        while (!file.atEnd()) {
            const QList<QByteArray> columns = file.readLine().simplified().split(' ');
            if (columns.size() < 4)
                continue;
            const quint16 local = columns[1].split(':').last().toUShort(nullptr, 16);
            const quint16 remote = columns[2].split(':').last().toUShort(nullptr, 16);
            const int state = columns[3].toInt(nullptr, 16);
            if (remote == serverPort && std::find(states.begin(), states.end(), state) != states.end() &&
                !besides.contains(local))
                ++count;
        }
    }
    return count;
}

// A loopback port whose listen queue is full, so the SYN of any further connect is
// dropped and that connect never completes: with backlog 0 the first of two connects
// fills the queue and the second already waits.
class FullListenQueue {
public:
    FullListenQueue()
    {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(listener_, reinterpret_cast<sockaddr *>(&address), length) != 0 || ::listen(listener_, 0) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            return;
        port_ = ntohs(address.sin_port);
        for (int &filler : fillers_) {
            filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
            ::connect(filler, reinterpret_cast<sockaddr *>(&address), length); // in progress
            sockaddr_in local{};
            socklen_t localLength = sizeof local;
            ::getsockname(filler, reinterpret_cast<sockaddr *>(&local), &localLength);
            fillerPorts_ << ntohs(local.sin_port);
        }
    }
    ~FullListenQueue()
    {
        for (const int filler : fillers_)
            ::close(filler);
        ::close(listener_);
    }
    FullListenQueue(const FullListenQueue &) = delete;
    FullListenQueue &operator=(const FullListenQueue &) = delete;

    quint16 port() const { return port_; }
    const QList<quint16> &fillerPorts() const { return fillerPorts_; }
    bool isFull() const { return clientSockets(port_, {kSynSent}) == 1; } // the second filler waits

private:
    int listener_ = -1;
    int fillers_[2] = {-1, -1};
    QList<quint16> fillerPorts_;
    quint16 port_ = 0;
};

// Notes every window shown once armed, and closes it at once, so that a modal box
// cannot hold the test.
class WindowsShown : public QObject {
public:
    WindowsShown() { qApp->installEventFilter(this); }
    void arm() { armed_ = true; }
    QStringList titles;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!armed_ || event->type() != QEvent::Show || !watched->isWidgetType())
            return false;
        auto *window = static_cast<QWidget *>(watched);
        if (window->isWindow()) {
            titles << window->windowTitle();
            QTimer::singleShot(0, window, &QWidget::close);
        }
        return false;
    }

private:
    bool armed_ = false;
};

bool unloads(Ending ending) { return ending != Ending::RightClick; }

class EndingDuringCheck : public ::testing::TestWithParam<std::tuple<Ending, Step>> {
protected:
    ~EndingDuringCheck() override { endAsTheProgramDoes(); }

    // Starts what answers until the step and then never again; the server field for it.
    QString serverFor(Step step)
    {
        switch (step) {
        case Step::NameLookup:
            serverPort = 110;
            return QStringLiteral("pop3.never-answers.test");
        case Step::Connect:
            fullQueue.emplace();
            serverPort = fullQueue->port();
            return fullQueue->isFull() ? QStringLiteral("127.0.0.1:%1").arg(serverPort) : QString();
        case Step::TlsHandshake:
            if (!silentServer.listen(QHostAddress::LocalHost))
                return {};
            serverPort = silentServer.serverPort();
            return QStringLiteral("pop3s://127.0.0.1:%1").arg(serverPort);
        case Step::Login:
            return fakeServer(QStringLiteral("stall_after_greeting"));
        case Step::Fetch:
            return fakeServer(QStringLiteral("stall_mid_message"));
        case Step::QuitWait:
            return fakeServer(QStringLiteral("silent_after_quit"));
        }
        return {};
    }

    QString fakeServer(const QString &scenario)
    {
        scripted.emplace(scenario);
        serverPort = scripted->port();
        return scripted->address();
    }

    // Whether the check is held where the step's server stopped answering.
    bool reached(Step step)
    {
        // A pop3s handshake is part of the login, so a refused certificate can be asked about.
        if (step < Step::TlsHandshake && checkStep() != MailCheck::Step::Connecting)
            return false;
        switch (step) {
        case Step::NameLookup:
            return lookupsStarted > lookupsBefore;
        case Step::Connect: // its SYN unanswered
            return clientSockets(serverPort, {kSynSent}, fullQueue->fillerPorts()) == 1;
        case Step::TlsHandshake:
            while (silentServer.hasPendingConnections())
                accepted << silentServer.nextPendingConnection();
            return std::any_of(accepted.begin(), accepted.end(),
                               [](QTcpSocket *socket) { return socket->bytesAvailable() > 0; }); // its hello
        case Step::Login:
            return checkStep() == MailCheck::Step::LoggingIn && scripted->receivedSoFar().contains("CAPA");
        case Step::Fetch:
            return checkStep() == MailCheck::Step::Fetching && scripted->receivedSoFar().contains("RETR 1");
        case Step::QuitWait:
            return checkStep() == MailCheck::Step::Idle && scripted->receivedSoFar().contains("QUIT");
        }
        return false;
    }

    MailCheck::Step checkStep() const { return program->mailCheck->step(); }

    // Ours to the step's server: connecting, connected, or closed by the server only.
    int openConnections() const
    {
        return clientSockets(serverPort, {kEstablished, kSynSent, kCloseWait},
                             fullQueue ? fullQueue->fillerPorts() : QList<quint16>{});
    }

    // The program as runApplication() puts it together, its check started.
    void startCheck(const QString &server)
    {
        Pop3Settings settings;
        settings.resolver = &resolveNever;
        library = std::make_unique<NetworkMailLibrary>(settings);
        program.emplace();
        program->random = &random;
        program->clock = &clock;
        program->mail = library.get();
        program->settings.state().pop3Server = server;
        program->settings.confirmAccount({QStringLiteral("frank"), QStringLiteral("frank-pass")}, false);
        wireWindows(*program);
        wireMailCheck(*program);
        bowl = std::make_unique<BowlWindow>(random, clock);
        wireBowl(*program, *bowl);
        lifetime = std::make_unique<ProgramLifetime>(*program);
        lifetime->watch(*bowl);
        bowl->show();
        lookupsBefore = lookupsStarted;
        runMailCheck(*program);
    }

    void end(Ending ending)
    {
        switch (ending) {
        case Ending::RightClick: {
            QWidget *picture = bowl->bowlPicture();
            QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), picture->mapToGlobal(QPointF(5, 5)),
                              Qt::RightButton, Qt::RightButton, Qt::NoModifier);
            QCoreApplication::sendEvent(picture, &press);
            return;
        }
        case Ending::Sigterm:
            std::raise(SIGTERM);
            return;
        case Ending::Sigint:
            std::raise(SIGINT);
            return;
        case Ending::Sighup:
            std::raise(SIGHUP);
            return;
        case Ending::Logout: // the session manager's way
            QCoreApplication::quit();
            return;
        case Ending::BowlClosedFromOutside:
            bowl->close();
            return;
        }
    }

    // Runs the event loop, ending the program from it; the exit code, or 99 when the
    // loop had not returned a second after the ending.
    int runUntilEnd(Ending ending)
    {
        QTimer giveUp;
        giveUp.setSingleShot(true);
        QObject::connect(&giveUp, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        QTimer::singleShot(0, bowl.get(), [&] {
            shownAfterEnding.arm();
            giveUp.start(1000);
            end(ending);
        });
        return QApplication::exec();
    }

    // What runApplication() does once its event loop has returned.
    void endAsTheProgramDoes()
    {
        if (!program)
            return;
        discardWindows(*program);
        if (program->mailCheck)
            program->mailCheck->shutDown(false);
        lifetime.reset();
        bowl.reset();
        program.reset();
        library.reset();
    }

    testing::ScriptedRandom random;
    testing::SteppingClock clock;
    std::optional<FullListenQueue> fullQueue;
    QTcpServer silentServer;
    QList<QTcpSocket *> accepted; // by silentServer
    std::optional<test::FakePop3Server> scripted;
    quint16 serverPort = 0;
    int lookupsBefore = 0;
    WindowsShown shownAfterEnding;
    std::unique_ptr<NetworkMailLibrary> library;
    std::optional<Program> program;
    std::unique_ptr<BowlWindow> bowl;
    std::unique_ptr<ProgramLifetime> lifetime;
};

TEST_P(EndingDuringCheck, EndsAtOnceAndCleanly)
{
    const Ending ending = std::get<0>(GetParam());
    const Step step = std::get<1>(GetParam());
    const QString server = serverFor(step);
    ASSERT_FALSE(server.isEmpty()) << "the step's server could not be set up";
    startCheck(server);
    ASSERT_TRUE(QTest::qWaitFor([&] { return reached(step); }, 10000)) << "the check never reached its step";

    EXPECT_EQ(runUntilEnd(ending), 0);
    // What the ending left queued comes due now: none of it may show anything.
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    if (unloads(ending)) {
        EXPECT_EQ(openConnections(), 0) << "the library left a connection open";
    }
    endAsTheProgramDoes();
    EXPECT_EQ(openConnections(), 0) << "a connection outlived the program";
    EXPECT_TRUE(shownAfterEnding.titles.isEmpty()) << shownAfterEnding.titles.join(", ").toStdString();
}

std::string rowName(const ::testing::TestParamInfo<std::tuple<Ending, Step>> &row)
{
    return std::string(kEndingNames[int(std::get<0>(row.param))]) + "During" + kStepNames[int(std::get<1>(row.param))];
}

INSTANTIATE_TEST_SUITE_P(EveryEndingEveryStep, EndingDuringCheck,
                         ::testing::Combine(::testing::Values(Ending::RightClick, Ending::Sigterm, Ending::Sigint,
                                                              Ending::Sighup, Ending::Logout,
                                                              Ending::BowlClosedFromOutside),
                                            ::testing::Values(Step::NameLookup, Step::Connect, Step::TlsHandshake,
                                                              Step::Login, Step::Fetch, Step::QuitWait)),
                         rowName);

} // namespace
} // namespace kingyo
