#include "app/idle_watch.h"

#include "app/mail_check_windows.h"
#include "app/program.h"
#include "mail/imap/imap_watcher.h"
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
}

void updateIdleWatch(Program &program)
{
    ImapWatcher *watcher = program.imapWatcher;
    if (!watcher)
        return;
    const auto address = parseMailServerAddress(program.settings.state().pop3Server);
    const Account account = program.settings.accountForCheck();
    if (program.settings.mailWatch().intervalMinutes <= 0 || !address
        || address->protocol != MailServerAddress::Protocol::Imap || !isComplete(account)) {
        watcher->stop();
        return;
    }
    watcher->watch(*address, account.userId, account.password);
}

} // namespace kingyo
