#pragma once
#include "settings/settings_storage.h"
#include "settings/sign_in.h"

#include <QString>
#include <optional>

namespace kingyo {

struct AppPaths;

// The POP3 account kept in the account file (section "EXEINI").
struct Account {
    QString userId;   // key "NAME"
    QString password; // key "NAME2", plain text; blank while the keyring keeps it
};

// Where the user wants the password kept: key "KEYRING" of the account file. "0" is the
// file; any other value is the keyring, and names this copy's secrets there, so that
// copies with the same user ID never share (or overwrite) one. The file's "NAME2" is
// blank while the keyring holds the password.
struct PasswordPlace {
    enum Kind { Unchosen, File, Keyring };
    Kind kind = Unchosen;
    QString keyringId; // Keyring only

    static PasswordPlace file() { return {File, {}}; }
    static PasswordPlace keyring(const QString &id) { return {Keyring, id}; }
    bool isKeyring() const { return kind == Keyring; }
    // Whether the user wants the keyring: as the file says, else an installed copy does
    // and a portable one does not.
    bool wantsKeyring(bool installed) const { return kind == Unchosen ? installed : isKeyring(); }
};

// A missing file, section or key gives an empty text; values are cut to 255 bytes.
Account readAccount(const AppPaths &paths);

// Unchosen when the file names no place.
PasswordPlace readPasswordPlace(const AppPaths &paths);

// As the account dialog's OK stores it: with the save box ticked "NAME", "NAME2" and
// "NAME3" = "1"; unticked only "NAME3" = "0", so an account stored earlier stays. Saved
// to the keyring, "NAME2" is left blank and the place written with it. A password given
// ends a sign-in through the browser ("OAUTH" blanked). One write with every key, or
// nothing; the file is left readable by its owner only. False, saying why, when nothing
// was stored.
WriteResult writeAccount(const AppPaths &paths, const Account &account, bool save,
                  const PasswordPlace &place = PasswordPlace());

// Writes the place with the file's copy of the password, in one write: "NAME2" holds
// the password in the file and is blank in the keyring. An empty password writes the
// place alone. False, saying why, when nothing was stored.
WriteResult writePasswordPlace(const AppPaths &paths, const PasswordPlace &place, const QString &password);

// How the account signs in through the browser: keys "OAUTH" ("google", "microsoft" or
// "other"), "OAUTHAUTHURL", "OAUTHTOKENURL", "OAUTHSCOPE", "OAUTHCLIENT" and
// "OAUTHSECRET". Nothing for a password account ("OAUTH" missing, empty or naming no
// provider kingyo knows). A known provider's addresses and scope are always its own, so
// a changed file cannot send its codes elsewhere; its client ID and secret are the
// file's, else the ones built in.
std::optional<SignIn> readSignIn(const AppPaths &paths);

// A sign-in that succeeded, in one write: its keys, "NAME" = the mail address and "NAME2"
// blanked, as the account has no password any more. False,
// and nothing stored, when the file could not be written or a value would not read back
// the same (see fitsAccountFile()).
bool writeSignIn(const AppPaths &paths, const SignIn &signIn, const QString &mailAddress);

// Whether the file can hold the password (or another value) so that it reads back the
// same (at most 255 bytes, on one line).
bool fitsAccountFile(const QString &password);

} // namespace kingyo
