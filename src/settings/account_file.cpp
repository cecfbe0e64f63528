#include "settings/account_file.h"

#include "settings/app_paths.h"
#include "settings/profile_file.h"

namespace kingyo {
namespace {

const QString section = QStringLiteral("EXEINI");

bool writeKey(const AppPaths &paths, const QString &key, const QString &value)
{
    return writeProfileString(paths.accountFile(), section, key, value, NewFileAccess::OwnerOnly);
}

} // namespace

Account readAccount(const AppPaths &paths)
{
    return Account{readProfileString(paths.accountFile(), section, QStringLiteral("NAME")),
                   readProfileString(paths.accountFile(), section, QStringLiteral("NAME2"))};
}

bool writeAccount(const AppPaths &paths, const Account &account, bool save)
{
    if (!save)
        return writeKey(paths, QStringLiteral("NAME3"), QStringLiteral("0"));
    return writeKey(paths, QStringLiteral("NAME"), account.userId)
        && writeKey(paths, QStringLiteral("NAME2"), account.password)
        && writeKey(paths, QStringLiteral("NAME3"), QStringLiteral("1"));
}

} // namespace kingyo
