#pragma once
#include "mail/connection/host_lookup.h"
#include "mail/mail_failure.h"

#include <QDeadlineTimer>
#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <QString>
#include <QTimer>
#include <memory>
#include <optional>

class QSslError;
class QSslSocket;

namespace kingyo {

class ServerTrust;

struct ConnectionSettings {
    int timeoutMs = 20000; // the name lookup, the connect, each handshake and each reply awaited
    QList<QSslCertificate> extraCaCertificates; // trusted besides the system store
    // The certificates the user chose to trust and the servers once seen with STLS;
    // none: the system store alone decides.
    ServerTrust *trust = nullptr;
    // The whole conversation, name lookup included: a server that drips one byte at a
    // time ends here (TooLong).
    QDeadlineTimer deadline{QDeadlineTimer::Forever};
    HostLookup::Resolver resolver = &HostLookup::resolve;
    // For a connection that stays open for long: the kernel probes a quiet peer after a
    // minute and gives it up half a minute later, so a link that died without a word
    // (a machine asleep, a router reset) ends as ConnectionLost even when nothing is sent.
    bool keepAlive = false;
    // A connection borrowed from the IDLE watch must answer a NOOP this soon; a link that
    // died without a word is given up here and the check makes its own.
    int borrowedProbeMs = 3000;
};

// One connection to a mail server, for any protocol, driven by events: it looks the
// name up (a lookup that can be dropped), connects to the addresses in turn (IPv4 and
// IPv6), shakes hands for implicit TLS or later on request (STARTTLS, STLS), checks the
// certificate against the system store and the user's pins, and keeps the time: the
// step's silence and the whole conversation's deadline. Nothing here blocks or waits.
// After failed() or abandon() the connection is closed and says nothing more.
class MailConnection : public QObject {
    Q_OBJECT
public:
    explicit MailConnection(ConnectionSettings settings, QObject *parent = nullptr);
    ~MailConnection() override; // closes at once

    // opened() once connected (and, with implicitTls, encrypted); else failed() with
    // HostNotFound, ConnectionRefused, NetworkUnreachable, CouldNotConnect, ConnectSilent,
    // TlsFailed, CertificateUnknown, CertificateChanged or TooLong.
    void open(const QString &host, quint16 port, bool implicitTls);
    // Queues bytes for the server.
    void send(const QByteArray &bytes);
    // Upgrades the open connection to TLS; plaintext the server sent before is dropped,
    // as nothing said in the clear can be trusted. encrypted(), or failed() with
    // TlsFailed, CertificateUnknown, CertificateChanged, Silent or TooLong.
    void startTls();
    // Whether the server owes us something: the step's silence is timed only then.
    void setAwaitingReply(bool awaiting);
    // What arrived since the last read (decrypted), at most max bytes; 0 when nothing.
    qint64 read(char *data, qint64 max);
    // A new deadline for the rest of the conversation (Forever: none); one already
    // past ends it as TooLong from the event loop. Nothing once closed.
    void setDeadline(QDeadlineTimer deadline);
    // Closes once what was sent is out; says nothing more.
    void disconnect();
    // Closes at once; says nothing more. Safe at any moment, from any step.
    void abandon();

    bool isEncrypted() const;
    // The downgrade memory of the trust store, for this server.
    bool stlsSeenBefore() const;
    void rememberStls();
    QStringList placeFacts() const; // host, port

signals:
    void opened();
    void encrypted();
    void readyRead();
    // Once, from the event loop (never inside a call to this object); the connection is
    // closed already and may be deleted in the slot. Silent (facts: seconds), TooLong (no
    // facts), ClosedByServer, ConnectionLost (facts: the transport's words), or one of
    // open()'s and startTls()'s failures.
    void failed(const MailFailure &failure);

private:
    // Handshake: implicit TLS before opened(); Upgrading: startTls() before encrypted().
    enum class Phase { Idle, LookingUp, Connecting, Handshake, Upgrading, Open, Closed };

    // The one place the phase changes; it arms or stops the timers to match.
    void setPhase(Phase phase);
    void lookedUp(const QList<QHostAddress> &addresses);
    void connectNext();
    void socketConnected();
    void keepAlive();
    void socketError();
    void bytesArrived();
    void handshakeDone();
    void judgeCertificate(const QList<QSslError> &errors);
    MailFailure handshakeFailure() const;
    MailFailure connectFailure() const;
    // Closes at once and says why from the event loop, unless abandoned before.
    void fail(MailFailure failure);
    void tellFailure();
    void armSilence();
    void armDeadline();
    void silent();
    void close();
    void closeSocket();
    QStringList silentPlaceFacts() const;

    ConnectionSettings settings_;
    Phase phase_ = Phase::Idle;
    QString host_;
    quint16 port_ = 0;
    QString trustKey_;
    bool implicitTls_ = false;
    bool awaiting_ = false;
    std::unique_ptr<HostLookup> lookup_;
    QList<QHostAddress> addresses_; // those not tried yet
    std::unique_ptr<QSslSocket> socket_;
    MailFailure certificateProblem_; // why the handshake refused the certificate, if ours to say
    std::optional<MailFailure> unsaid_;
    QTimer silence_;
    QTimer deadline_;
};

} // namespace kingyo
