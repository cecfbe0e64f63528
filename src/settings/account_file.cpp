#include "settings/account_file.h"

#include "settings/app_paths.h"
#include "settings/profile_file.h"

namespace kingyo {
namespace {

const QString section = QStringLiteral("EXEINI");

} // namespace

Account readAccount(const AppPaths &paths)
{
    return Account{readProfileString(paths.accountFile(), section, QStringLiteral("NAME")),
                   readProfileString(paths.accountFile(), section, QStringLiteral("NAME2"))};
}

bool writeAccount(const AppPaths &paths, const Account &account, bool save)
{
    QList<std::pair<QString, QString>> keys;
    if (save)
        keys = {{QStringLiteral("NAME"), account.userId}, {QStringLiteral("NAME2"), account.password}};
    keys.append({QStringLiteral("NAME3"), save ? QStringLiteral("1") : QStringLiteral("0")});
    // One write: a crash never leaves a new ID beside an old password.
    return writeProfileStrings(paths.accountFile(), section, keys, NewFileAccess::OwnerOnly);
}

} // namespace kingyo
