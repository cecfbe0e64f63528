#pragma once
#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace kingyo {

// How kingyo meets its screen. The bowl needs X11 (its shape, staying on top, placing
// itself), so in a Wayland session it runs on XWayland.
enum class DisplayChoice {
    UsersPlatform, // the user chose a platform: keep it
    X11,           // the X display in DISPLAY (XWayland in a Wayland session)
    NoDisplay,     // nothing to show the bowl on: say so and end
};

// From the session's environment and the program's arguments (QT_QPA_PLATFORM or
// "-platform NAME" is the user's choice; DISPLAY names the X display).
DisplayChoice chooseDisplay(const QProcessEnvironment &environment, const QStringList &arguments);

// The exit code and the one line on stderr when there is no X display to use.
inline constexpr int kNoDisplayExitCode = 1;
QString noDisplayMessage();
QString unreachableDisplayMessage(const QByteArray &display);
void printErrorLine(const QString &line); // to stderr, at once

// Puts the choice into effect around building the application: X11 makes Qt use xcb
// only for this process (programs kingyo starts, such as a browser, keep the session's
// own platform), and a display that cannot be reached ends the program with its one
// line and kNoDisplayExitCode instead of Qt's abort. Lives while the application is
// built; NoDisplay is handled by the caller before.
class DisplayConnection {
public:
    DisplayConnection(DisplayChoice choice, const QByteArray &display);
    ~DisplayConnection();
    DisplayConnection(const DisplayConnection &) = delete;
    DisplayConnection &operator=(const DisplayConnection &) = delete;

private:
    bool guarding_ = false;
};

} // namespace kingyo
