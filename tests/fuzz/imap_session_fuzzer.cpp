// Drives the IMAP session the way a connection and a mail check would, with the
// server's bytes and the order of requests taken from the input. Every request must
// be answered exactly once and in order, with what it asked for; once the session
// failed, every later answer carries that failure; the password or token never shows
// in the server's words and never goes out in the clear to a server once seen with
// STARTTLS.
#include "mail/imap/imap_session.h"
#include "mail/mail_headers.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <optional>
#include <string_view>
#include <utility>

namespace {

using kingyo::ImapEvent;
using kingyo::ImapSession;
using Kind = ImapEvent::Kind;

// An atom, a quoted string and a literal to LOGIN, each with its SASL PLAIN form, and
// an access token.
const kingyo::MailSecret kSecrets[] = {QStringLiteral("pw-f8Zq"), QStringLiteral("pw d\"8Zq"),
                                       QStringLiteral("pässwörd8Zq"),
                                       kingyo::MailSecret::accessToken(QStringLiteral("tok.f8Zq"))};

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
    std::uint32_t fromUid = 0;
    std::vector<std::uint32_t> uids = {};
    bool afterDeath = false;
};

class Checker {
public:
    Checker(ImapSession &session, const kingyo::ImapLogin &login) : session_(session), login_(login)
    {
        const QByteArray secret = login.secret.text().toUtf8();
        secretForms_ = {secret, ('\0' + login.user.toUtf8() + '\0' + secret).toBase64()};
        for (const auto mechanism : {kingyo::BearerMechanism::OAuthBearer, kingyo::BearerMechanism::XOAuth2})
            secretForms_ << kingyo::bearerInitialResponse(mechanism, login.user, login.secret.text()).toBase64();
    }

    void asked(Open open)
    {
        open.afterDeath = dead_;
        open_.push_back(std::move(open));
    }

    // Takes what the session has to say and checks it.
    void collect()
    {
        const QByteArray sent = session_.takeOutgoing();
        if (over_ && !sent.isEmpty())
            std::abort(); // a closed or failed session says nothing more
        const bool mustHide = login_.startTlsSeenBefore && !login_.encrypted && !tlsStarted_;
        for (const QByteArray &form : secretForms_) {
            if (mustHide && sent.contains(form))
                std::abort();
        }
        for (const ImapEvent &event : session_.takeEvents())
            check(event);
        const ImapSession::State state = session_.state();
        dead_ |= state == ImapSession::State::Failed;
        over_ = state == ImapSession::State::Failed || state == ImapSession::State::Closed;
        if (over_ && session_.awaitsReply())
            std::abort();
    }

    bool sawStartTls() { return std::exchange(startTls_, false); }
    void tlsStarted() { tlsStarted_ = true; }
    bool allAnswered() const { return open_.empty(); }

private:
    void check(const ImapEvent &event)
    {
        if (event.failure.serverText.contains(login_.secret.text()))
            std::abort();
        switch (event.kind) {
        case Kind::StartTls:
            if (dead_ || login_.encrypted || tlsStarted_)
                std::abort();
            startTls_ = true;
            return;
        case Kind::Idling:
            if (std::none_of(open_.begin(), open_.end(), [](const Open &open) { return open.kind == Kind::IdleEnded; }))
                std::abort();
            return;
        case Kind::MailboxChanged:
            if (event.result != 0 || event.status.messages < 0)
                std::abort();
            return;
        default:
            break;
        }
        if (open_.empty() || open_.front().kind != event.kind)
            std::abort(); // unasked, answered twice or out of order
        const Open open = std::move(open_.front());
        open_.pop_front();
        if ((event.result < 0) != (event.failure.problem != kingyo::MailProblem::None))
            std::abort();
        if (event.result < 0 && event.result != event.failure.code())
            std::abort();
        if (open.afterDeath) { // every request after the death carries the same failure
            if (event.result >= 0 || (deadFailure_ && !(event.failure == *deadFailure_)))
                std::abort();
            deadFailure_ = event.failure;
        }
        if (!std::is_sorted(event.uids.begin(), event.uids.end()) ||
            (!event.uids.empty() && event.uids.front() < open.fromUid))
            std::abort();
        for (const auto &[uid, block] : event.headers) {
            if (block.size() > kingyo::kHeaderBlockLimit || !std::binary_search(open.uids.begin(), open.uids.end(), uid))
                std::abort();
        }
    }

    ImapSession &session_;
    kingyo::ImapLogin login_;
    QList<QByteArray> secretForms_;
    std::deque<Open> open_;
    bool startTls_ = false;
    bool tlsStarted_ = false;
    bool dead_ = false;
    bool over_ = false;
    std::optional<kingyo::MailFailure> deadFailure_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *bytes, std::size_t size)
{
    Script script(bytes, size);
    const std::uint8_t flags = script.byte();
    kingyo::ImapLogin login;
    login.user = QStringLiteral("u");
    login.secret = kSecrets[(flags >> 2) % 4];
    login.encrypted = flags & 1;
    login.startTlsSeenBefore = flags & 2;

    ImapSession session;
    Checker checker(session, login);
    session.logIn(login);
    checker.asked({Kind::LoggedIn});
    checker.collect();
    while (!script.done()) {
        const std::uint8_t op = script.byte();
        const std::uint8_t arg = op >> 4;
        switch (op & 15) {
        case 4:
            session.status(arg & 1 ? QStringLiteral("日記 &") : QStringLiteral("INBOX"));
            checker.asked({Kind::StatusRead});
            break;
        case 5:
            session.examine();
            checker.asked({Kind::Examined});
            break;
        case 6:
            session.searchUnseen({arg, 0, 0, {}});
            checker.asked({Kind::Searched, arg});
            break;
        case 7: {
            std::vector<std::uint32_t> uids;
            for (std::uint8_t i = 0; i < arg; ++i)
                uids.push_back(script.byte());
            session.fetchHeaders(uids);
            std::sort(uids.begin(), uids.end());
            checker.asked({Kind::HeadersRead, 0, uids});
            break;
        }
        case 8:
            session.idle();
            checker.asked({Kind::IdleEnded});
            break;
        case 9:
            session.done();
            break;
        case 10:
            session.noop();
            checker.asked({Kind::NoopDone});
            break;
        case 11:
            if (arg < 8) {
                session.logout();
                checker.asked({Kind::Closed});
            } else if (arg < 12) {
                session.logIn(login);
                checker.asked({Kind::LoggedIn});
            } else {
                session.fail({kingyo::MailProblem::Silent, {QStringLiteral("20")}, {}});
            }
            break;
        default:
            session.feed(script.bytes(script.byte()));
            break;
        }
        checker.collect();
        if (checker.sawStartTls()) {
            checker.tlsStarted();
            session.tlsStarted();
            checker.collect();
        }
    }
    session.fail({kingyo::MailProblem::Abandoned, {}, {}});
    checker.collect();
    if (!checker.allAnswered())
        std::abort();
    return 0;
}
