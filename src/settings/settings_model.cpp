#include "settings/settings_model.h"

#include "settings/server_file.h"
#include "settings/settings_option.h"

namespace kingyo {

bool isComplete(const Account &account) { return !account.userId.isEmpty() && !account.password.isEmpty(); }

void SettingsModel::loadServerFile() { readServerFile(paths_.serverFile, state_); }

WriteResult SettingsModel::storeServer(const QString &smtp, const QString &pop3, const QString &mail, bool apop)
{
    state_.smtpServer = smtp;
    state_.pop3Server = pop3;
    state_.mailAddress = mail;
    state_.apopFlag = apop ? 1 : 0;
    return writeServerFile(paths_.serverFile, state_);
}

WriteResult SettingsModel::confirmAccount(const Account &account, bool save)
{
    state_.userId = account.userId;
    state_.userPass = account.password;
    if (isComplete(account))
        confirmed_ = account;
    return save ? passwords_.save(account) : writeAccount(paths_, account, false);
}

Account SettingsModel::accountForCheck() const
{
    const Account stored = passwords_.stored();
    if (!isComplete(stored) && confirmed_ && !signIn())
        return *confirmed_;
    return stored;
}

void SettingsModel::loadHangUpOption()
{
    const int stored = readHangupOption(paths_);
    if (stored == 0 || stored == 1)
        hangUp_ = stored == 1;
}

WriteResult SettingsModel::storeOptions() const
{
    const bool mailWatchChanged = readMailWatchOptions(paths_) != mailWatch_;
    return writeOptionFile(paths_, hangUp_, mailWatchChanged ? std::optional(mailWatch_) : std::nullopt);
}

} // namespace kingyo
