#pragma once
#include "mail/auth/bearer_sasl.h"
#include "mail/auth/mail_secret.h"
#include "mail/imap/imap_response_reader.h"
#include "mail/mail_failure.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <deque>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace kingyo {

struct ImapLogin {
    QString user; // the mail address for an access token
    MailSecret secret;
    bool encrypted = false; // the connection speaks TLS from the start (imaps)
    // The server was once seen offering STARTTLS: a plain dialogue without it now is
    // refused before the password goes out (someone between us may have struck it).
    bool startTlsSeenBefore = false;
};

struct ImapMailboxStatus {
    std::int64_t messages = -1, unseen = -1, uidNext = -1, uidValidity = -1; // -1: not told
};

// A search for the unread messages of the selected mailbox, and what STATUS told of it,
// which no true answer contradicts.
struct UnseenSearch {
    std::uint32_t fromUid = 0;      // UID fromUid:* (none for 0 or 1)
    std::uint32_t firstMessage = 0; // and the messages firstMessage:lastMessage by position (none for 0)
    std::uint32_t lastMessage = 0;
    ImapMailboxStatus told;         // uidNext and unseen bound the answer (-1: no bound)
};

// What the session has to say, in the order it happened. Every request (logIn,
// status, examine, searchUnseen, fetchHeaders, idle, noop, logout) is answered by
// exactly one event of its kind: result >= 0 on success, else a code from
// pop3_failure.h with the failure beside it. StartTls, Idling and MailboxChanged
// answer nothing.
struct ImapEvent {
    enum class Kind {
        StartTls,       // STARTTLS agreed: hand the connection to TLS now, then tlsStarted()
        LoggedIn,       // result 0, or kLoginRejected, kTlsFailure, kUnsafeCredentials, ...
        StatusRead,     // result 0 with status, or kServerError (MailboxRefused, ImapReplyUnreadable), ...
        Examined,       // result 0 with status: messages from EXISTS, uidNext, uidValidity (unseen -1)
        Searched,       // result 0 with uids, ascending, once each, each >= the one asked from and
                        // below told.uidNext; more than told.unseen: kServerError (ImapReplyUnreadable)
        HeadersRead,    // result 0 with headers: (uid, header block of at most kHeaderBlockLimit bytes)
                        // for each message asked for that the server gave, in the server's order
        Idling,         // the server accepted IDLE: silence is normal until done()
        MailboxChanged, // "* n EXISTS" at any time (status.messages = n); during EXAMINE as well;
                        // "* m EXPUNGE" once a count is known (the count one less)
        IdleEnded,      // the IDLE's tagged OK after done(), or the failure
        NoopDone,
        Closed,         // LOGOUT answered (BYE or OK), or nothing more can come
    };
    Kind kind;
    std::int64_t result = 0;
    ImapMailboxStatus status;
    std::vector<std::uint32_t> uids;
    std::vector<std::pair<std::uint32_t, QByteArray>> headers;
    MailFailure failure;
};

inline bool answersRequest(const ImapEvent &event)
{
    using Kind = ImapEvent::Kind;
    return event.kind != Kind::StartTls && event.kind != Kind::Idling && event.kind != Kind::MailboxChanged;
}

// One IMAP dialogue without I/O: bytes from the server go in through feed(), the bytes
// to send come out of takeOutgoing() and what happened out of takeEvents(). One command
// is in flight at a time; requests made meanwhile wait their turn and are answered in
// the order they were made. A request that fails while the session lives (NO to a
// command, malformed data for it) answers kServerError. Once the session dies (a
// failure of the connection through fail(), bytes that are not IMAP, a tagged answer
// to a command not in flight, an unasked BYE, too much data) every open request and
// every later one is answered with that failure.
class ImapSession {
public:
    using Event = ImapEvent;
    // Bytes the server may send between two commands of ours, or during one (an IDLE
    // included), before it counts as flooding.
    static constexpr std::int64_t kReplyByteBudget = 64 << 20;
    // More UIDs than this from one SEARCH count as flooding too.
    static constexpr std::size_t kMaxSearchUids = 1 << 20;

    enum class State {
        Greeting,       // waiting for the server's first line
        Capabilities,   // CAPABILITY asked before the login
        StartTls,       // STARTTLS asked
        Handshake,      // the connection shakes hands; input is dropped
        Authenticating, // LOGIN or AUTHENTICATE sent, or CAPABILITY after it
        Ready,          // logged in; requests flow
        Idling,         // the server accepted IDLE and DONE has not gone out
        LoggingOut,     // LOGOUT sent
        Closed,         // nothing more to say or hear
        Failed,         // ended by a failure
    };

    // Begins the dialogue: waits for the greeting, learns the capabilities (from the
    // greeting's code, else CAPABILITY), upgrades with STARTTLS when offered on a plain
    // connection (StartTls event), logs in and learns the capabilities again. A password
    // goes with AUTHENTICATE PLAIN when offered, else LOGIN; an access token with
    // AUTHENTICATE OAUTHBEARER, else XOAUTH2 (kTokenLoginUnavailable,
    // TokenLoginUnavailable when the server lists neither, nothing sent), refused as
    // kLoginRejected with TokenRejected and the JSON the server sent as its words, or
    // with [UNAVAILABLE] as kNotConnected with TokenServiceUnavailable (retryable). The
    // first message rides on the command with SASL-IR. A PREAUTH greeting is a login
    // already made, nothing sent; in the clear where STARTTLS was seen before it is
    // refused as EncryptionWithdrawn. On a plain connection the secret never goes out when the
    // server lists LOGINDISABLED (LoginDisabled) or once offered STARTTLS and no longer
    // does (EncryptionWithdrawn). One per session; a second is answered with kNotConnected
    // (NoLoginPossible). A user or password holding CR, LF or NUL, or a token that
    // isSafeForBearer() refuses: kUnsafeCredentials, nothing sent. After a failed login
    // the session is Closed.
    void logIn(const ImapLogin &login);
    // The TLS handshake after StartTls succeeded: the capabilities are asked again, as
    // the ones in the clear prove nothing.
    void tlsStarted();
    // STATUS mailbox (MESSAGES UNSEEN UIDNEXT UIDVALIDITY). NO: MailboxRefused.
    void status(const QString &mailbox = QStringLiteral("INBOX"));
    // EXAMINE: selects the mailbox read-only, so nothing is ever marked. NO: MailboxRefused,
    // and no mailbox is selected any more.
    void examine(const QString &mailbox = QStringLiteral("INBOX"));
    // UID SEARCH UNSEEN in the selected mailbox, within the positions and from the UID
    // asked. UIDs at or past told.uidNext are dropped (mail that came since STATUS, or
    // none that can exist); more left than told.unseen is a broken answer: kServerError
    // (ImapReplyUnreadable, SEARCH) with the server's line as its words.
    // NoMailboxSelected at once without a selected mailbox.
    void searchUnseen(const UnseenSearch &search);
    // One UID FETCH of BODY.PEEK[HEADER.FIELDS (FROM SUBJECT)] for all of uids: never a
    // body, never \Seen. Answered at once with no headers for no UIDs (0 is none);
    // NoMailboxSelected at once without a selected mailbox.
    void fetchHeaders(const std::vector<std::uint32_t> &uids);
    // IDLE in the selected mailbox: Idling once the server accepts, MailboxChanged as
    // mail comes, IdleEnded after done(). IdleUnsupported / NoMailboxSelected at once
    // when the server did not list IDLE or no mailbox is selected.
    void idle();
    // Ends every IDLE asked for: DONE for the running one (at once, or as soon as the
    // server accepts it); one still waiting its turn is answered without being sent.
    void done();
    void noop();
    // LOGOUT, after done() for an IDLE still open; answered at once when not logged in.
    void logout();
    // The connection failed (or the program ends): the session is over.
    void fail(const MailFailure &failure);

    void feed(std::string_view bytes);
    QByteArray takeOutgoing();
    std::vector<ImapEvent> takeEvents();

    State state() const { return state_; }
    // Whether the server owes a reply: a connection's silence timer runs only then.
    // False while IDLE is established (silence is normal there) and when nothing was
    // asked; true during the TLS handshake.
    bool awaitsReply() const;
    // Whether the server listed IDLE (known once logged in).
    bool canIdle() const { return capabilities_.idle; }

private:
    using Kind = ImapEvent::Kind;

    struct Capabilities {
        bool startTls = false;
        bool loginDisabled = false;
        bool authPlain = false;
        bool saslIr = false;
        bool literalPlus = false;
        bool idle = false;
        BearerOffer bearer;
    };
    // A request and, once known, its answer; answers leave in request order.
    struct Request {
        std::uint64_t serial;
        Kind kind;
        QString mailbox;
        UnseenSearch search;
        std::vector<std::uint32_t> uids;
        bool started = false;
        bool doneAsked = false; // idle(): done() came
        std::optional<ImapEvent> answer;
    };
    enum class Verb { Greeting, Capability, StartTls, Login, Status, Examine, Search, Fetch, Idle, Noop, Logout };
    // The command in flight, and what the server said for it so far.
    struct Command {
        Verb verb = Verb::Greeting;
        QByteArray tag; // empty for the greeting
        std::uint64_t request = 0; // the request it answers (the login's for its steps)
        std::deque<QByteArray> rest; // parts sent one per continuation (literals, SASL)
        bool accepted = false;       // IDLE: the server's continuation came
        bool capabilitiesHeard = false;
        bool unreadable = false;
        std::optional<std::string> tokenRefusal; // the error a refused token was answered with
        std::string searchLine; // SEARCH: the server's answer, for a failure to quote
        ImapMailboxStatus status;
        std::vector<std::uint32_t> uids;
        std::vector<std::pair<std::uint32_t, QByteArray>> headers;
        std::vector<bool> given; // FETCH: which of the request's UIDs came
    };

    void setState(State state);
    bool acceptsInput() const;
    MailFailure failure(MailProblem problem, QStringList facts = {}, std::string_view serverText = {}) const;
    void die(const MailFailure &failure);

    static QString commandWord(Verb verb);
    Request &addRequest(Kind kind);
    bool mayStart() const;
    void startRequests();
    void start(Request &request);
    Request *findRequest(std::uint64_t serial);
    void answer(std::uint64_t serial, ImapEvent event);
    void answerFailed(std::uint64_t serial, const MailFailure &failure);
    void flushAnswers();
    void notice(ImapEvent event); // an event that answers nothing
    void mailboxChanged(std::int64_t messages);

    void send(Verb verb, std::uint64_t request, std::deque<QByteArray> parts);
    void sendDone();
    void consume(std::string_view input);
    void received(ImapResponse response);
    void continued(const ImapResponse &response);
    void untagged(const ImapResponse &response);
    void statusResponse(const ImapResponse &response);
    void tagged(const ImapResponse &response);
    void finished(Command &command, const ImapResponse &response);

    // The login's steps, each started by the answer before it.
    void greeted(const ImapResponse &response);
    void askCapabilities();
    void capabilitiesKnown();
    void authenticate();
    void authenticateWith(const QByteArray &mechanism, const QByteArray &firstMessage);
    QByteArray plainResponse() const;
    void endTokenExchange(const ImapResponse &challenge);
    MailFailure loginRefusal(const Command &command, const ImapResponse &response) const;
    void endLogin(const MailFailure &failure);
    void readCapabilities(const std::vector<ImapToken> &tokens, std::size_t from);

    void readStatus(const ImapResponse &response);
    void readSearch(const ImapResponse &response);
    void readFetch(const ImapResponse &response);
    void answerCommand(Command &command, const ImapResponse &response);
    void startLogout(const Request &request);

    State state_ = State::Greeting;
    ImapLogin login_;
    QStringList secrets_; // the password or token in every form it may be sent in
    Capabilities capabilities_;
    BearerMechanism bearer_ = BearerMechanism::None; // the token's mechanism, once chosen
    bool loginAsked_ = false;
    bool authenticated_ = false;
    bool selected_ = false;
    std::int64_t messages_ = -1; // in the selected mailbox, as last told; -1: not told
    std::deque<Request> requests_; // unanswered, or answered and not yet taken
    std::uint64_t nextSerial_ = 1;
    std::uint64_t loginRequest_ = 0;
    std::uint64_t nextTag_ = 1;
    std::optional<Command> command_;
    std::int64_t heard_ = 0;   // bytes since the last command (or DONE) went out
    ImapResponseReader reader_;
    std::string pending_;      // what came before logIn()
    QByteArray outgoing_;
    std::vector<ImapEvent> events_;
    MailFailure deadFailure_;
};

} // namespace kingyo
