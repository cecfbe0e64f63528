#pragma once
#include <QString>
#include <cstdint>

namespace kingyo {

// The mail library the mail check talks to: a blocking POP3 client with handles.
// All calls come from the user-interface thread and return within the library's
// timeouts. Failure results are negative; lastError() describes the latest one.
class MailLibrary {
public:
    virtual ~MailLibrary() = default;

    virtual void initialize() = 0;                    // once at start-up
    virtual void setOption(int option, int value) = 0; // once, right after initialize()
    virtual int connect(const QString &server) = 0;   // a handle, or -1
    // The number of messages waiting (>= 0), or a negative failure code.
    virtual int authenticate(int handle, const QString &user, const QString &password, bool apop) = 0;
    virtual int mailStatus(int handle, int message) = 0;      // 0, or a negative failure code
    virtual std::int64_t mailSize(int handle, int message) = 0; // bytes, or a negative failure code
    virtual int fetchMail(int handle, int message) = 0;       // 0, or a negative failure code; body discarded
    virtual QString lastError() const = 0;                     // plain words, never the password
    virtual void close(int handle) = 0;
    virtual void end() = 0; // last call, at shutdown
};

} // namespace kingyo
