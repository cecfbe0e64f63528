#include "mail/pop3/pop3_session.h"

#include "mail/mail_headers.h"
#include "mail/pop3_failure.h"

#include <QCryptographicHash>
#include <algorithm>
#include <charconv>
#include <limits>
#include <utility>

namespace kingyo {

using namespace pop3;
using Shape = Pop3ReplyParser::Shape;
using Status = Pop3ReplyParser::Status;
using Kind = Pop3Event::Kind;

namespace {

// Only a greeting may come before anything was asked; more than this is a flood.
constexpr std::size_t kUnaskedByteLimit = 16 << 10;
// A command line's length, CRLF included (RFC 2449); AUTH's first message rides on
// its line only within it (RFC 5034).
constexpr qsizetype kCommandLineLimit = 255;

bool isFatal(int code)
{
    return code == kProtocolError || code == kTlsFailure || code == kTimeout || code == kConnectionLost ||
           code == kTooLong || code == kAbandoned;
}

template <typename Number>
bool parseNumber(std::string_view text, Number *value)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
    return error == std::errc() && end == text.data() + text.size();
}

// "<...@...>" anywhere in the greeting: the APOP timestamp.
std::string apopTimestamp(std::string_view greeting)
{
    for (std::size_t open = greeting.find('<'); open != std::string_view::npos; open = greeting.find('<', open + 1)) {
        const std::size_t close = greeting.find('>', open);
        if (close == std::string_view::npos)
            break;
        const std::string_view candidate = greeting.substr(open, close - open + 1);
        if (candidate.find('@') != std::string_view::npos && candidate.find('<', 1) == std::string_view::npos)
            return std::string(candidate);
    }
    return {};
}

std::string_view firstWord(std::string_view line)
{
    return line.substr(0, line.find(' '));
}

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return std::toupper(static_cast<unsigned char>(x)) == y; });
}

// RFC 1939: one to seventy characters from 0x21 to 0x7E.
bool isUniqueId(std::string_view id)
{
    return !id.empty() && id.size() <= 70 &&
           std::all_of(id.begin(), id.end(), [](char c) { return c >= 0x21 && c <= 0x7E; });
}

// How far a message may run past the size LIST gave for it (dot-stuffing and line
// ends may differ a little) before the server counts as streaming without end.
std::int64_t bodyByteBudget(std::int64_t listedSize)
{
    constexpr std::int64_t kSlack = 1 << 20;
    constexpr std::int64_t kUnknownSize = std::int64_t{1} << 30;
    if (listedSize < 0)
        return kUnknownSize;
    if (listedSize > (std::numeric_limits<std::int64_t>::max() - kSlack) / 2)
        return std::numeric_limits<std::int64_t>::max();
    return 2 * listedSize + kSlack;
}

QString number(std::size_t value) { return QString::number(value); }

Pop3Event eventOf(Kind kind, int message = 0, std::int64_t result = 0)
{
    Pop3Event event{};
    event.kind = kind;
    event.message = message;
    event.result = result;
    return event;
}

} // namespace

int pipelineWindowFor(const std::vector<std::int64_t> &sizes, const Pop3Pipeline &pipeline)
{
    const int least = std::max(pipeline.window, 1);
    if (pipeline.bytes <= 0)
        return least;
    std::int64_t known = 0;
    std::int64_t total = 0; // each size capped at the budget, so a hostile LIST cannot overflow it
    for (const std::int64_t size : sizes) {
        if (size >= 0) {
            ++known;
            total += std::min(size, pipeline.bytes);
        }
    }
    if (known == 0)
        return least;
    const std::int64_t fits = pipeline.bytes / (total / known + 1);
    return int(std::clamp<std::int64_t>(fits, least, std::max(least, kMaxPipelineWindow)));
}

// What the reply being read says: its status line, and whatever its block holds
// for the command it answers.
class Pop3Session::Sinks : public Pop3ReplyParser::Sink {
public:
    explicit Sinks(Pop3Session &session) : session_(session) {}

    void begin(const Expected &expected)
    {
        reply_ = expected.reply;
        idLimit_ = expected.idLimit;
        idBytes_ = 0;
        tooMany = false;
        result = Status::Invalid;
        text.clear();
        bytes = 0;
        kept.clear();
        lines = 0;
        readable = true;
        ids.clear();
        splitter_ = Pop3LineSplitter();
    }

    void status(Status status, std::string_view statusText) override
    {
        result = status;
        text.assign(statusText);
    }

    void data(std::string_view chunk) override
    {
        using Reply = Expected::Reply;
        switch (reply_) {
        case Reply::Retr:
            bytes += static_cast<std::int64_t>(chunk.size());
            return;
        case Reply::Top:
            kept.append(chunk.data(), std::min(kHeaderBlockLimit - kept.size(), static_cast<qsizetype>(chunk.size())));
            return;
        case Reply::Capabilities:
        case Reply::List:
        case Reply::Uidl:
            splitter_.feed(chunk, [this](std::string_view line) { readLine(line); });
            return;
        default:
            return;
        }
    }

    Status result = Status::Invalid;
    std::string text;
    std::int64_t bytes = 0;
    QByteArray kept;
    std::size_t lines = 0; // lines past the message count are counted, never stored
    bool readable = true;
    std::vector<std::string> ids;
    bool tooMany = false; // more IDs than idLimit_: none kept

private:
    void readLine(std::string_view line)
    {
        ++lines;
        if (reply_ == Expected::Reply::Capabilities) {
            const std::string_view word = firstWord(line);
            session_.stls_ |= equalsIgnoringCase(word, "STLS");
            session_.pipelining_ |= equalsIgnoringCase(word, "PIPELINING");
            if (equalsIgnoringCase(word, "SASL"))
                noteMechanisms(line.substr(word.size()));
        } else if (lines <= session_.messageCount_) {
            reply_ == Expected::Reply::List ? readSize(line) : readId(line);
        }
    }

    // "SASL PLAIN XOAUTH2 ...": the mechanisms, after the word.
    void noteMechanisms(std::string_view names)
    {
        for (std::size_t start = 0; start < names.size();) {
            const std::size_t end = std::min(names.find(' ', start), names.size());
            session_.bearerOffer_.note(names.substr(start, end - start));
            start = end + 1;
        }
    }

    // "n size", n counting up from 1; a line that is not is an unknown size.
    void readSize(std::string_view line)
    {
        std::vector<std::int64_t> &sizes = session_.sizes_;
        const std::size_t space = line.find(' ');
        std::size_t message = 0;
        std::int64_t size = -1;
        const bool known = space != std::string_view::npos && parseNumber(line.substr(0, space), &message) &&
                           message == sizes.size() + 1 && parseNumber(firstWord(line.substr(space + 1)), &size);
        sizes.push_back(known && size >= 0 ? size : -1);
    }

    void readId(std::string_view line)
    {
        const std::size_t space = line.find(' ');
        std::size_t message = 0;
        const std::string_view id = space == std::string_view::npos ? std::string_view{} : line.substr(space + 1);
        if (space == std::string_view::npos || !parseNumber(line.substr(0, space), &message) || message != lines ||
            !isUniqueId(id)) {
            readable = false;
            return;
        }
        if (tooMany)
            return;
        idBytes_ += std::int64_t(id.size()) + 1;
        if (ids.size() == idLimit_.ids || idBytes_ > idLimit_.bytes) {
            tooMany = true;
            return std::vector<std::string>().swap(ids); // what was kept goes at once
        }
        ids.emplace_back(id);
    }

    Pop3Session &session_;
    Expected::Reply reply_ = Expected::Reply::Greeting;
    IdListLimit idLimit_;
    std::int64_t idBytes_ = 0;
    Pop3LineSplitter splitter_;
};

Pop3Session::Pop3Session(Pop3Pipeline pipeline) : pipeline_(pipeline), sinks_(std::make_unique<Sinks>(*this)) {}

Pop3Session::~Pop3Session() = default;

void Pop3Session::setState(State state)
{
    state_ = state;
    if (state == State::Handshake || state == State::Closed || state == State::Failed)
        pending_.clear(); // anything sent before the handshake is not to be trusted
    if (state == State::Closed || state == State::Failed) {
        expected_.clear();
        aheadReplies_.clear();
        retrsInFlight_ = 0;
    }
}

bool Pop3Session::acceptsInput() const
{
    return state_ != State::Handshake && state_ != State::Closed && state_ != State::Failed;
}

bool Pop3Session::awaitsReply() const
{
    return state_ == State::Handshake || !expected_.empty();
}

MailFailure Pop3Session::failure(MailProblem problem, QStringList facts, std::string_view serverText) const
{
    return MailFailure{problem, std::move(facts), cleanServerText(serverText, secrets_)};
}

void Pop3Session::die(const MailFailure &failure)
{
    deadFailure_ = failure;
    setState(State::Failed);
    for (Request &request : requests_) {
        request.started = true;
        if (!request.answer)
            answerFailed(request.serial, failure);
    }
}

void Pop3Session::fail(const MailFailure &failure)
{
    if (state_ == State::Closed || state_ == State::Failed)
        return;
    die(failure.problem == MailProblem::None ? MailFailure{MailProblem::ConnectionLost, {}, {}} : failure);
}

Pop3Session::Request &Pop3Session::addRequest(Kind kind, int message)
{
    return requests_.emplace_back(Request{nextSerial_++, kind, message, {}, false, std::nullopt});
}

bool Pop3Session::mayStart() const
{
    switch (state_) {
    case State::Greeting:
        return !loginAsked_; // before logIn() every request is answered at once
    case State::Capabilities:
    case State::Stls:
    case State::Handshake:
    case State::User:
    case State::Password:
    case State::Stat:
        return false;
    case State::Ready:
        return pipelining_ || expected_.empty();
    case State::Quitting:
    case State::Closed:
    case State::Failed:
        return true;
    }
    return false;
}

void Pop3Session::startRequests()
{
    for (Request &request : requests_) {
        if (request.started)
            continue;
        if (!mayStart())
            return;
        start(request);
    }
}

void Pop3Session::start(Request &request)
{
    request.started = true;
    if (state_ == State::Failed)
        return answerFailed(request.serial, deadFailure_);
    MailFailure why;
    switch (request.kind) {
    case Kind::LoggedIn:
        return answerFailed(request.serial, failure(MailProblem::NoLoginPossible)); // one login per connection
    case Kind::Retrieved:
        return startRetrieval(request);
    case Kind::IdsListed:
        if (state_ != State::Ready)
            return answerFailed(request.serial, failure(MailProblem::NotLoggedIn));
        return send({Expected::Reply::Uidl, 0, request.serial, kReplyByteBudget, request.idLimit}, "UIDL\r\n");
    case Kind::HeadersRead:
        if (checkMessage(request.message, &why) < 0)
            return answerFailed(request.serial, why);
        return send({Expected::Reply::Top, request.message, request.serial},
                    "TOP " + QByteArray::number(request.message) + " 0\r\n");
    case Kind::Closed:
        return startQuit(request);
    case Kind::StartTls:
        break;
    }
}

void Pop3Session::answer(std::uint64_t serial, Pop3Event event)
{
    if (requests_.empty() || serial < requests_.front().serial || serial - requests_.front().serial >= requests_.size())
        return;
    std::optional<Pop3Event> &slot = requests_[serial - requests_.front().serial].answer;
    if (!slot)
        slot = std::move(event);
}

void Pop3Session::answerFailed(std::uint64_t serial, const MailFailure &failure)
{
    const Request &request = requests_[serial - requests_.front().serial];
    Pop3Event event = eventOf(request.kind, request.message);
    event.result = failure.code();
    event.failure = failure;
    answer(serial, std::move(event));
}

void Pop3Session::flushAnswers()
{
    while (!requests_.empty() && requests_.front().answer) {
        events_.push_back(std::move(*requests_.front().answer));
        requests_.pop_front();
    }
}

QByteArray Pop3Session::takeOutgoing()
{
    return std::exchange(outgoing_, {});
}

std::vector<Pop3Event> Pop3Session::takeEvents()
{
    flushAnswers();
    return std::exchange(events_, {});
}

void Pop3Session::send(Expected expected, const QByteArray &command)
{
    outgoing_ += command;
    expected_.push_back(expected);
}

void Pop3Session::keep(std::string_view input)
{
    if (!acceptsInput())
        return;
    if (pending_.size() + input.size() > kUnaskedByteLimit)
        return die(failure(MailProblem::ReplyOverrun));
    pending_.append(input);
}

void Pop3Session::drainPending()
{
    if (pending_.empty() || expected_.empty() || !acceptsInput())
        return;
    const std::string input = std::exchange(pending_, {});
    consume(input);
}

void Pop3Session::feed(std::string_view bytes)
{
    if (!pending_.empty()) {
        keep(bytes); // behind what came earlier
        drainPending();
        return;
    }
    consume(bytes);
}

void Pop3Session::consume(std::string_view input)
{
    while (!input.empty() && acceptsInput()) {
        if (expected_.empty())
            return keep(input);
        if (parser_.complete()) {
            const Expected::Reply reply = expected_.front().reply;
            const bool multiLine = reply == Expected::Reply::Capabilities || reply == Expected::Reply::List ||
                                   reply == Expected::Reply::Retr || reply == Expected::Reply::Uidl ||
                                   reply == Expected::Reply::Top;
            parser_.start(multiLine ? Shape::MultiLine : Shape::SingleLine);
            sinks_->begin(expected_.front());
        }
        const std::size_t used = parser_.feed(input, *sinks_);
        input.remove_prefix(used);
        if (parser_.complete()) {
            const Expected done = expected_.front();
            expected_.pop_front();
            replyDone(done);
            continue;
        }
        // A server that streams without end cannot hold the check longer than its claim allows.
        expected_.front().byteBudget -= static_cast<std::int64_t>(used);
        if (expected_.front().byteBudget < 0)
            die(failure(MailProblem::ReplyOverrun));
    }
}

void Pop3Session::replyDone(const Expected &expected)
{
    readReply(expected);
    startRequests(); // those waiting for the login, or for this reply without PIPELINING
    closeIfOnlyAskedAheadRemain();
}

void Pop3Session::readReply(const Expected &expected)
{
    using Reply = Expected::Reply;
    const Sinks &reply = *sinks_;
    const auto refused = [&](MailProblem problem) {
        endLogin(failure(problem, {}, reply.text));
    };
    const bool unshaped =
        reply.result == Status::Invalid || (reply.result == Status::Challenge && expected.reply != Reply::Auth);
    if (unshaped && expected.reply != Reply::List && expected.reply != Reply::Quit)
        return die(failure(MailProblem::NotPop3, {}, reply.text));
    const bool ok = reply.result == Status::Ok;
    switch (expected.reply) {
    case Reply::Greeting:
        if (!ok)
            return die(failure(MailProblem::NoGreeting, {}, reply.text));
        apopTimestamp_ = apopTimestamp(reply.text);
        askCapabilities();
        break;
    case Reply::Capabilities:
        capabilitiesRead(); // "-ERR": a server without CAPA, so no extras
        break;
    case Reply::Stls:
        if (!ok)
            return refused(MailProblem::StlsRefused);
        flushAnswers(); // whatever was answered before comes first
        setState(State::Handshake);
        events_.push_back(eventOf(Kind::StartTls));
        break;
    case Reply::User:
        if (!ok)
            return refused(MailProblem::UserRejected);
        setState(State::Password);
        send({Reply::Password}, "PASS " + login_.secret.text().toUtf8() + "\r\n");
        break;
    case Reply::Password:
        if (!ok)
            return refused(MailProblem::LoginRejected);
        askStat();
        break;
    case Reply::Auth:
        if (reply.result == Status::Challenge)
            return tokenChallenged();
        if (!ok && reply.text.starts_with("[SYS/TEMP]")) // RFC 3206: its token service is down just now
            return endLogin(failure(MailProblem::TokenServiceUnavailable, {}, reply.text));
        if (!ok) {
            // The server's JSON says why (status, scope); its closing words only that it failed.
            return endLogin(failure(MailProblem::TokenRejected, {}, bearerRefusalText(tokenRefusal_, reply.text)));
        }
        askStat();
        break;
    case Reply::Stat:
        if (!ok)
            return refused(MailProblem::StatRefused);
        statRead();
        break;
    case Reply::List:
        listRead();
        break;
    case Reply::Retr:
        retrieved(expected);
        break;
    case Reply::Uidl:
        idsListed(expected);
        break;
    case Reply::Top:
        headersRead(expected);
        break;
    case Reply::Quit:
        answer(expected.request, eventOf(Kind::Closed));
        setState(State::Closed);
        break;
    }
}

void Pop3Session::logIn(const Pop3Login &login)
{
    Request &request = addRequest(Kind::LoggedIn, 0);
    if (loginAsked_ || state_ != State::Greeting) {
        startRequests();
        return drainPending();
    }
    loginAsked_ = true;
    request.started = true;
    loginRequest_ = request.serial;
    login_ = login;
    secrets_ = QStringList{login.secret.text()} + bearerSentForms(login.user, login.secret.text());
    if (!login.secret.isSafeToSend(login.user)) {
        answerFailed(loginRequest_, failure(MailProblem::UnsafeCredentials));
        setState(State::Closed);
        return startRequests();
    }
    send({Expected::Reply::Greeting}, {});
    drainPending();
}

void Pop3Session::askCapabilities()
{
    stls_ = pipelining_ = false;
    bearerOffer_ = {};
    setState(State::Capabilities);
    send({Expected::Reply::Capabilities}, "CAPA\r\n");
}

void Pop3Session::capabilitiesRead()
{
    if (!login_.encrypted) {
        if (stls_) {
            setState(State::Stls);
            return send({Expected::Reply::Stls}, "STLS\r\n");
        }
        // Someone between us and the server may have struck STLS from the list.
        if (login_.stlsSeenBefore)
            return endLogin(failure(MailProblem::EncryptionWithdrawn));
    }
    authenticate();
}

void Pop3Session::tlsStarted()
{
    if (state_ != State::Handshake)
        return;
    login_.encrypted = true;
    askCapabilities(); // asked again: the answer in the clear proves nothing
}

void Pop3Session::authenticate()
{
    if (login_.secret.isAccessToken())
        return authenticateWithToken();
    const QByteArray user = login_.user.toUtf8();
    if (!login_.apop) {
        setState(State::User);
        return send({Expected::Reply::User}, "USER " + user + "\r\n");
    }
    if (apopTimestamp_.empty())
        return endLogin(failure(MailProblem::ApopUnavailable));
    const QByteArray digest = QCryptographicHash::hash(
                                  QByteArray::fromStdString(apopTimestamp_) + login_.secret.text().toUtf8(),
                                  QCryptographicHash::Md5)
                                  .toHex();
    setState(State::Password);
    send({Expected::Reply::Password}, "APOP " + user + ' ' + digest + "\r\n");
}

// AUTH (RFC 5034) with the first message on its line, unless that makes the line too
// long: then it goes once the server asks.
void Pop3Session::authenticateWithToken()
{
    bearer_ = bearerOffer_.preferred();
    if (bearer_ == BearerMechanism::None)
        return endLogin(failure(MailProblem::TokenLoginUnavailable));
    setState(State::Password);
    const QByteArray command = "AUTH " + bearerMechanismName(bearer_);
    const QByteArray response = bearerInitialResponse(bearer_, login_.user, login_.secret.text()).toBase64();
    if (command.size() + 1 + response.size() + 2 <= kCommandLineLimit)
        return send({Expected::Reply::Auth}, command + ' ' + response + "\r\n");
    unsentResponse_ = response;
    send({Expected::Reply::Auth}, command + "\r\n");
}

// A challenge asks for AUTH's first message when it did not ride on the command; after
// it, a challenge holds the error of a refused token (JSON), and the exchange must be
// ended for the server to answer. A further one is not POP3.
void Pop3Session::tokenChallenged()
{
    if (!unsentResponse_.isEmpty())
        return send({Expected::Reply::Auth}, std::exchange(unsentResponse_, {}) + "\r\n");
    if (tokenRefusal_)
        return die(failure(MailProblem::NotPop3, {}, sinks_->text));
    tokenRefusal_ = bearerErrorText(sinks_->text);
    send({Expected::Reply::Auth}, bearerErrorReply(bearer_).toBase64() + "\r\n");
}

void Pop3Session::askStat()
{
    setState(State::Stat);
    send({Expected::Reply::Stat}, "STAT\r\n");
    if (login_.listSizes && pipelining_)
        send({Expected::Reply::List}, "LIST\r\n");
}

void Pop3Session::statRead()
{
    int count = -1;
    if (!parseNumber(firstWord(sinks_->text), &count) || count < 0)
        return endLogin(failure(MailProblem::CountUnreadable, {}, sinks_->text));
    messageCount_ = static_cast<std::size_t>(count);
    if (!login_.listSizes) {
        setState(State::Ready);
        return answer(loginRequest_, eventOf(Kind::LoggedIn, 0, count));
    }
    if (!pipelining_)
        send({Expected::Reply::List}, "LIST\r\n");
}

void Pop3Session::listRead()
{
    const Sinks &reply = *sinks_;
    if (reply.result != Status::Ok)
        return endLogin(failure(reply.result == Status::Err ? MailProblem::ListRefused : MailProblem::ListUnreadable, {},
                                reply.text));
    if (reply.lines != messageCount_)
        return endLogin(failure(MailProblem::ListMismatch, {number(messageCount_), number(reply.lines)}));
    sizesListed_ = true;
    pipelineWindow_ = static_cast<std::size_t>(pipelineWindowFor(sizes_, pipeline_));
    setState(State::Ready);
    answer(loginRequest_, eventOf(Kind::LoggedIn, 0, static_cast<std::int64_t>(messageCount_)));
}

void Pop3Session::endLogin(const MailFailure &failure)
{
    if (isFatal(failure.code()))
        return die(failure);
    answerFailed(loginRequest_, failure);
    setState(State::Closed); // the dialogue is past its greeting: nothing more to say
}

int Pop3Session::checkMessage(int message, MailFailure *why) const
{
    MailFailure found;
    if (state_ == State::Failed)
        found = deadFailure_;
    else if (state_ != State::Ready)
        found = failure(MailProblem::NotLoggedIn);
    else if (message < 1 || static_cast<std::size_t>(message) > messageCount_)
        found = failure(MailProblem::NoSuchMessage, {QString::number(message)});
    else
        return 0;
    if (why)
        *why = found;
    return found.code();
}

std::int64_t Pop3Session::messageSize(int message, MailFailure *why) const
{
    if (const int result = checkMessage(message, why); result < 0)
        return result;
    const std::int64_t size = sizesListed_ ? sizes_[static_cast<std::size_t>(message) - 1] : -1;
    if (size >= 0)
        return size;
    const MailFailure unreadable = failure(MailProblem::SizeUnreadable, {QString::number(message)});
    if (why)
        *why = unreadable;
    return unreadable.code();
}

void Pop3Session::retrieve(int message)
{
    addRequest(Kind::Retrieved, message);
    startRequests();
    drainPending();
}

void Pop3Session::listIds(const IdListLimit &limit)
{
    addRequest(Kind::IdsListed, 0).idLimit = limit;
    startRequests();
    drainPending();
}

void Pop3Session::readHeaders(int message)
{
    addRequest(Kind::HeadersRead, message);
    startRequests();
    drainPending();
}

void Pop3Session::quit()
{
    addRequest(Kind::Closed, 0);
    startRequests();
    drainPending();
}

void Pop3Session::startRetrieval(const Request &request)
{
    const int message = request.message;
    MailFailure why;
    if (checkMessage(message, &why) < 0)
        return answerFailed(request.serial, why);
    if (!sizesListed_) // without LIST no message can be sized, so none is retrieved
        return answerFailed(request.serial, failure(MailProblem::SizeUnreadable, {QString::number(message)}));
    if (const auto ahead = aheadReplies_.find(message); ahead != aheadReplies_.end()) {
        answer(request.serial, std::move(ahead->second));
        aheadReplies_.erase(ahead);
    } else if (Expected *inFlight = unclaimedRetr(message)) {
        inFlight->request = request.serial;
    } else {
        sendRetr(message, request.serial);
    }
    askAhead();
}

void Pop3Session::sendRetr(int message, std::uint64_t request)
{
    lastAskedAhead_ = std::max(lastAskedAhead_, message);
    ++retrsInFlight_;
    send({Expected::Reply::Retr, message, request, bodyByteBudget(sizes_[static_cast<std::size_t>(message) - 1])},
         "RETR " + QByteArray::number(message) + "\r\n");
}

// With PIPELINING the next messages are asked for once the window is half empty, so
// the server never idles between them.
void Pop3Session::askAhead()
{
    if (!pipelining_ || retrsInFlight_ + aheadReplies_.size() > pipelineWindow_ / 2)
        return;
    for (int next = lastAskedAhead_ + 1;
         static_cast<std::size_t>(next) <= messageCount_ && retrsInFlight_ + aheadReplies_.size() < pipelineWindow_;
         ++next)
        sendRetr(next, 0);
}

Pop3Session::Expected *Pop3Session::unclaimedRetr(int message)
{
    const auto found = std::find_if(expected_.begin(), expected_.end(), [message](const Expected &expected) {
        return expected.reply == Expected::Reply::Retr && expected.message == message && expected.request == 0;
    });
    return found == expected_.end() ? nullptr : &*found;
}

void Pop3Session::retrieved(const Expected &expected)
{
    --retrsInFlight_;
    const Sinks &reply = *sinks_;
    Pop3Event event = eventOf(Kind::Retrieved, expected.message);
    if (reply.result == Status::Ok) {
        event.bodySize = reply.bytes;
    } else {
        event.failure = failure(MailProblem::MessageRefused, {QString::number(expected.message)}, reply.text);
        event.result = event.failure.code();
    }
    if (expected.request != 0)
        answer(expected.request, std::move(event));
    else
        aheadReplies_.emplace(expected.message, std::move(event));
}

void Pop3Session::idsListed(const Expected &expected)
{
    Sinks &reply = *sinks_;
    if (reply.result == Status::Err)
        return answerFailed(expected.request, failure(MailProblem::UidlRefused, {}, reply.text));
    if (!reply.readable || reply.lines != messageCount_)
        return answerFailed(expected.request, failure(MailProblem::UidlUnreadable));
    if (reply.tooMany)
        return answerFailed(expected.request, failure(MailProblem::TooManyIds, {number(expected.idLimit.ids)}));
    Pop3Event event = eventOf(Kind::IdsListed, 0, static_cast<std::int64_t>(messageCount_));
    event.ids = std::move(reply.ids);
    answer(expected.request, std::move(event));
}

void Pop3Session::headersRead(const Expected &expected)
{
    Sinks &reply = *sinks_;
    if (reply.result == Status::Err)
        return answerFailed(expected.request,
                            failure(MailProblem::MessageRefused, {QString::number(expected.message)}, reply.text));
    Pop3Event event = eventOf(Kind::HeadersRead, expected.message);
    event.headers = std::move(reply.kept);
    answer(expected.request, std::move(event));
}

void Pop3Session::startQuit(const Request &request)
{
    if (state_ != State::Ready) { // nothing to say goodbye to, or said already
        answer(request.serial, eventOf(Kind::Closed));
        if (state_ == State::Greeting)
            setState(State::Closed);
        return;
    }
    setState(State::Quitting);
    send({Expected::Reply::Quit, 0, request.serial}, "QUIT\r\n");
    closeIfOnlyAskedAheadRemain();
}

// Replies to RETRs asked ahead that nobody asked for since are not waited for.
void Pop3Session::closeIfOnlyAskedAheadRemain()
{
    if (state_ != State::Quitting)
        return;
    bool askedAhead = false;
    for (const Expected &expected : expected_) {
        if (expected.reply == Expected::Reply::Quit) {
            if (askedAhead) {
                answer(expected.request, eventOf(Kind::Closed));
                setState(State::Closed);
            }
            return;
        }
        if (expected.request != 0)
            return;
        askedAhead = true;
    }
}

} // namespace kingyo
