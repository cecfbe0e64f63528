#pragma once
#include "x11_client.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>
#include <sys/types.h>

namespace kingyo::e2e {

// How long a step may take on a loaded machine (tests side by side, builds beside them)
// before the test calls it a fault: a wait for something to happen ends as soon as it
// has, so only a real fault waits this long.
constexpr std::chrono::seconds kPatience{30};

// Polls every 20 ms until the condition holds or the time is up; true when it held.
bool waitUntil(std::chrono::milliseconds limit, const std::function<bool()> &condition);

// Drives the real pointer through xdotool (XTest), as a user's mouse would; the test
// fails when xdotool does.
void xdotool(const std::string &arguments);
std::string mouseAt(int x, int y); // xdotool's "mousemove X Y"

// Settings complete enough that kingyo opens no settings dialog at start-up.
struct KingyoSettings {
    std::string pop3Server;
    std::string user;
    std::string password;
    std::string options = {}; // further [EXEINI] lines of ini.ini, each ending in CR LF
};

// A folder of the test's own for the real kingyo: a copy of the program in bin/, a
// home folder home/ (HOME points there and the XDG folders default under it, so the
// user's own settings are never touched) and the current folder work/. Removed when it
// goes; it may outlive several runs of the program.
class KingyoFolder {
public:
    KingyoFolder();
    ~KingyoFolder();
    KingyoFolder(const KingyoFolder &) = delete;
    KingyoFolder &operator=(const KingyoFolder &) = delete;

    const std::filesystem::path &root() const { return root_; }
    std::filesystem::path bin() const { return root_ / "bin"; }
    std::filesystem::path home() const { return root_ / "home"; }
    std::filesystem::path work() const { return root_ / "work"; }
    std::filesystem::path mailData() const { return bin() / "★MailData"; }

    // A portable copy: "★MailData" beside the program, holding these settings, and the
    // server file in the current folder.
    void makePortable(const KingyoSettings &settings);

private:
    std::filesystem::path root_;
};

// The real kingyo, started from a KingyoFolder in its work/ folder. Its output goes to
// kingyo.log in the folder's root. Stopped by its pid: SIGTERM, then SIGKILL if it
// lingers.
class KingyoProcess {
public:
    // A portable copy in a folder of its own. Without settings it runs as an installed
    // copy does on a first run: the server and account dialogs open beside the bowl.
    explicit KingyoProcess(const std::optional<KingyoSettings> &settings = std::nullopt);
    // The copy in folder, with these variables set on top of the isolated home.
    explicit KingyoProcess(const KingyoFolder &folder,
                           const std::vector<std::pair<std::string, std::string>> &environment = {});
    ~KingyoProcess();
    KingyoProcess(const KingyoProcess &) = delete;
    KingyoProcess &operator=(const KingyoProcess &) = delete;

    bool exited();
    int exitStatus(); // -1 while it runs
    void sendSignal(int number); // by its pid, while it runs
    std::string log() const; // what it has written to stdout and stderr so far

private:
    void start(const KingyoFolder &folder, const std::vector<std::pair<std::string, std::string>> &environment);

    std::unique_ptr<KingyoFolder> ownFolder_;
    std::filesystem::path logFile_;
    pid_t pid_ = -1;
    std::optional<int> exitStatus_;
};

// A Dovecot of the test's own, serving POP3 and IMAP on free loopback ports: started by
// scripts/test-pop3-server in `dir` (where its output goes to `dir`.log), stopped by it
// when this goes.
class TestDovecot {
public:
    enum class Tls { Off, On };
    TestDovecot(std::filesystem::path script, std::filesystem::path dir, Tls tls);
    ~TestDovecot();
    TestDovecot(const TestDovecot &) = delete;
    TestDovecot &operator=(const TestDovecot &) = delete;

    // A port its env file names ("POP3_PORT", "IMAPS_PORT", …); 0 when it did not start.
    int port(const std::string &name) const;
    // Down, its clients cut off, and up again on the same ports a second later; false
    // when the script failed.
    bool restart();
    std::filesystem::path maildir(const std::string &user) const;
    std::filesystem::path certificate() const; // self-signed, PEM
    std::string log() const; // Dovecot's own, for a failure's message
    std::string providerLog() const; // the test OAuth2 provider's: one line per request, without tokens
    // The user's IMAP sessions waiting in IDLE now, as the server's process titles say.
    int idlingSessions(const std::string &user) const;
    // The password of every user but the two whose passwords are hard to send.
    static std::string passwordOf(const std::string &user) { return user + "-pass-1"; }

private:
    bool run(const std::string &action, const std::string &option = {}) const;

    std::filesystem::path script_;
    std::filesystem::path dir_;
    std::map<std::string, std::string> env_;
};

// The first of kingyo's windows that matches, waiting up to kPatience for one; XCB_NONE when
// none came or the program ended first.
xcb_window_t findWindow(X11Client &x11, KingyoProcess &kingyo, const std::function<bool(xcb_window_t)> &matches);
// The bowl: kingyo's 100 x 100 window (settings dialogs may open beside it).
xcb_window_t findBowl(X11Client &x11, KingyoProcess &kingyo);
xcb_window_t findTitled(X11Client &x11, KingyoProcess &kingyo, const std::string &title);
// Waits up to kPatience until the window manager has framed the window and the program
// has moved it clear of the windows it keeps on top (the bowl, the open panel), where it
// stays; false when that did not happen.
bool waitUntilPlaced(X11Client &x11, xcb_window_t window, const std::vector<xcb_window_t> &onTop);
// Waits up to kPatience until the bowl has its outline, which the first bowl tick gives it.
bool waitUntilShaped(X11Client &x11, xcb_window_t bowl);

} // namespace kingyo::e2e
