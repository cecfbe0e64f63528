#pragma once
#include "mail/mail_failure.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kingyo {

// The mail library the mail check talks to: POP3 sessions with handles, driven by
// events. The calls that need the server answer through a callback, later, on the
// calling thread, never from within the call; the others answer at once. Failure
// results are negative codes from pop3_failure.h; lastFailure() describes the latest one
// and is set before its answer runs. close() and abandon() drop the answers still owed.
class MailLibrary {
public:
    using Answer = std::function<void(std::int64_t result)>;
    using IdsAnswer = std::function<void(int result, const std::vector<std::string> &ids)>;
    using HeadersAnswer = std::function<void(int result, const QByteArray &headers)>;

    virtual ~MailLibrary() = default;

    virtual void initialize() = 0;                    // once at start-up
    virtual void setOption(int option, int value) = 0; // once, right after initialize()
    // Opens a session; every later call on its handle ends by `deadline` at the latest
    // (a failure kTooLong). Answers a handle (> 0), or -1 on any failure.
    virtual void connect(const QString &server, QDeadlineTimer deadline, Answer answer) = 0;
    // What a session is for: fetching messages, or only listing their IDs (then nothing
    // is asked of the server that only fetching needs, such as the messages' sizes).
    enum class Use { Fetch, ListIds };
    // Answers the number of messages waiting (>= 0), or a negative failure code.
    virtual void authenticate(int handle, const QString &user, const QString &password, bool apop, Use use,
                              Answer answer) = 0;
    virtual int mailStatus(int handle, int message) = 0;        // 0, or a negative failure code
    virtual std::int64_t mailSize(int handle, int message) = 0; // bytes, or a negative failure code
    // Answers 0, or a negative failure code; the body is counted and dropped.
    virtual void fetchMail(int handle, int message, Answer answer) = 0;
    // Answers every message's unique ID (UIDL), in message order, with their count, or a
    // negative failure code (kServerError when the server keeps none or lists them
    // unreadably).
    virtual void messageIds(int handle, IdsAnswer answer) = 0;
    // Answers a message's header block, never its body, the message left unread (POP3
    // TOP), at most kHeaderBlockLimit bytes of it: 0, or a negative failure code
    // (kServerError when the server refuses, the session living on).
    virtual void messageHeaders(int handle, int message, HeadersAnswer answer) = 0;
    virtual MailFailure lastFailure() const = 0; // never holds the password
    // Ends the session at once for its caller; the goodbye to the server goes on alone.
    virtual void close(int handle) = 0;
    virtual void end() = 0; // last call, at shutdown
    // The program is ending: every session closes at once, nothing more is sent and no
    // answer runs any more.
    virtual void abandon() = 0;
};

} // namespace kingyo
