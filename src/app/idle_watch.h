#pragma once

namespace kingyo {
class MailSecret;
}

namespace kingyo {

struct Program;
class ImapWatcher;
class WakeSignals;

// New mail the moment it arrives: while checks by themselves are on and the server field
// names an IMAP server with a complete account (or one that signs in through the browser), the watcher waits in IDLE, and mail it
// hears of starts a check at once, shown as the timer's checks are (only when it finds
// mail, and told to the desktop). A connection made anew after a loss starts one too
// when only new mail is counted (otherwise the unread would be announced again). The
// timer's checks go on as a safety net. The machine's resume and the network's return
// make the connection anew at once.
void wireIdleWatch(Program &program, ImapWatcher &watcher, WakeSignals &wake);
// Starts, restarts or stops the watcher to match the settings in use; an account that
// signs in through the browser is watched once its access token is at hand.
void updateIdleWatch(Program &program);
// Watches the account that signs in through the browser with this access token, when
// checks by themselves are on and the server is an IMAP one; the connection of the same
// account stays, the token going with its next login.
void watchWithToken(Program &program, const MailSecret &token);

} // namespace kingyo
