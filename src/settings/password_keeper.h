#pragma once
#include "settings/account_file.h"
#include "settings/secret_store.h"

#include <QObject>
#include <deque>
#include <functional>
#include <optional>

namespace kingyo {

struct AppPaths;

// The account's password where the user wants it: in the account file, or in the
// keyring with the file's "NAME2" left blank (see PasswordPlace). Unless the file names
// a place, an installed copy wants the keyring and a portable copy the file.
//
// A password moves only by steps that leave it whole in one place at least, wherever
// they stop: into the keyring, it is written there and read back before the file's copy
// is blanked, in one write that also names the place; out of it, the file is written
// and read back before the keyring's copy is removed. A new password saved to the
// keyring goes to an entry of its own, which the file then names beside the new user
// ID, in one write, before the old entry is removed: the file always names an entry
// holding its password. A step cut short leaves at most an unused copy in the keyring;
// a step that fails removes the copy it made.
//
// The keyring answers later, so its password is kept in memory once read. Requests run
// one at a time, in the order made; nothing waits for the keyring.
class PasswordKeeper : public QObject {
    Q_OBJECT
public:
    enum class Keyring { Unknown, Answers, Absent };
    Q_ENUM(Keyring)
    // Why a move did not happen; the password stayed where it was.
    enum class MoveFailure { Locked, NoService, NotKept, FileNotWritten, TooLongForFile };
    Q_ENUM(MoveFailure)

    explicit PasswordKeeper(const AppPaths &paths, QObject *parent = nullptr);

    // Without a store the keyring counts as absent: the file keeps everything.
    void useStore(const SecretStore *store) { store_ = store; }

    // Asks whether the keyring answers, then moves a password the user wants there from
    // the file, or reads the one kept there.
    void start();

    Keyring keyring() const { return keyring_; }
    // A request is under way.
    bool busy() const { return busy_; }
    bool wantsKeyring() const;
    // "NAME" and "NAME2", with the keyring's password when kept there (once read); while
    // an account is being saved, that account. No password while the account signs in
    // through the browser.
    Account stored() const;
    // The password is kept in the keyring, which has not given it: locked, not
    // answering, or not asked yet. Never while the account signs in through the browser.
    bool withheld() const;

    // The settings window's row: moves the password into the keyring or out of it, or
    // only notes the choice when there is no password to move. moveFailed() when the
    // password stays where it was.
    void choose(PasswordPlace::Kind place);
    // The account dialog's OK with the save box ticked: into the keyring when the user
    // wants it there and it answers, else into the file, as ever. A keyring that refuses
    // leaves it in the file, to be moved at a later start; an empty password leaves the
    // keyring's as it was. False, saying why, when the file could not be written at
    // once; a save through the keyring that cannot write the file says so later, by
    // saveFailed().
    WriteResult save(const Account &account);
    // Asks the keyring again for a withheld password, then calls `then`; at once when
    // nothing is withheld and nothing else is under way.
    void reread(std::function<void()> then);

signals:
    void stateChanged();    // keyring(), busy() or wantsKeyring() may have changed
    void passwordChanged(); // stored() may have changed
    void moveFailed(PasswordKeeper::MoveFailure failure);
    // A save through the keyring stored nothing, as the file could not be written (see
    // WriteResult); the keyring keeps no copy of the account's password.
    void saveFailed(const Account &account, const QString &why);

private:
    // What the keyring said of this copy's password; no password: none there.
    struct Kept {
        QString keyringId;
        std::optional<QString> password;
    };
    using Step = std::function<void()>;
    using Answer = SecretStore::Answer;
    using Moved = std::function<void(std::optional<MoveFailure>)>;

    void enqueue(Step step);
    void next();
    void setBusy(bool busy);
    void noteKeyring(const SecretStore::Result &result);
    void failMove(MoveFailure failure);

    void settle();
    void moveIn();
    void moveOut();
    void saveIntoKeyring(const Account &account, const QString &keyringId);
    void noteAccountSaved(const Account &account, const QString &keyringId);
    // Removes this copy's password entry of that name, which holds nothing in use.
    void dropKeyringCopy(const QString &keyringId, Step then);
    // Reads the password; an empty answer is told apart from a locked keyring.
    void lookUp(const QString &keyringId, Answer answer);
    void readKept(const QString &keyringId, Step then);
    // Writes the password and reads it back.
    void copyIntoKeyring(const QString &keyringId, const QString &password, Moved then);
    bool keptInKeyring(const Account &file, const PasswordPlace &place) const;

    const AppPaths &paths_;
    const SecretStore *store_ = nullptr;
    Keyring keyring_ = Keyring::Unknown;
    bool busy_ = false;
    std::deque<Step> queue_;
    std::optional<Kept> kept_;
    std::optional<Account> saving_;
};

} // namespace kingyo
