#include "settings/account_file.h"

#include "settings/app_paths.h"
#include "settings/profile_file.h"

namespace kingyo {
namespace {

const QString section = QStringLiteral("EXEINI");
const QString passwordKey = QStringLiteral("NAME2");
const QString placeKey = QStringLiteral("KEYRING");
const QString providerKey = QStringLiteral("OAUTH");

using Keys = QList<std::pair<QString, QString>>;

QString placeValue(const PasswordPlace &place) { return place.isKeyring() ? place.keyringId : QStringLiteral("0"); }

QString readKey(const AppPaths &paths, const char *key)
{
    return readProfileString(paths.accountFile(), section, QString::fromLatin1(key));
}

const std::pair<SignIn::Provider, QString> providerNames[] = {
    {SignIn::Provider::Google, QStringLiteral("google")},
    {SignIn::Provider::Microsoft, QStringLiteral("microsoft")},
    {SignIn::Provider::Other, QStringLiteral("other")},
};

std::optional<SignIn::Provider> providerNamed(const QString &name)
{
    for (const auto &[provider, known] : providerNames) {
        if (name.compare(known, Qt::CaseInsensitive) == 0)
            return provider;
    }
    return std::nullopt;
}

QString nameOf(SignIn::Provider provider)
{
    for (const auto &[known, name] : providerNames) {
        if (known == provider)
            return name;
    }
    return {};
}

QString orBuiltIn(const QString &stored, const QString &builtIn) { return stored.isEmpty() ? builtIn : stored; }

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

WriteResult writeAccount(const AppPaths &paths, const Account &account, bool save, const PasswordPlace &place)
{
    Keys keys;
    if (save) {
        keys = {{QStringLiteral("NAME"), account.userId},
                {passwordKey, place.isKeyring() ? QString() : account.password}};
        if (place.isKeyring())
            keys.append({placeKey, placeValue(place)});
    }
    keys.append({QStringLiteral("NAME3"), save ? QStringLiteral("1") : QStringLiteral("0")});
    if (!account.password.isEmpty() && readSignIn(paths))
        keys.append({providerKey, QString()});
    // One write: a crash never leaves a new ID beside an old password.
    return writeProfileStrings(paths.accountFile(), section, keys, NewFileAccess::OwnerOnly);
}

WriteResult writePasswordPlace(const AppPaths &paths, const PasswordPlace &place, const QString &password)
{
    Keys keys;
    if (!password.isEmpty())
        keys.append({passwordKey, place.isKeyring() ? QString() : password});
    keys.append({placeKey, placeValue(place)});
    return writeProfileStrings(paths.accountFile(), section, keys, NewFileAccess::OwnerOnly);
}

std::optional<SignIn> readSignIn(const AppPaths &paths)
{
    const auto provider = providerNamed(readKey(paths, "OAUTH"));
    if (!provider)
        return std::nullopt;
    if (*provider == SignIn::Provider::Other)
        return SignIn{*provider, QUrl(readKey(paths, "OAUTHAUTHURL")), QUrl(readKey(paths, "OAUTHTOKENURL")),
                      readKey(paths, "OAUTHSCOPE"), readKey(paths, "OAUTHCLIENT"), readKey(paths, "OAUTHSECRET")};
    SignIn known = knownSignIn(*provider);
    known.clientId = orBuiltIn(readKey(paths, "OAUTHCLIENT"), known.clientId);
    known.clientSecret = orBuiltIn(readKey(paths, "OAUTHSECRET"), known.clientSecret);
    return known;
}

bool writeSignIn(const AppPaths &paths, const SignIn &signIn, const QString &mailAddress)
{
    const Keys keys = {{QStringLiteral("NAME"), mailAddress},
                       {passwordKey, QString()},
                       {providerKey, nameOf(signIn.provider)},
                       {QStringLiteral("OAUTHAUTHURL"), signIn.authorizationUrl.toString(QUrl::FullyEncoded)},
                       {QStringLiteral("OAUTHTOKENURL"), signIn.tokenUrl.toString(QUrl::FullyEncoded)},
                       {QStringLiteral("OAUTHSCOPE"), signIn.scope},
                       {QStringLiteral("OAUTHCLIENT"), signIn.clientId},
                       {QStringLiteral("OAUTHSECRET"), signIn.clientSecret}};
    for (const auto &[key, value] : keys) {
        if (!fitsAccountFile(value))
            return false;
    }
    return bool(writeProfileStrings(paths.accountFile(), section, keys, NewFileAccess::OwnerOnly));
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
