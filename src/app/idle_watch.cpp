#include "app/idle_watch.h"

#include "app/browser_sign_in.h"
#include "app/mail_check_windows.h"
#include "app/program.h"
#include "mail/auth/access_token_source.h"
#include "mail/imap/imap_watcher.h"
#include "mail/mail_check.h"
#include "mail/mail_server_address.h"
#include "mail/wake_signals.h"

namespace kingyo {

void wireIdleWatch(Program &program, ImapWatcher &watcher, WakeSignals &wake)
{
    program.imapWatcher = &watcher;
    QObject::connect(&watcher, &ImapWatcher::mailArrived, &watcher, [&program] { runMailCheckForNewMail(program); });
    QObject::connect(&watcher, &ImapWatcher::reconnected, &watcher, [&program] {
        if (program.settings.mailWatch().countNewOnly)
            runMailCheckForNewMail(program);
    });
    QObject::connect(&wake, &WakeSignals::woke, &watcher, &ImapWatcher::wake);
    // The keyring gives the password later than the files.
    QObject::connect(&program.settings.passwords(), &PasswordKeeper::passwordChanged, &watcher,
                     [&program] { updateIdleWatch(program); });
    // A refused token is dropped; the watch starts again with the next one refreshed.
    QObject::connect(&watcher, &ImapWatcher::stopped, &watcher, [&program](const MailFailure &failure) {
        if (failure.problem == MailProblem::TokenRejected)
            dropRejectedAccessToken(program);
    });
    // A refreshed token goes with the next login; the connection stays.
    if (program.accessTokens)
        QObject::connect(program.accessTokens.get(), &AccessTokenSource::refreshed, &watcher,
                         [&program](const MailSecret &token) { watchWithToken(program, token); });
}

namespace {

// The IMAP server to watch while checks by themselves are on; nothing otherwise.
std::optional<MailServerAddress> addressToWatch(const Program &program)
{
    const auto address = parseMailServerAddress(program.settings.state().pop3Server);
    if (program.settings.mailWatch().intervalMinutes <= 0 || !address
        || address->protocol != MailServerAddress::Protocol::Imap)
        return std::nullopt;
    return address;
}

} // namespace

void updateIdleWatch(Program &program)
{
    ImapWatcher *watcher = program.imapWatcher;
    if (!watcher)
        return;
    const auto address = addressToWatch(program);
    if (address && program.settings.signIn() && program.accessTokens && program.accessTokens->signedIn()) {
        // A failure stops nothing here: the timer's checks tell it.
        program.accessTokens->fetch(QDeadlineTimer(MailCheck::kBudget),
                                    [&program](const MailSecret &token, const MailFailure &failure) {
                                        if (failure.problem == MailProblem::None)
                                            watchWithToken(program, token);
                                    });
        return;
    }
    const Account account = program.settings.accountForCheck();
    if (!address || program.settings.signIn() || !isComplete(account)) {
        watcher->stop();
        return;
    }
    watcher->watch(*address, account.userId, account.password);
}

void watchWithToken(Program &program, const MailSecret &token)
{
    const auto address = addressToWatch(program);
    if (program.imapWatcher && address && program.settings.signIn())
        program.imapWatcher->watch(*address, program.settings.passwords().stored().userId, token);
}

} // namespace kingyo
