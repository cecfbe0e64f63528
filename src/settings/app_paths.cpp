#include "settings/app_paths.h"

#include "settings/settings_storage.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>
#include <pwd.h>
#include <unistd.h>

namespace kingyo {
namespace {

// HOME when it names a folder, else the one the user database gives.
QString userHome()
{
    const QString home = qEnvironmentVariable("HOME");
    if (QDir::isAbsolutePath(home))
        return home;
    const passwd *entry = ::getpwuid(::getuid());
    return entry && entry->pw_dir ? QFile::decodeName(entry->pw_dir) : QString();
}

// Paths that no read or write can reach, and why.
void leaveNothingReachable(PathsDecision &decision, const QString &problem)
{
    decision.paths.programDir.clear();
    decision.paths.serverFile.clear();
    decision.problem = problem;
}

} // namespace

QString xdgBaseFolder(const QProcessEnvironment &environment, const QString &variable, const QString &home,
                      const QString &fallback)
{
    const QString value = environment.value(variable);
    if (QDir::isAbsolutePath(value))
        return value;
    if (!QDir::isAbsolutePath(home))
        return {};
    return home + fallback;
}

PathsDecision decideAppPaths(const PathsOrigin &origin)
{
    PathsDecision decision;
    AppPaths &paths = decision.paths;
    paths.executable = origin.executable;
    const QString config = xdgBaseFolder(origin.environment, QStringLiteral("XDG_CONFIG_HOME"), origin.home,
                                         QStringLiteral("/.config"));
    if (!config.isEmpty())
        paths.autostartEntry = config + QStringLiteral("/autostart/io.github.kingyo.desktop");

    paths.programDir = QFileInfo(origin.executable).absolutePath();
    if (QFileInfo(paths.dataDir()).isDir())
        return decision;

    paths.installed = true;
    const QString data = xdgBaseFolder(origin.environment, QStringLiteral("XDG_DATA_HOME"), origin.home,
                                       QStringLiteral("/.local/share"));
    if (data.isEmpty()) {
        leaveNothingReachable(decision, QStringLiteral("no home folder and no XDG_DATA_HOME"));
        return decision;
    }
    paths.programDir = data + QStringLiteral("/kingyo");
    paths.serverFile = paths.programDir + QStringLiteral("/vbmail.ini");
    decision.problem = makePrivateFolder(paths.dataDir());
    if (!decision.problem.isEmpty())
        return decision; // the paths lead to the missing folder, where no write succeeds
    // Files there could have been planted (a server that collects passwords, a trusted
    // certificate) or could be read by others: neither read nor written.
    for (const QString &folder : {paths.programDir, paths.dataDir()}) {
        if (const QString problem = foreignFolderProblem(folder); !problem.isEmpty()) {
            leaveNothingReachable(decision, problem);
            break;
        }
    }
    return decision;
}

QStringList AppPaths::privateFolders() const
{
    if (programDir.isEmpty())
        return {};
    const QFileInfo server(serverFile);
    if (server.isAbsolute())
        return {dataDir(), server.path()};
    return {dataDir()};
}

AppPaths AppPaths::forRunningProgram()
{
    const PathsDecision decision = decideAppPaths(
        {QCoreApplication::applicationFilePath(), userHome(), QProcessEnvironment::systemEnvironment()});
    if (!decision.problem.isEmpty())
        std::fprintf(stderr, "kingyo: settings will not be stored: %s\n", qPrintable(decision.problem));
    return decision.paths;
}

} // namespace kingyo
