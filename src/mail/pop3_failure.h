#pragma once

namespace kingyo::pop3 {

// Failure results of the mail library: each calls for a different remedy, so
// each has its own code. -1 is also what connect() returns on any failure.
enum Failure : int {
    kCouldNotConnect = -1,   // name not found, refused, unreachable, bad server field
    kLoginRejected = -2,     // the server refused the user ID, password or access token
    kApopUnavailable = -3,   // APOP asked, but the greeting carries no timestamp
    kProtocolError = -4,     // the server's replies make no sense
    kTlsFailure = -5,        // handshake or certificate check failed, or STLS refused
    kTimeout = -6,           // the server stopped answering
    kConnectionLost = -7,    // the server closed the connection
    kServerError = -8,       // the server answered -ERR to a mailbox command
    kNoSuchMessage = -9,     // message number outside 1..n
    kNotConnected = -10,     // unknown handle, or not logged in yet
    kUnsafeCredentials = -11, // user ID or password holds a line break
    kTooLong = -12,          // the whole check ran past its time budget
    kAbandoned = -13,        // the program is ending; nothing is shown for it
    kTokenLoginUnavailable = -14 // a token to log in with, but the server takes none
};

} // namespace kingyo::pop3
