#include "settings/password_keeper.h"

#include "settings/app_paths.h"

#include <QFileInfo>

#include <cstdio>

namespace kingyo {
namespace {

using Outcome = SecretStore::Outcome;
using MoveFailure = PasswordKeeper::MoveFailure;

const QString kPasswordKind = QStringLiteral("password");
const QString kLockProbeKey = SecretStore::lockProbeKey();

QString passwordKey(const QString &keyringId) { return accountSecretKey(kPasswordKind, keyringId); }

MoveFailure moveFailureOf(const SecretStore::Result &result)
{
    switch (result.outcome) {
    case Outcome::Locked:
        return MoveFailure::Locked;
    case Outcome::NoService:
        return MoveFailure::NoService;
    case Outcome::Done:
    case Outcome::NotFound:
        break;
    }
    return MoveFailure::NotKept;
}

void logKeyringProblem(const SecretStore::Result &result)
{
    if (!result.why.isEmpty() && result.outcome != Outcome::NotFound)
        std::fprintf(stderr, "kingyo: keyring: %s\n", qPrintable(result.why));
}

} // namespace

PasswordKeeper::PasswordKeeper(const AppPaths &paths, QObject *parent) : QObject(parent), paths_(paths) {}

bool PasswordKeeper::wantsKeyring() const
{
    return readPasswordPlace(paths_).wantsKeyring(paths_.installed);
}

bool PasswordKeeper::keptInKeyring(const Account &file, const PasswordPlace &place) const
{
    return place.isKeyring() && file.password.isEmpty();
}

Account PasswordKeeper::stored() const
{
    if (saving_)
        return *saving_;
    Account file = readAccount(paths_);
    if (readSignIn(paths_)) {
        file.password.clear(); // the account signs in through the browser: no password in use
        return file;
    }
    const PasswordPlace place = readPasswordPlace(paths_);
    if (keptInKeyring(file, place) && kept_ && kept_->keyringId == place.keyringId)
        file.password = kept_->password.value_or(QString());
    return file;
}

bool PasswordKeeper::withheld() const
{
    const PasswordPlace place = readPasswordPlace(paths_);
    return !saving_ && keptInKeyring(readAccount(paths_), place) && !(kept_ && kept_->keyringId == place.keyringId)
        && !readSignIn(paths_);
}

void PasswordKeeper::enqueue(Step step)
{
    queue_.push_back(std::move(step));
    if (!busy_)
        next();
}

void PasswordKeeper::next()
{
    if (queue_.empty()) {
        setBusy(false);
        return;
    }
    setBusy(true);
    const Step step = std::move(queue_.front());
    queue_.pop_front();
    step();
}

void PasswordKeeper::setBusy(bool busy)
{
    if (std::exchange(busy_, busy) != busy)
        emit stateChanged();
}

void PasswordKeeper::noteKeyring(const SecretStore::Result &result)
{
    logKeyringProblem(result);
    const Keyring now = result.outcome == Outcome::NoService ? Keyring::Absent : Keyring::Answers;
    if (std::exchange(keyring_, now) != now)
        emit stateChanged();
}

void PasswordKeeper::failMove(MoveFailure failure)
{
    emit moveFailed(failure);
    next();
}

void PasswordKeeper::start()
{
    if (!store_) {
        keyring_ = Keyring::Absent;
        emit stateChanged();
        return;
    }
    enqueue([this] { settle(); });
}

void PasswordKeeper::settle()
{
    const PasswordPlace place = readPasswordPlace(paths_);
    if (keptInKeyring(readAccount(paths_), place)) {
        readKept(place.keyringId, [this] { next(); });
        return;
    }
    // Any read tells whether the keyring answers.
    store_->read(kLockProbeKey, this, [this](const SecretStore::Result &result) {
        noteKeyring(result);
        if (keyring_ == Keyring::Answers && wantsKeyring() && !readAccount(paths_).password.isEmpty())
            moveIn();
        else
            next();
    });
}

void PasswordKeeper::lookUp(const QString &keyringId, Answer answer)
{
    // A locked keyring whose unlock prompt was dismissed reads as empty.
    store_->readTellingLocked(passwordKey(keyringId), this, std::move(answer));
}

void PasswordKeeper::readKept(const QString &keyringId, Step then)
{
    lookUp(keyringId, [this, keyringId, then](const SecretStore::Result &result) {
        noteKeyring(result);
        if (result.outcome == Outcome::Done)
            kept_ = Kept{keyringId, result.secret};
        else if (result.outcome == Outcome::NotFound)
            kept_ = Kept{keyringId, std::nullopt};
        else
            kept_.reset();
        emit passwordChanged();
        then();
    });
}

// The entry holds no password in use (the file keeps it, or names another entry), so a
// copy that failed is removed: a write the keyring answered too late may still land.
void PasswordKeeper::copyIntoKeyring(const QString &keyringId, const QString &password, Moved then)
{
    const QString key = passwordKey(keyringId);
    const auto fail = [this, keyringId, then](const SecretStore::Result &result) {
        const MoveFailure failure = moveFailureOf(result);
        if (result.outcome == Outcome::Locked)
            return then(failure); // nothing was written
        dropKeyringCopy(keyringId, [then, failure] { then(failure); });
    };
    store_->write(key, password, this, [this, key, password, then, fail](const SecretStore::Result &written) {
        noteKeyring(written);
        if (written.outcome != Outcome::Done)
            return fail(written);
        store_->read(key, this, [password, then, fail](const SecretStore::Result &back) {
            if (back.outcome != Outcome::Done || back.secret != password)
                return fail(back);
            then(std::nullopt);
        });
    });
}

void PasswordKeeper::dropKeyringCopy(const QString &keyringId, Step then)
{
    store_->remove(passwordKey(keyringId), this, [then](const SecretStore::Result &removed) {
        logKeyringProblem(removed);
        then();
    });
}

void PasswordKeeper::moveIn()
{
    const PasswordPlace place = readPasswordPlace(paths_);
    const QString keyringId = place.isKeyring() ? place.keyringId : newKeyringId();
    const QString password = readAccount(paths_).password;
    if (password.isEmpty()) {
        if (!place.isKeyring() && !writePasswordPlace(paths_, PasswordPlace::keyring(keyringId), {}))
            return failMove(MoveFailure::FileNotWritten);
        emit stateChanged();
        return next();
    }
    copyIntoKeyring(keyringId, password, [this, keyringId, password](std::optional<MoveFailure> failure) {
        if (failure)
            return failMove(*failure);
        // Only the password just copied is blanked: the file may have been changed meanwhile.
        if (readAccount(paths_).password != password)
            return next();
        if (const WriteResult named = writePasswordPlace(paths_, PasswordPlace::keyring(keyringId), password);
            !named) {
            // Each start tries again; the user may free the disk meanwhile.
            std::fprintf(stderr, "kingyo: the password stays in the settings file: %s\n", qPrintable(named.failure));
            return dropKeyringCopy(keyringId, [this] { failMove(MoveFailure::FileNotWritten); });
        }
        kept_ = Kept{keyringId, password};
        emit stateChanged();
        emit passwordChanged();
        next();
    });
}

void PasswordKeeper::moveOut()
{
    const PasswordPlace place = readPasswordPlace(paths_);
    const Account file = readAccount(paths_);
    // Drops the keyring's copy once the file holds the password (or a newer one).
    const auto noteFileAndDropKeyringCopy = [this, place](const QString &password) {
        if (!writePasswordPlace(paths_, PasswordPlace::file(), password)
            || readAccount(paths_).password != password)
            return failMove(MoveFailure::FileNotWritten);
        emit stateChanged();
        if (!place.isKeyring())
            return next();
        store_->remove(passwordKey(place.keyringId), this, [this](const SecretStore::Result &removed) {
            logKeyringProblem(removed);
            kept_.reset();
            emit passwordChanged();
            next();
        });
    };
    if (!keptInKeyring(file, place))
        return noteFileAndDropKeyringCopy(file.password);
    lookUp(place.keyringId, [this, noteFileAndDropKeyringCopy](const SecretStore::Result &found) {
        noteKeyring(found);
        if (found.outcome == Outcome::NotFound)
            return noteFileAndDropKeyringCopy({});
        if (found.outcome != Outcome::Done)
            return failMove(moveFailureOf(found));
        if (!fitsAccountFile(found.secret))
            return failMove(MoveFailure::TooLongForFile);
        noteFileAndDropKeyringCopy(found.secret);
    });
}

void PasswordKeeper::choose(PasswordPlace::Kind place)
{
    if (!store_)
        return;
    enqueue([this, place] {
        if (place == PasswordPlace::Keyring)
            moveIn();
        else
            moveOut();
    });
}

WriteResult PasswordKeeper::save(const Account &account)
{
    // The keyring only beside a file that can say so.
    if (keyring_ != Keyring::Answers || !wantsKeyring() || !QFileInfo(paths_.dataDir()).isDir())
        return writeAccount(paths_, account, true);
    if (account.password.isEmpty()) {
        const PasswordPlace place = readPasswordPlace(paths_);
        return writeAccount(paths_, account, true,
                            PasswordPlace::keyring(place.isKeyring() ? place.keyringId : newKeyringId()));
    }
    saving_ = account;
    emit passwordChanged();
    // A new entry: the one the file names keeps the old password until the file names this one.
    enqueue([this, account, keyringId = newKeyringId()] { saveIntoKeyring(account, keyringId); });
    return {};
}

void PasswordKeeper::saveIntoKeyring(const Account &account, const QString &keyringId)
{
    copyIntoKeyring(keyringId, account.password, [this, account, keyringId](std::optional<MoveFailure> failure) {
        if (!failure)
            return noteAccountSaved(account, keyringId);
        saving_.reset();
        if (const WriteResult stored = writeAccount(paths_, account, true); !stored)
            emit saveFailed(account, stored.failure);
        emit stateChanged();
        emit passwordChanged();
        next();
    });
}

void PasswordKeeper::noteAccountSaved(const Account &account, const QString &keyringId)
{
    const PasswordPlace old = readPasswordPlace(paths_);
    const WriteResult stored = writeAccount(paths_, account, true, PasswordPlace::keyring(keyringId));
    saving_.reset();
    if (stored)
        kept_ = Kept{keyringId, account.password};
    const auto done = [this, account, stored] {
        if (!stored)
            emit saveFailed(account, stored.failure);
        emit stateChanged();
        emit passwordChanged();
        next();
    };
    // The entry the file no longer names, or the one it could not name.
    const QString unused = stored ? old.keyringId : keyringId;
    if (unused.isEmpty())
        return done();
    dropKeyringCopy(unused, done);
}

void PasswordKeeper::reread(std::function<void()> then)
{
    enqueue([this, then = std::move(then)] {
        if (!store_ || !withheld()) {
            then();
            return next();
        }
        readKept(readPasswordPlace(paths_).keyringId, [this, then] {
            then();
            next();
        });
    });
}

} // namespace kingyo
