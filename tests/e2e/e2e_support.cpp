#include "e2e_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace kingyo::e2e {

using namespace std::chrono_literals;

namespace {

void writeFile(const std::filesystem::path &path, const std::string &contents)
{
    std::ofstream(path, std::ios::binary) << contents;
}

void writeSettings(const std::filesystem::path &folder, const KingyoSettings &settings)
{
    writeFile(folder / "vbmail.ini", "SMTP=\r\nPOP3=" + settings.pop3Server + "\r\nMAIL=\r\nAPOP=0\r\n");
    writeFile(folder / "★MailData/iniIdPass.ini",
              "[EXEINI]\r\nNAME=" + settings.user + "\r\nNAME2=" + settings.password + "\r\nNAME3=1\r\n");
    writeFile(folder / "★MailData/ini.ini", "[EXEINI]\r\nNUMBER=0\r\n");
}

} // namespace

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

KingyoProcess::KingyoProcess(const std::optional<KingyoSettings> &settings)
{
    char folder[] = "/tmp/kingyo-e2e.XXXXXX";
    if (!::mkdtemp(folder))
        return;
    folder_ = folder;
    const std::filesystem::path binary = folder_ / "kingyo";
    std::filesystem::copy_file(KINGYO_BINARY, binary);
    if (settings) {
        std::filesystem::create_directory(folder_ / "★MailData");
        writeSettings(folder_, *settings);
    }
    pid_ = ::fork();
    if (pid_ == 0) {
        if (::chdir(folder_.c_str()) != 0)
            ::_exit(127);
        const int log = ::open("kingyo.log", O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(log, STDOUT_FILENO);
        ::dup2(log, STDERR_FILENO);
        ::execl(binary.c_str(), binary.c_str(), static_cast<char *>(nullptr));
        ::_exit(127);
    }
}

KingyoProcess::~KingyoProcess()
{
    if (pid_ > 0 && !exited()) {
        ::kill(pid_, SIGTERM);
        if (!waitUntil(3s, [this] { return exited(); })) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    if (!folder_.empty())
        std::filesystem::remove_all(folder_);
}

bool KingyoProcess::exited()
{
    int status = 0;
    if (!exitStatus_ && pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == pid_)
        exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return exitStatus_.has_value();
}

int KingyoProcess::exitStatus() { return exited() ? *exitStatus_ : -1; }

xcb_window_t findWindow(X11Client &x11, KingyoProcess &kingyo, const std::function<bool(xcb_window_t)> &matches)
{
    xcb_window_t found = XCB_NONE;
    waitUntil(5s, [&] {
        for (const xcb_window_t window : x11.windowsOfClass("kingyo")) {
            if (matches(window)) {
                found = window;
                return true;
            }
        }
        return kingyo.exited();
    });
    return found;
}

xcb_window_t findBowl(X11Client &x11, KingyoProcess &kingyo)
{
    return findWindow(x11, kingyo, [&](xcb_window_t window) {
        const Geometry g = x11.geometry(window);
        return g.width == 100 && g.height == 100;
    });
}

xcb_window_t findTitled(X11Client &x11, KingyoProcess &kingyo, const std::string &title)
{
    return findWindow(x11, kingyo, [&](xcb_window_t window) { return x11.title(window) == title; });
}

} // namespace kingyo::e2e
