#include "mail/connection/mail_connection.h"

#include "settings/server_trust.h"

#include <QCryptographicHash>
#include <QSslConfiguration>
#include <QSslSocket>
#include <algorithm>
#include <chrono>
#include <limits>
#include <utility>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace kingyo {

namespace {

constexpr qint64 kSocketBufferLimit = 1024 * 1024;
constexpr int kKeepAliveIdleSeconds = 60;
constexpr int kKeepAliveIntervalSeconds = 10;
constexpr int kKeepAliveProbes = 3;

QString seconds(int ms) { return QString::number(ms / 1000.0); }

// Refusals that only say nobody vouches for the certificate; a wrong name or an
// expired certificate is never one of them.
bool onlyIssuerUnknown(const QList<QSslError> &errors)
{
    return !errors.isEmpty() && std::all_of(errors.begin(), errors.end(), [](const QSslError &error) {
        switch (error.error()) {
        case QSslError::SelfSignedCertificate:
        case QSslError::SelfSignedCertificateInChain:
        case QSslError::UnableToGetLocalIssuerCertificate:
        case QSslError::UnableToVerifyFirstCertificate:
        case QSslError::UnableToGetIssuerCertificate:
            return true;
        default:
            return false;
        }
    });
}

std::chrono::milliseconds timeLeft(const QDeadlineTimer &deadline)
{
    return std::chrono::milliseconds(std::clamp<qint64>(deadline.remainingTime(), 0, std::numeric_limits<int>::max()));
}

} // namespace

MailConnection::MailConnection(ConnectionSettings settings, QObject *parent)
    : QObject(parent), settings_(std::move(settings)), silence_(this), deadline_(this)
{
    silence_.setSingleShot(true);
    silence_.setInterval(settings_.timeoutMs);
    connect(&silence_, &QTimer::timeout, this, &MailConnection::silent);
    deadline_.setSingleShot(true);
    connect(&deadline_, &QTimer::timeout, this, [this] { fail({MailProblem::TooLong, {}, {}}); });
}

MailConnection::~MailConnection()
{
    abandon();
}

void MailConnection::open(const QString &host, quint16 port, bool implicitTls)
{
    if (phase_ != Phase::Idle)
        return;
    host_ = host;
    port_ = port;
    implicitTls_ = implicitTls;
    trustKey_ = ServerTrust::keyFor(host, port);
    armDeadline();
    setPhase(Phase::LookingUp);
    if (QHostAddress literal; literal.setAddress(host)) {
        lookedUp({literal});
        return;
    }
    lookup_ = std::make_unique<HostLookup>(host, settings_.resolver);
    connect(lookup_.get(), &HostLookup::finished, this, &MailConnection::lookedUp);
}

void MailConnection::lookedUp(const QList<QHostAddress> &addresses)
{
    if (lookup_) // inside its own signal: let it go from the event loop
        lookup_.release()->deleteLater();
    if (addresses.isEmpty())
        return fail({MailProblem::HostNotFound, placeFacts(), {}});
    addresses_ = addresses;
    socket_ = std::make_unique<QSslSocket>();
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.addCaCertificates(settings_.extraCaCertificates);
    tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
    socket_->setSslConfiguration(tls);
    socket_->setPeerVerifyName(host_);
    // What the reader has not taken yet stays in the kernel, not in our memory.
    socket_->setReadBufferSize(kSocketBufferLimit);
    QSslSocket *socket = socket_.get();
    connect(socket, &QSslSocket::connected, this, &MailConnection::socketConnected);
    connect(socket, &QSslSocket::encrypted, this, &MailConnection::handshakeDone);
    connect(socket, &QSslSocket::sslErrors, this, &MailConnection::judgeCertificate);
    connect(socket, &QSslSocket::errorOccurred, this, &MailConnection::socketError);
    connect(socket, &QSslSocket::readyRead, this, &MailConnection::bytesArrived);
    connectNext();
}

void MailConnection::connectNext()
{
    if (phase_ != Phase::LookingUp && phase_ != Phase::Connecting)
        return; // queued behind a failure or abandon()
    setPhase(Phase::Connecting); // each address has the step's time of its own
    socket_->abort();
    // May fail at once and report inside this call; socketError() only queues then.
    socket_->connectToHost(addresses_.takeFirst(), port_);
}

void MailConnection::socketConnected()
{
    // Commands are small and the next one waits for nothing: send them at once.
    socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (settings_.keepAlive)
        keepAlive();
    if (implicitTls_) {
        setPhase(Phase::Handshake);
        socket_->startClientEncryption();
        return;
    }
    setPhase(Phase::Open);
    emit opened();
}

void MailConnection::keepAlive()
{
    const int fd = int(socket_->socketDescriptor());
    const auto set = [fd](int level, int option, int value) { ::setsockopt(fd, level, option, &value, sizeof value); };
    set(SOL_SOCKET, SO_KEEPALIVE, 1);
    set(IPPROTO_TCP, TCP_KEEPIDLE, kKeepAliveIdleSeconds);
    set(IPPROTO_TCP, TCP_KEEPINTVL, kKeepAliveIntervalSeconds);
    set(IPPROTO_TCP, TCP_KEEPCNT, kKeepAliveProbes);
}

void MailConnection::socketError()
{
    switch (phase_) {
    case Phase::Connecting:
        if (addresses_.isEmpty())
            return fail(connectFailure());
        silence_.stop();
        // Not from inside the socket's own report.
        QMetaObject::invokeMethod(this, &MailConnection::connectNext, Qt::QueuedConnection);
        return;
    case Phase::Handshake:
    case Phase::Upgrading:
        return fail(handshakeFailure());
    case Phase::Open:
        if (socket_->error() == QAbstractSocket::RemoteHostClosedError)
            return fail({MailProblem::ClosedByServer, {}, {}});
        return fail({MailProblem::ConnectionLost, {socket_->errorString()}, {}});
    default:
        return;
    }
}

MailFailure MailConnection::connectFailure() const
{
    switch (socket_->error()) {
    case QAbstractSocket::ConnectionRefusedError:
        return {MailProblem::ConnectionRefused, placeFacts(), {}};
    case QAbstractSocket::NetworkError:
        return {MailProblem::NetworkUnreachable, placeFacts(), {}};
    default:
        return {MailProblem::CouldNotConnect, placeFacts() << socket_->errorString(), {}};
    }
}

MailFailure MailConnection::handshakeFailure() const
{
    if (certificateProblem_.problem != MailProblem::None)
        return certificateProblem_;
    QStringList reasons;
    for (const QSslError &error : socket_->sslHandshakeErrors())
        reasons << error.errorString();
    if (reasons.isEmpty())
        reasons << socket_->errorString();
    return {MailProblem::TlsFailed, {reasons.join(QStringLiteral("; "))}, {}};
}

void MailConnection::judgeCertificate(const QList<QSslError> &errors)
{
    const QSslCertificate certificate = socket_->peerCertificate();
    if (!settings_.trust || certificate.isNull() || !onlyIssuerUnknown(errors))
        return;
    const QByteArray fingerprint = certificate.digest(QCryptographicHash::Sha256).toHex();
    const QByteArray pinned = settings_.trust->entry(trustKey_).fingerprint;
    if (fingerprint == pinned) {
        socket_->ignoreSslErrors(errors);
        return;
    }
    certificateProblem_ = {pinned.isEmpty() ? MailProblem::CertificateUnknown : MailProblem::CertificateChanged,
                           placeFacts() << QString::fromLatin1(fingerprint), {}};
}

void MailConnection::handshakeDone()
{
    const bool upgraded = phase_ == Phase::Upgrading;
    setPhase(Phase::Open);
    if (upgraded)
        emit encrypted();
    else
        emit opened();
}

void MailConnection::bytesArrived()
{
    if (phase_ != Phase::Open)
        return;
    armSilence(); // the server is still talking
    emit readyRead();
}

void MailConnection::send(const QByteArray &bytes)
{
    if (socket_ && socket_->state() == QAbstractSocket::ConnectedState)
        socket_->write(bytes);
}

void MailConnection::startTls()
{
    if (phase_ != Phase::Open || socket_->isEncrypted())
        return;
    // Anything the server sent before the handshake is not to be trusted.
    socket_->skip(socket_->bytesAvailable());
    certificateProblem_ = {};
    setPhase(Phase::Upgrading);
    socket_->startClientEncryption();
}

void MailConnection::setAwaitingReply(bool awaiting)
{
    if (awaiting == awaiting_)
        return; // still waiting: the silence counts from the last bytes heard
    awaiting_ = awaiting;
    armSilence();
}

qint64 MailConnection::read(char *data, qint64 max)
{
    if (phase_ != Phase::Open)
        return 0;
    return std::max<qint64>(socket_->read(data, max), 0);
}

void MailConnection::disconnect()
{
    unsaid_.reset();
    if (socket_) {
        QObject::disconnect(socket_.get(), nullptr, this, nullptr);
        QSslSocket *socket = socket_.release();
        // Lives on alone until what was sent is out, at most one step's time.
        QObject::connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(settings_.timeoutMs, socket, &QObject::deleteLater);
        socket->disconnectFromHost();
    }
    close();
}

void MailConnection::abandon()
{
    unsaid_.reset();
    close();
}

void MailConnection::close()
{
    lookup_.reset();
    closeSocket();
    setPhase(Phase::Closed);
}

void MailConnection::closeSocket()
{
    if (!socket_)
        return;
    QObject::disconnect(socket_.get(), nullptr, this, nullptr);
    socket_->abort();
    // Possibly inside one of its own signals: released from the event loop.
    socket_.release()->deleteLater();
}

void MailConnection::fail(MailFailure failure)
{
    if (phase_ == Phase::Closed)
        return;
    close();
    unsaid_ = std::move(failure);
    QMetaObject::invokeMethod(this, &MailConnection::tellFailure, Qt::QueuedConnection);
}

void MailConnection::tellFailure()
{
    if (!unsaid_)
        return;
    const MailFailure failure = *std::exchange(unsaid_, std::nullopt);
    emit failed(failure); // the receiver may delete this connection
}

void MailConnection::setPhase(Phase phase)
{
    phase_ = phase;
    if (phase == Phase::Closed)
        deadline_.stop();
    armSilence();
}

void MailConnection::setDeadline(QDeadlineTimer deadline)
{
    settings_.deadline = deadline;
    if (phase_ != Phase::Idle && phase_ != Phase::Closed)
        armDeadline();
}

void MailConnection::armDeadline()
{
    if (settings_.deadline.isForever())
        deadline_.stop();
    else
        deadline_.start(timeLeft(settings_.deadline));
}

void MailConnection::armSilence()
{
    const bool timed = phase_ == Phase::Open ? awaiting_ : phase_ != Phase::Idle && phase_ != Phase::Closed;
    if (timed)
        silence_.start();
    else
        silence_.stop();
}

void MailConnection::silent()
{
    switch (phase_) {
    case Phase::LookingUp:
        return fail({MailProblem::ConnectSilent, silentPlaceFacts(), {}});
    case Phase::Connecting:
        if (addresses_.isEmpty())
            return fail({MailProblem::ConnectSilent, silentPlaceFacts(), {}});
        return connectNext();
    default:
        return fail({MailProblem::Silent, {seconds(settings_.timeoutMs)}, {}});
    }
}

QStringList MailConnection::silentPlaceFacts() const
{
    return placeFacts() << seconds(settings_.timeoutMs);
}

bool MailConnection::isEncrypted() const
{
    return socket_ && socket_->isEncrypted();
}

bool MailConnection::stlsSeenBefore() const
{
    return settings_.trust && settings_.trust->entry(trustKey_).offeredStls;
}

void MailConnection::rememberStls()
{
    if (settings_.trust)
        settings_.trust->rememberStls(trustKey_);
}

QStringList MailConnection::placeFacts() const
{
    return {host_, QString::number(port_)};
}

} // namespace kingyo
