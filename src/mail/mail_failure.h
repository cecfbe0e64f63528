#pragma once
#include <QString>
#include <QStringList>
#include <string_view>

namespace kingyo {

// What went wrong in a mail library call, finer than its failure code: each problem has
// a sentence of its own where the failure is shown to the user.
enum class MailProblem {
    None,
    UnreadableServerField,  // facts: the field
    CouldNotConnect,        // facts: host, port, the transport's words
    HostNotFound,           // facts: host, port
    ConnectionRefused,      // facts: host, port
    NetworkUnreachable,     // facts: host, port
    ConnectSilent,          // facts: host, port, seconds
    UserRejected,
    LoginRejected,
    ApopUnavailable,
    NoGreeting,
    NotPop3,
    TlsFailed,              // facts: the TLS library's reasons
    StlsRefused,
    CertificateUnknown,     // facts: host, port, SHA-256 fingerprint (hex); the user may trust it
    CertificateAwaitsUser,  // as CertificateUnknown, met by a check that may not ask: the next 受信 asks
    CertificateChanged,     // facts: host, port, SHA-256 fingerprint (hex) of the new certificate
    EncryptionWithdrawn,    // facts: host, port; the server offered STLS (or STARTTLS) before
    Silent,                 // facts: seconds
    TooLong,                // facts: seconds (the whole check's budget)
    ClosedByServer,
    ConnectionLost,         // facts: the transport's words
    ReplyOverrun,
    StatRefused,
    CountUnreadable,
    ListRefused,
    ListUnreadable,
    ListMismatch,           // facts: the count, the listed number ("more" when past it)
    SizeUnreadable,         // facts: message number
    UidlRefused,            // the server keeps no unique IDs
    UidlUnreadable,         // the unique-ID list is malformed or does not match the count
    TooManyIds,             // facts: how many IDs new-only counting keeps at most; the server lists more
    MessageRefused,         // facts: message number
    NoSuchMessage,          // facts: message number
    NotLoggedIn,
    NoLoginPossible,
    UnknownHandle,          // facts: handle
    UnsafeCredentials,
    Abandoned,              // the program is ending
    NotImap,                // the server's bytes are not shaped like IMAP, or answer what was not asked
    StartTlsRefused,
    LoginDisabled,          // no password without TLS, and no TLS offered
    MailboxRefused,         // facts: mailbox
    CommandRefused,         // facts: the command
    ImapReplyUnreadable,    // facts: the command whose answer is malformed
    IdleUnsupported,        // the server does not list IDLE
    NoMailboxSelected,
    TokenRejected,          // the server refused the access token (expired or revoked); its words: the JSON it sent
    TokenLoginUnavailable,  // a token to log in with, but the server offers neither OAUTHBEARER nor XOAUTH2
    KeyringLocked,          // the password is kept in the keyring, which is locked or does not answer
    SignInAgain,            // the provider refused the refresh token (revoked, expired): only a new browser sign-in helps
    SignInFailed,           // the browser sign-in gave no tokens; the provider's words: its error JSON or text
    TokenServiceUnavailable, // the provider could not be reached, or the server could not check the token now: retryable
    UnsafeSignInAddress,    // facts: the address; a sign-in address neither https nor plainly this machine's: nothing was sent
    SignInUnanswered,       // facts: minutes; the browser never came back to the sign-in
};

// The failure code the mail library returns for a problem (see pop3_failure.h).
int failureCode(MailProblem problem);

// A failure as a value: its problem, the particulars its sentence names, and the
// server's own words kept apart (cleaned, never holding the password; empty when the
// server said nothing). The sentence the user reads is put together by the window that
// shows it.
struct MailFailure {
    MailProblem problem = MailProblem::None;
    QStringList facts;
    QString serverText;

    int code() const { return failureCode(problem); }
    bool operator==(const MailFailure &) const = default;
};

// The server's words as a failure may carry them: each secret (the password, and
// every form it was sent in) replaced by "***", control characters blanked, runs of
// white space made one, cut to 200 characters.
QString cleanServerText(std::string_view text, const QStringList &secrets);

} // namespace kingyo
