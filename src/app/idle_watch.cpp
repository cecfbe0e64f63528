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
    // A watch stopped for its sign-in starts again once a token comes by other ways.
    if (program.accessTokens)
        QObject::connect(program.accessTokens.get(), &AccessTokenSource::refreshed, &watcher,
                         [&program] { updateIdleWatch(program); });
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

// The access token for each of the watcher's logins: fresh (renewed when near its end);
// one the server refused is dropped first, so that the provider is asked.
SecretSource accessTokenFor(Program &program)
{
    return [&program](bool refused, SecretAnswer answer) {
        if (refused)
            dropRejectedAccessToken(program);
        if (program.settings.refreshToken().withheld())
            return answer({}, {MailProblem::KeyringLocked, {}, {}});
        program.accessTokens->fetch(QDeadlineTimer(MailCheck::kBudget), std::move(answer));
    };
}

} // namespace

void updateIdleWatch(Program &program)
{
    ImapWatcher *watcher = program.imapWatcher;
    if (!watcher)
        return;
    const auto address = addressToWatch(program);
    if (address && program.settings.signIn() && program.accessTokens && program.accessTokens->signedIn()) {
        watcher->watch(*address, program.settings.passwords().stored().userId, accessTokenFor(program));
        return;
    }
    const Account account = program.settings.accountForCheck();
    if (!address || program.settings.signIn() || !isComplete(account)) {
        watcher->stop();
        return;
    }
    watcher->watch(*address, account.userId, account.password);
}

} // namespace kingyo
