#pragma once
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace kingyo {

// Where the settings files live. The option and account files are in "★MailData" under
// programDir; the server file is serverFile. A portable copy (a "★MailData" folder beside
// the executable) keeps programDir = the executable's folder and the server file by its
// bare name in the current folder; an installed copy keeps all three in the per-user
// folder instead.
struct AppPaths {
    QString programDir;
    QString serverFile = QStringLiteral("vbmail.ini");
    // The XDG autostart entry that starts kingyo at login; empty: none can be kept.
    QString autostartEntry{};
    // The running executable's absolute path, which the autostart entry starts.
    QString executable{};
    // No "★MailData" beside the executable: the files live in the per-user folder.
    bool installed = false;

    QString dataDir() const { return programDir + QStringLiteral("/★MailData"); }
    QString optionFile() const { return dataDir() + QStringLiteral("/ini.ini"); }
    QString accountFile() const { return dataDir() + QStringLiteral("/iniIdPass.ini"); }
    // The certificates the user chose to trust and the servers seen with STLS.
    QString serverTrustFile() const { return dataDir() + QStringLiteral("/servers.txt"); }

    // The folders kingyo alone writes in: "★MailData", and for an installed copy also
    // the folder of the server file. Empty when there is nowhere to store anything.
    QStringList privateFolders() const;

    // The paths of this process as decideAppPaths() finds them; when the per-user folder
    // cannot be made, prints why in one line on stderr (nothing will be stored).
    static AppPaths forRunningProgram();
};

// What the paths are decided from.
struct PathsOrigin {
    QString executable;              // absolute path of the program file
    QString home;                    // the user's home folder
    QProcessEnvironment environment; // XDG_DATA_HOME, XDG_CONFIG_HOME
};

struct PathsDecision {
    AppPaths paths;
    // Why the per-user folder or its "★MailData" cannot be used; empty when all is well.
    // The paths then point at the missing folder, or at nothing when the folder exists
    // but is not this user's alone, so nothing is read from it or stored.
    QString problem;
};

// Portable when a "★MailData" folder lies beside the executable. Otherwise installed:
// $XDG_DATA_HOME/kingyo (an empty or relative XDG_DATA_HOME counts as unset, giving
// HOME/.local/share/kingyo) is made 0700 with missing parents, and "★MailData" in it;
// folders that exist already keep their mode, and are used only when they belong to
// this user and nobody else may write in them. The autostart entry lies in
// $XDG_CONFIG_HOME/autostart (HOME/.config/autostart by default) in both modes.
PathsDecision decideAppPaths(const PathsOrigin &origin);

// An XDG base folder: the variable's value when it is an absolute path, else home + fallback.
QString xdgBaseFolder(const QProcessEnvironment &environment, const QString &variable, const QString &home,
                      const QString &fallback);

} // namespace kingyo
