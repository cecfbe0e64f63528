#pragma once
#include "mail/connection/mail_connection.h"

#include <QObject>
#include <QPointer>
#include <array>
#include <deque>
#include <functional>
#include <string_view>
#include <utility>

namespace kingyo {

// One conversation in a protocol: a session without I/O over a connection. What
// arrives goes into the session, what the session says goes out, and each request is
// answered through its callback, on this object's thread, never from within the call
// that made it. The callbacks may make further requests, close the channel or delete
// it (deleteLater). After abandon() or destruction no callback runs any more.
//
// Session gives feed(), takeOutgoing(), takeEvents(), awaitsReply(), state() (with
// Handshake and Failed) and fail(); its Event kinds include StartTls and Closed, and
// answersRequest(event) tells an answer from what the server said unasked.
template <class Session>
class ProtocolChannel : public QObject {
public:
    using Event = typename Session::Event;
    using Answer = std::function<void(Event &&)>; // the event is the answer's to keep (a long ID list, say)

    template <class... SessionArguments>
    explicit ProtocolChannel(const ConnectionSettings &settings, SessionArguments &&...sessionArguments)
        : connection_(settings), session_(std::forward<SessionArguments>(sessionArguments)...)
    {
        connect(&connection_, &MailConnection::opened, this, &ProtocolChannel::opened);
        connect(&connection_, &MailConnection::encrypted, this, [this] {
            if (session_.state() != Session::State::Handshake)
                return; // implicit TLS: the session waits for its greeting, which comes encrypted
            connection_.rememberStls();
            session_.tlsStarted();
            flush();
        });
        connect(&connection_, &MailConnection::readyRead, this, &ProtocolChannel::readArrived);
        connect(&connection_, &MailConnection::failed, this, &ProtocolChannel::connectionFailed);
    }

    // Connects (TCP only: with implicit TLS the handshake is part of the login, so that
    // a certificate refused reaches the user as the login's failure, with the question
    // whether to trust it); opened() with MailProblem::None on success, else the
    // connection's failure.
    void open(const QString &host, quint16 port, bool implicitTls, std::function<void(const MailFailure &)> opened)
    {
        openAnswer_ = std::move(opened);
        implicitTls_ = implicitTls;
        connection_.open(host, port, false);
    }

    // Closes at once: nothing more is sent, no callback runs any more.
    void abandon()
    {
        abandoned_ = true;
        openAnswer_ = nullptr;
        dropAnswers();
        connection_.abandon();
    }

    // What the server says unasked (events that answer no request), in order with the
    // answers.
    void setUnaskedHandler(std::function<void(const Event &)> handler) { unasked_ = std::move(handler); }

    // The rest of the conversation must end by then (see MailConnection::setDeadline).
    void setDeadline(QDeadlineTimer deadline) { connection_.setDeadline(deadline); }

    const Session &session() const { return session_; }
    bool usesTls() const { return connection_.isEncrypted(); }

protected:
    // Starts the session's login: logIn(encrypted, stlsSeenBefore) hands it to the
    // session, with the trust store's downgrade memory for this server. A successful
    // upgrade to TLS is remembered there.
    void beginLogIn(Answer answer, const std::function<void(bool encrypted, bool tlsSeenBefore)> &logIn)
    {
        owed_.push_back(std::move(answer));
        logIn(implicitTls_, connection_.stlsSeenBefore());
        if (implicitTls_)
            connection_.startTls();
        loginAsked_ = true;
        readArrived(); // a greeting may be waiting already
    }

    // Asks the session, then sends what it wrote and hands its events out.
    void request(Answer answer, const std::function<void()> &ask)
    {
        owed_.push_back(std::move(answer));
        ask();
        flush();
    }

    // Says goodbye with ask, dropping the answers still owed; closed() once the server
    // answered or the connection ended, at the latest after the step's timeout.
    void sayGoodbye(std::function<void()> closed, const std::function<void()> &ask)
    {
        dropAnswers();
        request([closed = std::move(closed)](const Event &) { closed(); }, ask);
    }

    // Tells the session something that no answer follows, then sends what it wrote.
    void tell(const std::function<void()> &say)
    {
        say();
        flush();
    }

    Session &mutableSession() { return session_; }
    MailConnection &connection() { return connection_; }

private:
    void opened()
    {
        openDone_ = true;
        if (auto answer = std::exchange(openAnswer_, nullptr))
            later([answer = std::move(answer)] { answer({}); });
    }

    void connectionFailed(const MailFailure &failure)
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

    void readArrived()
    {
        // Until the login the server's words wait in the socket, within its bounds.
        if (!loginAsked_)
            return;
        std::array<char, 256 * 1024> chunk;
        for (qint64 got; (got = connection_.read(chunk.data(), qint64(chunk.size()))) > 0;) {
            session_.feed(std::string_view(chunk.data(), std::size_t(got)));
            if (session_.state() == Session::State::Handshake)
                break; // the rest is plaintext from before TLS, dropped by the connection
        }
        flush();
    }

    // Sends what the session wrote, hands its events out, times its silence.
    void flush()
    {
        if (const QByteArray out = session_.takeOutgoing(); !out.isEmpty())
            connection_.send(out);
        connection_.setAwaitingReply(session_.awaitsReply());
        if (session_.state() == Session::State::Failed)
            connection_.abandon(); // a server that makes no sense hears nothing more
        for (Event &event : session_.takeEvents())
            dispatch(std::move(event));
    }

    void dispatch(Event event)
    {
        using Kind = typename Event::Kind;
        if (event.kind == Kind::StartTls) {
            connection_.startTls();
            return;
        }
        if (event.kind == Kind::Closed)
            connection_.disconnect();
        if (event.failure.problem == MailProblem::EncryptionWithdrawn)
            event.failure.facts = connection_.placeFacts();
        if (!answersRequest(event)) {
            // Looked up when delivered: the handler may be changed or cleared meanwhile.
            if (unasked_)
                later([this, event = std::move(event)] {
                    if (unasked_)
                        unasked_(event);
                });
            return;
        }
        if (owed_.empty())
            return;
        Answer answer = std::move(owed_.front());
        owed_.pop_front();
        // Always after the call that asked returned, whether the answer came from the
        // server or from the session at once: callers never meet themselves.
        if (answer)
            later([answer = std::move(answer), event = std::move(event)]() mutable { answer(std::move(event)); });
    }

    void dropAnswers()
    {
        // The session still answers each request; those answers now go nowhere.
        for (Answer &answer : owed_)
            answer = nullptr;
        due_.clear();
    }

    // Runs call from the event loop, after every call before it, unless the channel
    // was abandoned or deleted by then. One posted event carries a whole run of them.
    void later(std::function<void()> call)
    {
        due_.push_back(std::move(call));
        if (!std::exchange(deliveryPosted_, true))
            QMetaObject::invokeMethod(this, [this] { deliver(); }, Qt::QueuedConnection);
    }

    void deliver()
    {
        deliveryPosted_ = false;
        const QPointer<ProtocolChannel> alive(this);
        // What the answers ask for and is answered at once joins this run.
        while (!due_.empty() && !abandoned_) {
            const std::function<void()> call = std::move(due_.front());
            due_.pop_front();
            call();
            if (!alive)
                return;
        }
    }

    MailConnection connection_;
    Session session_;
    bool implicitTls_ = false;
    bool openDone_ = false;
    bool loginAsked_ = false;
    bool abandoned_ = false;
    std::function<void(const MailFailure &)> openAnswer_;
    std::function<void(const Event &)> unasked_;
    // The session answers its requests in the order they were made.
    std::deque<Answer> owed_;
    std::deque<std::function<void()>> due_;
    bool deliveryPosted_ = false;
};

} // namespace kingyo
