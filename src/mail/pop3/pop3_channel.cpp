#include "mail/pop3/pop3_channel.h"

#include <QPointer>
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

void Pop3Channel::open(const MailServerAddress &address, std::function<void(const MailFailure &)> opened)
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
    session_.fail(failure); // every open request, a goodbye too, is answered with it
    flush();
}

void Pop3Channel::logIn(const QString &user, const QString &password, bool apop, bool listSizes, Answer answer)
{
    owed_.push_back(std::move(answer));
    session_.logIn({user, password, apop, listSizes, implicitTls_, connection_.stlsSeenBefore()});
    if (implicitTls_)
        connection_.startTls();
    loginAsked_ = true;
    readArrived(); // a greeting may be waiting already
}

void Pop3Channel::request(Answer answer, const std::function<void()> &ask)
{
    owed_.push_back(std::move(answer));
    ask();
    flush();
}

void Pop3Channel::retrieve(int message, Answer answer)
{
    request(std::move(answer), [&] { session_.retrieve(message); });
}

void Pop3Channel::listIds(Answer answer)
{
    request(std::move(answer), [&] { session_.listIds(); });
}

void Pop3Channel::readHeaders(int message, Answer answer)
{
    request(std::move(answer), [&] { session_.readHeaders(message); });
}

void Pop3Channel::quit(std::function<void()> closed)
{
    dropAnswers();
    request([closed = std::move(closed)](const Pop3Event &) { closed(); }, [&] { session_.quit(); });
}

void Pop3Channel::dropAnswers()
{
    // The session still answers each request; those answers now go nowhere.
    for (Answer &answer : owed_)
        answer = nullptr;
    due_.clear();
}

void Pop3Channel::abandon()
{
    abandoned_ = true;
    openAnswer_ = nullptr;
    dropAnswers();
    connection_.abandon();
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
    if (event.kind == Kind::StartTls) {
        connection_.startTls();
        return;
    }
    if (event.kind == Kind::Closed)
        connection_.disconnect();
    if (event.failure.problem == MailProblem::EncryptionWithdrawn)
        event.failure.facts = connection_.placeFacts();
    if (owed_.empty())
        return;
    Answer answer = std::move(owed_.front());
    owed_.pop_front();
    // Always after the call that asked returned, whether the answer came from the
    // server or from the session at once: callers never meet themselves.
    if (answer)
        later([answer = std::move(answer), event = std::move(event)] { answer(event); });
}

void Pop3Channel::later(std::function<void()> call)
{
    due_.push_back(std::move(call));
    if (!std::exchange(deliveryPosted_, true))
        QMetaObject::invokeMethod(this, &Pop3Channel::deliver, Qt::QueuedConnection);
}

void Pop3Channel::deliver()
{
    deliveryPosted_ = false;
    const QPointer<Pop3Channel> alive(this);
    // What the answers ask for and is answered at once joins this run.
    while (!due_.empty() && !abandoned_) {
        const std::function<void()> call = std::move(due_.front());
        due_.pop_front();
        call();
        if (!alive)
            return;
    }
}

} // namespace kingyo
