#include "settings/settings_option.h"

#include "settings/app_paths.h"
#include "settings/profile_file.h"

namespace kingyo {
namespace {

const QString section = QStringLiteral("EXEINI");
const QString key = QStringLiteral("NUMBER");

} // namespace

int readHangupOption(const AppPaths &paths)
{
    return readProfileInt(paths.optionFile(), section, key, 0);
}

bool writeHangupOption(const AppPaths &paths, bool hangUp)
{
    return writeProfileString(paths.optionFile(), section, key, hangUp ? QStringLiteral("1") : QStringLiteral("0"));
}

} // namespace kingyo
