#pragma once
#include "x11_client.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>

namespace kingyo::e2e {

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
};

// The real kingyo, run from a copy in a folder of its own, so that its settings (the
// server file in the current folder, the data folder beside the executable) are the
// test's alone. Its output goes to kingyo.log there. Stopped by its pid: SIGTERM, then
// SIGKILL if it lingers.
class KingyoProcess {
public:
    // Without settings the server and account dialogs open beside the bowl.
    explicit KingyoProcess(const std::optional<KingyoSettings> &settings = std::nullopt);
    ~KingyoProcess();
    KingyoProcess(const KingyoProcess &) = delete;
    KingyoProcess &operator=(const KingyoProcess &) = delete;

    bool exited();
    int exitStatus(); // -1 while it runs

private:
    std::filesystem::path folder_;
    pid_t pid_ = -1;
    std::optional<int> exitStatus_;
};

// The first of kingyo's windows that matches, waiting up to 5 s for one; XCB_NONE when
// none came or the program ended first.
xcb_window_t findWindow(X11Client &x11, KingyoProcess &kingyo, const std::function<bool(xcb_window_t)> &matches);
// The bowl: kingyo's 100 x 100 window (settings dialogs may open beside it).
xcb_window_t findBowl(X11Client &x11, KingyoProcess &kingyo);
xcb_window_t findTitled(X11Client &x11, KingyoProcess &kingyo, const std::string &title);

} // namespace kingyo::e2e
