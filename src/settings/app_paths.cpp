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

    decision.installed = true;
    const QString data = xdgBaseFolder(origin.environment, QStringLiteral("XDG_DATA_HOME"), origin.home,
                                       QStringLiteral("/.local/share"));
    if (data.isEmpty()) {
        // No folder to keep anything in: paths that no write can reach.
        paths.programDir.clear();
        paths.serverFile.clear();
        decision.problem = QStringLiteral("no home folder and no XDG_DATA_HOME");
        return decision;
    }
    paths.programDir = data + QStringLiteral("/kingyo");
    paths.serverFile = paths.programDir + QStringLiteral("/vbmail.ini");
    decision.problem = makePrivateFolder(paths.dataDir());
    return decision;
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
