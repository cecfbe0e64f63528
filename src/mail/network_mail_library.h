#pragma once
#include "mail/imap/imap_channel.h"
#include "mail/mail_library.h"
#include "mail/pop3/pop3_channel.h"

#include <QObject>
#include <QPointer>
#include <map>
#include <memory>
#include <optional>

namespace kingyo {

class ImapWatcher;

// The mail library over our own channels to real servers: handles name live POP3 or
// IMAP sessions, as the server field says. connect() opens a POP3 connection only; the
// dialogue, TLS included, happens in authenticate(), so that every failure after
// connecting reaches the user as a failure text. An IMAP connection is made (or
// borrowed) in countUnread(), as the account is known only there. Lives on the thread that
// calls it; abandon() and end() are not for the library's own answers to call.
class NetworkMailLibrary : public QObject, public MailLibrary {
public:
    explicit NetworkMailLibrary(Pop3Settings settings = {});
    ~NetworkMailLibrary() override;

    // A check of the account the watcher keeps in IDLE borrows its connection, logged in
    // already, instead of making one; it goes back at close(). Null: none.
    void setLender(ImapWatcher *watcher);

    void initialize() override {}
    void setOption(int, int) override {} // no option changes how this library works
    // -1 with UnreadableServerField when the field names no server (see
    // parseMailServerAddress), else -1 with the connection's failure.
    void connect(const QString &server, QDeadlineTimer deadline, Answer answer) override;
    Counting counting(int handle) const override;
    // The calls on a handle answer what the channel's matching request answers, or
    // kNotConnected (UnknownHandle) for a handle that is not open, or open for the
    // other protocol.
    void authenticate(int handle, const QString &user, const MailSecret &secret, bool apop, Use use,
                      Answer answer) override;
    int mailStatus(int handle, int message) override;
    std::int64_t mailSize(int handle, int message) override;
    void fetchMail(int handle, int message, Answer answer) override;
    void messageIds(int handle, IdsAnswer answer) override;
    void messageHeaders(int handle, int message, HeadersAnswer answer) override;
    void countUnread(int handle, const QString &user, const MailSecret &secret, std::optional<UnreadMark> since,
                     int summaries, UnreadAnswer answer) override;
    MailFailure lastFailure() const override { return lastFailure_; }
    void close(int handle) override;
    void end() override;
    void abandon() override;

    // The unstuffed size of the body fetchMail() last received on this handle.
    std::int64_t lastBodySize(int handle) const;

private:
    // POP3 opens at connect(); IMAP at the login, where it may be borrowed instead.
    struct Session {
        std::unique_ptr<Pop3Channel> pop3;
        std::unique_ptr<ImapChannel> imap;
        std::optional<MailServerAddress> imapAddress; // until the IMAP channel is there
        QDeadlineTimer deadline;
        bool borrowed = false; // goes back to the lender at close()
        std::int64_t lastBodySize = 0;
        QObject *channel() const;
    };
    using Room = std::map<QObject *, Session>;

    Pop3Channel *pop3(int handle);
    void openPop3(const MailServerAddress &address, QDeadlineTimer deadline, Answer answer);
    // Notes failure, then answers, from the event loop as every answer.
    void later(MailFailure failure, std::function<void()> answer);
    void answerUnknown(int handle, std::function<void()> answer);
    // Counts over the session's channel: borrowed from the lender if it can lend one
    // logged in as user and it answers a NOOP within the probe's time, else opened now
    // and logged in.
    void borrowOrOpen(int handle, const QString &user, const MailSecret &secret,
                      std::function<void(ImapChannel &)> count, UnreadAnswer answer);
    void openImap(Session &session, const MailServerAddress &address, const QString &user,
                  const MailSecret &secret, std::function<void(ImapChannel &)> count, UnreadAnswer answer);
    // Notes a failed result's failure, then answers.
    template <class Event>
    std::int64_t noted(const Event &event);
    // Moves a session out of its room; channels are deleted from the event loop, as
    // this may run inside one of their answers.
    void dispose(Room &room, QObject *channel);

    Pop3Settings settings_;
    std::map<int, Session> sessions_;
    Room connecting_; // no handle yet
    Room closing_;    // saying goodbye
    int nextHandle_ = 1;
    int generation_ = 0; // one more with each abandon()
    MailFailure lastFailure_;
    QPointer<ImapWatcher> lender_;
};

} // namespace kingyo
