#include "settings/settings_option.h"

#include "settings/app_paths.h"
#include "settings/profile_file.h"

namespace kingyo {
namespace {

const QString section = QStringLiteral("EXEINI");
const QString key = QStringLiteral("NUMBER");
const QString newOnlyKey = QStringLiteral("NEWONLY");
const QString intervalKey = QStringLiteral("INTERVAL");
const QString notifyKey = QStringLiteral("NOTIFY");

// A 0 or 1 key as a switch; anything else keeps the default.
bool readSwitch(const AppPaths &paths, const QString &name, bool defaultValue)
{
    const int stored = readProfileInt(paths.optionFile(), section, name, -1);
    return stored == 0 || stored == 1 ? stored == 1 : defaultValue;
}

QString switchText(bool on) { return on ? QStringLiteral("1") : QStringLiteral("0"); }

} // namespace

int readHangupOption(const AppPaths &paths)
{
    return readProfileInt(paths.optionFile(), section, key, 0);
}

MailWatchOptions readMailWatchOptions(const AppPaths &paths)
{
    MailWatchOptions options;
    options.countNewOnly = readSwitch(paths, newOnlyKey, options.countNewOnly);
    options.notify = readSwitch(paths, notifyKey, options.notify);
    const int interval = readProfileInt(paths.optionFile(), section, intervalKey, 0);
    if (interval >= 0 && interval <= MailWatchOptions::kMaxIntervalMinutes)
        options.intervalMinutes = interval;
    return options;
}

WriteResult writeOptionFile(const AppPaths &paths, bool hangUp, const std::optional<MailWatchOptions> &mailWatch)
{
    QList<std::pair<QString, QString>> keys{{key, switchText(hangUp)}};
    if (mailWatch)
        keys += {{newOnlyKey, switchText(mailWatch->countNewOnly)},
                 {intervalKey, QString::number(mailWatch->intervalMinutes)},
                 {notifyKey, switchText(mailWatch->notify)}};
    return writeProfileStrings(paths.optionFile(), section, keys);
}

} // namespace kingyo
