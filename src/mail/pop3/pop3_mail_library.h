#pragma once
#include "mail/mail_library.h"
#include "mail/pop3/pop3_channel.h"

#include <QObject>
#include <map>
#include <memory>

namespace kingyo {

// The mail library over our own POP3 channels: handles name live sessions. connect()
// opens the connection only; the POP3 dialogue, TLS included, happens in
// authenticate(), so that every failure after connecting reaches the user as a failure
// text. Lives on the thread that calls it; abandon() and end() are not for the
// library's own answers to call.
class Pop3MailLibrary : public QObject, public MailLibrary {
public:
    explicit Pop3MailLibrary(Pop3Settings settings = {});
    ~Pop3MailLibrary() override;

    void initialize() override {}
    void setOption(int, int) override {} // no option changes how this library works
    // -1 with UnreadableServerField when the field names no POP3 server (see
    // parseMailServerAddress), else -1 with the connection's failure.
    void connect(const QString &server, QDeadlineTimer deadline, Answer answer) override;
    // The calls on a handle answer what the channel's matching request answers, or
    // kNotConnected (UnknownHandle) for a handle that is not open.
    void authenticate(int handle, const QString &user, const QString &password, bool apop, Use use,
                      Answer answer) override;
    int mailStatus(int handle, int message) override;
    std::int64_t mailSize(int handle, int message) override;
    void fetchMail(int handle, int message, Answer answer) override;
    void messageIds(int handle, IdsAnswer answer) override;
    void messageHeaders(int handle, int message, HeadersAnswer answer) override;
    MailFailure lastFailure() const override { return lastFailure_; }
    void close(int handle) override;
    void end() override;
    void abandon() override;

    // The unstuffed size of the body fetchMail() last received on this handle.
    std::int64_t lastBodySize(int handle) const;

private:
    struct Session {
        std::unique_ptr<Pop3Channel> channel;
        std::int64_t lastBodySize = 0;
    };

    Session *session(int handle);
    // Notes failure, then answers, from the event loop as every answer.
    void later(MailFailure failure, std::function<void()> answer);
    void answerUnknown(int handle, std::function<void()> answer);
    // Notes a failed result's failure, then answers.
    std::int64_t noted(const Pop3Event &event);

    Pop3Settings settings_;
    std::map<int, Session> sessions_;
    using Channels = std::map<Pop3Channel *, std::unique_ptr<Pop3Channel>>;
    // Moves a channel out of its room.
    static std::unique_ptr<Pop3Channel> take(Channels &room, Pop3Channel *channel);
    Channels connecting_; // no handle yet
    Channels closing_;    // saying goodbye
    int nextHandle_ = 1;
    int generation_ = 0; // one more with each abandon()
    MailFailure lastFailure_;
};

} // namespace kingyo
