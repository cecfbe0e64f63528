#include "mail/imap/imap_session.h"

#include "mail/mail_headers.h"
#include "mail/pop3_failure.h"

#include <algorithm>
#include <limits>

namespace kingyo {

using Type = ImapToken::Type;

namespace {

// Only a greeting may come before logIn(); more than this is a flood.
constexpr std::size_t kUnaskedByteLimit = 16 << 10;

// ATOM-CHAR of RFC 3501: printable ASCII but for the atom specials.
bool isAtom(const QByteArray &text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](char c) {
        return c > 0x20 && c < 0x7F && !QByteArrayView("(){%*\"\\]").contains(c);
    });
}

bool isQuotable(const QByteArray &text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

QByteArray escaped(QByteArray text)
{
    return text.replace('\\', "\\\\").replace('"', "\\\"");
}

// Text as an argument, in its plainest form: an atom, a quoted string, or a literal:
// "{n+}" with LITERAL+, else "{n}" with its bytes in a part of their own, sent once
// the server asks for them.
void appendString(std::deque<QByteArray> &parts, const QByteArray &text, bool literalPlus)
{
    if (isAtom(text)) {
        parts.back() += text;
    } else if (isQuotable(text)) {
        parts.back() += '"' + escaped(text) + '"';
    } else if (literalPlus) {
        parts.back() += '{' + QByteArray::number(text.size()) + "+}\r\n" + text;
    } else {
        parts.back() += '{' + QByteArray::number(text.size()) + "}\r\n";
        parts.push_back(text);
    }
}

// A mailbox name as IMAP spells it: printable ASCII stands for itself ("&" as "&-"),
// anything else is UTF-16 in modified base64 between "&" and "-" (RFC 3501 5.1.3).
QByteArray mailboxName(const QString &name)
{
    QByteArray spelt;
    QByteArray wide; // UTF-16BE of the characters waiting to be encoded
    const auto encodeWide = [&] {
        if (!wide.isEmpty())
            spelt += '&' + wide.toBase64(QByteArray::OmitTrailingEquals).replace('/', ',') + '-';
        wide.clear();
    };
    for (const QChar c : name) {
        if (c.unicode() >= 0x20 && c.unicode() < 0x7F) {
            encodeWide();
            spelt += c == u'&' ? QByteArray("&-") : QByteArray(1, char(c.unicode()));
        } else {
            wide += char(c.unicode() >> 8);
            wide += char(c.unicode() & 0xFF);
        }
    }
    encodeWide();
    return spelt;
}

QByteArray mailboxArgument(const QString &name)
{
    std::deque<QByteArray> parts{{}};
    appendString(parts, mailboxName(name), false); // always printable: never a literal
    return parts.front();
}

bool sameMailbox(const ImapToken &token, const QByteArray &sent)
{
    if (token.type != Type::Atom && !token.isString())
        return false;
    const QByteArray echoed = QByteArray::fromStdString(token.text);
    const auto isInbox = [](const QByteArray &name) { return name.compare("INBOX", Qt::CaseInsensitive) == 0; };
    return echoed == sent || (isInbox(echoed) && isInbox(sent));
}

// "1:3,7" for 1, 2, 3, 7: ascending, no repeats.
QByteArray uidSet(const std::vector<std::uint32_t> &uids)
{
    QByteArray set;
    for (std::size_t first = 0; first < uids.size();) {
        std::size_t last = first;
        while (last + 1 < uids.size() && uids[last + 1] == uids[last] + 1)
            ++last;
        if (!set.isEmpty())
            set += ',';
        set += QByteArray::number(uids[first]);
        if (last > first)
            set += ':' + QByteArray::number(uids[last]);
        first = last + 1;
    }
    return set;
}

// The SASL mechanism a capability such as "AUTH=XOAUTH2" names; empty for any other.
std::string_view saslMechanism(const ImapToken &capability)
{
    constexpr std::string_view kPrefix = "AUTH=";
    const std::string_view text = capability.text;
    const bool named = capability.type == Type::Atom && text.size() > kPrefix.size() &&
                       std::equal(kPrefix.begin(), kPrefix.end(), text.begin(), [](char x, char y) {
                           return x == std::toupper(static_cast<unsigned char>(y));
                       });
    return named ? text.substr(kPrefix.size()) : std::string_view{};
}

// A number of 32 bits, as every count and UID in IMAP is.
bool readNumber(const ImapToken &token, std::int64_t *value)
{
    if (token.type != Type::Number || token.number > std::numeric_limits<std::uint32_t>::max())
        return false;
    *value = static_cast<std::int64_t>(token.number);
    return true;
}

ImapEvent eventOf(ImapEvent::Kind kind)
{
    ImapEvent event{};
    event.kind = kind;
    return event;
}

} // namespace

QString ImapSession::commandWord(Verb verb)
{
    switch (verb) {
    case Verb::Status: return QStringLiteral("STATUS");
    case Verb::Examine: return QStringLiteral("EXAMINE");
    case Verb::Search: return QStringLiteral("SEARCH");
    case Verb::Fetch: return QStringLiteral("FETCH");
    case Verb::Idle: return QStringLiteral("IDLE");
    case Verb::Noop: return QStringLiteral("NOOP");
    default: return {}; // the login's steps fail with problems of their own
    }
}

void ImapSession::setState(State state)
{
    state_ = state;
    if (state == State::Closed || state == State::Failed)
        command_.reset();
}

// What comes between STARTTLS's OK and the handshake is not to be trusted: dropped.
bool ImapSession::acceptsInput() const
{
    return state_ != State::Handshake && state_ != State::Closed && state_ != State::Failed;
}

bool ImapSession::awaitsReply() const
{
    return state_ == State::Handshake || (command_ && state_ != State::Idling);
}

MailFailure ImapSession::failure(MailProblem problem, QStringList facts, std::string_view serverText) const
{
    return MailFailure{problem, std::move(facts), cleanServerText(serverText, secrets_)};
}

void ImapSession::die(const MailFailure &failure)
{
    deadFailure_ = failure;
    setState(State::Failed);
    for (Request &request : requests_) {
        request.started = true;
        if (!request.answer)
            answerFailed(request.serial, failure);
    }
}

void ImapSession::fail(const MailFailure &failure)
{
    if (state_ == State::Closed || state_ == State::Failed)
        return;
    die(failure.problem == MailProblem::None ? MailFailure{MailProblem::ConnectionLost, {}, {}} : failure);
}

ImapSession::Request &ImapSession::addRequest(Kind kind)
{
    return requests_.emplace_back(Request{nextSerial_++, kind, {}, {}, {}, false, false, std::nullopt});
}

bool ImapSession::mayStart() const
{
    switch (state_) {
    case State::Greeting:
        return !loginAsked_; // before logIn() every request is answered at once
    case State::Capabilities:
    case State::StartTls:
    case State::Handshake:
    case State::Authenticating:
    case State::Idling:
        return false;
    case State::Ready:
        return !command_;
    case State::LoggingOut:
    case State::Closed:
    case State::Failed:
        return true;
    }
    return false;
}

void ImapSession::startRequests()
{
    for (Request &request : requests_) {
        if (request.started)
            continue;
        if (!mayStart())
            return;
        start(request);
    }
}

void ImapSession::start(Request &request)
{
    request.started = true;
    const std::uint64_t serial = request.serial;
    if (state_ == State::Failed)
        return answerFailed(serial, deadFailure_);
    if (request.kind == Kind::LoggedIn)
        return answerFailed(serial, failure(MailProblem::NoLoginPossible)); // one login per connection
    if (request.kind == Kind::Closed)
        return startLogout(request);
    if (state_ != State::Ready)
        return answerFailed(serial, failure(MailProblem::NotLoggedIn));
    const bool needsMailbox =
        request.kind == Kind::Searched || request.kind == Kind::HeadersRead || request.kind == Kind::IdleEnded;
    if (request.kind == Kind::IdleEnded && !capabilities_.idle)
        return answerFailed(serial, failure(MailProblem::IdleUnsupported));
    if (needsMailbox && !selected_)
        return answerFailed(serial, failure(MailProblem::NoMailboxSelected));
    switch (request.kind) {
    case Kind::StatusRead:
        return send(Verb::Status, serial,
                    {"STATUS " + mailboxArgument(request.mailbox) + " (MESSAGES UNSEEN UIDNEXT UIDVALIDITY)\r\n"});
    case Kind::Examined:
        selected_ = false; // whatever was selected is left, even when this one is refused
        messages_ = -1;
        return send(Verb::Examine, serial, {"EXAMINE " + mailboxArgument(request.mailbox) + "\r\n"});
    case Kind::Searched: {
        const UnseenSearch &search = request.search;
        QByteArray command = "UID SEARCH UNSEEN";
        if (search.firstMessage > 0)
            command += ' ' + QByteArray::number(search.firstMessage) + ':' + QByteArray::number(search.lastMessage);
        if (search.fromUid > 1) // n:* always matches the highest UID, so the answer is filtered too
            command += " UID " + QByteArray::number(search.fromUid) + ":*";
        return send(Verb::Search, serial, {command + "\r\n"});
    }
    case Kind::HeadersRead:
        if (request.uids.empty())
            return answer(serial, eventOf(Kind::HeadersRead));
        return send(Verb::Fetch, serial,
                    {"UID FETCH " + uidSet(request.uids) + " (BODY.PEEK[HEADER.FIELDS (FROM SUBJECT)])\r\n"});
    case Kind::IdleEnded:
        if (request.doneAsked)
            return answer(serial, eventOf(Kind::IdleEnded));
        return send(Verb::Idle, serial, {"IDLE\r\n"});
    case Kind::NoopDone:
        return send(Verb::Noop, serial, {"NOOP\r\n"});
    default:
        return;
    }
}

ImapSession::Request *ImapSession::findRequest(std::uint64_t serial)
{
    if (requests_.empty() || serial < requests_.front().serial || serial - requests_.front().serial >= requests_.size())
        return nullptr;
    return &requests_[serial - requests_.front().serial];
}

void ImapSession::answer(std::uint64_t serial, ImapEvent event)
{
    Request *request = findRequest(serial);
    if (request && !request->answer)
        request->answer = std::move(event);
}

void ImapSession::answerFailed(std::uint64_t serial, const MailFailure &failure)
{
    const Request *request = findRequest(serial);
    if (!request)
        return;
    ImapEvent event = eventOf(request->kind);
    event.result = failure.code();
    event.failure = failure;
    answer(serial, std::move(event));
}

void ImapSession::flushAnswers()
{
    while (!requests_.empty() && requests_.front().answer) {
        events_.push_back(std::move(*requests_.front().answer));
        requests_.pop_front();
    }
}

void ImapSession::notice(ImapEvent event)
{
    flushAnswers(); // whatever was answered before comes first
    events_.push_back(std::move(event));
}

void ImapSession::mailboxChanged(std::int64_t messages)
{
    messages_ = messages;
    ImapEvent changed = eventOf(Kind::MailboxChanged);
    changed.status.messages = messages;
    notice(std::move(changed));
}

QByteArray ImapSession::takeOutgoing()
{
    return std::exchange(outgoing_, {});
}

std::vector<ImapEvent> ImapSession::takeEvents()
{
    flushAnswers();
    return std::exchange(events_, {});
}

void ImapSession::send(Verb verb, std::uint64_t request, std::deque<QByteArray> parts)
{
    Command command;
    command.verb = verb;
    command.tag = 'k' + QByteArray::number(nextTag_++);
    command.request = request;
    outgoing_ += command.tag + ' ' + parts.front();
    parts.pop_front();
    command.rest = std::move(parts);
    command_ = std::move(command);
    heard_ = 0;
}

void ImapSession::feed(std::string_view bytes)
{
    if (state_ == State::Greeting && !loginAsked_) {
        if (pending_.size() + bytes.size() > kUnaskedByteLimit)
            return die(failure(MailProblem::ReplyOverrun));
        pending_.append(bytes);
        return;
    }
    consume(bytes);
}

void ImapSession::consume(std::string_view input)
{
    while (!input.empty() && acceptsInput()) {
        const std::size_t used = reader_.feed(input);
        input.remove_prefix(used);
        heard_ += static_cast<std::int64_t>(used);
        if (reader_.problem() != MailProblem::None)
            return die(failure(reader_.problem(), {}, reader_.opening()));
        // A server that streams without end cannot hold the check for ever.
        if (heard_ > kReplyByteBudget)
            return die(failure(MailProblem::ReplyOverrun));
        if (reader_.complete())
            received(reader_.take());
    }
}

void ImapSession::received(ImapResponse response)
{
    switch (response.kind) {
    case ImapResponse::Kind::Continuation:
        continued(response);
        break;
    case ImapResponse::Kind::Untagged:
        untagged(response);
        break;
    case ImapResponse::Kind::Tagged:
        tagged(response);
        break;
    }
    startRequests(); // those waiting for the login, or for the command just answered
}

void ImapSession::continued(const ImapResponse &response)
{
    if (command_ && !command_->rest.empty()) {
        outgoing_ += command_->rest.front();
        command_->rest.pop_front();
        return;
    }
    if (command_ && command_->verb == Verb::Idle && !command_->accepted) {
        command_->accepted = true;
        setState(State::Idling);
        notice(eventOf(Kind::Idling));
        if (const Request *request = findRequest(command_->request); request && request->doneAsked)
            sendDone();
        return;
    }
    if (command_ && command_->verb == Verb::Login && bearer_ != BearerMechanism::None && !command_->tokenRefusal)
        return endTokenExchange(response);
    die(failure(MailProblem::NotImap, {}, response.opening)); // a go-ahead for nothing
}

void ImapSession::untagged(const ImapResponse &response)
{
    static constexpr std::string_view kStatusWords[] = {"OK", "NO", "BAD", "PREAUTH", "BYE"};
    const std::string word = response.statusWord();
    if (std::find(std::begin(kStatusWords), std::end(kStatusWords), word) != std::end(kStatusWords))
        return statusResponse(response);
    if (command_ && command_->verb == Verb::Greeting)
        return die(failure(MailProblem::NotImap, {}, response.opening));
    const std::vector<ImapToken> &tokens = response.tokens;
    const Verb verb = command_ ? command_->verb : Verb::Greeting; // past the greeting: nothing in flight
    std::int64_t count = 0;
    if (word == "CAPABILITY") {
        readCapabilities(tokens, 1);
    } else if (tokens.size() == 2 && tokens[1].is("EXISTS") && readNumber(tokens[0], &count)) {
        if (verb == Verb::Examine)
            command_->status.messages = count;
        mailboxChanged(count);
    } else if (tokens.size() == 2 && tokens[1].is("EXPUNGE") && readNumber(tokens[0], &count)) {
        // No EXISTS follows a removal: without this a message that came after one went
        // would leave the count where it was.
        if (messages_ > 0)
            mailboxChanged(messages_ - 1);
    } else if (word == "STATUS" && verb == Verb::Status) {
        readStatus(response);
    } else if (word == "SEARCH" && verb == Verb::Search) {
        readSearch(response);
    } else if (tokens.size() >= 2 && tokens[1].is("FETCH") && verb == Verb::Fetch) {
        readFetch(response);
    }
}

void ImapSession::statusResponse(const ImapResponse &response)
{
    if (command_ && command_->verb == Verb::Greeting)
        return greeted(response);
    if (response.statusWord() == "BYE") {
        if (!command_ || command_->verb != Verb::Logout)
            return die(failure(MailProblem::ClosedByServer, {}, response.text));
        answer(command_->request, eventOf(Kind::Closed));
        return setState(State::Closed);
    }
    const ImapToken *code = response.code();
    if (!code || code->items.empty())
        return;
    const ImapToken &name = code->items.front();
    if (name.is("CAPABILITY"))
        return readCapabilities(code->items, 1);
    if (command_ && command_->verb == Verb::Examine && code->items.size() == 2) {
        std::int64_t value = 0;
        if (name.is("UIDNEXT") && readNumber(code->items[1], &value))
            command_->status.uidNext = value;
        else if (name.is("UIDVALIDITY") && readNumber(code->items[1], &value))
            command_->status.uidValidity = value;
    }
}

void ImapSession::tagged(const ImapResponse &response)
{
    const std::string word = response.statusWord();
    if (!command_ || response.tag != command_->tag.toStdString() || (word != "OK" && word != "NO" && word != "BAD"))
        return die(failure(MailProblem::NotImap, {}, response.opening));
    if (word == "OK")
        statusResponse(response); // a code: the capabilities after a login, say
    Command command = std::move(*command_);
    command_.reset();
    finished(command, response);
}

void ImapSession::finished(Command &command, const ImapResponse &response)
{
    const bool ok = response.statusWord() == "OK";
    switch (command.verb) {
    case Verb::Capability:
        return capabilitiesKnown(); // refused: a server without extras
    case Verb::StartTls:
        if (!ok)
            return endLogin(failure(MailProblem::StartTlsRefused, {}, response.text));
        setState(State::Handshake);
        return notice(eventOf(Kind::StartTls));
    case Verb::Login:
        if (!ok)
            return endLogin(loginRefusal(command, response));
        authenticated_ = true;
        return command.capabilitiesHeard ? capabilitiesKnown() : askCapabilities();
    case Verb::Logout:
        answer(command.request, eventOf(Kind::Closed));
        return setState(State::Closed);
    default:
        return answerCommand(command, response);
    }
}

void ImapSession::answerCommand(Command &command, const ImapResponse &response)
{
    const QString word = commandWord(command.verb);
    const Request *request = findRequest(command.request);
    if (!request)
        return;
    if (state_ == State::Idling)
        setState(State::Ready); // the server ended the IDLE itself
    if (response.statusWord() != "OK") {
        const bool mailbox = command.verb == Verb::Status || command.verb == Verb::Examine;
        return answerFailed(command.request,
                            mailbox ? failure(MailProblem::MailboxRefused, {request->mailbox}, response.text)
                                    : failure(MailProblem::CommandRefused, {word}, response.text));
    }
    if (command.unreadable)
        return answerFailed(command.request, failure(MailProblem::ImapReplyUnreadable, {word}));
    ImapEvent event = eventOf(request->kind);
    event.status = command.status;
    event.uids = std::move(command.uids);
    std::sort(event.uids.begin(), event.uids.end());
    event.uids.erase(std::unique(event.uids.begin(), event.uids.end()), event.uids.end());
    const std::int64_t unseen = request->search.told.unseen;
    if (command.verb == Verb::Search && unseen >= 0 && std::int64_t(event.uids.size()) > unseen)
        return answerFailed(command.request, failure(MailProblem::ImapReplyUnreadable, {word}, command.searchLine));
    event.headers = std::move(command.headers);
    selected_ |= command.verb == Verb::Examine;
    answer(command.request, std::move(event));
}

void ImapSession::logIn(const ImapLogin &login)
{
    Request &request = addRequest(Kind::LoggedIn);
    if (loginAsked_ || state_ != State::Greeting)
        return startRequests();
    loginAsked_ = true;
    request.started = true;
    loginRequest_ = request.serial;
    login_ = login;
    const QString &secret = login.secret.text();
    secrets_ = QStringList{QString::fromUtf8(escaped(secret.toUtf8())), secret,
                           QString::fromLatin1(plainResponse().toBase64())} +
               bearerSentForms(login.user, secret);
    if (!login.secret.isSafeToSend(login.user)) {
        answerFailed(loginRequest_, failure(MailProblem::UnsafeCredentials));
        setState(State::Closed);
        return startRequests();
    }
    command_ = Command(); // the greeting
    command_->request = loginRequest_;
    heard_ = 0;
    consume(std::exchange(pending_, {}));
}

void ImapSession::greeted(const ImapResponse &response)
{
    command_.reset();
    const std::string word = response.statusWord();
    if (word == "BYE")
        return die(failure(MailProblem::ClosedByServer, {}, response.text));
    if (word != "OK" && word != "PREAUTH")
        return die(failure(MailProblem::NotImap, {}, response.opening));
    authenticated_ = word == "PREAUTH"; // a login already made: no secret goes out
    // In the clear where STARTTLS was seen, PREAUTH strips it as surely as a missing
    // capability: the mailbox would be read over a connection someone between us made.
    if (authenticated_ && !login_.encrypted && login_.startTlsSeenBefore)
        return endLogin(failure(MailProblem::EncryptionWithdrawn));
    const ImapToken *code = response.code();
    if (!code || code->items.empty() || !code->items.front().is("CAPABILITY"))
        return askCapabilities();
    readCapabilities(code->items, 1);
    capabilitiesKnown();
}

void ImapSession::askCapabilities()
{
    capabilities_ = {};
    setState(authenticated_ ? State::Authenticating : State::Capabilities);
    send(Verb::Capability, loginRequest_, {"CAPABILITY\r\n"});
}

void ImapSession::readCapabilities(const std::vector<ImapToken> &tokens, std::size_t from)
{
    capabilities_ = {};
    for (std::size_t i = from; i < tokens.size(); ++i) {
        const ImapToken &name = tokens[i];
        capabilities_.startTls |= name.is("STARTTLS");
        capabilities_.loginDisabled |= name.is("LOGINDISABLED");
        capabilities_.authPlain |= name.is("AUTH=PLAIN");
        capabilities_.saslIr |= name.is("SASL-IR");
        capabilities_.literalPlus |= name.is("LITERAL+");
        capabilities_.idle |= name.is("IDLE");
        capabilities_.bearer.note(saslMechanism(name));
    }
    if (command_)
        command_->capabilitiesHeard = true;
}

void ImapSession::capabilitiesKnown()
{
    if (authenticated_) {
        setState(State::Ready);
        return answer(loginRequest_, eventOf(Kind::LoggedIn));
    }
    if (!login_.encrypted) {
        if (capabilities_.startTls) {
            setState(State::StartTls);
            return send(Verb::StartTls, loginRequest_, {"STARTTLS\r\n"});
        }
        // Someone between us and the server may have struck STARTTLS from the list.
        if (login_.startTlsSeenBefore)
            return endLogin(failure(MailProblem::EncryptionWithdrawn));
    }
    const bool token = login_.secret.isAccessToken();
    // LOGINDISABLED forbids LOGIN; in the clear no secret goes out at all then.
    if (capabilities_.loginDisabled && (!login_.encrypted || (!token && !capabilities_.authPlain)))
        return endLogin(failure(MailProblem::LoginDisabled));
    if (token && capabilities_.bearer.preferred() == BearerMechanism::None)
        return endLogin(failure(MailProblem::TokenLoginUnavailable));
    authenticate();
}

void ImapSession::tlsStarted()
{
    if (state_ != State::Handshake)
        return;
    login_.encrypted = true;
    askCapabilities(); // asked again: the answer in the clear proves nothing
}

void ImapSession::authenticate()
{
    setState(State::Authenticating);
    if (login_.secret.isAccessToken()) {
        bearer_ = capabilities_.bearer.preferred();
        return authenticateWith(bearerMechanismName(bearer_),
                                bearerInitialResponse(bearer_, login_.user, login_.secret.text()));
    }
    if (capabilities_.authPlain)
        return authenticateWith("PLAIN", plainResponse());
    std::deque<QByteArray> parts{"LOGIN "};
    appendString(parts, login_.user.toUtf8(), capabilities_.literalPlus);
    parts.back() += ' ';
    appendString(parts, login_.secret.text().toUtf8(), capabilities_.literalPlus);
    parts.back() += "\r\n";
    send(Verb::Login, loginRequest_, std::move(parts));
}

// The client's first message on the command's line with SASL-IR, else once the server asks.
void ImapSession::authenticateWith(const QByteArray &mechanism, const QByteArray &firstMessage)
{
    const QByteArray encoded = firstMessage.toBase64();
    if (capabilities_.saslIr)
        return send(Verb::Login, loginRequest_, {"AUTHENTICATE " + mechanism + ' ' + encoded + "\r\n"});
    send(Verb::Login, loginRequest_, {"AUTHENTICATE " + mechanism + "\r\n", encoded + "\r\n"});
}

// SASL PLAIN (RFC 4616): no authorization identity, the user, the password.
QByteArray ImapSession::plainResponse() const
{
    return '\0' + login_.user.toUtf8() + '\0' + login_.secret.text().toUtf8();
}

// A refused token comes back as a challenge holding the server's error (JSON); the
// command ends only once the client answers it.
void ImapSession::endTokenExchange(const ImapResponse &challenge)
{
    command_->tokenRefusal = bearerErrorText(challenge.text);
    outgoing_ += bearerErrorReply(bearer_).toBase64() + "\r\n";
}

// A refused token is told apart from a wrong password, with the error the server sent
// for it (status, scope) rather than its closing words. [UNAVAILABLE] (RFC 5530) says the
// server could not check the token just now (its token service down): worth a retry.
MailFailure ImapSession::loginRefusal(const Command &command, const ImapResponse &response) const
{
    if (!login_.secret.isAccessToken())
        return failure(MailProblem::LoginRejected, {}, response.text);
    const ImapToken *code = response.code();
    if (code && !code->items.empty() && code->items.front().is("UNAVAILABLE"))
        return failure(MailProblem::TokenServiceUnavailable, {}, response.text);
    return failure(MailProblem::TokenRejected, {}, bearerRefusalText(command.tokenRefusal, response.text));
}

void ImapSession::endLogin(const MailFailure &failure)
{
    answerFailed(loginRequest_, failure);
    setState(State::Closed); // nothing more to say: the connection may close
}

// "* STATUS name (MESSAGES 3 UNSEEN 1 ...)" for the mailbox asked about; another's is ignored.
void ImapSession::readStatus(const ImapResponse &response)
{
    const std::vector<ImapToken> &tokens = response.tokens;
    const Request *request = findRequest(command_->request);
    if (tokens.size() != 3 || tokens[2].type != Type::List || tokens[2].items.size() % 2 != 0) {
        command_->unreadable = true;
        return;
    }
    if (!request || !sameMailbox(tokens[1], mailboxName(request->mailbox)))
        return;
    const std::vector<ImapToken> &items = tokens[2].items;
    ImapMailboxStatus &status = command_->status;
    for (std::size_t i = 0; i < items.size(); i += 2) {
        std::int64_t value = 0;
        if (!readNumber(items[i + 1], &value)) {
            command_->unreadable = true;
            return;
        }
        if (items[i].is("MESSAGES"))
            status.messages = value;
        else if (items[i].is("UNSEEN"))
            status.unseen = value;
        else if (items[i].is("UIDNEXT"))
            status.uidNext = value;
        else if (items[i].is("UIDVALIDITY"))
            status.uidValidity = value;
    }
}

// "* SEARCH 4 9": UIDs below the one asked from are dropped (n:* matches the highest),
// and those STATUS said cannot be there yet.
void ImapSession::readSearch(const ImapResponse &response)
{
    const Request *request = findRequest(command_->request);
    const UnseenSearch search = request ? request->search : UnseenSearch{};
    if (command_->searchLine.empty())
        command_->searchLine = response.opening;
    for (std::size_t i = 1; i < response.tokens.size(); ++i) {
        std::int64_t uid = 0;
        if (!readNumber(response.tokens[i], &uid) || uid == 0) {
            command_->unreadable = true;
            return;
        }
        if (uid >= search.fromUid && (search.told.uidNext < 0 || uid < search.told.uidNext))
            command_->uids.push_back(static_cast<std::uint32_t>(uid));
    }
    if (command_->uids.size() > kMaxSearchUids)
        die(failure(MailProblem::ReplyOverrun));
}

// "* 3 FETCH (UID 9 BODY[HEADER.FIELDS (FROM SUBJECT)] {n}...)": the header block of a
// message asked for, the first time it comes. Items without a UID or a body (a flag
// that changed) say nothing here.
void ImapSession::readFetch(const ImapResponse &response)
{
    const Request *request = findRequest(command_->request);
    const std::vector<ImapToken> &tokens = response.tokens;
    if (tokens.size() != 3 || tokens[0].type != Type::Number || tokens[2].type != Type::List) {
        command_->unreadable = true;
        return;
    }
    const std::vector<ImapToken> &items = tokens[2].items;
    std::int64_t uid = 0;
    const ImapToken *body = nullptr;
    for (std::size_t i = 0; i < items.size();) {
        const ImapToken &name = items[i++];
        const bool section = i < items.size() && items[i].type == Type::Code;
        if (section) // BODY[...], maybe with its origin: BODY[...]<0>
            i += 1 + (i + 1 < items.size() && items[i + 1].type == Type::Atom && items[i + 1].text.starts_with('<'));
        if (name.type != Type::Atom || i == items.size()) {
            command_->unreadable = true;
            return;
        }
        const ImapToken &value = items[i++];
        bool readable = true;
        if (name.is("UID")) {
            readable = readNumber(value, &uid);
        } else if (name.is("BODY") && section) {
            readable = value.isString() || value.type == Type::Nil;
            body = &value;
        }
        if (!readable) {
            command_->unreadable = true;
            return;
        }
    }
    if (!request || uid == 0 || !body)
        return;
    const auto asked = std::lower_bound(request->uids.begin(), request->uids.end(), std::uint32_t(uid));
    if (asked == request->uids.end() || *asked != uid)
        return;
    std::vector<bool> &given = command_->given;
    given.resize(request->uids.size());
    if (given[std::size_t(asked - request->uids.begin())])
        return;
    given[std::size_t(asked - request->uids.begin())] = true;
    const std::size_t kept = std::min(body->text.size(), std::size_t(kHeaderBlockLimit));
    command_->headers.emplace_back(std::uint32_t(uid), QByteArray(body->text.data(), qsizetype(kept)));
}

void ImapSession::status(const QString &mailbox)
{
    addRequest(Kind::StatusRead).mailbox = mailbox;
    startRequests();
}

void ImapSession::examine(const QString &mailbox)
{
    addRequest(Kind::Examined).mailbox = mailbox;
    startRequests();
}

void ImapSession::searchUnseen(const UnseenSearch &search)
{
    addRequest(Kind::Searched).search = search;
    startRequests();
}

void ImapSession::fetchHeaders(const std::vector<std::uint32_t> &uids)
{
    std::vector<std::uint32_t> asked = uids;
    std::sort(asked.begin(), asked.end());
    asked.erase(std::unique(asked.begin(), asked.end()), asked.end());
    if (!asked.empty() && asked.front() == 0) // no message has UID 0
        asked.erase(asked.begin());
    addRequest(Kind::HeadersRead).uids = std::move(asked);
    startRequests();
}

void ImapSession::idle()
{
    addRequest(Kind::IdleEnded);
    startRequests();
}

void ImapSession::done()
{
    for (Request &request : requests_) {
        if (request.kind == Kind::IdleEnded && !request.answer)
            request.doneAsked = true;
    }
    if (state_ == State::Idling)
        sendDone();
}

void ImapSession::sendDone()
{
    outgoing_ += "DONE\r\n";
    heard_ = 0;
    setState(State::Ready); // the IDLE's tagged answer is owed now
}

void ImapSession::noop()
{
    addRequest(Kind::NoopDone);
    startRequests();
}

void ImapSession::logout()
{
    done();
    addRequest(Kind::Closed);
    startRequests();
}

void ImapSession::startLogout(const Request &request)
{
    if (state_ != State::Ready) { // never logged in, the login failed, or said already
        answer(request.serial, eventOf(Kind::Closed));
        if (state_ == State::Greeting)
            setState(State::Closed);
        return;
    }
    setState(State::LoggingOut);
    send(Verb::Logout, request.serial, {"LOGOUT\r\n"});
}

} // namespace kingyo
