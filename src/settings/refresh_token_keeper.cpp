#include "settings/refresh_token_keeper.h"

#include "settings/account_file.h"
#include "settings/app_paths.h"
#include "settings/settings_storage.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <sys/stat.h>

namespace kingyo {
namespace {

using Outcome = SecretStore::Outcome;

QString refreshKey(const QString &keyringId) { return accountSecretKey(QStringLiteral("refresh"), keyringId); }

// Missing, or a plain file: never a link, folder, FIFO or device someone put there.
bool isPlainFileOrMissing(const QString &path)
{
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return errno == ENOENT;
    return S_ISREG(info.st_mode);
}

// Tokens are printable ASCII (RFC 6749's VSCHAR); anything else was not written here.
bool isTokenText(QByteArrayView token)
{
    return !token.isEmpty()
        && std::all_of(token.begin(), token.end(), [](char c) { return c >= 0x20 && c <= 0x7e; });
}

void logProblem(const QString &why) { std::fprintf(stderr, "kingyo: refresh token: %s\n", qPrintable(why)); }

QString readTokenFile(const QString &path)
{
    if (!isPlainFileOrMissing(path)) {
        logProblem(QStringLiteral("%1 is not a plain file; not read").arg(path));
        return {};
    }
    QString why;
    const auto contents = readSettingsFile(path, RefreshTokenKeeper::kFileLimit, &why);
    if (!contents) {
        if (!why.isEmpty())
            logProblem(why);
        return {};
    }
    const QByteArray token = contents->trimmed();
    return isTokenText(token) ? QString::fromLatin1(token) : QString();
}

void removeTokenFile(const QString &path)
{
    if (QFile::exists(path) && isPlainFileOrMissing(path))
        QFile::remove(path);
}

} // namespace

RefreshTokenKeeper::RefreshTokenKeeper(const AppPaths &paths, QObject *parent) : QObject(parent), paths_(paths) {}

QString RefreshTokenKeeper::filePath() const { return paths_.dataDir() + u'/' + fileName(); }

void RefreshTokenKeeper::load()
{
    loaded_ = false;
    withheld_ = false;
    token_.clear();
    const bool signedIn = readSignIn(paths_).has_value();
    const PasswordPlace place = readPasswordPlace(paths_);
    if (signedIn && store_ && place.isKeyring()) {
        store_->readTellingLocked(refreshKey(place.keyringId), this, [this](const SecretStore::Result &result) {
            if (result.outcome == Outcome::Done && isTokenText(result.secret.toLatin1())) {
                token_ = result.secret;
            } else {
                token_ = readTokenFile(filePath());
                withheld_ = token_.isEmpty() && result.outcome != Outcome::NotFound;
            }
            markLoaded();
        });
        return;
    }
    if (signedIn)
        token_ = readTokenFile(filePath());
    QMetaObject::invokeMethod(this, &RefreshTokenKeeper::markLoaded, Qt::QueuedConnection);
}

void RefreshTokenKeeper::markLoaded()
{
    loaded_ = true;
    emit loaded();
}

void RefreshTokenKeeper::keep(const QString &token, Done done)
{
    token_ = token;
    withheld_ = false;
    const PasswordPlace place = readPasswordPlace(paths_);
    if (!store_ || !place.wantsKeyring(paths_.installed))
        return keepInFile(token, done);
    const QString id = place.isKeyring() ? place.keyringId : newKeyringId();
    const QString key = refreshKey(id);
    const auto locked = [this, done] {
        logProblem(QStringLiteral("the keyring is locked; kept until kingyo ends"));
        finish(Kept::KeyringLocked, done);
    };
    store_->write(key, token, this, [this, key, token, id, place, done, locked](const SecretStore::Result &written) {
        if (written.outcome == Outcome::Locked)
            return locked();
        if (written.outcome != Outcome::Done)
            return keepInFile(token, done);
        store_->read(key, this, [this, token, id, place, done, locked](const SecretStore::Result &back) {
            if (back.outcome == Outcome::Locked)
                return locked();
            const bool named = place.isKeyring() || writePasswordPlace(paths_, PasswordPlace::keyring(id), {});
            if (back.outcome != Outcome::Done || back.secret != token || !named)
                return keepInFile(token, done);
            removeTokenFile(filePath()); // an older token, from a time without a keyring
            if (done)
                done(Kept::Stored);
        });
    });
}

void RefreshTokenKeeper::keepInFile(const QString &token, const Done &done)
{
    const QString path = filePath();
    const QByteArray bytes = token.toLatin1();
    const bool stored = isTokenText(bytes) && bytes.size() < kFileLimit && isPlainFileOrMissing(path)
        && replaceSettingsFile(path, bytes + '\n', NewFileAccess::OwnerOnly);
    if (!stored)
        logProblem(QStringLiteral("could not be stored in %1; kept until kingyo ends").arg(path));
    finish(stored ? Kept::Stored : Kept::NotStored, done);
}

void RefreshTokenKeeper::finish(Kept kept, const Done &done)
{
    if (done)
        QMetaObject::invokeMethod(this, [kept, done] { done(kept); }, Qt::QueuedConnection);
}

void RefreshTokenKeeper::forget()
{
    token_.clear();
    withheld_ = false;
    removeTokenFile(filePath());
    const PasswordPlace place = readPasswordPlace(paths_);
    if (store_ && place.isKeyring())
        store_->remove(refreshKey(place.keyringId), this, [](const SecretStore::Result &) {});
}

} // namespace kingyo
