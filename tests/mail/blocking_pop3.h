#pragma once
#include "mail/pop3/pop3_channel.h"
#include "mail/network_mail_library.h"
#include "mail/pop3_failure.h"

#include <QEventLoop>
#include <optional>
#include <utility>

namespace kingyo::test {

// Runs a local event loop until ask's answer arrives: a shortcut for tests and
// benches, which have nothing else to do meanwhile. The product never waits so.
template <typename Result, typename Ask>
Result awaitAnswer(Ask ask)
{
    std::optional<Result> result;
    QEventLoop loop;
    ask([&](Result answer) {
        result = std::move(answer);
        loop.quit();
    });
    if (!result)
        loop.exec();
    return std::move(*result);
}

// The mail library's calls, each waited for.
class BlockingMailLibrary {
public:
    explicit BlockingMailLibrary(Pop3Settings settings = {}) : library_(std::move(settings)) {}

    NetworkMailLibrary &async() { return library_; }
    void initialize() { library_.initialize(); }
    void setOption(int option, int value) { library_.setOption(option, value); }
    int connect(const QString &server, QDeadlineTimer deadline = QDeadlineTimer(QDeadlineTimer::Forever))
    {
        return int(awaitAnswer<std::int64_t>([&](auto done) { library_.connect(server, deadline, done); }));
    }
    int authenticate(int handle, const QString &user, const MailSecret &secret, bool apop,
                     MailLibrary::Use use = MailLibrary::Use::Fetch)
    {
        return int(awaitAnswer<std::int64_t>(
            [&](auto done) { library_.authenticate(handle, user, secret, apop, use, done); }));
    }
    int mailStatus(int handle, int message) { return library_.mailStatus(handle, message); }
    std::int64_t mailSize(int handle, int message) { return library_.mailSize(handle, message); }
    int fetchMail(int handle, int message)
    {
        return int(awaitAnswer<std::int64_t>([&](auto done) { library_.fetchMail(handle, message, done); }));
    }
    int messageIds(int handle, std::vector<std::string> *ids)
    {
        const auto [result, listed] = awaitAnswer<std::pair<int, std::vector<std::string>>>([&](auto done) {
            library_.messageIds(handle, [done](int r, const std::vector<std::string> &i) { done(std::pair(r, i)); });
        });
        *ids = listed;
        return result;
    }
    UnreadCount countUnread(int handle, const QString &user, const MailSecret &secret)
    {
        return awaitAnswer<UnreadCount>(
            [&](auto done) { library_.countUnread(handle, user, secret, std::nullopt, 0, done); });
    }
    int messageHeaders(int handle, int message, QByteArray *headers)
    {
        const auto [result, block] = awaitAnswer<std::pair<int, QByteArray>>([&](auto done) {
            library_.messageHeaders(handle, message, [done](int r, const QByteArray &h) { done(std::pair(r, h)); });
        });
        *headers = block;
        return result;
    }
    MailFailure lastFailure() const { return library_.lastFailure(); }
    std::int64_t lastBodySize(int handle) const { return library_.lastBodySize(handle); }
    void close(int handle) { library_.close(handle); }
    void end() { library_.end(); }

private:
    NetworkMailLibrary library_;
};

// One POP3 channel, each request waited for; failure() is the latest failure.
class BlockingPop3Client {
public:
    explicit BlockingPop3Client(Pop3Settings settings) : channel_(std::move(settings)) {}
    ~BlockingPop3Client() { quit(); } // as the library's close() does

    // 0, or kCouldNotConnect with the connection's failure.
    int connectTo(const MailServerAddress &address)
    {
        failure_ = awaitAnswer<MailFailure>([&](auto done) { channel_.open(address, done); });
        return failure_.problem == MailProblem::None ? 0 : pop3::kCouldNotConnect;
    }
    int login(const QString &user, const MailSecret &secret, bool apop, bool listSizes = true)
    {
        return int(noted(awaitAnswer<Pop3Event>(
            [&](auto done) { channel_.logIn(user, secret, apop, listSizes, done); })));
    }
    int checkMessage(int message) { return int(notedNow(channel_.session().checkMessage(message, &why_))); }
    std::int64_t messageSize(int message) { return notedNow(channel_.session().messageSize(message, &why_)); }
    int retrieve(int message)
    {
        const Pop3Event event = awaitAnswer<Pop3Event>([&](auto done) { channel_.retrieve(message, done); });
        if (event.result == 0)
            lastBodySize_ = event.bodySize;
        return int(noted(event));
    }
    std::int64_t lastBodySize() const { return lastBodySize_; }
    int uniqueIds(std::vector<std::string> *ids)
    {
        const Pop3Event event = awaitAnswer<Pop3Event>([&](auto done) { channel_.listIds({SeenMessageStore::kMaxIds, SeenMessageStore::kFileLimit}, done); });
        *ids = event.ids;
        return int(noted(event));
    }
    int topHeaders(int message, QByteArray *headers)
    {
        const Pop3Event event = awaitAnswer<Pop3Event>([&](auto done) { channel_.readHeaders(message, done); });
        *headers = event.headers;
        return int(noted(event));
    }
    void quit()
    {
        if (quit_)
            return;
        quit_ = true;
        awaitAnswer<bool>([&](auto done) { channel_.quit([done] { done(true); }); });
    }
    const MailFailure &failure() const { return failure_; }
    bool usesTls() const { return channel_.usesTls(); }

private:
    std::int64_t noted(const Pop3Event &event)
    {
        if (event.result < 0)
            failure_ = event.failure;
        return event.result;
    }
    std::int64_t notedNow(std::int64_t result)
    {
        if (result < 0)
            failure_ = why_;
        return result;
    }

    Pop3Channel channel_;
    MailFailure failure_;
    MailFailure why_;
    bool quit_ = false;
    std::int64_t lastBodySize_ = 0;
};

} // namespace kingyo::test
