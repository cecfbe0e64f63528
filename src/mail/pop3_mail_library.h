#pragma once
#include "mail/mail_library.h"
#include "mail/pop3_client.h"

#include <map>
#include <memory>

namespace kingyo {

// The mail library over our own POP3 client: handles name live sessions.
// connect() opens the TCP connection only; the POP3 dialogue, TLS included,
// happens in authenticate(), so that every failure after connecting reaches
// the user as a failure text.
class Pop3MailLibrary : public MailLibrary {
public:
    explicit Pop3MailLibrary(Pop3Settings settings = {});
    ~Pop3MailLibrary() override;

    void initialize() override {}
    void setOption(int, int) override {} // no option changes how this library works
    // -1 with UnreadableServerField when the field names no server (see
    // parsePop3ServerAddress), else as Pop3Client::connectTo().
    int connect(const QString &server, QDeadlineTimer deadline = QDeadlineTimer(QDeadlineTimer::Forever)) override;
    // The calls on a handle return what Pop3Client's matching call returns, or
    // kNotConnected (UnknownHandle) for a handle that is not open.
    int authenticate(int handle, const QString &user, const QString &password, bool apop,
                     Use use = Use::Fetch) override;
    int mailStatus(int handle, int message) override;
    std::int64_t mailSize(int handle, int message) override;
    int fetchMail(int handle, int message) override;
    int messageIds(int handle, std::vector<std::string> *ids) override;
    int messageHeaders(int handle, int message, QByteArray *headers) override;
    MailFailure lastFailure() const override { return lastFailure_; }
    void close(int handle) override;
    void end() override;
    void abandon() override { abandoned_ = true; }

    // The unstuffed size of the body fetchMail() last received on this handle.
    std::int64_t lastBodySize(int handle) const;

private:
    Pop3Client *client(int handle);
    template <typename Result>
    Result noted(Pop3Client &client, Result result);

    Pop3Settings settings_;
    std::atomic<bool> abandoned_ = false;
    std::map<int, std::unique_ptr<Pop3Client>> clients_;
    int nextHandle_ = 1;
    MailFailure lastFailure_;
};

} // namespace kingyo
