#include "x11_client.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace kingyo::e2e {
namespace {

using namespace std::chrono_literals;

bool waitUntil(std::chrono::milliseconds limit, const std::function<bool()> &condition)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

void xdotool(const std::string &arguments)
{
    const std::string command = "xdotool " + arguments;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

std::string mouseAt(int x, int y) { return "mousemove " + std::to_string(x) + " " + std::to_string(y); }

// A copy of kingyo in a folder of its own, so that its settings (beside the
// executable and in the current folder) are this test's; stopped by its pid.
class InstalledKingyo {
public:
    InstalledKingyo(const QString &pop3Server, const QString &user, const QString &password)
    {
        const QString binary = dir_.filePath(QStringLiteral("kingyo"));
        QFile::copy(QStringLiteral(KINGYO_BINARY), binary);
        QDir(dir_.path()).mkdir(QStringLiteral("★MailData"));
        write(QStringLiteral("vbmail.ini"), "SMTP=\r\nPOP3=" + pop3Server.toUtf8() + "\r\nMAIL=\r\nAPOP=0\r\n");
        write(QStringLiteral("★MailData/iniIdPass.ini"),
              "[EXEINI]\r\nNAME=" + user.toUtf8() + "\r\nNAME2=" + password.toUtf8() + "\r\nNAME3=1\r\n");
        write(QStringLiteral("★MailData/ini.ini"), "[EXEINI]\r\nNUMBER=0\r\n");
        const QByteArray path = binary.toLocal8Bit();
        const QByteArray folder = dir_.path().toLocal8Bit();
        pid_ = ::fork();
        if (pid_ == 0) {
            if (::chdir(folder.constData()) != 0)
                ::_exit(127);
            const int log = ::open("kingyo.log", O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2(log, STDOUT_FILENO);
            ::dup2(log, STDERR_FILENO);
            ::execl(path.constData(), path.constData(), static_cast<char *>(nullptr));
            ::_exit(127);
        }
    }

    ~InstalledKingyo()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            if (!waitUntil(3s, [this] { return ::waitpid(pid_, nullptr, WNOHANG) == pid_; })) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, nullptr, 0);
            }
        }
    }

private:
    void write(const QString &name, const QByteArray &contents)
    {
        QFile file(dir_.filePath(name));
        if (file.open(QIODevice::WriteOnly))
            file.write(contents);
    }

    QTemporaryDir dir_;
    pid_t pid_ = -1;
};

// The window manager's frame around a client window (_NET_FRAME_EXTENTS).
struct FrameExtents {
    int left = 0;
    int right = 0;
    int top = 0;
    int bottom = 0;
};

FrameExtents frameExtentsOf(xcb_window_t window)
{
    FrameExtents extents;
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    auto atom = reply(xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 1, 18, "_NET_FRAME_EXTENTS"),
                                            nullptr));
    if (atom) {
        auto property = reply(xcb_get_property_reply(
            connection, xcb_get_property(connection, 0, window, atom->atom, XCB_ATOM_CARDINAL, 0, 4), nullptr));
        if (property && xcb_get_property_value_length(property.get()) == 16) {
            const auto *values = static_cast<const std::uint32_t *>(xcb_get_property_value(property.get()));
            extents = {int(values[0]), int(values[1]), int(values[2]), int(values[3])};
        }
    }
    xcb_disconnect(connection);
    return extents;
}

// Kingyo's top-level windows by title, or by size for the untitled bowl.
xcb_window_t findWindow(X11Client &x11, const std::function<bool(xcb_window_t)> &matches)
{
    xcb_window_t found = XCB_NONE;
    waitUntil(5s, [&] {
        for (const xcb_window_t window : x11.windowsOfClass("kingyo"))
            if (matches(window)) {
                found = window;
                return true;
            }
        return false;
    });
    return found;
}

xcb_window_t findTitled(X11Client &x11, const std::string &title)
{
    return findWindow(x11, [&](xcb_window_t w) { return x11.title(w) == title; });
}

// The program trusts only the system's certificates, so it meets a Dovecot of its
// own without TLS here; the script records the server's pid and stops it by that.
void pop3Server(const char *action)
{
    const std::string command = std::string(KINGYO_SOURCE_DIR "/scripts/test-pop3-server ") + action +
        " " KINGYO_POP3_SERVER_DIR " plain >" KINGYO_POP3_SERVER_DIR ".log 2>&1 </dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

// The running server as its env file describes it, and its users' mailboxes.
struct PlainPop3Server {
    bool load()
    {
        QSettings env(QStringLiteral(KINGYO_POP3_SERVER_DIR "/env"), QSettings::IniFormat);
        port = env.value(QStringLiteral("POP3_PORT")).toInt();
        return port > 0;
    }

    static QString maildir(const QString &user)
    {
        return QStringLiteral(KINGYO_POP3_SERVER_DIR "/home/") + user + QStringLiteral("/Maildir");
    }

    static void deliver(const QString &user, int count)
    {
        for (int k = 1; k <= count; ++k) {
            const QString name = QStringLiteral("%1.%2.kingyo-e2e").arg(::getpid()).arg(k);
            const QString temporary = maildir(user) + QStringLiteral("/tmp/") + name;
            QFile file(temporary);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write("Subject: " + QByteArray::number(k) + "\r\n\r\nbody\r\n");
            file.close();
            const QFileInfo owner(maildir(user)); // Dovecot reads mail as the mailbox's owner
            if (::getuid() == 0)
                ASSERT_EQ(::chown(QFile::encodeName(temporary).constData(), owner.ownerId(), owner.groupId()), 0);
            ASSERT_TRUE(QFile::rename(temporary, maildir(user) + QStringLiteral("/new/") + name));
        }
    }

    static QString passwordOf(const QString &user) { return user + QStringLiteral("-pass-1"); }

    int port = 0;
};

class PanelOnTheDesktop : public ::testing::Test {
protected:
    static void SetUpTestSuite() { pop3Server("start"); }
    static void TearDownTestSuite() { pop3Server("stop"); }

    void SetUp() override
    {
        ASSERT_TRUE(x11.connected()) << "needs an X display (run through scripts/with-x11)";
        ASSERT_TRUE(server.load()) << "the private Dovecot did not start";
    }

    X11Client x11;
    PlainPop3Server server;
};

TEST_F(PanelOnTheDesktop, OpensBelowTheBowlTakesItAlongAndChecksTheMail)
{
    const QString user = QStringLiteral("frank");
    server.deliver(user, 3);
    x11.warpPointer(400, 200);
    InstalledKingyo kingyo(QStringLiteral("127.0.0.1:%1").arg(server.port), user, PlainPop3Server::passwordOf(user));

    const xcb_window_t bowl = findWindow(x11, [&](xcb_window_t w) {
        const Geometry g = x11.geometry(w);
        return g.width == 100 && g.height == 100;
    });
    ASSERT_NE(bowl, XCB_NONE);
    std::this_thread::sleep_for(1200ms); // the first bowl tick gives it its shape
    const Geometry bowlAt = x11.geometry(bowl);

    // A double-click on the bowl opens the panel below it, 1600 twips down and 100 left
    // (107 and 7 pixels at 15 twips per pixel), counted from the panel's frame.
    xdotool(mouseAt(bowlAt.x + 10, bowlAt.y + 60) + " sleep 0.2 click --repeat 2 --delay 80 1");
    const xcb_window_t panel = findTitled(x11, "Brimble屋さん");
    ASSERT_NE(panel, XCB_NONE) << "no panel after a double-click";
    FrameExtents frame;
    ASSERT_TRUE(waitUntil(2s, [&] {
        frame = frameExtentsOf(panel);
        const Geometry p = x11.geometry(panel);
        return p.x - frame.left == bowlAt.x - 7 && p.y - frame.top == bowlAt.y + 107;
    })) << "panel at " << x11.geometry(panel).x << "," << x11.geometry(panel).y;
    const Geometry panelAt = x11.geometry(panel);
    EXPECT_EQ(panelAt.width, 128);
    EXPECT_EQ(panelAt.height, 15);

    // Dragged by its title bar, the panel takes the bowl along.
    const int grabX = panelAt.x + 20;
    const int grabY = panelAt.y - frame.top / 2;
    xdotool(mouseAt(grabX, grabY) + " sleep 0.2 mousedown 1 sleep 0.1 " + mouseAt(grabX + 5, grabY + 5) +
            " sleep 0.1 " + mouseAt(grabX + 60, grabY + 40) + " sleep 0.1 " + mouseAt(grabX + 120, grabY + 90) +
            " sleep 0.2 mouseup 1");
    ASSERT_TRUE(waitUntil(2s, [&] { return x11.geometry(panel).x != panelAt.x; })) << "the panel did not move";
    EXPECT_TRUE(waitUntil(2s, [&] {
        const Geometry p = x11.geometry(panel);
        const Geometry b = x11.geometry(bowl);
        return b.x == p.x - frame.left + 7 && b.y == p.y - frame.top - 107;
    })) << "bowl at " << x11.geometry(bowl).x << "," << x11.geometry(bowl).y << ", panel at "
        << x11.geometry(panel).x << "," << x11.geometry(panel).y;

    // "受信" checks the mail and shows the notice.
    const Geometry movedPanel = x11.geometry(panel);
    xdotool(mouseAt(movedPanel.x + 48, movedPanel.y + 7) + " sleep 0.2 click 1");
    EXPECT_NE(findTitled(x11, "新着お知らせ"), XCB_NONE) << "no notice after a mail check";
    // Hovering "受信" left its hint in the panel's title.
    EXPECT_EQ(x11.title(panel), "メールチェック");
}

} // namespace
} // namespace kingyo::e2e
