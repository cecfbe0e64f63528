// Drives the POP3 session the way a connection and a mail check would, with the
// server's bytes and the order of requests taken from the input. Every request
// must be answered exactly once and in order; once the session failed, nothing but
// that failure may come out; the password or token never shows in the server's words
// and never goes out when a server once seen with STLS offers none now.
#include "mail/mail_headers.h"
#include "mail/pop3/pop3_session.h"

#include <cstdint>
#include <cstdlib>
#include <deque>
#include <string_view>
#include <utility>

namespace {

using kingyo::Pop3Event;
using kingyo::Pop3Session;
using Kind = Pop3Event::Kind;

const QString kPassword = QStringLiteral("pw-f8Zq"); // a token's shape too

class Script {
public:
    Script(const std::uint8_t *bytes, std::size_t size) : input_(reinterpret_cast<const char *>(bytes), size) {}
    bool done() const { return input_.empty(); }
    std::uint8_t byte()
    {
        if (input_.empty())
            return 0;
        const auto value = static_cast<std::uint8_t>(input_.front());
        input_.remove_prefix(1);
        return value;
    }
    std::string_view bytes(std::size_t count)
    {
        const std::string_view taken = input_.substr(0, count);
        input_.remove_prefix(taken.size());
        return taken;
    }

private:
    std::string_view input_;
};

struct Open {
    Kind kind;
    int message;
};

class Checker {
public:
    explicit Checker(Pop3Session &session) : session_(session) {}

    void asked(Kind kind, int message = 0) { open_.push_back({kind, message}); }

    // Takes what the session has to say and checks it.
    void collect(bool stlsRequired)
    {
        sent_ += session_.takeOutgoing();
        if (over_ && !sent_.isEmpty())
            std::abort(); // a closed or failed session says nothing more
        if (stlsRequired && !tlsStarted_ &&
            (sent_.contains("PASS ") || sent_.contains("APOP ") || sent_.contains("AUTH ")))
            std::abort();
        for (const Pop3Event &event : session_.takeEvents())
            check(event);
        if (session_.state() == Pop3Session::State::Failed && !failedBefore_) {
            failedBefore_ = true;
            session_.checkMessage(1, &deadFailure_);
        }
        over_ = failedBefore_ || session_.state() == Pop3Session::State::Closed;
        if ((session_.state() == Pop3Session::State::Failed || session_.state() == Pop3Session::State::Closed) &&
            session_.awaitsReply())
            std::abort();
        sent_.clear();
    }

    bool sawStartTls() { return std::exchange(startTls_, false); }
    void tlsStarted() { tlsStarted_ = true; }
    bool allAnswered() const { return open_.empty(); }

private:
    void check(const Pop3Event &event)
    {
        if (event.kind == Kind::StartTls) {
            if (failedBefore_)
                std::abort();
            startTls_ = true;
            return;
        }
        if (open_.empty() || open_.front().kind != event.kind || open_.front().message != event.message)
            std::abort(); // unasked, answered twice or out of order
        open_.pop_front();
        if ((event.result < 0) != (event.failure.problem != kingyo::MailProblem::None))
            std::abort();
        if (event.result < 0 && event.result != event.failure.code())
            std::abort();
        if (failedBefore_ && !(event.failure == deadFailure_))
            std::abort();
        if (event.failure.serverText.contains(kPassword) || event.headers.size() > kingyo::kHeaderBlockLimit)
            std::abort();
        if (event.kind == Kind::IdsListed && event.result >= 0 && event.ids.size() != std::size_t(event.result))
            std::abort();
    }

    Pop3Session &session_;
    std::deque<Open> open_;
    QByteArray sent_;
    bool startTls_ = false;
    bool tlsStarted_ = false;
    bool failedBefore_ = false;
    bool over_ = false;
    kingyo::MailFailure deadFailure_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *bytes, std::size_t size)
{
    Script script(bytes, size);
    const std::uint8_t flags = script.byte();
    kingyo::Pop3Pipeline pipeline;
    pipeline.window = 1 + (flags >> 5); // small windows reach the refills
    kingyo::Pop3Login login;
    login.user = QStringLiteral("u");
    login.secret = flags & 16 ? kingyo::MailSecret::accessToken(kPassword) : kingyo::MailSecret(kPassword);
    login.apop = flags & 1;
    login.listSizes = !(flags & 2);
    login.encrypted = flags & 4;
    login.stlsSeenBefore = flags & 8;
    const bool stlsRequired = login.stlsSeenBefore && !login.encrypted;

    Pop3Session session(pipeline);
    Checker checker(session);
    session.logIn(login);
    checker.asked(Kind::LoggedIn);
    checker.collect(stlsRequired);
    while (!script.done()) {
        const std::uint8_t op = script.byte();
        const int message = op / 8 % 6 - 1; // -1..4: some outside the mailbox
        switch (op % 8) {
        case 4:
            session.retrieve(message);
            checker.asked(Kind::Retrieved, message);
            break;
        case 5:
            session.listIds({3, 64});
            checker.asked(Kind::IdsListed);
            break;
        case 6:
            session.readHeaders(message);
            checker.asked(Kind::HeadersRead, message);
            break;
        case 7:
            if (message < 1) {
                session.quit();
                checker.asked(Kind::Closed);
            } else if (message < 4) {
                session.logIn(login);
                checker.asked(Kind::LoggedIn);
            } else {
                session.fail({kingyo::MailProblem::Silent, {QStringLiteral("20")}, {}});
            }
            break;
        default:
            session.feed(script.bytes(script.byte()));
            break;
        }
        checker.collect(stlsRequired);
        if (checker.sawStartTls()) {
            checker.tlsStarted();
            session.tlsStarted();
            checker.collect(stlsRequired);
        }
    }
    session.fail({kingyo::MailProblem::Abandoned, {}, {}});
    checker.collect(stlsRequired);
    if (!checker.allAnswered())
        std::abort();
    return 0;
}
