#pragma once
#include "settings/account_file.h"
#include "settings/app_paths.h"
#include "settings/password_keeper.h"
#include "settings/refresh_token_keeper.h"
#include "settings/settings_option.h"
#include "settings/shared_state.h"

#include <optional>

namespace kingyo {

// The live settings of one run: the server fields, the account in use and the hang-up
// option, with the files (and the keyring) they are kept in. The dialogs and the
// settings window's box edit it; start-up and the mail check read it.
class SettingsModel {
public:
    explicit SettingsModel(AppPaths paths = {}) : paths_(std::move(paths)) {}
    SettingsModel(const SettingsModel &) = delete;
    SettingsModel &operator=(const SettingsModel &) = delete;

    const AppPaths &paths() const { return paths_; }
    void setPaths(AppPaths paths) { paths_ = std::move(paths); }

    SharedState &state() { return state_; }
    const SharedState &state() const { return state_; }

    // The server file into the server fields; a missing file leaves them as they are.
    void loadServerFile();
    // Copies the server dialog's fields in and rewrites the server file; false when the
    // file could not be stored, saying why (the fields are set all the same).
    WriteResult storeServer(const QString &smtp, const QString &pop3, const QString &mail, bool apop);

    // Where the password is kept, the file or the keyring, and the moves between them.
    PasswordKeeper &passwords() { return passwords_; }
    const PasswordKeeper &passwords() const { return passwords_; }

    // The account dialog's OK: the account becomes the one in use and is stored as the
    // save box says (the password where the user keeps it). A complete account confirmed
    // this way is remembered for the run, so a user who keeps the password off the disk
    // can still check mail. False, saying why, when the file could not be written at once
    // (a save into the keyring ends later: see PasswordKeeper::saveFailed()).
    WriteResult confirmAccount(const Account &account, bool save);
    // The account a mail check logs in with: the stored one when it is complete, else
    // the one confirmed in the dialog since start-up when that is complete, else the
    // stored one as it is (which sends the check to the account dialog, unless the
    // keyring withholds the password). An account that signs in through the browser is
    // the stored one: its mail address, no password.
    Account accountForCheck() const;
    // The stored password is in the keyring, which has not given it (see PasswordKeeper).
    bool passwordWithheld() const { return passwords_.withheld(); }

    // How the account signs in through the browser; nothing for a password account.
    std::optional<SignIn> signIn() const { return readSignIn(paths_); }
    // The sign-in's refresh token, in the keyring or its own file.
    RefreshTokenKeeper &refreshToken() { return refreshToken_; }
    const RefreshTokenKeeper &refreshToken() const { return refreshToken_; }

    // Ticked: every mail check hangs up the dial-up connections afterwards.
    bool hangUpAfterCheck() const { return hangUp_; }
    void setHangUpAfterCheck(bool hangUp) { hangUp_ = hangUp; }
    // The stored option into the live one; values other than 0 and 1 leave it alone.
    void loadHangUpOption();

    // The mail watcher's options (count only new mail, checks by themselves, notification).
    const MailWatchOptions &mailWatch() const { return mailWatch_; }
    void setMailWatch(const MailWatchOptions &options) { mailWatch_ = options; }
    void loadMailWatchOptions() { mailWatch_ = readMailWatchOptions(paths_); }

    // The settings window's close, in one write of the option file: the hang-up option,
    // and the mail watcher's options only when they differ from the file's, so a file
    // whose user never changed them keeps those lines as they were; false, saying why,
    // when not stored.
    WriteResult storeOptions() const;

private:
    AppPaths paths_;
    PasswordKeeper passwords_{paths_};
    RefreshTokenKeeper refreshToken_{paths_};
    SharedState state_;
    std::optional<Account> confirmed_;
    bool hangUp_ = false;
    MailWatchOptions mailWatch_;
};

// Both fields hold something.
bool isComplete(const Account &account);

} // namespace kingyo
