#include "mail/pop3/pop3_channel.h"

#include <array>

namespace kingyo {
namespace {

ConnectionSettings connectionSettings(const Pop3Settings &settings)
{
    return {settings.timeoutMs, settings.extraCaCertificates, settings.trust, settings.deadline, settings.resolver};
}

} // namespace

Pop3Channel::Pop3Channel(Pop3Settings settings, QObject *parent)
    : QObject(parent), settings_(std::move(settings)), connection_(connectionSettings(settings_)),
      session_(settings_.pipeline)
{
    connect(&connection_, &MailConnection::opened, this, &Pop3Channel::opened);
    connect(&connection_, &MailConnection::encrypted, this, [this] {
        if (session_.state() != Pop3Session::State::Handshake)
            return; // pop3s: the session waits for its greeting, which comes encrypted
        connection_.rememberStls();
        session_.tlsStarted();
        flush();
    });
    connect(&connection_, &MailConnection::readyRead, this, &Pop3Channel::readArrived);
    connect(&connection_, &MailConnection::failed, this, &Pop3Channel::connectionFailed);
}

Pop3Channel::~Pop3Channel() = default;

void Pop3Channel::open(const Pop3ServerAddress &address, std::function<void(const MailFailure &)> opened)
{
    openAnswer_ = std::move(opened);
    implicitTls_ = address.implicitTls;
    // The handshake waits for the login, so that a certificate refused reaches the user
    // as the login's failure, with the question whether to trust it.
    connection_.open(address.host, address.port, false);
}

void Pop3Channel::opened()
{
    openDone_ = true;
    if (auto answer = std::exchange(openAnswer_, nullptr))
        later([answer = std::move(answer)] { answer({}); });
}

void Pop3Channel::connectionFailed(const MailFailure &failure)
{
    if (!openDone_) {
        openDone_ = true;
        if (auto answer = std::exchange(openAnswer_, nullptr))
            later([answer = std::move(answer), failure] { answer(failure); });
        return;
    }
    session_.fail(failure);
    flush();
    // A goodbye the session had no answer left for ends with the connection.
    if (auto closed = std::exchange(closedAnswer_, nullptr))
        later(std::move(closed));
}

void Pop3Channel::logIn(const QString &user, const QString &password, bool apop, bool listSizes, Answer answer)
{
    loginAnswer_ = std::move(answer);
    session_.logIn({user, password, apop, listSizes, implicitTls_, connection_.stlsSeenBefore()});
    if (implicitTls_)
        connection_.startTls();
    loginAsked_ = true;
    readArrived(); // a greeting may be waiting already
}

void Pop3Channel::retrieve(int message, Answer answer)
{
    if (const auto ahead = retrievedAhead_.find(message); ahead != retrievedAhead_.end()) {
        later([answer = std::move(answer), event = ahead->second] { answer(event); });
        retrievedAhead_.erase(ahead);
        return;
    }
    retrievals_[message] = std::move(answer);
    session_.retrieve(message);
    flush();
}

void Pop3Channel::listIds(Answer answer)
{
    idsAnswer_ = std::move(answer);
    session_.listIds();
    flush();
}

void Pop3Channel::readHeaders(int message, Answer answer)
{
    headerAnswers_[message] = std::move(answer);
    session_.readHeaders(message);
    flush();
}

void Pop3Channel::quit(std::function<void()> closed)
{
    closedAnswer_ = std::move(closed);
    session_.quit();
    flush();
}

void Pop3Channel::abandon()
{
    abandoned_ = true;
    openAnswer_ = nullptr;
    loginAnswer_ = nullptr;
    idsAnswer_ = nullptr;
    retrievals_.clear();
    headerAnswers_.clear();
    closedAnswer_ = nullptr;
    connection_.abandon();
    session_.fail({MailProblem::Abandoned, {}, {}});
    (void)session_.takeEvents();
}

void Pop3Channel::readArrived()
{
    // Until the login the server's words wait in the socket, within its bounds.
    if (!loginAsked_)
        return;
    std::array<char, 256 * 1024> chunk;
    for (qint64 got; (got = connection_.read(chunk.data(), qint64(chunk.size()))) > 0;) {
        session_.feed(std::string_view(chunk.data(), std::size_t(got)));
        if (session_.state() == Pop3Session::State::Handshake)
            break; // the rest is plaintext from before TLS, dropped by the connection
    }
    flush();
}

void Pop3Channel::flush()
{
    if (const QByteArray out = session_.takeOutgoing(); !out.isEmpty())
        connection_.send(out);
    connection_.setAwaitingReply(session_.awaitsReply());
    if (session_.state() == Pop3Session::State::Failed)
        connection_.abandon(); // a server that makes no sense hears nothing more
    for (const Pop3Event &event : session_.takeEvents())
        dispatch(event);
}

void Pop3Channel::dispatch(Pop3Event event)
{
    using Kind = Pop3Event::Kind;
    const auto take = [](auto &answers, int message) {
        Answer answer;
        if (const auto found = answers.find(message); found != answers.end()) {
            answer = std::move(found->second);
            answers.erase(found);
        }
        return answer;
    };
    Answer answer;
    switch (event.kind) {
    case Kind::StartTls:
        connection_.startTls();
        return;
    case Kind::LoggedIn:
        if (event.failure.problem == MailProblem::EncryptionWithdrawn)
            event.failure.facts = connection_.placeFacts();
        answer = std::exchange(loginAnswer_, nullptr);
        break;
    case Kind::IdsListed:
        answer = std::exchange(idsAnswer_, nullptr);
        break;
    case Kind::HeadersRead:
        answer = take(headerAnswers_, event.message);
        break;
    case Kind::Retrieved:
        answer = take(retrievals_, event.message);
        if (!answer)
            retrievedAhead_[event.message] = event;
        break;
    case Kind::Closed:
        connection_.disconnect();
        if (auto closed = std::exchange(closedAnswer_, nullptr))
            later(std::move(closed));
        return;
    }
    // Always after the call that asked returned, whether the answer came from the
    // server or from the session at once: callers never meet themselves.
    if (answer)
        later([answer = std::move(answer), event] { answer(event); });
}

void Pop3Channel::later(std::function<void()> call)
{
    QMetaObject::invokeMethod(
        this,
        [this, call = std::move(call)] {
            if (!abandoned_)
                call();
        },
        Qt::QueuedConnection);
}

} // namespace kingyo
