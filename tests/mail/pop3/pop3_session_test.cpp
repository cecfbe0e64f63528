#include "mail/mail_headers.h"
#include "mail/pop3/pop3_session.h"
#include "mail/pop3_failure.h"

#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <vector>

namespace kingyo {
namespace {

using K = Pop3Event::Kind;
using P = MailProblem;

// An event as the dialogue table writes it: detail is the server's words of a
// failure, else the body size, the IDs or the header block's size.
struct Seen {
    K kind;
    int message;
    std::int64_t result;
    P problem = P::None;
    std::string detail = {};
    bool operator==(const Seen &) const = default;
};

void PrintTo(const Seen &seen, std::ostream *out)
{
    *out << "{kind " << int(seen.kind) << ", #" << seen.message << ", " << seen.result << ", problem "
         << int(seen.problem) << ", \"" << seen.detail << "\"}";
}

Seen seen(const Pop3Event &event)
{
    std::string detail = event.failure.serverText.toStdString();
    if (event.failure.problem == P::None && event.kind == K::Retrieved)
        detail = std::to_string(event.bodySize);
    if (event.failure.problem == P::None && event.kind == K::HeadersRead)
        detail = std::to_string(event.headers.size());
    for (const std::string &id : event.ids)
        detail += id + ' ';
    return {event.kind, event.message, event.result, event.failure.problem, detail};
}

// A request the driver makes once this many events came out, or after the server's
// last byte when none ever do.
struct Action {
    std::size_t afterEvents;
    K what; // Retrieved, IdsListed, HeadersRead or Closed
    int message = 0; // IdsListed: the most IDs kept (1000 when 0), in at most 6 bytes
};

struct Dialogue {
    const char *name;
    Pop3Login login;
    std::vector<Action> actions;
    std::vector<std::string> server; // the server's bytes; the handshake runs between two parts
    std::string sent;
    std::vector<Seen> events;
    Pop3Pipeline pipeline = {};
};

struct Played {
    std::string sent;
    std::vector<Seen> events;
};

// Plays a dialogue as a connection would, each part of the server's bytes cut into
// chunks by the given split.
template <typename Split>
Played play(const Dialogue &dialogue, Split split)
{
    Pop3Session session(dialogue.pipeline);
    Played run;
    std::size_t next = 0;
    const auto request = [&session](const Action &action) {
        switch (action.what) {
        case K::Retrieved: return session.retrieve(action.message);
        case K::IdsListed: return session.listIds({action.message > 0 ? std::size_t(action.message) : 1000, 6});
        case K::HeadersRead: return session.readHeaders(action.message);
        default: return session.quit();
        }
    };
    const auto collect = [&](bool serverDone) {
        do {
            run.sent += session.takeOutgoing().toStdString();
            for (const Pop3Event &event : session.takeEvents())
                run.events.push_back(seen(event));
        } while (next < dialogue.actions.size() &&
                 (serverDone || dialogue.actions[next].afterEvents <= run.events.size()) &&
                 (request(dialogue.actions[next++]), true));
    };
    session.logIn(dialogue.login);
    collect(false);
    for (std::size_t part = 0; part < dialogue.server.size(); ++part) {
        if (part > 0)
            session.tlsStarted();
        for (const std::string_view chunk : split(std::string_view(dialogue.server[part]))) {
            session.feed(chunk);
            collect(false);
        }
    }
    collect(true);
    return run;
}

Pop3Login login(const char *password = "p", bool apop = false)
{
    Pop3Login login;
    login.user = QStringLiteral("u");
    login.secret = QString::fromLatin1(password);
    login.apop = apop;
    return login;
}

Pop3Login tokenLogin(const std::string &token = "t0k-8Zq")
{
    Pop3Login login;
    login.user = QStringLiteral("olive@kingyo.test");
    login.secret = MailSecret::accessToken(QString::fromStdString(token));
    return login;
}

std::string base64(const std::string &raw)
{
    return QByteArray::fromStdString(raw).toBase64().toStdString();
}

std::string oauthBearerSent(const std::string &token)
{
    return base64("n,a=olive@kingyo.test,\x01" "auth=Bearer " + token + "\x01\x01");
}

// Errors as Dovecot sends them for each mechanism.
const std::string kOauthBearerError = R"({"status":"invalid_token"})";
const std::string kXoauth2Error = R"({"status":"401","schemes":"bearer","scope":"mail"})";

const std::string kLogin = "+OK ready\r\n+OK\r\nUSER\r\n.\r\n+OK\r\n+OK\r\n";
const std::string kPipelinedLogin = "+OK ready\r\n+OK\r\nUSER\r\nPIPELINING\r\n.\r\n+OK\r\n+OK\r\n";
const std::string kSent = "CAPA\r\nUSER u\r\nPASS p\r\nSTAT\r\n";

std::string headerBlockPastTheLimit()
{
    std::string block = "+OK\r\n";
    while (block.size() < std::size_t(kHeaderBlockLimit) + 100)
        block += "X-Filler: " + std::string(60, 'f') + "\r\n";
    return block + ".\r\n";
}

std::vector<Dialogue> dialogues()
{
    Pop3Login apop = login("tanstaaf", true);
    apop.user = QStringLiteral("mrose");
    Pop3Login sawStls = login();
    sawStls.stlsSeenBefore = true;
    Pop3Login newOnly = login();
    newOnly.listSizes = false;
    Pop3Login tokenSawStls = tokenLogin();
    tokenSawStls.stlsSeenBefore = true;
    const std::string longToken(200, 't');
    const Action quit{3, K::Closed};
    return {
        {"plain login, list, two messages", login(), {{1, K::Retrieved, 1}, {2, K::Retrieved, 2}, quit},
         {kLogin + "+OK 2 26\r\n+OK\r\n1 20\r\n2 6\r\n.\r\n+OK\r\nSubject: a\r\n\r\nbody\r\n.\r\n+OK\r\n..dot\r\n.\r\n+OK bye\r\n"},
         kSent + "LIST\r\nRETR 1\r\nRETR 2\r\nQUIT\r\n",
         {{K::LoggedIn, 0, 2}, {K::Retrieved, 1, 0, P::None, "20"}, {K::Retrieved, 2, 0, P::None, "6"}, {K::Closed, 0, 0}}},
        {"APOP, no CAPA", apop, {{1, K::Closed}},
         {"+OK POP3 <1896.697170952@dbc.mtview.ca.us>\r\n-ERR what\r\n+OK\r\n+OK 0 0\r\n+OK\r\n.\r\n+OK\r\n"},
         "CAPA\r\nAPOP mrose c4c9334bac560ecc979e58001b3e22fb\r\nSTAT\r\nLIST\r\nQUIT\r\n",
         {{K::LoggedIn, 0, 0}, {K::Closed, 0, 0}}},
        {"STLS: what came before the handshake is dropped, CAPA asked again", login(), {{2, K::Closed}},
         {"+OK hi\r\n+OK\r\nSTLS\r\n.\r\n+OK go\r\n+OK injected\r\n.\r\n",
          "+OK\r\nPIPELINING\r\nUSER\r\n.\r\n+OK\r\n+OK\r\n+OK 1 5\r\n+OK\r\n1 5\r\n.\r\n+OK\r\n"},
         "CAPA\r\nSTLS\r\nCAPA\r\nUSER u\r\nPASS p\r\nSTAT\r\nLIST\r\nQUIT\r\n",
         {{K::StartTls, 0, 0}, {K::LoggedIn, 0, 1}, {K::Closed, 0, 0}}},
        {"STLS struck from a server that offered it: nothing sent", sawStls, {{0, K::Retrieved, 1}},
         {"+OK\r\n+OK\r\nUSER\r\n.\r\n"}, "CAPA\r\n",
         {{K::LoggedIn, 0, pop3::kTlsFailure, P::EncryptionWithdrawn}, {K::Retrieved, 1, pop3::kTlsFailure, P::EncryptionWithdrawn}}},
        {"login rejected: the password stays out of the server's words", login("s3cret"),
         {{0, K::Retrieved, 1}}, {"+OK\r\n-ERR\r\n+OK\r\n-ERR [AUTH] s3cret\tis wrong\r\n"},
         "CAPA\r\nUSER u\r\nPASS s3cret\r\n",
         {{K::LoggedIn, 0, pop3::kLoginRejected, P::LoginRejected, "[AUTH] *** is wrong"},
          {K::Retrieved, 1, pop3::kNotConnected, P::NotLoggedIn}}},
        {"pipelined RETRs, one refused, the window refilled", login(),
         {{1, K::Retrieved, 1}, {2, K::Retrieved, 2}, {3, K::Retrieved, 3}, {4, K::Closed}},
         {kPipelinedLogin + "+OK 3 9\r\n+OK\r\n1 3\r\n2 3\r\n3 3\r\n.\r\n+OK\r\nA\r\n.\r\n-ERR gone\r\n+OK\r\nBB\r\n.\r\n+OK\r\n"},
         kSent + "LIST\r\nRETR 1\r\nRETR 2\r\nRETR 3\r\nQUIT\r\n",
         {{K::LoggedIn, 0, 3},
          {K::Retrieved, 1, 0, P::None, "3"},
          {K::Retrieved, 2, pop3::kServerError, P::MessageRefused, "gone"},
          {K::Retrieved, 3, 0, P::None, "4"},
          {K::Closed, 0, 0}},
         {2, 0}},
        {"answers in request order; QUIT does not wait for RETRs asked ahead", login(),
         {{1, K::Retrieved, 1}, {1, K::Retrieved, 9}, {3, K::Closed}},
         {kPipelinedLogin + "+OK 3 9\r\n+OK\r\n1 3\r\n2 3\r\n3 3\r\n.\r\n+OK\r\nA\r\n.\r\n"},
         kSent + "LIST\r\nRETR 1\r\nRETR 2\r\nRETR 3\r\nQUIT\r\n",
         {{K::LoggedIn, 0, 3},
          {K::Retrieved, 1, 0, P::None, "3"},
          {K::Retrieved, 9, pop3::kNoSuchMessage, P::NoSuchMessage},
          {K::Closed, 0, 0}}},
        {"new-only: IDs good and unreadable, headers capped and refused", newOnly,
         {{0, K::IdsListed}, {0, K::IdsListed}, {0, K::HeadersRead, 1}, {0, K::HeadersRead, 2}, {0, K::Retrieved, 1}, {0, K::Closed}},
         {kLogin + "+OK 2 9\r\n+OK\r\n1 a\r\n2 b\r\n.\r\n+OK\r\n1 a\r\n2 b\x01\r\n.\r\n" + headerBlockPastTheLimit() +
          "-ERR no TOP\r\n+OK\r\n"},
         kSent + "UIDL\r\nUIDL\r\nTOP 1 0\r\nTOP 2 0\r\nQUIT\r\n",
         {{K::LoggedIn, 0, 2},
          {K::IdsListed, 0, 2, P::None, "a b "},
          {K::IdsListed, 0, pop3::kServerError, P::UidlUnreadable},
          {K::HeadersRead, 1, 0, P::None, std::to_string(kHeaderBlockLimit)},
          {K::HeadersRead, 2, pop3::kServerError, P::MessageRefused, "no TOP"},
          {K::Retrieved, 1, pop3::kServerError, P::SizeUnreadable},
          {K::Closed, 0, 0}}},
        {"new-only: a UIDL past the IDs or the bytes kept is refused, read to its end", newOnly,
         {{0, K::IdsListed, 2}, {0, K::IdsListed}, {0, K::IdsListed}, {0, K::Closed}},
         {kLogin + "+OK 3 9\r\n+OK\r\n1 a\r\n2 b\r\n3 c\r\n.\r\n+OK\r\n1 a\r\n2 bb\r\n3 c\r\n.\r\n"
                   "+OK\r\n1 a\r\n2 b\r\n3 c\r\n.\r\n+OK\r\n"},
         kSent + "UIDL\r\nUIDL\r\nUIDL\r\nQUIT\r\n",
         {{K::LoggedIn, 0, 3},
          {K::IdsListed, 0, pop3::kProtocolError, P::TooManyIds},
          {K::IdsListed, 0, pop3::kProtocolError, P::TooManyIds},
          {K::IdsListed, 0, 3, P::None, "a b c "},
          {K::Closed, 0, 0}}},
        {"LIST longer than STAT", login(), {}, {kLogin + "+OK 1 3\r\n+OK\r\n1 3\r\n2 3\r\n.\r\n"}, kSent + "LIST\r\n",
         {{K::LoggedIn, 0, pop3::kProtocolError, P::ListMismatch}}},
        {"a server that floods unasked", login(), {{100, K::Retrieved, 1}},
         {kLogin + "+OK 1 3\r\n+OK\r\n1 3\r\n.\r\n" + std::string(20000, 'x')}, kSent + "LIST\r\n",
         {{K::LoggedIn, 0, 1}, {K::Retrieved, 1, pop3::kProtocolError, P::ReplyOverrun}}},
        {"a token: AUTH OAUTHBEARER with its first message on the line, then STAT", tokenLogin(), {{1, K::Closed}},
         {"+OK ready\r\n+OK\r\nUSER\r\nSASL PLAIN XOAUTH2 OAUTHBEARER\r\n.\r\n+OK Logged in.\r\n+OK 1 5\r\n+OK\r\n1 5\r\n"
          ".\r\n+OK\r\n"},
         "CAPA\r\nAUTH OAUTHBEARER " + oauthBearerSent("t0k-8Zq") + "\r\nSTAT\r\nLIST\r\nQUIT\r\n",
         {{K::LoggedIn, 0, 1}, {K::Closed, 0, 0}}},
        {"a token refused over XOAUTH2: its error answered with an empty line, its JSON kept", tokenLogin(),
         {{0, K::Retrieved, 1}},
         {"+OK ready\r\n+OK\r\nSASL PLAIN XOAUTH2\r\n.\r\n+ " + base64(kXoauth2Error) + "\r\n-ERR [AUTH] failed\r\n"},
         "CAPA\r\nAUTH XOAUTH2 " + base64("user=olive@kingyo.test\x01" "auth=Bearer t0k-8Zq\x01\x01") + "\r\n\r\n",
         {{K::LoggedIn, 0, pop3::kLoginRejected, P::TokenRejected, kXoauth2Error},
          {K::Retrieved, 1, pop3::kNotConnected, P::NotLoggedIn}}},
        {"a long token refused: its first message waits for the go-ahead, as the line would pass 255 octets",
         tokenLogin(longToken), {},
         {"+OK\r\n+OK\r\nSASL OAUTHBEARER\r\n.\r\n+ \r\n+ " + base64(kOauthBearerError) + "\r\n-ERR [AUTH] failed\r\n"},
         "CAPA\r\nAUTH OAUTHBEARER\r\n" + oauthBearerSent(longToken) + "\r\nAQ==\r\n",
         {{K::LoggedIn, 0, pop3::kLoginRejected, P::TokenRejected, kOauthBearerError}}},
        {"a token over STLS: only the CAPA after the handshake counts, and it lists no token mechanism", tokenLogin(),
         {}, {"+OK\r\n+OK\r\nSTLS\r\nSASL XOAUTH2\r\n.\r\n+OK go\r\n", "+OK\r\nSASL PLAIN\r\nUSER\r\n.\r\n"},
         "CAPA\r\nSTLS\r\nCAPA\r\n",
         {{K::StartTls, 0, 0}, {K::LoggedIn, 0, pop3::kTokenLoginUnavailable, P::TokenLoginUnavailable}}},
        {"a token to a server that struck STLS: nothing sent", tokenSawStls, {},
         {"+OK\r\n+OK\r\nSASL XOAUTH2\r\n.\r\n"}, "CAPA\r\n",
         {{K::LoggedIn, 0, pop3::kTlsFailure, P::EncryptionWithdrawn}}},
        {"a second error challenge, or a challenge to another command, is not POP3", tokenLogin(), {},
         {"+OK\r\n+OK\r\nSASL OAUTHBEARER\r\n.\r\n+ e30=\r\n+ e30=\r\n"},
         "CAPA\r\nAUTH OAUTHBEARER " + oauthBearerSent("t0k-8Zq") + "\r\nAQ==\r\n",
         {{K::LoggedIn, 0, pop3::kProtocolError, P::NotPop3, "e30="}}},
        {"a challenge to PASS is not POP3", login(), {}, {"+OK\r\n-ERR\r\n+OK\r\n+ more\r\n"}, "CAPA\r\nUSER u\r\nPASS p\r\n",
         {{K::LoggedIn, 0, pop3::kProtocolError, P::NotPop3, "more"}}},
        {"garbage greeting", login(), {{0, K::Retrieved, 1}, {100, K::Closed}}, {"HTTP/1.1 400 Bad\r\n+OK\r\n"}, "",
         {{K::LoggedIn, 0, pop3::kProtocolError, P::NotPop3, "HTTP/1.1 400 Bad"},
          {K::Retrieved, 1, pop3::kProtocolError, P::NotPop3, "HTTP/1.1 400 Bad"},
          {K::Closed, 0, pop3::kProtocolError, P::NotPop3, "HTTP/1.1 400 Bad"}}},
    };
}

TEST(Pop3Session, DialoguesGiveTheSameCommandsAndEventsHoweverTheBytesAreCut)
{
    for (const Dialogue &dialogue : dialogues()) {
        SCOPED_TRACE(dialogue.name);
        const Played whole = play(dialogue, [](std::string_view part) { return std::vector{part}; });
        EXPECT_EQ(whole.sent, dialogue.sent);
        EXPECT_EQ(whole.events, dialogue.events);
        const Played byteByByte = play(dialogue, [](std::string_view part) {
            std::vector<std::string_view> bytes;
            for (std::size_t i = 0; i < part.size(); ++i)
                bytes.push_back(part.substr(i, 1));
            return bytes;
        });
        EXPECT_EQ(byteByByte.sent, dialogue.sent);
        EXPECT_EQ(byteByByte.events, dialogue.events);
        std::size_t longest = 0;
        for (const std::string &part : dialogue.server)
            longest = std::max(longest, part.size());
        for (std::size_t cut = 1; cut < longest; ++cut) {
            const Played split = play(dialogue, [cut](std::string_view part) {
                return std::vector{part.substr(0, cut), part.substr(std::min(cut, part.size()))};
            });
            ASSERT_EQ(split.sent, dialogue.sent) << "cut at " << cut;
            ASSERT_EQ(split.events, dialogue.events) << "cut at " << cut;
        }
    }
}

// A message that runs far past the size LIST gave ends the session, and only then.
TEST(Pop3Session, EndlessMessageEndsTheSessionPastItsBudget)
{
    Pop3Session session;
    session.logIn(login());
    session.feed(kLogin + "+OK 1 100\r\n+OK\r\n1 100\r\n.\r\n");
    session.retrieve(1);
    session.feed("+OK\r\n");
    const std::string line = std::string(1022, 'x') + "\r\n";
    std::int64_t fed = 0;
    while (session.state() == Pop3Session::State::Ready && fed < (std::int64_t{4} << 20)) {
        session.feed(line);
        fed += std::int64_t(line.size());
    }
    EXPECT_GT(fed, 2 * 100 + (1 << 20) - 1024);
    EXPECT_LE(fed, 2 * 100 + (1 << 20) + 1024);
    const std::vector<Pop3Event> events = session.takeEvents();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1].failure.problem, P::ReplyOverrun);
    EXPECT_FALSE(session.awaitsReply());
}

} // namespace
} // namespace kingyo
