#include "app/single_instance.h"

#include "app/application.h"
#include "app/program.h"
#include "panel/control_panel.h"
#include "support/fakes.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <cstring>
#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <memory>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace kingyo {
namespace {

using namespace std::chrono_literals;
using Start = SingleInstance::Start;

QProcessEnvironment environmentOf(const QStringList &variables)
{
    QProcessEnvironment environment;
    for (const QString &variable : variables)
        environment.insert(variable.section(QLatin1Char('='), 0, 0), variable.section(QLatin1Char('='), 1));
    return environment;
}

struct SocketPathCase {
    const char *name;
    QStringList environment;
    uint uid;
    QString path;
};

void PrintTo(const SocketPathCase &c, std::ostream *out) { *out << c.name; }

class SocketPathTest : public ::testing::TestWithParam<SocketPathCase> {};

TEST_P(SocketPathTest, OnePerUserAndDisplay)
{
    const SocketPathCase &c = GetParam();
    EXPECT_EQ(instanceSocketPath(environmentOf(c.environment), c.uid), c.path);
}

INSTANTIATE_TEST_SUITE_P(
    Sessions, SocketPathTest,
    ::testing::Values(
        SocketPathCase{"runtime_folder", {"XDG_RUNTIME_DIR=/run/user/1000", "DISPLAY=:0"}, 1000,
                       "/run/user/1000/kingyo/display-:0.socket"},
        SocketPathCase{"screen_of_the_same_display", {"XDG_RUNTIME_DIR=/run/user/1000/", "DISPLAY=:0.1"}, 1000,
                       "/run/user/1000/kingyo/display-:0.socket"},
        SocketPathCase{"second_display", {"XDG_RUNTIME_DIR=/run/user/1000", "DISPLAY=:1"}, 1000,
                       "/run/user/1000/kingyo/display-:1.socket"},
        SocketPathCase{"remote_display", {"XDG_RUNTIME_DIR=/run/user/1000", "DISPLAY=localhost:10.0"}, 1000,
                       "/run/user/1000/kingyo/display-localhost:10.socket"},
        SocketPathCase{"display_holding_a_path", {"XDG_RUNTIME_DIR=/run/user/7", "DISPLAY=/tmp/launch-x/org.x:0"}, 7,
                       "/run/user/7/kingyo/display-_tmp_launch-x_org.x:0.socket"},
        SocketPathCase{"no_runtime_folder", {"HOME=/home/taro", "DISPLAY=:0"}, 1000,
                       "/home/taro/.cache/kingyo/display-:0.socket"},
        SocketPathCase{"no_runtime_folder_own_cache", {"HOME=/home/taro", "XDG_CACHE_HOME=/c", "DISPLAY=:0"}, 1000,
                       "/c/kingyo/display-:0.socket"},
        SocketPathCase{"no_runtime_folder_no_home", {"DISPLAY=:0"}, 1001, "/tmp/kingyo-1001/display-:0.socket"},
        SocketPathCase{"relative_runtime_folder", {"XDG_RUNTIME_DIR=run", "HOME=/home/taro", "DISPLAY=:0"}, 1000,
                       "/home/taro/.cache/kingyo/display-:0.socket"},
        SocketPathCase{"platform_without_x", {"XDG_RUNTIME_DIR=/run/user/1000", "WAYLAND_DISPLAY=wayland-0"}, 1000,
                       "/run/user/1000/kingyo/display-wayland-wayland-0.socket"},
        SocketPathCase{"no_display_at_all", {"XDG_RUNTIME_DIR=/run/user/1000"}, 1000,
                       "/run/user/1000/kingyo/display-none.socket"}),
    [](const auto &info) { return std::string(info.param.name); });

// The folders a socket may or may not live in.
class PrivateFolderTest : public ::testing::Test {
protected:
    QString path(const char *name) const { return root.filePath(QString::fromUtf8(name)); }
    static mode_t modeOf(const QString &folder)
    {
        struct stat status = {};
        ::lstat(QFile::encodeName(folder).constData(), &status);
        return status.st_mode & 07777;
    }

    QTemporaryDir root;
    QString problem;
};

TEST_F(PrivateFolderTest, MadeWhenMissingAndUsedWhenPrivate)
{
    ASSERT_TRUE(makePrivateFolder(path("new"), &problem)) << problem.toStdString();
    EXPECT_EQ(modeOf(path("new")), 0700u);
    EXPECT_TRUE(makePrivateFolder(path("new"), &problem)) << "a second start uses it as it is";
}

TEST_F(PrivateFolderTest, RefusesWhatOthersCouldReachOrSwap)
{
    QDir(root.path()).mkdir(QStringLiteral("open"));
    ::chmod(QFile::encodeName(path("open")).constData(), 0755);
    QDir(root.path()).mkdir(QStringLiteral("target"));
    ::chmod(QFile::encodeName(path("target")).constData(), 0700);
    QFile::link(path("target"), path("link"));
    QFile file(path("file"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();

    for (const char *name : {"open", "link", "file", "missing-parent/folder"}) {
        problem.clear();
        EXPECT_FALSE(makePrivateFolder(path(name), &problem)) << name;
        EXPECT_FALSE(problem.isEmpty()) << name;
    }
    EXPECT_EQ(modeOf(path("open")), 0755u) << "never changed";
}

sockaddr_un addressOf(const QString &path)
{
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    std::memcpy(address.sun_path, name.constData(), name.size());
    return address;
}

// A kingyo that never answers: it listens, but nobody serves its socket. With a full
// queue, a further caller cannot even connect.
struct SilentKingyo {
    SilentKingyo(const QString &path, bool fullQueue)
    {
        const sockaddr_un address = addressOf(path);
        listening = ::socket(AF_UNIX, SOCK_STREAM, 0);
        if (::bind(listening, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
            ::listen(listening, 0) != 0)
            return;
        while (fullQueue) {
            const int caller = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
            callers.push_back(caller);
            if (::connect(caller, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0)
                break;
        }
        ready = true;
    }
    ~SilentKingyo()
    {
        for (const int fd : callers)
            ::close(fd);
        ::close(listening);
    }

    int listening = -1;
    std::vector<int> callers;
    bool ready = false;
};

// A socket file as a kingyo that crashed leaves it: bound, then closed without unlinking.
void leaveStaleSocket(const QString &path)
{
    const sockaddr_un address = addressOf(path);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
    ::close(fd);
}

ino_t inodeOf(const QString &path)
{
    struct stat status = {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_ino : 0;
}

class SingleInstanceTest : public ::testing::Test {
protected:
    // A later start in a process of its own, as far as the sockets can tell: it blocks
    // on another thread while this one keeps answering.
    Start startLater(std::chrono::milliseconds answerLimit = 5s) const
    {
        auto started = std::async(std::launch::async, [this, answerLimit] {
            SingleInstance later(socket, answerLimit);
            return later.start();
        });
        while (started.wait_for(5ms) != std::future_status::ready)
            QCoreApplication::processEvents();
        return started.get();
    }

    // Sends raw bytes as a caller and returns what came back before the running kingyo
    // closed the line.
    QByteArray call(const QByteArray &bytes) const
    {
        QLocalSocket caller;
        caller.connectToServer(socket);
        if (!caller.waitForConnected(2000))
            return "(no connection)";
        caller.write(bytes);
        caller.flush();
        QByteArray received;
        const bool closed = QTest::qWaitFor([&] {
            received += caller.readAll();
            return caller.state() == QLocalSocket::UnconnectedState;
        }, 5000);
        return closed ? received + caller.readAll() : "(left open)";
    }

    QTemporaryDir folder;
    QString socket = folder.filePath(QStringLiteral("display-:0.socket"));
};

TEST_F(SingleInstanceTest, ALaterStartHandsOverAndTheFirstHearsOfIt)
{
    SingleInstance first(socket);
    QSignalSpy requests(&first, &SingleInstance::panelRequested);
    ASSERT_EQ(first.start(), Start::First);

    EXPECT_EQ(startLater(), Start::HandedOver);
    EXPECT_EQ(requests.count(), 1);
    EXPECT_EQ(startLater(), Start::HandedOver);
    EXPECT_EQ(requests.count(), 2);
}

TEST_F(SingleInstanceTest, TheFirstToEndFreesTheSocketForTheNext)
{
    {
        SingleInstance first(socket);
        ASSERT_EQ(first.start(), Start::First);
    }
    EXPECT_FALSE(QFileInfo::exists(socket));
    SingleInstance next(socket);
    EXPECT_EQ(next.start(), Start::First);
}

TEST_F(SingleInstanceTest, AnEndingKingyoLetsTheNextStartListen)
{
    SingleInstance ending(socket);
    QSignalSpy requests(&ending, &SingleInstance::panelRequested);
    ASSERT_EQ(ending.start(), Start::First);
    ending.stopListening();

    SingleInstance next(socket);
    EXPECT_EQ(next.start(), Start::First);
    EXPECT_EQ(startLater(), Start::HandedOver);
    EXPECT_EQ(requests.count(), 0) << "the ending kingyo still answered";
}

TEST_F(SingleInstanceTest, ASocketLeftByACrashIsTakenOver)
{
    leaveStaleSocket(socket);
    ASSERT_TRUE(QFileInfo::exists(socket));

    SingleInstance restarted(socket);
    QSignalSpy requests(&restarted, &SingleInstance::panelRequested);
    ASSERT_EQ(restarted.start(), Start::First);
    EXPECT_EQ(startLater(), Start::HandedOver) << "the taken socket answers";
    EXPECT_EQ(requests.count(), 1);
}

TEST_F(SingleInstanceTest, AKingyoThatDoesNotAnswerKeepsItsSocket)
{
    for (const bool fullQueue : {false, true}) {
        SCOPED_TRACE(fullQueue ? "full queue" : "accepting");
        const SilentKingyo silent(socket, fullQueue);
        ASSERT_TRUE(silent.ready);
        const ino_t before = inodeOf(socket);

        SingleInstance later(socket, 200ms);
        EXPECT_EQ(later.start(), Start::Alone);
        EXPECT_EQ(inodeOf(socket), before) << "the running kingyo's socket was replaced";
        QFile::remove(socket);
    }
}

TEST_F(SingleInstanceTest, AStartWaitsWhileAnotherIsStarting)
{
    // Another start holds the turn: the lock on the socket's folder.
    const int otherStart = ::open(QFile::encodeName(folder.path()).constData(), O_RDONLY | O_DIRECTORY);
    ASSERT_EQ(::flock(otherStart, LOCK_EX), 0);

    SingleInstance later(socket, 100ms);
    EXPECT_EQ(later.start(), Start::Alone);
    EXPECT_FALSE(QFileInfo::exists(socket)) << "listened while another start held the turn";

    ::close(otherStart);
    SingleInstance next(socket, 100ms);
    EXPECT_EQ(next.start(), Start::First) << "the turn came back";
}

struct Caller {
    const char *name;
    QByteArray bytes;
};

// The running kingyo hangs up on a wrong line at once, long before its answer limit.
TEST_F(SingleInstanceTest, OnlyTheRequestRaisesThePanelAndWrongLinesAreDroppedAtOnce)
{
    SingleInstance first(socket, 60s);
    QSignalSpy requests(&first, &SingleInstance::panelRequested);
    ASSERT_EQ(first.start(), Start::First);

    const Caller callers[] = {
        {"other line", "quit\n"},
        {"request with more after it", "show-panel now\n"},
        {"endless line", QByteArray(100000, 'x')},
    };
    for (const Caller &caller : callers)
        EXPECT_EQ(call(caller.bytes), QByteArray()) << caller.name;
    EXPECT_EQ(requests.count(), 0);

    EXPECT_EQ(call("show-panel\n"), "ok\n");
    EXPECT_EQ(requests.count(), 1);
}

TEST_F(SingleInstanceTest, ACallerThatNeverEndsItsLineIsDroppedAfterTheAnswerLimit)
{
    SingleInstance first(socket, 300ms);
    QSignalSpy requests(&first, &SingleInstance::panelRequested);
    ASSERT_EQ(first.start(), Start::First);

    const Caller callers[] = {
        {"request without its line end", "show-panel"},
        {"silent", ""},
    };
    for (const Caller &caller : callers)
        EXPECT_EQ(call(caller.bytes), QByteArray()) << caller.name;
    EXPECT_EQ(requests.count(), 0);
}

// Starts at the same moment: each on a thread of its own that, once it listens, answers
// the others from its own event loop.
TEST_F(SingleInstanceTest, StartsAtTheSameMomentLeaveExactlyOneListening)
{
    leaveStaleSocket(socket); // every start finds a socket to take over
    constexpr int kStarts = 4;
    std::atomic<int> first{0};
    std::atomic<int> handedOver{0};
    std::atomic<int> heard{0};
    std::vector<std::unique_ptr<QThread>> threads;
    for (int i = 0; i < kStarts; ++i) {
        threads.emplace_back(QThread::create([&] {
            SingleInstance instance(socket, 5s);
            QObject::connect(&instance, &SingleInstance::panelRequested, [&] { ++heard; });
            const Start start = instance.start();
            if (start == Start::HandedOver)
                ++handedOver;
            if (start != Start::First)
                return;
            ++first;
            static_cast<void>(QTest::qWaitFor([&] { return handedOver == kStarts - 1; }, 20000)); // counted below
        }));
    }
    for (auto &thread : threads)
        thread->start();
    for (auto &thread : threads)
        ASSERT_TRUE(thread->wait(30000));
    EXPECT_EQ(first, 1);
    EXPECT_EQ(handedOver, kStarts - 1);
    EXPECT_EQ(heard, kStarts - 1);
}

// The running program: a later start brings up its control panel, minimised or not.
TEST_F(SingleInstanceTest, ALaterStartShowsTheRunningProgramsPanel)
{
    testing::ScriptedRandom random;
    testing::SteppingClock clock;
    Program program;
    program.random = &random;
    program.clock = &clock;
    wireWindows(program);
    SingleInstance first(socket);
    ASSERT_EQ(first.start(), Start::First);
    showPanelOnLaterStarts(program, first);
    ASSERT_FALSE(program.controlPanel.isLoaded());

    ASSERT_EQ(startLater(), Start::HandedOver);
    ASSERT_TRUE(program.controlPanel.isLoaded());
    ControlPanel *panel = program.controlPanel.get();
    EXPECT_TRUE(panel->isVisible());

    panel->showMinimized();
    ASSERT_TRUE(panel->isMinimized());
    ASSERT_EQ(startLater(), Start::HandedOver);
    EXPECT_EQ(program.controlPanel.get(), panel) << "the same panel, not a second one";
    EXPECT_TRUE(panel->isVisible());
    EXPECT_FALSE(panel->isMinimized());
    discardWindows(program);
}

} // namespace
} // namespace kingyo
