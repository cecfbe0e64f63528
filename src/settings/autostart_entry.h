#pragma once
#include <QByteArray>
#include <QString>

namespace kingyo {

struct AppPaths;

// Starting kingyo at login through an XDG autostart entry (a .desktop file in
// $XDG_CONFIG_HOME/autostart that the desktop session runs when the user logs in).

// What an entry starts: the program, in its working folder (empty: wherever the session
// starts programs).
struct AutostartLaunch {
    QString executable;
    QString workingFolder{};
    bool operator==(const AutostartLaunch &) const = default;
};

// The launch that starts this copy as it runs now. A portable copy reads its server file
// from the current folder, so it starts there; an installed copy names every file by its
// full path and gets no folder, since one that later disappears would keep it from starting.
AutostartLaunch autostartLaunchOf(const AppPaths &paths, const QString &currentFolder);

// True when the entry exists and does not turn itself off: "Hidden=true" (the way a
// user removes a system-wide entry) or "X-GNOME-Autostart-enabled=false" (the way the
// session's settings switch one off). False for an empty path.
bool isAutostartEnabled(const QString &entryPath);

// Enabled: writes the entry that starts launch (atomically, making its folder 0700
// when missing); disabled: removes it, and a missing entry is fine. False when the
// entry could not be written or removed (or a path is empty); the old entry is then
// as it was.
bool setAutostartEnabled(const QString &entryPath, const AutostartLaunch &launch, bool enabled);

enum class AutostartRepair { Untouched, Rewritten, Failed };

// An entry kingyo wrote and that is switched on, but whose program or folder is gone (the
// copy moved), is rewritten to start launch. Any other entry, someone else's above all,
// is left as it is.
AutostartRepair repairMovedAutostartEntry(const QString &entryPath, const AutostartLaunch &launch);

// The entry's text: an application named kingyo with its icon, marked as kingyo's own.
QByteArray autostartEntryText(const AutostartLaunch &launch);

// A program path as one argument of an Exec key: quoted when it holds a character the
// key reserves, with the quoting and string escapes undone by the launcher.
QString desktopExecArgument(const QString &program);

// The program an Exec value starts: its first argument with the escapes undone.
QString desktopExecProgram(const QString &execValue);

} // namespace kingyo
