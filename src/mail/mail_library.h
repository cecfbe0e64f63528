#pragma once
#include "mail/mail_failure.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>
#include <cstdint>
#include <string>
#include <vector>

namespace kingyo {

// The mail library the mail check talks to: a blocking POP3 client with handles. One
// thread makes the calls of a check (the mail check's worker); start-up makes the first
// two. Failure results are negative codes from pop3_failure.h; lastFailure() describes
// the latest one.
class MailLibrary {
public:
    virtual ~MailLibrary() = default;

    virtual void initialize() = 0;                    // once at start-up
    virtual void setOption(int option, int value) = 0; // once, right after initialize()
    // Opens a session; every later call on its handle ends by `deadline` at the latest
    // (a failure kTooLong). A handle (> 0), or -1 on any failure.
    virtual int connect(const QString &server, QDeadlineTimer deadline = QDeadlineTimer(QDeadlineTimer::Forever)) = 0;
    // What a session is for: fetching messages, or only listing their IDs (then nothing
    // is asked of the server that only fetching needs, such as the messages' sizes).
    enum class Use { Fetch, ListIds };
    // The number of messages waiting (>= 0), or a negative failure code.
    virtual int authenticate(int handle, const QString &user, const QString &password, bool apop,
                             Use use = Use::Fetch) = 0;
    virtual int mailStatus(int handle, int message) = 0;      // 0, or a negative failure code
    virtual std::int64_t mailSize(int handle, int message) = 0; // bytes, or a negative failure code
    virtual int fetchMail(int handle, int message) = 0;       // 0, or a negative failure code; body discarded
    // Every message's unique ID (UIDL), in message order: their count, or a negative
    // failure code (kServerError when the server keeps none or lists them unreadably).
    virtual int messageIds(int handle, std::vector<std::string> *ids) = 0;
    // A message's header block, never its body, the message left unread (POP3 TOP), at
    // most kHeaderBlockLimit bytes of it: 0, or a negative failure code (kServerError when
    // the server refuses, the session living on).
    virtual int messageHeaders(int handle, int message, QByteArray *headers) = 0;
    virtual MailFailure lastFailure() const = 0;               // never holds the password
    virtual void close(int handle) = 0;
    virtual void end() = 0; // last call, at shutdown
    // From any thread, when the program ends: calls under way and every later one fail
    // at once with kAbandoned, and nothing more is sent.
    virtual void abandon() = 0;
};

} // namespace kingyo
