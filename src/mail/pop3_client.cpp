#include "mail/pop3_client.h"

#include "mail/connection/host_lookup.h"
#include "mail/mail_headers.h"
#include "mail/pop3_failure.h"
#include "settings/server_trust.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTimer>
#include <algorithm>
#include <charconv>
#include <functional>
#include <limits>
#include <optional>

namespace kingyo {

using namespace pop3;
using Shape = Pop3ReplyParser::Shape;
using Status = Pop3ReplyParser::Status;

namespace {

constexpr std::size_t kReadChunk = 256 * 1024;
constexpr qint64 kSocketBufferLimit = 1024 * 1024;
constexpr int kMaxServerText = 200;
constexpr int kPollMs = 100;

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

bool hasLineBreakOrNul(const QString &text)
{
    return text.contains(u'\r') || text.contains(u'\n') || text.contains(QChar(0));
}

class StatusSink : public Pop3ReplyParser::Sink {
public:
    void status(Status status, std::string_view text) override
    {
        result = status;
        this->text.assign(text);
    }
    Status result = Status::Invalid;
    std::string text;
};

// Hands each line of a multi-line block to a function.
class LineSink : public StatusSink {
public:
    explicit LineSink(std::function<void(std::string_view)> onLine) : onLine_(std::move(onLine)) {}
    void data(std::string_view chunk) override { splitter_.feed(chunk, onLine_); }

private:
    Pop3LineSplitter splitter_;
    std::function<void(std::string_view)> onLine_;
};

// Counts a message body and lets it go.
class CountingSink : public StatusSink {
public:
    void data(std::string_view chunk) override { bytes += static_cast<std::int64_t>(chunk.size()); }
    std::int64_t bytes = 0;
};

// Keeps the start of a block and lets the rest go.
class CappedSink : public StatusSink {
public:
    explicit CappedSink(qsizetype limit) : limit_(limit) {}
    void data(std::string_view chunk) override
    {
        kept.append(chunk.data(), std::min(limit_ - kept.size(), static_cast<qsizetype>(chunk.size())));
    }
    QByteArray kept;

private:
    qsizetype limit_;
};

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

} // namespace

int pipelineWindowFor(const std::vector<std::int64_t> &sizes, const Pop3Settings &settings)
{
    const int least = std::max(settings.pipelineWindow, 1);
    if (settings.pipelineBytes <= 0)
        return least;
    std::int64_t known = 0;
    std::int64_t total = 0; // each size capped at the budget, so a hostile LIST cannot overflow it
    for (const std::int64_t size : sizes) {
        if (size >= 0) {
            ++known;
            total += std::min(size, settings.pipelineBytes);
        }
    }
    if (known == 0)
        return least;
    const std::int64_t fits = settings.pipelineBytes / (total / known + 1);
    return int(std::clamp<std::int64_t>(fits, least, std::max(least, kMaxPipelineWindow)));
}

Pop3Client::Pop3Client(Pop3Settings settings) : settings_(std::move(settings)), buffer_(kReadChunk)
{
    settings_.pipelineWindow = std::max(settings_.pipelineWindow, 1);
}

Pop3Client::~Pop3Client()
{
    quit();
}

bool Pop3Client::usesTls() const
{
    return socket_ && socket_->isEncrypted();
}

int Pop3Client::fail(MailProblem problem, QStringList facts, std::string_view serverText)
{
    failure_ = MailFailure{problem, std::move(facts), sanitizedServerText(serverText)};
    const int code = failure_.code();
    if (isFatal(code) && deadFailure_ == 0) {
        deadFailure_ = code;
        loggedIn_ = false;
        if (socket_) {
            socket_->abort();
            // Released on this thread, which owns it, even when the program is ending.
            socket_.release()->deleteLater();
        }
    }
    return code;
}

int Pop3Client::failTransport()
{
    if (deadFailure_ != 0)
        return deadFailure_;
    if (socket_->error() == QAbstractSocket::RemoteHostClosedError)
        return fail(MailProblem::ClosedByServer);
    return fail(MailProblem::ConnectionLost, {socket_->errorString()});
}

int Pop3Client::stopWaiting(const QDeadlineTimer &step, MailProblem silence, const QStringList &facts)
{
    if (settings_.abandoned && settings_.abandoned->load())
        return fail(MailProblem::Abandoned);
    if (settings_.sessionDeadline.hasExpired())
        return fail(MailProblem::TooLong);
    if (step.hasExpired())
        return fail(silence, facts);
    return 0;
}

int Pop3Client::waitSlice(const QDeadlineTimer &step) const
{
    const qint64 left = std::min(step.remainingTime(), settings_.sessionDeadline.remainingTime());
    return static_cast<int>(std::clamp<qint64>(left < 0 ? kPollMs : left, 1, kPollMs));
}

int Pop3Client::waitUntil(const std::function<bool()> &ready, MailProblem silence, const QStringList &facts)
{
    const QDeadlineTimer step(settings_.timeoutMs);
    QTimer wake; // so the wait looks at the deadlines and the abandon flag
    wake.start(kPollMs);
    while (!ready()) {
        if (const int stop = stopWaiting(step, silence, facts); stop < 0)
            return stop;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return 0;
}

QString Pop3Client::sanitizedServerText(std::string_view text) const
{
    QString clean = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    // Before blanking control characters, which would hide a password holding a tab.
    const QString password = QString::fromUtf8(password_);
    if (!password.isEmpty())
        clean.replace(password, QStringLiteral("***"));
    for (QChar &c : clean) {
        if (!c.isPrint())
            c = u' ';
    }
    clean = clean.simplified();
    if (clean.size() > kMaxServerText)
        clean = clean.left(kMaxServerText) + u'…';
    return clean;
}

bool Pop3Client::send(const QByteArray &commands)
{
    if (socket_->write(commands) != commands.size())
        return false;
    socket_->flush();
    return true;
}

bool Pop3Client::fillBuffer()
{
    begin_ = end_ = 0;
    const QDeadlineTimer step(settings_.timeoutMs);
    // Short waits: a TLS record may carry no application data, and between them the
    // session's deadline and the program's end are looked at.
    while (socket_->bytesAvailable() == 0) {
        if (stopWaiting(step, MailProblem::Silent, {seconds(settings_.timeoutMs)}) < 0 ||
            socket_->state() != QAbstractSocket::ConnectedState)
            return false;
        socket_->waitForReadyRead(waitSlice(step));
    }
    const qint64 got = socket_->read(buffer_.data(), static_cast<qint64>(buffer_.size()));
    if (got <= 0)
        return false;
    end_ = static_cast<std::size_t>(got);
    return true;
}

int Pop3Client::readReply(Shape shape, Pop3ReplyParser::Sink &sink, std::int64_t byteBudget)
{
    parser_.start(shape);
    for (;;) {
        if (begin_ == end_ && !fillBuffer())
            return failTransport();
        const std::size_t used = parser_.feed(std::string_view(buffer_.data() + begin_, end_ - begin_), sink);
        begin_ += used;
        if (parser_.complete())
            return 0;
        byteBudget -= static_cast<std::int64_t>(used);
        if (byteBudget < 0)
            return fail(MailProblem::ReplyOverrun);
    }
}

int Pop3Client::readStatus(Status *status, std::string *text)
{
    StatusSink sink;
    if (const int result = readReply(Shape::SingleLine, sink); result < 0)
        return result;
    *status = sink.result;
    *text = std::move(sink.text);
    if (*status == Status::Invalid)
        return fail(MailProblem::NotPop3, {}, *text);
    return 0;
}

int Pop3Client::readOk(MailProblem refusal, std::string *text, QStringList facts)
{
    Status status;
    std::string serverText;
    if (const int result = readStatus(&status, &serverText); result < 0)
        return result;
    if (status != Status::Ok)
        return fail(refusal, std::move(facts), serverText);
    if (text)
        *text = std::move(serverText);
    return 0;
}

QStringList Pop3Client::placeFacts() const { return {address_.host, QString::number(address_.port)}; }

int Pop3Client::lookUp(const Pop3ServerAddress &address, QList<QHostAddress> *found)
{
    if (QHostAddress literal; literal.setAddress(address.host)) {
        *found = {literal};
        return 0;
    }
    // Looked up beside this thread, so the wait can give up at the deadline; a lookup
    // given up is dropped with its object and never holds the program's end.
    std::optional<QList<QHostAddress>> answer;
    const HostLookup lookup(address.host);
    QObject::connect(&lookup, &HostLookup::finished, [&answer](const QList<QHostAddress> &addresses) { answer = addresses; });
    QStringList facts = placeFacts();
    facts << seconds(settings_.timeoutMs);
    if (const int waited = waitUntil([&answer] { return answer.has_value(); }, MailProblem::ConnectSilent, facts);
        waited < 0)
        return waited;
    *found = *answer;
    return found->isEmpty() ? fail(MailProblem::HostNotFound, placeFacts()) : 0;
}

int Pop3Client::connectToAny(const QList<QHostAddress> &addresses)
{
    QStringList facts = placeFacts();
    facts << seconds(settings_.timeoutMs);
    for (const QHostAddress &host : addresses) {
        socket_->connectToHost(host, address_.port);
        const int waited = waitUntil(
            [this] {
                const auto state = socket_->state();
                return state == QAbstractSocket::ConnectedState || state == QAbstractSocket::UnconnectedState;
            },
            MailProblem::ConnectSilent, facts);
        if (waited < 0)
            return waited;
        if (socket_->state() == QAbstractSocket::ConnectedState)
            return 0;
    }
    switch (socket_->error()) {
    case QAbstractSocket::ConnectionRefusedError:
        return fail(MailProblem::ConnectionRefused, placeFacts());
    case QAbstractSocket::NetworkError:
        return fail(MailProblem::NetworkUnreachable, placeFacts());
    default:
        return fail(MailProblem::CouldNotConnect, placeFacts() << socket_->errorString());
    }
}

int Pop3Client::connectTo(const Pop3ServerAddress &address)
{
    address_ = address;
    trustKey_ = ServerTrust::keyFor(address.host, address.port);
    QList<QHostAddress> addresses;
    if (const int result = lookUp(address, &addresses); result < 0)
        return result < kCouldNotConnect ? result : kCouldNotConnect;
    socket_ = std::make_unique<QSslSocket>();
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.addCaCertificates(settings_.extraCaCertificates);
    tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
    socket_->setSslConfiguration(tls);
    socket_->setPeerVerifyName(address.host);
    QObject::connect(socket_.get(), &QSslSocket::sslErrors, socket_.get(),
                     [this](const QList<QSslError> &errors) { judgeCertificate(errors); });
    socket_->setReadBufferSize(kSocketBufferLimit);
    if (const int result = connectToAny(addresses); result < 0) {
        socket_.reset();
        return result;
    }
    // Commands are small and the next one waits for nothing: send them at once.
    socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    return 0;
}

void Pop3Client::judgeCertificate(const QList<QSslError> &errors)
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
    certificateProblem_ = MailFailure{pinned.isEmpty() ? MailProblem::CertificateUnknown : MailProblem::CertificateChanged,
                                      placeFacts() << QString::fromLatin1(fingerprint), {}};
}

int Pop3Client::startTls()
{
    certificateProblem_ = {};
    socket_->startClientEncryption();
    const int waited = waitUntil(
        [this] { return socket_->isEncrypted() || socket_->state() != QAbstractSocket::ConnectedState; },
        MailProblem::Silent, {seconds(settings_.timeoutMs)});
    if (waited < 0)
        return waited;
    if (socket_->isEncrypted())
        return 0;
    if (certificateProblem_.problem != MailProblem::None)
        return fail(certificateProblem_.problem, certificateProblem_.facts);
    QStringList reasons;
    for (const QSslError &error : socket_->sslHandshakeErrors())
        reasons << error.errorString();
    if (reasons.isEmpty())
        reasons << socket_->errorString();
    return fail(MailProblem::TlsFailed, {reasons.join(QStringLiteral("; "))});
}

int Pop3Client::switchToTls()
{
    if (!send("STLS\r\n"))
        return failTransport();
    if (const int result = readOk(MailProblem::StlsRefused); result < 0)
        return result;
    // Anything the server sent before the handshake is not to be trusted.
    begin_ = end_ = 0;
    socket_->skip(socket_->bytesAvailable());
    if (const int result = startTls(); result < 0)
        return result;
    if (settings_.trust)
        settings_.trust->rememberStls(trustKey_);
    return readCapabilities(&caps_); // asked again: the answer in the clear proves nothing
}

int Pop3Client::refuseWithdrawnEncryption()
{
    // Someone between us and the server may have struck STLS from the list.
    if (settings_.trust && settings_.trust->entry(trustKey_).offeredStls)
        return fail(MailProblem::EncryptionWithdrawn, placeFacts());
    return 0;
}

int Pop3Client::readGreeting(std::string *timestamp)
{
    std::string text;
    if (const int result = readOk(MailProblem::NoGreeting, &text); result < 0)
        return result;
    *timestamp = apopTimestamp(text);
    return 0;
}

int Pop3Client::readCapabilities(Capabilities *caps)
{
    *caps = {};
    if (!send("CAPA\r\n"))
        return failTransport();
    LineSink sink([caps](std::string_view line) {
        const std::string_view word = firstWord(line);
        caps->stls |= equalsIgnoringCase(word, "STLS");
        caps->pipelining |= equalsIgnoringCase(word, "PIPELINING");
    });
    return readReply(Shape::MultiLine, sink); // "-ERR": a server without CAPA, so no extras
}

int Pop3Client::authenticate(const QString &user, bool apop, const std::string &timestamp)
{
    const QByteArray userBytes = user.toUtf8();
    if (apop) {
        if (timestamp.empty())
            return fail(MailProblem::ApopUnavailable);
        const QByteArray digest =
            QCryptographicHash::hash(QByteArray::fromStdString(timestamp) + password_, QCryptographicHash::Md5).toHex();
        if (!send("APOP " + userBytes + ' ' + digest + "\r\n"))
            return failTransport();
    } else {
        if (!send("USER " + userBytes + "\r\n"))
            return failTransport();
        if (const int result = readOk(MailProblem::UserRejected); result < 0)
            return result;
        if (!send("PASS " + password_ + "\r\n"))
            return failTransport();
    }
    return readOk(MailProblem::LoginRejected);
}

int Pop3Client::readStatAndList(bool pipelined, bool list)
{
    if (!send(list && pipelined ? "STAT\r\nLIST\r\n" : "STAT\r\n"))
        return failTransport();
    const int count = readStat();
    if (count < 0 || !list)
        return count;
    if (!pipelined && !send("LIST\r\n"))
        return failTransport();
    if (const int result = readList(count); result < 0)
        return result;
    return count;
}

int Pop3Client::readStat()
{
    std::string text;
    if (const int result = readOk(MailProblem::StatRefused, &text); result < 0)
        return result;
    int count = -1;
    if (!parseNumber(firstWord(text), &count) || count < 0)
        return fail(MailProblem::CountUnreadable, {}, text);
    return count;
}

int Pop3Client::readList(int count)
{
    sizes_.clear();
    std::size_t listed = 0; // lines past the count are counted, never stored
    LineSink list([&](std::string_view line) {
        if (++listed > static_cast<std::size_t>(count))
            return;
        const std::size_t space = line.find(' ');
        std::size_t number = 0;
        std::int64_t size = -1;
        const bool readable = space != std::string_view::npos && parseNumber(line.substr(0, space), &number) &&
                              number == sizes_.size() + 1 && parseNumber(firstWord(line.substr(space + 1)), &size);
        sizes_.push_back(readable && size >= 0 ? size : -1);
    });
    if (const int result = readReply(Shape::MultiLine, list); result < 0)
        return result;
    if (list.result != Status::Ok)
        return fail(list.result == Status::Err ? MailProblem::ListRefused : MailProblem::ListUnreadable, {}, list.text);
    if (listed != static_cast<std::size_t>(count))
        return fail(MailProblem::ListMismatch, {QString::number(count), QString::number(listed)});
    pipelineWindow_ = static_cast<std::size_t>(pipelineWindowFor(sizes_, settings_));
    sizesListed_ = true;
    return 0;
}

int Pop3Client::listSizes()
{
    if (sizesListed_)
        return 0;
    if (!send("LIST\r\n"))
        return failTransport();
    return readList(static_cast<int>(messageCount_));
}

int Pop3Client::login(const QString &user, const QString &password, bool apop, bool listSizes)
{
    if (deadFailure_ != 0)
        return deadFailure_;
    // One login per connection: after a refusal the dialogue is past its greeting.
    if (!socket_ || loginTried_)
        return fail(MailProblem::NoLoginPossible);
    loginTried_ = true;
    if (hasLineBreakOrNul(user) || hasLineBreakOrNul(password))
        return fail(MailProblem::UnsafeCredentials);
    password_ = password.toUtf8();

    if (address_.implicitTls) {
        if (const int result = startTls(); result < 0)
            return result;
    }
    std::string timestamp;
    if (const int result = readGreeting(&timestamp); result < 0)
        return result;
    if (const int result = readCapabilities(&caps_); result < 0)
        return result;
    if (!socket_->isEncrypted()) {
        if (const int result = caps_.stls ? switchToTls() : refuseWithdrawnEncryption(); result < 0)
            return result;
    }
    if (const int result = authenticate(user, apop, timestamp); result < 0)
        return result;
    const int count = readStatAndList(caps_.pipelining, listSizes);
    loggedIn_ = count >= 0;
    messageCount_ = static_cast<std::size_t>(std::max(count, 0));
    return count;
}

int Pop3Client::checkMessage(int message)
{
    if (deadFailure_ != 0)
        return deadFailure_;
    if (!loggedIn_)
        return fail(MailProblem::NotLoggedIn);
    if (message < 1 || static_cast<std::size_t>(message) > messageCount_)
        return fail(MailProblem::NoSuchMessage, {QString::number(message)});
    return 0;
}

std::int64_t Pop3Client::messageSize(int message)
{
    if (const int result = checkMessage(message); result < 0)
        return result;
    if (const int result = listSizes(); result < 0)
        return result;
    const std::int64_t size = sizes_[static_cast<std::size_t>(message) - 1];
    if (size < 0)
        return fail(MailProblem::SizeUnreadable, {QString::number(message)});
    return size;
}

void Pop3Client::queueRetrievals(int message)
{
    QByteArray commands;
    const auto add = [&](int number) {
        inFlight_.push_back(number);
        commands += "RETR " + QByteArray::number(number) + "\r\n";
    };
    if (std::find(inFlight_.begin(), inFlight_.end(), message) == inFlight_.end())
        add(message);
    const std::size_t window = pipelineWindow_;
    if (caps_.pipelining && inFlight_.size() <= window / 2) {
        for (int next = inFlight_.back() + 1; next <= static_cast<int>(sizes_.size()) && inFlight_.size() < window; ++next)
            add(next);
    }
    if (!commands.isEmpty() && !send(commands))
        failTransport();
}

int Pop3Client::readOneRetr()
{
    const int message = inFlight_.front();
    inFlight_.pop_front();
    CountingSink body;
    if (const int result = readReply(Shape::MultiLine, body, bodyByteBudget(sizes_[static_cast<std::size_t>(message) - 1])); result < 0)
        return result;
    if (body.result == Status::Invalid)
        return fail(MailProblem::NotPop3, {}, body.text);
    if (body.result == Status::Err)
        return fail(MailProblem::MessageRefused, {QString::number(message)}, body.text);
    lastBodySize_ = body.bytes;
    return 0;
}

int Pop3Client::readRetrievalsInFlight()
{
    // Answered in order, whatever each answer was.
    while (!inFlight_.empty()) {
        if (const int result = readOneRetr(); isFatal(result))
            return result;
    }
    return 0;
}

int Pop3Client::retrieve(int message)
{
    if (const int result = checkMessage(message); result < 0)
        return result;
    if (const int result = listSizes(); result < 0)
        return result;
    queueRetrievals(message);
    for (;;) {
        if (deadFailure_ != 0)
            return deadFailure_;
        const int front = inFlight_.front();
        const int result = readOneRetr();
        if (front == message || isFatal(result))
            return result;
    }
}

void Pop3Client::quit()
{
    if (!socket_ || deadFailure_ != 0 || socket_->state() != QAbstractSocket::ConnectedState) {
        socket_.reset();
        return;
    }
    const bool answerNext = inFlight_.empty() && parser_.complete();
    if (send("QUIT\r\n") && answerNext) {
        Status status;
        std::string text;
        if (readStatus(&status, &text) == 0)
            socket_->disconnectFromHost();
    }
    socket_.reset();
    loggedIn_ = false;
}

namespace {

// RFC 1939: one to seventy characters from 0x21 to 0x7E.
bool isUniqueId(std::string_view id)
{
    return !id.empty() && id.size() <= 70 &&
           std::all_of(id.begin(), id.end(), [](char c) { return c >= 0x21 && c <= 0x7E; });
}

} // namespace

int Pop3Client::uniqueIds(std::vector<std::string> *ids)
{
    ids->clear();
    if (deadFailure_ != 0)
        return deadFailure_;
    if (!loggedIn_)
        return fail(MailProblem::NotLoggedIn);
    if (const int result = readRetrievalsInFlight(); result < 0)
        return result;
    if (!send("UIDL\r\n"))
        return failTransport();
    const std::size_t count = messageCount_;
    std::size_t listed = 0; // lines past the count are counted, never stored
    bool readable = true;
    LineSink list([&](std::string_view line) {
        if (++listed > count)
            return;
        const std::size_t space = line.find(' ');
        std::size_t number = 0;
        const std::string_view id = space == std::string_view::npos ? std::string_view{} : line.substr(space + 1);
        if (space == std::string_view::npos || !parseNumber(line.substr(0, space), &number) || number != listed ||
            !isUniqueId(id)) {
            readable = false;
            return;
        }
        ids->emplace_back(id);
    });
    if (const int result = readReply(Shape::MultiLine, list); result < 0)
        return result;
    if (list.result == Status::Invalid)
        return fail(MailProblem::NotPop3, {}, list.text);
    if (list.result == Status::Err)
        return fail(MailProblem::UidlRefused, {}, list.text);
    if (!readable || listed != count) {
        ids->clear();
        return fail(MailProblem::UidlUnreadable);
    }
    return static_cast<int>(count);
}

int Pop3Client::topHeaders(int message, QByteArray *headers)
{
    headers->clear();
    if (const int result = checkMessage(message); result < 0)
        return result;
    if (const int result = readRetrievalsInFlight(); result < 0)
        return result;
    if (!send("TOP " + QByteArray::number(message) + " 0\r\n"))
        return failTransport();
    CappedSink block(kHeaderBlockLimit);
    if (const int result = readReply(Shape::MultiLine, block); result < 0)
        return result;
    if (block.result == Status::Invalid)
        return fail(MailProblem::NotPop3, {}, block.text);
    if (block.result == Status::Err)
        return fail(MailProblem::MessageRefused, {QString::number(message)}, block.text);
    *headers = std::move(block.kept);
    return 0;
}

} // namespace kingyo
