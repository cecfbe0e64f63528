#pragma once
#include "mail/auth/bearer_sasl.h"
#include "mail/auth/mail_secret.h"
#include "mail/mail_failure.h"
#include "mail/pop3/pop3_reply_parser.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kingyo {

// How many RETRs a session keeps in flight when the server pipelines.
struct Pop3Pipeline {
    int window = 64; // at least
    // Small messages get a wider window, enough RETRs for about this many bytes of
    // replies, so the server never idles between refills (0: the window stays as set).
    std::int64_t bytes = 8 << 20;
};

// The RETRs to keep in flight for a mailbox of these sizes (-1: unknown): enough for
// pipeline.bytes of replies at the average size, never fewer than pipeline.window nor
// more than kMaxPipelineWindow.
inline constexpr int kMaxPipelineWindow = 1000;
int pipelineWindowFor(const std::vector<std::int64_t> &sizes, const Pop3Pipeline &pipeline);

// The most unique IDs a UIDL answer may bring, in number and in bytes (each ID with a
// line end), as whoever keeps them can hold them.
struct IdListLimit {
    std::size_t ids = 0;
    std::int64_t bytes = 0;
};

struct Pop3Login {
    QString user; // the mail address for an access token
    MailSecret secret;
    bool apop = false; // a password only
    bool listSizes = true; // LIST after STAT; without it no message can be sized or retrieved
    bool encrypted = false; // the connection speaks TLS from the start (pop3s)
    // The server was once seen offering STLS: a plain dialogue without it now is refused
    // before the password goes out (someone between us may have struck it).
    bool stlsSeenBefore = false;
};

// What the session has to say, in the order it happened. Every request (logIn,
// retrieve, listIds, readHeaders) is answered by exactly one event of its kind, with
// the result its blocking counterpart would return: >= 0 on success, else a code from
// pop3_failure.h with the failure beside it.
struct Pop3Event {
    enum class Kind {
        StartTls,   // the server agreed to STLS: hand the connection to TLS now, then tlsStarted()
        LoggedIn,   // result: the message count, or kLoginRejected, kTlsFailure, ...
        Retrieved,  // message; result 0 with bodySize, or kServerError (refused), ...
        IdsListed,  // result: the count with ids, or kServerError (UidlRefused, UidlUnreadable),
                    // kProtocolError (TooManyIds), ...
        HeadersRead, // message; result 0 with headers (at most kHeaderBlockLimit bytes), or kServerError, ...
        Closed,     // QUIT answered, or nothing more can come: the connection may close
    };
    Kind kind;
    int message = 0;
    std::int64_t result = 0;
    std::int64_t bodySize = 0;
    QByteArray headers;
    std::vector<std::string> ids;
    MailFailure failure;
};

// Every event but StartTls answers a request.
inline bool answersRequest(const Pop3Event &event) { return event.kind != Pop3Event::Kind::StartTls; }

// One POP3 dialogue without I/O: bytes from the server go in through feed(), the bytes
// to send come out of takeOutgoing() and what happened out of takeEvents(). Requests
// may be made at any time after logIn(); they are answered in order. Once a failure
// ends the session (a reply that makes no sense, too long a reply, or fail() from the
// connection) every open request is answered with it, and so is every later one.
class Pop3Session {
public:
    using Event = Pop3Event;
    static constexpr std::int64_t kReplyByteBudget = 64 << 20; // status lines, CAPA, LIST, UIDL, TOP

    enum class State {
        Greeting,     // waiting for the server's first line
        Capabilities, // CAPA asked
        Stls,         // STLS asked
        Handshake,    // the connection shakes hands; input is dropped
        User,         // USER sent
        Password,     // PASS, APOP or AUTH sent
        Stat,         // STAT (and LIST) sent
        Ready,        // logged in; requests flow
        Quitting,     // QUIT sent
        Closed,       // nothing more to say or hear
        Failed,       // ended by failure()
    };

    explicit Pop3Session(Pop3Pipeline pipeline = {});
    ~Pop3Session();
    Pop3Session(const Pop3Session &) = delete;
    Pop3Session &operator=(const Pop3Session &) = delete;

    // Begins the dialogue: waits for the greeting, asks CAPA, upgrades with STLS when
    // offered (StartTls event), logs in and asks STAT (and LIST). A password goes with
    // USER and PASS, or APOP; an access token with AUTH OAUTHBEARER, else XOAUTH2, as
    // CAPA's SASL line lists them (kTokenLoginUnavailable, TokenLoginUnavailable when
    // it lists neither, nothing sent), its first message on the command's line unless
    // that passes 255 octets; refused as kLoginRejected with TokenRejected and the JSON
    // the server sent as its words, or with [SYS/TEMP] as kNotConnected with
    // TokenServiceUnavailable (retryable). One per session; a second is answered with
    // kNotConnected (NoLoginPossible). A user ID or password holding a line break or
    // NUL, or a token that isSafeForBearer() refuses, is answered with
    // kUnsafeCredentials, nothing sent.
    void logIn(const Pop3Login &login);
    // The TLS handshake after StartTls succeeded: CAPA is asked again, as the answer in
    // the clear proves nothing.
    void tlsStarted();
    // Retrieves a message, counting its body and dropping it; with PIPELINING the next
    // messages are asked for ahead, their replies kept until they are asked for.
    // kNoSuchMessage / kNotConnected at once for a number outside 1..count or before
    // the login.
    void retrieve(int message);
    // UIDL. A list past limit is read to its end, keeping no ID, and refused with
    // kProtocolError (TooManyIds, the limit's number of IDs), the session living on.
    void listIds(const IdListLimit &limit);
    void readHeaders(int message); // TOP message 0
    // Says goodbye: Closed once the server answered QUIT, at once when replies to
    // RETRs asked ahead are still to come (they are not waited for).
    void quit();
    // The connection failed (or the program ends): the session is over.
    void fail(const MailFailure &failure);

    void feed(std::string_view bytes);
    QByteArray takeOutgoing();
    std::vector<Pop3Event> takeEvents();

    State state() const { return state_; }
    // Whether the server owes a reply: a connection's silence timer runs only then.
    bool awaitsReply() const;
    // From the LIST read at login: 0 for a message of 1..count, or the failure as a
    // code and in *why (kNoSuchMessage, kNotConnected, or the failure that ended it).
    int checkMessage(int message, MailFailure *why) const;
    // The size LIST gave (>= 0), or kServerError (SizeUnreadable) or as checkMessage().
    std::int64_t messageSize(int message, MailFailure *why) const;

private:
    // A reply the server owes, in the order the commands went out.
    struct Expected {
        enum class Reply { Greeting, Capabilities, Stls, User, Password, Auth, Stat, List, Retr, Uidl, Top, Quit };
        Reply reply;
        int message = 0;
        std::uint64_t request = 0; // the request it answers; 0 for a RETR asked ahead
        std::int64_t byteBudget = kReplyByteBudget;
        IdListLimit idLimit = {}; // UIDL
    };
    // A request and, once known, its answer; answers leave in request order.
    struct Request {
        std::uint64_t serial;
        Pop3Event::Kind kind;
        int message;
        IdListLimit idLimit = {}; // listIds()
        bool started = false;
        std::optional<Pop3Event> answer;
    };
    class Sinks;

    void setState(State state);
    bool acceptsInput() const;
    MailFailure failure(MailProblem problem, QStringList facts = {}, std::string_view serverText = {}) const;
    void die(const MailFailure &failure);

    // Requests wait until the login is done (and, without PIPELINING, until the
    // server has answered what went before), then start in order.
    Request &addRequest(Pop3Event::Kind kind, int message);
    bool mayStart() const;
    void startRequests();
    void start(Request &request);
    void answer(std::uint64_t serial, Pop3Event event);
    void answerFailed(std::uint64_t serial, const MailFailure &failure);
    void flushAnswers();

    void send(Expected expected, const QByteArray &command);
    void keep(std::string_view input);
    void drainPending();
    void consume(std::string_view input);
    void replyDone(const Expected &expected);
    void readReply(const Expected &expected);

    // The login's steps, each started by the reply before it.
    void askCapabilities();
    void capabilitiesRead();
    void authenticate();
    void authenticateWithToken();
    void tokenChallenged();
    void askStat();
    void statRead();
    void listRead();
    void endLogin(const MailFailure &failure);

    void startRetrieval(const Request &request);
    void sendRetr(int message, std::uint64_t request);
    void askAhead();
    Expected *unclaimedRetr(int message);
    void retrieved(const Expected &expected);
    void idsListed(const Expected &expected);
    void headersRead(const Expected &expected);
    void startQuit(const Request &request);
    void closeIfOnlyAskedAheadRemain();

    Pop3Pipeline pipeline_;
    State state_ = State::Greeting;
    Pop3Login login_;
    std::unique_ptr<Sinks> sinks_;
    std::deque<Expected> expected_; // replies owed, in the order the commands went out
    std::deque<Request> requests_;  // unanswered, or answered and not yet taken
    std::uint64_t nextSerial_ = 1;
    std::uint64_t loginRequest_ = 0;
    Pop3ReplyParser parser_;
    std::string pending_;           // input no reply is expected for yet
    QByteArray outgoing_;
    std::vector<Pop3Event> events_;
    std::string apopTimestamp_;
    bool stls_ = false;
    bool pipelining_ = false;
    BearerOffer bearerOffer_;         // from CAPA's SASL line
    BearerMechanism bearer_ = BearerMechanism::None; // the token's mechanism, once chosen
    QByteArray unsentResponse_;       // AUTH's first message, when too long for its line
    std::optional<std::string> tokenRefusal_; // the error a refused token was answered with
    QStringList secrets_;             // the password or token in every form it may be sent in
    bool loginAsked_ = false;
    std::size_t messageCount_ = 0;
    bool sizesListed_ = false;
    std::vector<std::int64_t> sizes_; // -1 where the server's LIST line was unreadable
    std::size_t pipelineWindow_ = 1;
    int lastAskedAhead_ = 0;          // the highest message a RETR went out for
    std::size_t retrsInFlight_ = 0;
    std::map<int, Pop3Event> aheadReplies_; // RETRs asked ahead, answered, not yet asked for
    MailFailure deadFailure_;         // what ended the session, once it is over
};

} // namespace kingyo
