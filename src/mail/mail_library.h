#pragma once
#include "mail/auth/mail_secret.h"
#include "mail/mail_failure.h"
#include "mail/seen_messages.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kingyo {

// What an IMAP check found: the unread messages of INBOX it counted, where it stopped
// and who wrote the newest of them.
struct UnreadCount {
    std::int64_t result = 0;         // the count (>= 0), or a negative failure code
    UnreadMark mark;                 // where this count stopped, for the next new-only count
    std::vector<QByteArray> headers; // header blocks of the newest counted, the newest first
};

// The mail library the mail check talks to: POP3 and IMAP sessions with handles, driven
// by events. The calls that need the server answer through a callback, later, on the
// calling thread, never from within the call; the others answer at once. Failure
// results are negative codes from pop3_failure.h; lastFailure() describes the latest one
// and is set before its answer runs. close() and abandon() drop the answers still owed.
class MailLibrary {
public:
    using Answer = std::function<void(std::int64_t result)>;
    using IdsAnswer = std::function<void(int result, std::vector<std::string> ids)>; // the IDs are the answer's
    using HeadersAnswer = std::function<void(int result, const QByteArray &headers)>;

    virtual ~MailLibrary() = default;

    using UnreadAnswer = std::function<void(const UnreadCount &)>;

    virtual void initialize() = 0;                    // once at start-up
    virtual void setOption(int option, int value) = 0; // once, right after initialize()
    // Opens a session; every later call on its handle ends by `deadline` at the latest
    // (a failure kTooLong). Answers a handle (> 0), or -1 on any failure.
    virtual void connect(const QString &server, QDeadlineTimer deadline, Answer answer) = 0;
    // What a session's server counts: the messages waiting (POP3, through
    // authenticate() and the calls after it) or the unread ones (IMAP, through
    // countUnread()).
    enum class Counting { Waiting, Unread };
    virtual Counting counting(int handle) const = 0;
    // What a session is for: fetching messages, or only listing their IDs (then nothing
    // is asked of the server that only fetching needs, such as the messages' sizes).
    enum class Use { Fetch, ListIds };
    // Answers the number of messages waiting (>= 0), or a negative failure code. The
    // secret is a password (apop: sent as APOP) or an access token, the user then being
    // the mail address.
    virtual void authenticate(int handle, const QString &user, const MailSecret &secret, bool apop, Use use,
                              Answer answer) = 0;
    virtual int mailStatus(int handle, int message) = 0;        // 0, or a negative failure code
    virtual std::int64_t mailSize(int handle, int message) = 0; // bytes, or a negative failure code
    // Answers 0, or a negative failure code; the body is counted and dropped.
    virtual void fetchMail(int handle, int message, Answer answer) = 0;
    // Answers every message's unique ID (UIDL), in message order, with their count, or a
    // negative failure code (kServerError when the server keeps none or lists them
    // unreadably; kProtocolError, TooManyIds, for more than a SeenMessageStore holds,
    // none of which is kept meanwhile).
    virtual void messageIds(int handle, IdsAnswer answer) = 0;
    // Answers a message's header block, never its body, the message left unread (POP3
    // TOP), at most kHeaderBlockLimit bytes of it: 0, or a negative failure code
    // (kServerError when the server refuses, the session living on).
    virtual void messageHeaders(int handle, int message, HeadersAnswer answer) = 0;
    // IMAP: logs in and counts the unread messages of INBOX, all of them or, with since,
    // those that came after it (a mailbox whose UIDVALIDITY changed counts as on a first
    // check: all unread), and reads the header blocks of up to `summaries` of the newest
    // counted. Never marks anything read. kNotConnected for a POP3 session.
    virtual void countUnread(int handle, const QString &user, const MailSecret &secret,
                             std::optional<UnreadMark> since, int summaries, UnreadAnswer answer) = 0;
    virtual MailFailure lastFailure() const = 0; // never holds the password or token
    // Ends the session at once for its caller; the goodbye to the server goes on alone.
    virtual void close(int handle) = 0;
    virtual void end() = 0; // last call, at shutdown
    // The program is ending: every session closes at once, nothing more is sent and no
    // answer runs any more.
    virtual void abandon() = 0;
};

} // namespace kingyo
