#pragma once
#include <QByteArray>
#include <QString>

namespace kingyo {

// Starting kingyo at login through an XDG autostart entry (a .desktop file in
// $XDG_CONFIG_HOME/autostart that the desktop session runs when the user logs in).

// True when the entry exists and does not turn itself off: "Hidden=true" (the way a
// user removes a system-wide entry) or "X-GNOME-Autostart-enabled=false" (the way the
// session's settings switch one off). False for an empty path.
bool isAutostartEnabled(const QString &entryPath);

// Enabled: writes the entry that starts executable (atomically, making its folder 0700
// when missing); disabled: removes it, and a missing entry is fine. False when the
// entry could not be written or removed (or a path is empty); the old entry is then
// as it was.
bool setAutostartEnabled(const QString &entryPath, const QString &executable, bool enabled);

// The entry's text: an application named kingyo with its icon, started by executable.
QByteArray autostartEntryText(const QString &executable);

// A program path as one argument of an Exec key: quoted when it holds a character the
// key reserves, with the quoting and string escapes undone by the launcher.
QString desktopExecArgument(const QString &program);

} // namespace kingyo
