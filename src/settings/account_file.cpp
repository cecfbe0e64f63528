#include "settings/account_file.h"

#include "settings/app_paths.h"
#include "settings/profile_file.h"

namespace kingyo {
namespace {

const QString section = QStringLiteral("EXEINI");
const QString passwordKey = QStringLiteral("NAME2");
const QString placeKey = QStringLiteral("KEYRING");

using Keys = QList<std::pair<QString, QString>>;

QString placeValue(const PasswordPlace &place) { return place.isKeyring() ? place.keyringId : QStringLiteral("0"); }

} // namespace

Account readAccount(const AppPaths &paths)
{
    return Account{readProfileString(paths.accountFile(), section, QStringLiteral("NAME")),
                   readProfileString(paths.accountFile(), section, passwordKey)};
}

PasswordPlace readPasswordPlace(const AppPaths &paths)
{
    const QString value = readProfileString(paths.accountFile(), section, placeKey);
    if (value.isEmpty())
        return {};
    return value == QStringLiteral("0") ? PasswordPlace::file() : PasswordPlace::keyring(value);
}

bool writeAccount(const AppPaths &paths, const Account &account, bool save, const PasswordPlace &place)
{
    Keys keys;
    if (save) {
        keys = {{QStringLiteral("NAME"), account.userId},
                {passwordKey, place.isKeyring() ? QString() : account.password}};
        if (place.isKeyring())
            keys.append({placeKey, placeValue(place)});
    }
    keys.append({QStringLiteral("NAME3"), save ? QStringLiteral("1") : QStringLiteral("0")});
    // One write: a crash never leaves a new ID beside an old password.
    return writeProfileStrings(paths.accountFile(), section, keys, NewFileAccess::OwnerOnly);
}

bool writePasswordPlace(const AppPaths &paths, const PasswordPlace &place, const QString &password)
{
    Keys keys;
    if (!password.isEmpty())
        keys.append({passwordKey, place.isKeyring() ? QString() : password});
    keys.append({placeKey, placeValue(place)});
    return writeProfileStrings(paths.accountFile(), section, keys, NewFileAccess::OwnerOnly);
}

bool fitsAccountFile(const QString &password)
{
    const QByteArray bytes = password.toUtf8();
    if (bytes.size() > profileValueLimit)
        return false;
    const QByteArray line = profile::withValue({}, section.toUtf8(), passwordKey.toUtf8(), bytes);
    return profile::findValue(line, section.toUtf8(), passwordKey.toUtf8()) == bytes;
}

} // namespace kingyo
