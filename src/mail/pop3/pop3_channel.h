#pragma once
#include "mail/connection/mail_connection.h"
#include "mail/mail_server_address.h"
#include "mail/pop3/pop3_session.h"

#include <QObject>
#include <functional>
#include <deque>

namespace kingyo {

struct Pop3Settings {
    int timeoutMs = 20000; // the name lookup, connect, TLS handshake and every reply
    QList<QSslCertificate> extraCaCertificates; // trusted besides the system store
    // The certificates the user chose to trust and the servers once seen with STLS.
    ServerTrust *trust = nullptr;
    Pop3Pipeline pipeline;
    // The whole conversation, name lookup included.
    QDeadlineTimer deadline{QDeadlineTimer::Forever};
    HostLookup::Resolver resolver = &HostLookup::resolve;
};

// One POP3 conversation: a session over a connection. What arrives goes into the
// session, what the session says goes out, and each request is answered through its
// callback, on this object's thread, never from within the call that made it. The
// callbacks may make further requests, close the channel or delete it (deleteLater).
// After abandon() or destruction no callback runs any more.
class Pop3Channel : public QObject {
    Q_OBJECT
public:
    using Answer = std::function<void(const Pop3Event &)>;

    explicit Pop3Channel(Pop3Settings settings, QObject *parent = nullptr);
    ~Pop3Channel() override;

    // Connects (TCP only: for pop3s the handshake is part of the login); opened() with
    // MailProblem::None on success, else the connection's failure.
    void open(const MailServerAddress &address, std::function<void(const MailFailure &)> opened);
    // The session's logIn(); the trust store's downgrade memory comes from the connection,
    // and a successful STLS is remembered in it.
    void logIn(const QString &user, const QString &password, bool apop, bool listSizes, Answer answer);
    void retrieve(int message, Answer answer);
    void listIds(Answer answer);
    void readHeaders(int message, Answer answer);
    // Says goodbye, dropping the answers still owed; closed() once the server answered
    // or the connection ended, at the latest after the step's timeout.
    void quit(std::function<void()> closed);
    // Closes at once: nothing more is sent, no callback runs any more.
    void abandon();

    const Pop3Session &session() const { return session_; }
    bool usesTls() const { return connection_.isEncrypted(); }

private:
    void opened();
    void connectionFailed(const MailFailure &failure);
    void readArrived();
    // Asks the session, then sends what it wrote and hands its events out.
    void request(Answer answer, const std::function<void()> &ask);
    // Sends what the session wrote, hands its events out, times its silence.
    void flush();
    void dispatch(Pop3Event event);
    // Runs call from the event loop, after every call before it, unless the channel
    // was abandoned or deleted by then. One posted event carries a whole run of them.
    void later(std::function<void()> call);
    void deliver();
    void dropAnswers();

    Pop3Settings settings_;
    MailConnection connection_;
    Pop3Session session_;
    bool implicitTls_ = false;
    bool openDone_ = false;
    bool loginAsked_ = false;
    bool abandoned_ = false;
    std::function<void(const MailFailure &)> openAnswer_;
    // The session answers its requests in the order they were made.
    std::deque<Answer> owed_;
    std::deque<std::function<void()>> due_;
    bool deliveryPosted_ = false;
};

} // namespace kingyo
