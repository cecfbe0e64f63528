#include "e2e_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace kingyo::e2e {

using namespace std::chrono_literals;

namespace {

void writeFile(const std::filesystem::path &path, const std::string &contents)
{
    std::ofstream(path, std::ios::binary) << contents;
}

void writeSettings(const std::filesystem::path &programFolder, const std::filesystem::path &workFolder,
                   const KingyoSettings &settings)
{
    writeFile(workFolder / "vbmail.ini", "SMTP=\r\nPOP3=" + settings.pop3Server + "\r\nMAIL=\r\nAPOP=0\r\n");
    writeFile(programFolder / "★MailData/iniIdPass.ini",
              "[EXEINI]\r\nNAME=" + settings.user + "\r\nNAME2=" + settings.password + "\r\nNAME3=1\r\n");
    writeFile(programFolder / "★MailData/ini.ini", "[EXEINI]\r\nNUMBER=0\r\n" + settings.options);
}

// The test's environment with HOME in the given folder and the XDG folders at their
// defaults under it, then the extra variables. The session bus leads nowhere, so that
// the program never reaches the keyring (or anything else) of the session the tests run in.
std::vector<std::string> isolatedEnvironment(const std::filesystem::path &home,
                                             const std::vector<std::pair<std::string, std::string>> &extra)
{
    const std::vector<std::string> replaced = {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "DBUS_SESSION_BUS_ADDRESS"};
    std::vector<std::string> variables;
    for (char **entry = environ; *entry; ++entry) {
        const std::string variable = *entry;
        const std::string name = variable.substr(0, variable.find('='));
        if (std::find(replaced.begin(), replaced.end(), name) == replaced.end())
            variables.push_back(variable);
    }
    variables.push_back("HOME=" + home.string());
    const auto givesBus = [](const auto &variable) { return variable.first == "DBUS_SESSION_BUS_ADDRESS"; };
    if (std::none_of(extra.begin(), extra.end(), givesBus))
        variables.push_back("DBUS_SESSION_BUS_ADDRESS=unix:path=" + (home / "no-session-bus").string());
    for (const auto &[name, value] : extra)
        variables.push_back(name + "=" + value);
    return variables;
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

KingyoFolder::KingyoFolder()
{
    char folder[] = "/tmp/kingyo-e2e.XXXXXX";
    if (!::mkdtemp(folder))
        return;
    root_ = folder;
    for (const auto &made : {bin(), home(), work()})
        std::filesystem::create_directory(made);
    std::filesystem::copy_file(KINGYO_BINARY, bin() / "kingyo");
}

KingyoFolder::~KingyoFolder()
{
    if (!root_.empty())
        std::filesystem::remove_all(root_);
}

void KingyoFolder::makePortable(const KingyoSettings &settings)
{
    std::filesystem::create_directory(bin() / "★MailData");
    writeSettings(bin(), work(), settings);
}

KingyoProcess::KingyoProcess(const std::optional<KingyoSettings> &settings)
    : ownFolder_(std::make_unique<KingyoFolder>())
{
    if (settings)
        ownFolder_->makePortable(*settings);
    start(*ownFolder_, {});
}

KingyoProcess::KingyoProcess(const KingyoFolder &folder,
                             const std::vector<std::pair<std::string, std::string>> &environment)
{
    start(folder, environment);
}

void KingyoProcess::start(const KingyoFolder &folder,
                          const std::vector<std::pair<std::string, std::string>> &environment)
{
    if (folder.root().empty())
        return;
    logFile_ = folder.root() / "kingyo.log";
    const std::string binary = (folder.bin() / "kingyo").string();
    const std::vector<std::string> variables = isolatedEnvironment(folder.home(), environment);
    std::vector<char *> envp;
    for (const std::string &variable : variables)
        envp.push_back(const_cast<char *>(variable.c_str()));
    envp.push_back(nullptr);
    char *const argv[] = {const_cast<char *>(binary.c_str()), nullptr};
    pid_ = ::fork();
    if (pid_ == 0) {
        if (::chdir(folder.work().c_str()) != 0)
            ::_exit(127);
        const int log = ::open(logFile_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        ::dup2(log, STDOUT_FILENO);
        ::dup2(log, STDERR_FILENO);
        ::execve(binary.c_str(), argv, envp.data());
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
}

std::string KingyoProcess::log() const
{
    std::ifstream file(logFile_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

bool KingyoProcess::exited()
{
    int status = 0;
    if (!exitStatus_ && pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == pid_)
        exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return exitStatus_.has_value();
}

int KingyoProcess::exitStatus() { return exited() ? *exitStatus_ : -1; }

void KingyoProcess::sendSignal(int number)
{
    if (pid_ > 0 && !exited())
        ::kill(pid_, number);
}

namespace {

// KEY=VALUE lines, a value possibly in single quotes.
std::map<std::string, std::string> readEnvFile(const std::filesystem::path &path)
{
    std::map<std::string, std::string> values;
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);) {
        const auto equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        std::string value = line.substr(equals + 1);
        if (value.size() >= 2 && value.front() == '\'' && value.back() == '\'')
            value = value.substr(1, value.size() - 2);
        values[line.substr(0, equals)] = value;
    }
    return values;
}

std::string fileText(const std::filesystem::path &path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

} // namespace

TestDovecot::TestDovecot(std::filesystem::path script, std::filesystem::path dir, Tls tls)
    : script_(std::move(script)), dir_(std::move(dir))
{
    if (run("start", tls == Tls::On ? "" : "plain"))
        env_ = readEnvFile(dir_ / "env");
}

TestDovecot::~TestDovecot() { run("stop"); }

bool TestDovecot::run(const std::string &action, const std::string &option) const
{
    const std::string command = script_.string() + " " + action + " '" + dir_.string() + "' " + option + " >>'" +
        dir_.string() + ".log' 2>&1 </dev/null";
    return std::system(command.c_str()) == 0;
}

int TestDovecot::port(const std::string &name) const
{
    const auto found = env_.find(name);
    return found == env_.end() ? 0 : std::atoi(found->second.c_str());
}

bool TestDovecot::restart() { return run("restart"); }

std::filesystem::path TestDovecot::maildir(const std::string &user) const { return dir_ / "home" / user / "Maildir"; }

std::filesystem::path TestDovecot::certificate() const { return dir_ / "cert.pem"; }

std::string TestDovecot::log() const { return fileText(dir_ / "dovecot.log"); }

std::string TestDovecot::providerLog() const { return fileText(dir_ / "oauth/provider.log"); }

int TestDovecot::idlingSessions(const std::string &user) const
{
    // Its processes carry its instance name, made of the name of its files' folder.
    const auto files = env_.find("POP3_DIR");
    if (files == env_.end())
        return 0;
    const std::string instance = "kingyo-test-" + std::filesystem::path(files->second).filename().string() + "-";
    const std::string session = "/imap [" + user + " ";
    int sessions = 0;
    std::error_code error;
    for (const auto &process : std::filesystem::directory_iterator("/proc", error)) {
        const std::string title = fileText(process.path() / "cmdline");
        if (title.find(instance) != std::string::npos && title.find(session) != std::string::npos
            && title.find(" IDLE]") != std::string::npos)
            ++sessions;
    }
    return sessions;
}

xcb_window_t findWindow(X11Client &x11, KingyoProcess &kingyo, const std::function<bool(xcb_window_t)> &matches)
{
    xcb_window_t found = XCB_NONE;
    waitUntil(kPatience, [&] {
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

namespace {

// The window with its window manager's frame, on the root window.
Geometry frameOf(X11Client &x11, xcb_window_t window)
{
    const Geometry client = x11.geometry(window);
    const FrameExtents frame = x11.frameExtents(window);
    return {client.x - frame.left, client.y - frame.top, client.width + frame.left + frame.right,
            client.height + frame.top + frame.bottom};
}

bool overlap(const Geometry &a, const Geometry &b)
{
    return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

} // namespace

bool waitUntilPlaced(X11Client &x11, xcb_window_t window, const std::vector<xcb_window_t> &onTop)
{
    return waitUntil(kPatience, [&] {
        if (x11.frameExtents(window).top == 0)
            return false;
        const Geometry frame = frameOf(x11, window);
        return std::none_of(onTop.begin(), onTop.end(),
                            [&](xcb_window_t other) { return overlap(frame, frameOf(x11, other)); });
    });
}

bool waitUntilShaped(X11Client &x11, xcb_window_t bowl)
{
    return waitUntil(kPatience, [&] { return x11.isShaped(bowl); });
}

} // namespace kingyo::e2e
