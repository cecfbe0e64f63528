#include "mail/imap/imap_session.h"
#include "mail/mail_headers.h"
#include "mail/pop3_failure.h"

#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <vector>

namespace kingyo {
namespace {

using K = ImapEvent::Kind;
using P = MailProblem;

// An event as the dialogue table writes it. detail: a failure's facts and server
// words ("facts|words"), else the status (messages/unseen/uidNext/uidValidity), the
// UIDs, or each header block as "uid=bytes;" (its size when long).
struct Seen {
    K kind;
    std::int64_t result;
    P problem = P::None;
    std::string detail = {};
    bool operator==(const Seen &) const = default;
};

void PrintTo(const Seen &seen, std::ostream *out)
{
    *out << "{kind " << int(seen.kind) << ", " << seen.result << ", problem " << int(seen.problem) << ", \""
         << seen.detail << "\"}";
}

Seen seen(const ImapEvent &event)
{
    std::string detail;
    const ImapMailboxStatus &status = event.status;
    if (event.failure.problem != P::None) {
        detail = event.failure.facts.join(u',').toStdString() + '|' + event.failure.serverText.toStdString();
    } else if (event.kind == K::StatusRead || event.kind == K::Examined || event.kind == K::MailboxChanged) {
        for (const std::int64_t number : {status.messages, status.unseen, status.uidNext, status.uidValidity})
            detail += (detail.empty() ? "" : "/") + std::to_string(number);
    }
    for (const std::uint32_t uid : event.uids)
        detail += std::to_string(uid) + ' ';
    for (const auto &[uid, block] : event.headers)
        detail += std::to_string(uid) + '=' + (block.size() <= 64 ? block.toStdString() : std::to_string(block.size())) + ';';
    return {event.kind, event.result, event.failure.problem, detail};
}

// A request the driver makes before the step's server bytes arrive.
struct Ask {
    K what; // StatusRead, Examined, Searched, HeadersRead, IdleEnded, NoopDone, Closed; Idling: done()
    // Those fetched, or the UID searched from, then STATUS's UIDNEXT and UNSEEN, then
    // the positions searched.
    std::vector<std::uint32_t> numbers = {};
    const char *mailbox = "INBOX";
};

struct Step {
    std::vector<Ask> asks;
    std::string server;
};

struct Dialogue {
    const char *name;
    ImapLogin login;
    std::vector<Step> steps; // the TLS handshake runs between two steps when StartTls came
    std::string sent;
    std::vector<Seen> events;
    std::string awaits = {}; // when given, awaitsReply() before and after each step's bytes ('1' or '0')
};

struct Played {
    std::string sent;
    std::vector<Seen> events;
    std::string awaits;
};

UnseenSearch search(const std::vector<std::uint32_t> &numbers)
{
    UnseenSearch search;
    search.fromUid = numbers.at(0);
    if (numbers.size() >= 3) {
        search.told.uidNext = numbers[1];
        search.told.unseen = numbers[2];
    }
    if (numbers.size() >= 5) {
        search.firstMessage = numbers[3];
        search.lastMessage = numbers[4];
    }
    return search;
}

// Plays a dialogue as a connection would, each step's server bytes cut into chunks
// by the given split.
template <typename Split>
Played play(const Dialogue &dialogue, Split split)
{
    ImapSession session;
    Played run;
    const auto collect = [&] {
        run.sent += session.takeOutgoing().toStdString();
        for (const ImapEvent &event : session.takeEvents())
            run.events.push_back(seen(event));
    };
    session.logIn(dialogue.login);
    for (const Step &step : dialogue.steps) {
        if (session.state() == ImapSession::State::Handshake)
            session.tlsStarted();
        for (const Ask &ask : step.asks) {
            const QString mailbox = QString::fromUtf8(ask.mailbox);
            switch (ask.what) {
            case K::StatusRead: session.status(mailbox); break;
            case K::Examined: session.examine(mailbox); break;
            case K::Searched: session.searchUnseen(search(ask.numbers)); break;
            case K::HeadersRead: session.fetchHeaders(ask.numbers); break;
            case K::IdleEnded: session.idle(); break;
            case K::Idling: session.done(); break;
            case K::NoopDone: session.noop(); break;
            default: session.logout(); break;
            }
        }
        collect();
        run.awaits += session.awaitsReply() ? '1' : '0';
        for (const std::string_view chunk : split(std::string_view(step.server))) {
            session.feed(chunk);
            collect();
        }
        run.awaits += session.awaitsReply() ? '1' : '0';
    }
    if (dialogue.awaits.empty())
        run.awaits.clear();
    return run;
}

ImapLogin login(const char *user = "u", const char *password = "p", bool encrypted = true)
{
    ImapLogin login;
    login.user = QString::fromUtf8(user);
    login.secret = QString::fromUtf8(password);
    login.encrypted = encrypted;
    return login;
}

ImapLogin plain(bool startTlsSeenBefore = false)
{
    ImapLogin plain = login("u", "p", false);
    plain.startTlsSeenBefore = startTlsSeenBefore;
    return plain;
}

ImapLogin tokenLogin(const char *token = "t0k-8Zq", bool encrypted = true, bool startTlsSeenBefore = false)
{
    ImapLogin login;
    login.user = QStringLiteral("olive@kingyo.test");
    login.secret = MailSecret::accessToken(QString::fromUtf8(token));
    login.encrypted = encrypted;
    login.startTlsSeenBefore = startTlsSeenBefore;
    return login;
}

std::string base64(std::string_view raw)
{
    return QByteArray(raw.data(), qsizetype(raw.size())).toBase64().toStdString();
}

// The first messages of tokenLogin(), and errors as Dovecot sends them for each.
const std::string kOauthBearerSent = base64("n,a=olive@kingyo.test,\x01" "auth=Bearer t0k-8Zq\x01\x01");
const std::string kXoauth2Sent = base64("user=olive@kingyo.test\x01" "auth=Bearer t0k-8Zq\x01\x01");
const std::string kOauthBearerError = R"({"status":"invalid_token"})";
const std::string kXoauth2Error = R"({"status":"401","schemes":"bearer","scope":"mail"})";

// Dovecot over TLS: AUTHENTICATE PLAIN with its initial response.
const std::string kGreeting = "* OK [CAPABILITY IMAP4rev1 SASL-IR LOGIN-REFERRALS ID ENABLE IDLE LITERAL+ AUTH=PLAIN] Dovecot ready.\r\n";
const std::string kLoggedIn = kGreeting + "k1 OK [CAPABILITY IMAP4rev1 IDLE UIDPLUS] Logged in\r\n";
const std::string kLoginSent = "k1 AUTHENTICATE PLAIN AHUAcA==\r\n";
const std::string kBare = "* OK [CAPABILITY IMAP4rev1] ready\r\n"; // LOGIN only, no IDLE

std::string examined(const std::string &tag)
{
    return "* FLAGS (\\Answered \\Flagged \\Deleted \\Seen \\Draft)\r\n* OK [PERMANENTFLAGS ()] Read-only mailbox.\r\n"
           "* 3 EXISTS\r\n* 0 RECENT\r\n* OK [UIDVALIDITY 1700000000] UIDs valid\r\n* OK [UIDNEXT 8] Predicted next UID\r\n" +
           tag + " OK [READ-ONLY] Examine completed (0.001 + 0.000 secs).\r\n";
}

const Seen kExamined{K::Examined, 0, P::None, "3/-1/8/1700000000"};
const Seen kThreeExist{K::MailboxChanged, 0, P::None, "3/-1/-1/-1"};

std::string headerBlockPastTheLimit()
{
    std::string block;
    while (block.size() < std::size_t(kHeaderBlockLimit) + 100)
        block += "X-Filler: " + std::string(60, 'f') + "\r\n";
    return block;
}

std::vector<Dialogue> dialogues()
{
    const std::string from = "From: a@example.jp\r\nSubject: x\r\n\r\n";
    const std::string big = headerBlockPastTheLimit();
    return {
        {"examine, search from a UID past the last (n:* quirk), fetch headers, logout", login(),
         {{{{K::Examined}}, kLoggedIn + examined("k2")},
          {{{K::Searched, {8}}}, "* SEARCH 7\r\nk3 OK Search completed\r\n"},
          {{{K::Searched, {5}}, {K::HeadersRead, {7, 5, 5, 0, 3}}, {K::Closed}},
           "* SEARCH 7 5\r\nk4 OK Search completed\r\n* 1 FETCH (FLAGS (\\Seen))\r\n"
           "* 9 FETCH (UID 4 BODY[HEADER.FIELDS (FROM SUBJECT)] \"unasked\")\r\n"
           "* 2 FETCH (UID 5 BODY[HEADER.FIELDS (FROM SUBJECT)] {34}\r\n" + from + ")\r\n"
           "* 2 FETCH (UID 5 BODY[HEADER.FIELDS (FROM SUBJECT)] \"again\")\r\n"
           "* 3 FETCH (UID 7 FLAGS () BODY[HEADER.FIELDS (\"FROM\" \"SUBJECT\")]<0> \"Subject: \\\"q\\\\\")\r\n"
           "* 1 FETCH (UID 3 BODY[HEADER.FIELDS (FROM SUBJECT)] NIL)\r\nk5 OK Fetch completed\r\n"
           "* BYE Logging out\r\nk6 OK Logout completed.\r\n"}},
         kLoginSent + "k2 EXAMINE INBOX\r\nk3 UID SEARCH UNSEEN UID 8:*\r\nk4 UID SEARCH UNSEEN UID 5:*\r\n"
                      "k5 UID FETCH 3,5,7 (BODY.PEEK[HEADER.FIELDS (FROM SUBJECT)])\r\nk6 LOGOUT\r\n",
         {{K::LoggedIn, 0}, kThreeExist, kExamined, {K::Searched, 0}, {K::Searched, 0, P::None, "5 7 "},
          {K::HeadersRead, 0, P::None, "5=" + from + ";7=Subject: \"q\\;3=;"}, {K::Closed, 0}}},
        {"STARTTLS: bytes before the handshake dropped, capabilities asked again, PLAIN waits for its go-ahead",
         plain(),
         {{{}, "* OK [CAPABILITY IMAP4rev1 LITERAL+ STARTTLS LOGINDISABLED] ready\r\n"
               "k1 OK Begin TLS negotiation now.\r\n* OK [CAPABILITY IMAP4rev1 IDLE] injected\r\nk9 OK injected\r\n"},
          {{{K::Closed}}, "* CAPABILITY IMAP4rev1 IDLE AUTH=PLAIN\r\nk2 OK Pre-login capabilities listed\r\n+ \r\n"
                          "k3 OK [CAPABILITY IMAP4rev1 IDLE] Logged in\r\n* BYE\r\nk4 OK\r\n"}},
         "k1 STARTTLS\r\nk2 CAPABILITY\r\nk3 AUTHENTICATE PLAIN\r\nAHUAcA==\r\nk4 LOGOUT\r\n",
         {{K::StartTls, 0}, {K::LoggedIn, 0}, {K::Closed, 0}}, "1110"}, // the handshake is owed
        {"LOGIN with literals and no LITERAL+: each waits for the server's go-ahead", login("金魚", "日本"),
         {{{}, kBare + "+ OK\r\n+ OK\r\nk1 OK [CAPABILITY IMAP4rev1] Logged in\r\n"}},
         "k1 LOGIN {6}\r\n金魚 {6}\r\n日本\r\n", {{K::LoggedIn, 0}}},
        {"a literal refused before the go-ahead: the password never goes out", login("u", "日本"),
         {{{}, kBare + "k1 NO [AUTHENTICATIONFAILED] Authentication failed.\r\n"}}, "k1 LOGIN u {6}\r\n",
         {{K::LoggedIn, pop3::kLoginRejected, P::LoginRejected, "|Authentication failed."}}},
        {"LOGIN with LITERAL+ and a quoted password, capabilities asked after", login("金魚", "p\"w\\"),
         {{{}, "* OK [CAPABILITY IMAP4rev1 LITERAL+] ready\r\nk1 OK Logged in\r\n* CAPABILITY IMAP4rev1 IDLE\r\nk2 OK\r\n"}},
         "k1 LOGIN {6+}\r\n金魚 \"p\\\"w\\\\\"\r\nk2 CAPABILITY\r\n", {{K::LoggedIn, 0}}},
        {"login rejected: the password, as sent or spelt by blanks, stays out of the server's words", login("u", "s3\" cret"),
         {{{{K::StatusRead}}, kBare + "k1 NO LOGIN u \"s3\\\" cret\"\tis wrong: s3\"\tcret\r\n"}},
         "k1 LOGIN u \"s3\\\" cret\"\r\n",
         {{K::LoggedIn, pop3::kLoginRejected, P::LoginRejected, "|LOGIN u \"***\" is wrong: ***"},
          {K::StatusRead, pop3::kNotConnected, P::NotLoggedIn, "|"}}},
        {"AUTHENTICATE PLAIN echoed back: hidden too", login("u", "s3cret"),
         {{{}, kGreeting + "k1 BAD Invalid base64: AHUAczNjcmV0\r\n"}}, "k1 AUTHENTICATE PLAIN AHUAczNjcmV0\r\n",
         {{K::LoggedIn, pop3::kLoginRejected, P::LoginRejected, "|Invalid base64: ***"}}},
        {"LOGINDISABLED in the clear without STARTTLS: nothing sent", plain(),
         {{{}, "* OK [CAPABILITY IMAP4rev1 LOGINDISABLED] ready\r\n"}}, "",
         {{K::LoggedIn, pop3::kTlsFailure, P::LoginDisabled, "|"}}},
        {"STARTTLS struck from a server that offered it: nothing sent", plain(true),
         {{{}, "* OK ready\r\n* CAPABILITY IMAP4rev1 AUTH=PLAIN\r\nk1 OK\r\n"}}, "k1 CAPABILITY\r\n",
         {{K::LoggedIn, pop3::kTlsFailure, P::EncryptionWithdrawn, "|"}}},
        {"STARTTLS refused: nothing sent", plain(),
         {{{}, "* OK [CAPABILITY IMAP4rev1 STARTTLS AUTH=PLAIN] ready\r\nk1 NO not now\r\n"}}, "k1 STARTTLS\r\n",
         {{K::LoggedIn, pop3::kTlsFailure, P::StartTlsRefused, "|not now"}}},
        {"PREAUTH in the clear from a server never seen with STARTTLS: logged in, nothing at stake", plain(),
         {{{{K::Closed}}, "* PREAUTH [CAPABILITY IMAP4rev1 IDLE] welcome\r\n* BYE\r\n"}}, "k1 LOGOUT\r\n",
         {{K::LoggedIn, 0}, {K::Closed, 0}}},
        {"PREAUTH in the clear where STARTTLS was seen: a strip, nothing asked", plain(true),
         {{{{K::StatusRead}, {K::Closed}}, "* PREAUTH [CAPABILITY IMAP4rev1 IDLE] welcome\r\n"}}, "",
         {{K::LoggedIn, pop3::kTlsFailure, P::EncryptionWithdrawn, "|"},
          {K::StatusRead, pop3::kNotConnected, P::NotLoggedIn, "|"}, {K::Closed, 0}}},
        {"STATUS, a refused mailbox named in UTF-7, a malformed SEARCH: the session lives on", login("u", "p"),
         {{{{K::StatusRead}, {K::StatusRead, {}, "日記 &"}, {K::Examined}, {K::Searched, {1}}, {K::NoopDone}},
           kBare + "k1 OK [CAPABILITY IMAP4rev1] Logged in\r\n"
                   "* STATUS INBOX (MESSAGES 3 UNSEEN 1 UIDNEXT 9 UIDVALIDITY 77)\r\n* STATUS Other (MESSAGES 9)\r\nk2 OK\r\n"
                   "k3 NO Mailbox doesn't exist\r\n" + examined("k4") + "* SEARCH 5 x\r\nk5 OK\r\nk6 OK\r\n"}},
         "k1 LOGIN u p\r\nk2 STATUS INBOX (MESSAGES UNSEEN UIDNEXT UIDVALIDITY)\r\n"
         "k3 STATUS \"&ZeWKGA- &-\" (MESSAGES UNSEEN UIDNEXT UIDVALIDITY)\r\nk4 EXAMINE INBOX\r\nk5 UID SEARCH UNSEEN\r\nk6 NOOP\r\n",
         {{K::LoggedIn, 0}, {K::StatusRead, 0, P::None, "3/1/9/77"},
          {K::StatusRead, pop3::kServerError, P::MailboxRefused, "日記 &|Mailbox doesn't exist"}, kThreeExist, kExamined,
          {K::Searched, pop3::kServerError, P::ImapReplyUnreadable, "SEARCH|"}, {K::NoopDone, 0}}},
        {"SEARCH against STATUS: UIDs past UIDNEXT and repeats dropped; more than UNSEEN is a broken answer", login(),
         {{{{K::Examined}, {K::Searched, {0, 4, 2}}, {K::Searched, {0, 4, 2, 2, 3}}, {K::Searched, {2, 4, 2}}},
           kLoggedIn + examined("k2") + "* SEARCH 7 8 9 4294967295 2147483648 1 1 1 2 2\r\nk3 OK\r\n"
           "* SEARCH 1 2 3 9\r\nk4 OK\r\n* SEARCH 2 3 4\r\nk5 OK\r\n"}},
         kLoginSent + "k2 EXAMINE INBOX\r\nk3 UID SEARCH UNSEEN\r\nk4 UID SEARCH UNSEEN 2:3\r\n"
                      "k5 UID SEARCH UNSEEN UID 2:*\r\n",
         {{K::LoggedIn, 0}, kThreeExist, kExamined, {K::Searched, 0, P::None, "1 2 "},
          {K::Searched, pop3::kServerError, P::ImapReplyUnreadable, "SEARCH|* SEARCH 1 2 3 9"},
          {K::Searched, 0, P::None, "2 3 "}}},
        {"IDLE: accepted, one message goes and one comes, DONE, its OK ends it", login(),
         {{{{K::Examined}, {K::IdleEnded}}, kLoggedIn + examined("k2") + "+ idling\r\n* 2 EXPUNGE\r\n* 3 EXISTS\r\n"},
          {{{K::Idling}, {K::NoopDone}}, "* OK Still here\r\nk3 OK Idle completed.\r\nk4 OK\r\n"}},
         kLoginSent + "k2 EXAMINE INBOX\r\nk3 IDLE\r\nDONE\r\nk4 NOOP\r\n",
         {{K::LoggedIn, 0}, kThreeExist, kExamined, {K::Idling, 0}, {K::MailboxChanged, 0, P::None, "2/-1/-1/-1"},
          kThreeExist, {K::IdleEnded, 0}, {K::NoopDone, 0}},
         "1010"}, // silence is normal in an IDLE, not after DONE
        {"done() before the go-ahead, an IDLE still waiting its turn, logout() during an IDLE", login(),
         {{{{K::Examined}, {K::IdleEnded}}, kLoggedIn + examined("k2")},
          {{{K::Idling}, {K::IdleEnded}}, "+ idling\r\nk3 OK\r\n+ idling\r\n"},
          {{{K::IdleEnded}, {K::Closed}}, "k4 OK\r\n* BYE\r\n"}},
         kLoginSent + "k2 EXAMINE INBOX\r\nk3 IDLE\r\nDONE\r\nk4 IDLE\r\nDONE\r\nk5 LOGOUT\r\n",
         {{K::LoggedIn, 0}, kThreeExist, kExamined, {K::Idling, 0}, {K::IdleEnded, 0}, {K::Idling, 0}, {K::IdleEnded, 0},
          {K::IdleEnded, 0}, {K::Closed, 0}}},
        {"no IDLE listed, no mailbox selected: answered at once, in order", login(),
         {{{{K::NoopDone}, {K::Searched, {0}}, {K::HeadersRead, {1}}},
           kBare + "k1 OK Logged in\r\n* CAPABILITY IMAP4rev1\r\nk2 OK\r\n* 5 EXISTS\r\nk3 OK\r\n"},
          {{{K::IdleEnded}}, ""}},
         "k1 LOGIN u p\r\nk2 CAPABILITY\r\nk3 NOOP\r\n",
         {{K::LoggedIn, 0}, {K::MailboxChanged, 0, P::None, "5/-1/-1/-1"}, {K::NoopDone, 0},
          {K::Searched, pop3::kNotConnected, P::NoMailboxSelected, "|"},
          {K::HeadersRead, pop3::kNotConnected, P::NoMailboxSelected, "|"},
          {K::IdleEnded, pop3::kServerError, P::IdleUnsupported, "|"}}},
        {"BYE during IDLE ends the session; later requests get it too", login(),
         {{{{K::Examined}, {K::IdleEnded}}, kLoggedIn + examined("k2") + "+ idling\r\n* BYE Server shutting down.\r\n"},
          {{{K::NoopDone}}, ""}},
         kLoginSent + "k2 EXAMINE INBOX\r\nk3 IDLE\r\n",
         {{K::LoggedIn, 0}, kThreeExist, kExamined, {K::Idling, 0},
          {K::IdleEnded, pop3::kConnectionLost, P::ClosedByServer, "|Server shutting down."},
          {K::NoopDone, pop3::kConnectionLost, P::ClosedByServer, "|Server shutting down."}}},
        {"a tagged answer to a command not in flight", login(),
         {{{{K::NoopDone}, {K::StatusRead}}, kLoggedIn + "k9 OK NOOP finished\r\n"}}, kLoginSent + "k2 NOOP\r\n",
         {{K::LoggedIn, 0}, {K::NoopDone, pop3::kProtocolError, P::NotImap, "|k9 OK NOOP finished"},
          {K::StatusRead, pop3::kProtocolError, P::NotImap, "|k9 OK NOOP finished"}}},
        {"header blocks past the limit are cut; a literal beyond the reader's cap fails before it comes", login(),
         {{{{K::Examined}, {K::HeadersRead, {5}}, {K::HeadersRead, {6}}},
           kLoggedIn + examined("k2") + "* 2 FETCH (UID 5 BODY[HEADER.FIELDS (FROM SUBJECT)] {" + std::to_string(big.size()) +
               "}\r\n" + big + ")\r\nk3 OK\r\n* 3 FETCH (UID 6 BODY[HEADER.FIELDS (FROM SUBJECT)] {99999999}\r\n"}},
         kLoginSent + "k2 EXAMINE INBOX\r\nk3 UID FETCH 5 (BODY.PEEK[HEADER.FIELDS (FROM SUBJECT)])\r\n"
                      "k4 UID FETCH 6 (BODY.PEEK[HEADER.FIELDS (FROM SUBJECT)])\r\n",
         {{K::LoggedIn, 0}, kThreeExist, kExamined, {K::HeadersRead, 0, P::None, "5=" + std::to_string(kHeaderBlockLimit) + ";"},
          {K::HeadersRead, pop3::kProtocolError, P::ReplyOverrun,
           "|* 3 FETCH (UID 6 BODY[HEADER.FIELDS (FROM SUBJECT)] {99999999}"}}},
        {"lists nested past the cap", login(), {{{{K::NoopDone}}, kLoggedIn + "* 1 FETCH " + std::string(40, '(') + std::string(40, ')') + "\r\n"}},
         kLoginSent + "k2 NOOP\r\n",
         {{K::LoggedIn, 0}, {K::NoopDone, pop3::kProtocolError, P::NotImap, "|* 1 FETCH " + std::string(40, '(') + std::string(40, ')')}}},
        {"garbage greeting", login(), {{{{K::StatusRead}, {K::Closed}}, "HTTP/1.1 400 Bad Request\r\n* OK\r\n"}}, "",
         {{K::LoggedIn, pop3::kProtocolError, P::NotImap, "|HTTP/1.1 400 Bad Request"},
          {K::StatusRead, pop3::kProtocolError, P::NotImap, "|HTTP/1.1 400 Bad Request"},
          {K::Closed, pop3::kProtocolError, P::NotImap, "|HTTP/1.1 400 Bad Request"}}},
        {"BYE for a greeting", login(), {{{}, "* BYE Too many connections\r\n"}}, "",
         {{K::LoggedIn, pop3::kConnectionLost, P::ClosedByServer, "|Too many connections"}}},
        {"a line break in the password: nothing sent", login("u", "p\r\nk2 DELETE INBOX"), {{{}, kGreeting}}, "",
         {{K::LoggedIn, pop3::kUnsafeCredentials, P::UnsafeCredentials, "|"}}},
        {"a token: OAUTHBEARER preferred, its first message on the command's line", tokenLogin(),
         {{{{K::StatusRead}}, "* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=PLAIN AUTH=XOAUTH2 AUTH=OAUTHBEARER] ready\r\n"
                              "k1 OK [CAPABILITY IMAP4rev1] Logged in\r\n* STATUS INBOX (MESSAGES 2 UNSEEN 1)\r\nk2 OK\r\n"}},
         "k1 AUTHENTICATE OAUTHBEARER " + kOauthBearerSent + "\r\nk2 STATUS INBOX (MESSAGES UNSEEN UIDNEXT UIDVALIDITY)\r\n",
         {{K::LoggedIn, 0}, {K::StatusRead, 0, P::None, "2/1/-1/-1"}}},
        {"a token refused over XOAUTH2 without SASL-IR: its error answered with an empty line, its JSON kept",
         tokenLogin(),
         {{{{K::StatusRead}}, "* OK [CAPABILITY IMAP4rev1 AUTH=XOAUTH2] ready\r\n+ \r\n+ " + base64(kXoauth2Error) +
                                  "\r\nk1 NO [AUTHENTICATIONFAILED] Authentication failed.\r\n"}},
         "k1 AUTHENTICATE XOAUTH2\r\n" + kXoauth2Sent + "\r\n\r\n",
         {{K::LoggedIn, pop3::kLoginRejected, P::TokenRejected, "|" + kXoauth2Error},
          {K::StatusRead, pop3::kNotConnected, P::NotLoggedIn, "|"}}},
        {"a token refused over OAUTHBEARER: its error answered with 0x01", tokenLogin(),
         {{{}, "* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=OAUTHBEARER] ready\r\n+ " + base64(kOauthBearerError) +
                   "\r\nk1 NO [AUTHENTICATIONFAILED] Authentication failed.\r\n"}},
         "k1 AUTHENTICATE OAUTHBEARER " + kOauthBearerSent + "\r\nAQ==\r\n",
         {{K::LoggedIn, pop3::kLoginRejected, P::TokenRejected, "|" + kOauthBearerError}}},
        {"a token refused without a challenge: the tagged words, the token hidden in them as sent and as it is",
         tokenLogin(),
         {{{}, "* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=XOAUTH2] ready\r\nk1 NO [AUTHENTICATIONFAILED] " + kXoauth2Sent +
                   " holds t0k-8Zq\r\n"}},
         "k1 AUTHENTICATE XOAUTH2 " + kXoauth2Sent + "\r\n",
         {{K::LoggedIn, pop3::kLoginRejected, P::TokenRejected, "|*** holds ***"}}},
        {"a second error challenge is not IMAP", tokenLogin(),
         {{{}, "* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=OAUTHBEARER] ready\r\n+ e30=\r\n+ e30=\r\n"}},
         "k1 AUTHENTICATE OAUTHBEARER " + kOauthBearerSent + "\r\nAQ==\r\n",
         {{K::LoggedIn, pop3::kProtocolError, P::NotImap, "|+ e30="}}},
        {"a token for a server listing neither mechanism: nothing sent", tokenLogin(), {{{}, kGreeting}}, "",
         {{K::LoggedIn, pop3::kTokenLoginUnavailable, P::TokenLoginUnavailable, "|"}}},
        {"a token over STARTTLS: only the capabilities after the handshake count", tokenLogin("t0k-8Zq", false),
         {{{}, "* OK [CAPABILITY IMAP4rev1 STARTTLS LOGINDISABLED] ready\r\nk1 OK Begin TLS negotiation now.\r\n"},
          {{}, "* CAPABILITY IMAP4rev1 AUTH=OAUTHBEARER\r\nk2 OK\r\n+ \r\nk3 OK Logged in\r\n* CAPABILITY IMAP4rev1\r\nk4 OK\r\n"}},
         "k1 STARTTLS\r\nk2 CAPABILITY\r\nk3 AUTHENTICATE OAUTHBEARER\r\n" + kOauthBearerSent + "\r\nk4 CAPABILITY\r\n",
         {{K::StartTls, 0}, {K::LoggedIn, 0}}},
        {"a token in the clear where LOGINDISABLED: nothing sent", tokenLogin("t0k-8Zq", false),
         {{{}, "* OK [CAPABILITY IMAP4rev1 LOGINDISABLED AUTH=XOAUTH2] ready\r\n"}}, "",
         {{K::LoggedIn, pop3::kTlsFailure, P::LoginDisabled, "|"}}},
        {"a token to a server that struck STARTTLS: nothing sent", tokenLogin("t0k-8Zq", false, true),
         {{{}, "* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=XOAUTH2] ready\r\n"}}, "",
         {{K::LoggedIn, pop3::kTlsFailure, P::EncryptionWithdrawn, "|"}}},
        {"a token that would end the message's field: nothing sent", tokenLogin("t0k\x01" "auth=Bearer x"),
         {{{}, "* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=XOAUTH2] ready\r\n"}}, "",
         {{K::LoggedIn, pop3::kUnsafeCredentials, P::UnsafeCredentials, "|"}}},
    };
}

TEST(ImapSession, DialoguesGiveTheSameCommandsAndEventsHoweverTheBytesAreCut)
{
    for (const Dialogue &dialogue : dialogues()) {
        SCOPED_TRACE(dialogue.name);
        const Played whole = play(dialogue, [](std::string_view part) { return std::vector{part}; });
        EXPECT_EQ(whole.sent, dialogue.sent);
        EXPECT_EQ(whole.events, dialogue.events);
        EXPECT_EQ(whole.awaits, dialogue.awaits);
        const Played byteByByte = play(dialogue, [](std::string_view part) {
            std::vector<std::string_view> bytes;
            for (std::size_t i = 0; i < part.size(); ++i)
                bytes.push_back(part.substr(i, 1));
            return bytes;
        });
        EXPECT_EQ(byteByByte.sent, dialogue.sent);
        EXPECT_EQ(byteByByte.events, dialogue.events);
        std::size_t longest = 0;
        for (const Step &step : dialogue.steps)
            longest = std::max(longest, step.server.size());
        // Every point near a step's ends; in between (a long literal) every point takes one path.
        const auto nextCut = [longest](std::size_t cut) {
            return cut < 4096 || cut + 4096 > longest ? cut + 1 : cut + 997;
        };
        for (std::size_t cut = 1; cut < longest; cut = nextCut(cut)) {
            const Played split = play(dialogue, [cut](std::string_view part) {
                return std::vector{part.substr(0, cut), part.substr(std::min(cut, part.size()))};
            });
            if (split.sent == dialogue.sent && split.events == dialogue.events && split.awaits == dialogue.awaits)
                continue;
            EXPECT_EQ(split.sent, dialogue.sent) << "cut at " << cut; // the first cut that differs
            EXPECT_EQ(split.events, dialogue.events) << "cut at " << cut;
            EXPECT_EQ(split.awaits, dialogue.awaits) << "cut at " << cut;
            break;
        }
    }
}

// A server that keeps talking through an IDLE, in lines or in one line without end,
// ends the session once past the budget or the reader's limit, and only then.
TEST(ImapSession, EndlessTalkEndsTheSessionPastItsLimit)
{
    const struct {
        const char *name;
        std::string line;
        std::int64_t limit;
    } floods[] = {
        {"lines", "* OK " + std::string(1017, 'x') + "\r\n", ImapSession::kReplyByteBudget},
        {"one line", "* OK " + std::string(1019, 'x'), std::int64_t(ImapResponseReader::kMaxResponseBytes)},
    };
    for (const auto &flood : floods) {
        SCOPED_TRACE(flood.name);
        ImapSession session;
        session.logIn(login());
        session.feed(kLoggedIn);
        session.examine();
        session.feed(examined("k2"));
        session.idle();
        session.feed("+ idling\r\n");
        std::string chunk;
        for (int i = 0; i < 64; ++i)
            chunk += flood.line;
        std::int64_t fed = 0;
        while (session.state() == ImapSession::State::Idling && fed < 2 * flood.limit) {
            session.feed(chunk);
            fed += std::int64_t(chunk.size());
        }
        EXPECT_GT(fed, flood.limit - std::int64_t(chunk.size()));
        EXPECT_LE(fed, flood.limit + std::int64_t(chunk.size()));
        const std::vector<ImapEvent> events = session.takeEvents();
        ASSERT_FALSE(events.empty());
        EXPECT_EQ(events.back().failure.problem, P::ReplyOverrun);
        EXPECT_FALSE(session.awaitsReply());
    }
}

} // namespace
} // namespace kingyo
