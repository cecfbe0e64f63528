#include "settings/autostart_entry.h"

#include "settings/app_paths.h"
#include "settings/settings_storage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStringList>

#include <algorithm>

namespace kingyo {
namespace {

// The value of key in the [Desktop Entry] group; keys are case-sensitive and blanks
// around the equals sign do not count.
QString desktopEntryValue(const QString &text, const QString &key)
{
    bool inMainGroup = false;
    for (const QString &rawLine : text.split(QLatin1Char('\n'))) {
        const QString line = rawLine.trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (inMainGroup && equals > 0 && line.left(equals).trimmed() == key)
            return line.mid(equals + 1).trimmed();
    }
    return {};
}

// The string escapes of a desktop entry value (backslash first, so the others stay single).
QString escapedString(QString text)
{
    text.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    text.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    text.replace(QLatin1Char('\t'), QLatin1String("\\t"));
    text.replace(QLatin1Char('\r'), QLatin1String("\\r"));
    return text;
}

QString unescapedString(const QString &value)
{
    static const QHash<QChar, QChar> escapes = {{u's', u' '}, {u'n', u'\n'}, {u't', u'\t'}, {u'r', u'\r'}};
    QString text;
    for (qsizetype i = 0; i < value.size(); ++i) {
        QChar c = value[i];
        if (c == u'\\' && i + 1 < value.size()) {
            const QChar escaped = value[++i];
            c = escapes.value(escaped, escaped);
        }
        text += c;
    }
    return text;
}

// The entry's text; empty when there is none (or no path).
QString entryText(const QString &entryPath)
{
    const std::optional<QByteArray> contents = entryPath.isEmpty() ? std::nullopt : readSettingsFile(entryPath);
    return contents ? QString::fromUtf8(*contents) : QString();
}

bool isSwitchedOn(const QString &text)
{
    return !text.isEmpty() && desktopEntryValue(text, QStringLiteral("Hidden")) != QLatin1String("true")
        && desktopEntryValue(text, QStringLiteral("X-GNOME-Autostart-enabled")) != QLatin1String("false");
}

// Marks the entries kingyo wrote; only those are ever rewritten.
const QString ownerKey = QStringLiteral("X-Kingyo-Autostart");

// Whether the session could start what the entry names: the program is there to run and
// its folder, if it names one, is a folder.
bool canStart(const QString &text)
{
    const QFileInfo program(desktopExecProgram(desktopEntryValue(text, QStringLiteral("Exec"))));
    const QString folder = unescapedString(desktopEntryValue(text, QStringLiteral("Path")));
    return program.isAbsolute() && program.isFile() && program.isExecutable()
        && (folder.isEmpty() || QFileInfo(folder).isDir());
}

} // namespace

AutostartLaunch autostartLaunchOf(const AppPaths &paths, const QString &currentFolder)
{
    const bool serverFileInCurrentFolder = !paths.serverFile.isEmpty() && QDir::isRelativePath(paths.serverFile);
    return {.executable = paths.executable, .workingFolder = serverFileInCurrentFolder ? currentFolder : QString()};
}

bool isAutostartEnabled(const QString &entryPath)
{
    return isSwitchedOn(entryText(entryPath));
}

QString desktopExecArgument(const QString &program)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    QString argument = program;
    // A percent sign would start a field code.
    argument.replace(QLatin1Char('%'), QLatin1String("%%"));
    const bool needsQuotes =
        std::any_of(argument.cbegin(), argument.cend(), [](QChar c) { return reserved.contains(c); });
    if (needsQuotes) {
        QString quoted;
        for (const QChar c : argument) {
            if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
                quoted += QLatin1Char('\\');
            quoted += c;
        }
        argument = QLatin1Char('"') + quoted + QLatin1Char('"');
    }
    return escapedString(argument);
}

QString desktopExecProgram(const QString &execValue)
{
    const QString exec = unescapedString(execValue);
    QString program;
    if (exec.startsWith(QLatin1Char('"'))) {
        for (qsizetype i = 1; i < exec.size() && exec[i] != QLatin1Char('"'); ++i) {
            if (exec[i] == QLatin1Char('\\') && i + 1 < exec.size())
                ++i;
            program += exec[i];
        }
    } else {
        program = exec.section(QLatin1Char(' '), 0, 0);
    }
    return program.replace(QLatin1String("%%"), QLatin1String("%"));
}

QByteArray autostartEntryText(const AutostartLaunch &launch)
{
    QStringList lines = {
        QStringLiteral("[Desktop Entry]"),
        QStringLiteral("Type=Application"),
        QStringLiteral("Name=kingyo"),
        QStringLiteral("Exec=") + desktopExecArgument(launch.executable),
        QStringLiteral("Icon=kingyo"),
        QStringLiteral("X-GNOME-Autostart-enabled=true"),
        ownerKey + QStringLiteral("=true"),
    };
    if (!launch.workingFolder.isEmpty())
        lines.insert(4, QStringLiteral("Path=") + escapedString(launch.workingFolder));
    return (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8();
}

bool setAutostartEnabled(const QString &entryPath, const AutostartLaunch &launch, bool enabled)
{
    if (entryPath.isEmpty())
        return false;
    if (!enabled)
        return QFile::remove(entryPath) || !QFileInfo::exists(entryPath);
    if (launch.executable.isEmpty() || !makePrivateFolder(QFileInfo(entryPath).absolutePath()).isEmpty())
        return false;
    return bool(replaceSettingsFile(entryPath, autostartEntryText(launch)));
}

AutostartRepair repairMovedAutostartEntry(const QString &entryPath, const AutostartLaunch &launch)
{
    const QString text = entryText(entryPath);
    if (!isSwitchedOn(text) || desktopEntryValue(text, ownerKey) != QLatin1String("true") || canStart(text))
        return AutostartRepair::Untouched;
    return setAutostartEnabled(entryPath, launch, true) ? AutostartRepair::Rewritten : AutostartRepair::Failed;
}

} // namespace kingyo
