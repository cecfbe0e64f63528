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
    int connect(const QString &server) override;
    int authenticate(int handle, const QString &user, const QString &password, bool apop) override;
    int mailStatus(int handle, int message) override;
    std::int64_t mailSize(int handle, int message) override;
    int fetchMail(int handle, int message) override;
    QString lastError() const override { return lastError_; }
    void close(int handle) override;
    void end() override;

    // The unstuffed size of the body fetchMail() last received on this handle.
    std::int64_t lastBodySize(int handle) const;

private:
    Pop3Client *client(int handle);
    template <typename Result>
    Result noted(Pop3Client &client, Result result);

    Pop3Settings settings_;
    std::map<int, std::unique_ptr<Pop3Client>> clients_;
    int nextHandle_ = 1;
    QString lastError_;
};

} // namespace kingyo
