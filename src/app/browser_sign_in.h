#pragma once
#include <functional>

namespace kingyo {

struct Program;

// The account's sign-in through the browser in the running program. The program gets
// its network access and its access-token source, fed with the stored sign-in and
// refresh token once they are read (a refresh token the provider rotates is stored
// again); the settings window's button opens the sign-in dialog, whose OK starts a
// browser sign-in; the address the browser is sent to is shown in the dialog, and a
// browser that cannot be opened leaves the wait going. Once signed in, the sign-in and
// the mail address are stored in one write with the refresh token beside them (a
// provider that gives none leaves the one held for this same sign-in and address), a
// known provider's mail server goes into the server field, the IDLE watch follows and a
// check runs; a refresh token that could not be stored is said in the dialog. A failure
// is told in the dialog; cancelling it drops the sign-in under way. A password given in
// the account dialog ends the sign-in, and the refresh token is dropped with it.
void wireSignIn(Program &program);

// The settings window's button: the sign-in dialog, filled with the stored sign-in (a
// known provider's when there is none) and the account's mail address.
void showSignInDialog(Program &program);

// A password given in the account dialog ended the sign-in: its tokens go too.
void dropEndedSignIn(Program &program);

// The server refused the access token before its time (access revoked, say): it is not
// offered again, the next use asking the provider, which then says whether to sign in
// again.
void dropRejectedAccessToken(Program &program);

// The stored sign-in and refresh token into the access-token source (none: it holds
// nothing).
void useStoredSignIn(Program &program);

// Asks the keyring again for a refresh token it withheld, then calls `then`; at once
// when nothing is withheld.
void rereadRefreshToken(Program &program, const std::function<void()> &then);

} // namespace kingyo
