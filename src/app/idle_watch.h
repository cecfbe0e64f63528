#pragma once

namespace kingyo {

struct Program;
class ImapWatcher;
class WakeSignals;

// New mail the moment it arrives: while checks by themselves are on and the server field
// names an IMAP server with a complete account (or one that signs in through the browser),
// the watcher waits in IDLE, and mail it hears of starts a check at once, shown as the
// timer's checks are (only when it finds mail, and told to the desktop). A connection made
// anew after a loss starts one too when only new mail is counted (otherwise the unread
// would be announced again). The timer's checks go on as a safety net. The machine's
// resume and the network's return make the connection anew at once.
void wireIdleWatch(Program &program, ImapWatcher &watcher, WakeSignals &wake);
// Starts, restarts or stops the watcher to match the settings in use. An account that
// signs in through the browser gets a fresh access token before each of the watcher's
// logins (renewed at once when the server refused the last).
void updateIdleWatch(Program &program);

} // namespace kingyo
