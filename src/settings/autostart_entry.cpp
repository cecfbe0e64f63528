#include "settings/autostart_entry.h"

#include "settings/settings_storage.h"

#include <QFile>
#include <QFileInfo>
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

} // namespace

bool isAutostartEnabled(const QString &entryPath)
{
    if (entryPath.isEmpty())
        return false;
    const std::optional<QByteArray> contents = readSettingsFile(entryPath);
    if (!contents)
        return false;
    const QString text = QString::fromUtf8(*contents);
    return desktopEntryValue(text, QStringLiteral("Hidden")) != QLatin1String("true")
        && desktopEntryValue(text, QStringLiteral("X-GNOME-Autostart-enabled")) != QLatin1String("false");
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

QByteArray autostartEntryText(const QString &executable)
{
    const QStringList lines = {
        QStringLiteral("[Desktop Entry]"),
        QStringLiteral("Type=Application"),
        QStringLiteral("Name=kingyo"),
        QStringLiteral("Exec=") + desktopExecArgument(executable),
        QStringLiteral("Icon=kingyo"),
        QStringLiteral("X-GNOME-Autostart-enabled=true"),
    };
    return (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8();
}

bool setAutostartEnabled(const QString &entryPath, const QString &executable, bool enabled)
{
    if (entryPath.isEmpty())
        return false;
    if (!enabled)
        return QFile::remove(entryPath) || !QFileInfo::exists(entryPath);
    if (executable.isEmpty() || !makePrivateFolder(QFileInfo(entryPath).absolutePath()).isEmpty())
        return false;
    return replaceSettingsFile(entryPath, autostartEntryText(executable));
}

} // namespace kingyo
