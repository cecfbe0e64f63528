#pragma once
#include "mail/mail_failure.h"
#include "mail/pop3/pop3_reply_parser.h"
#include "mail/pop3/pop3_server_address.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QList>
#include <QSslCertificate>
#include <QString>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QSslError;
class QSslSocket;

namespace kingyo {

class ServerTrust;

struct Pop3Settings {
    int timeoutMs = 20000; // the name lookup, connect, TLS handshake and every read
    QList<QSslCertificate> extraCaCertificates; // trusted besides the system store
    // The certificates the user chose to trust and the servers once seen with STLS;
    // none: the system store alone decides and STLS is used whenever offered.
    ServerTrust *trust = nullptr;
    int pipelineWindow = 64; // RETRs kept in flight when the server pipelines, at least
    // Small messages get a wider window, enough RETRs for about this many bytes of
    // replies, so the server never idles between refills (0: the window stays as set).
    std::int64_t pipelineBytes = 8 << 20;
    // The whole session, name lookup included: a server that drips one byte at a time
    // or a mailbox too large to fetch in time ends at this deadline.
    QDeadlineTimer sessionDeadline{QDeadlineTimer::Forever};
    // Set from any thread when the program ends: every wait gives up within a tenth of
    // a second and nothing more is sent.
    const std::atomic<bool> *abandoned = nullptr;
};

// The RETRs to keep in flight for a mailbox of these sizes (-1: unknown): enough for
// settings.pipelineBytes of replies at the average size, never fewer than
// settings.pipelineWindow nor more than kMaxPipelineWindow.
inline constexpr int kMaxPipelineWindow = 1000;
int pipelineWindowFor(const std::vector<std::int64_t> &sizes, const Pop3Settings &settings);

// One POP3 session over a blocking socket on the calling thread, which it never holds
// longer than a tenth of a second without looking at the deadlines and the abandon
// flag. Failures return a code from pop3_failure.h and leave their value in failure();
// after a transport or protocol failure, a timeout, the session's deadline or the
// program's end the session is dead and every later call returns that failure again.
class Pop3Client {
public:
    static constexpr std::int64_t kReplyByteBudget = 64 << 20; // status lines, CAPA, LIST
    explicit Pop3Client(Pop3Settings settings);
    ~Pop3Client();
    Pop3Client(const Pop3Client &) = delete;
    Pop3Client &operator=(const Pop3Client &) = delete;

    // Looks the host up and opens the TCP connection only; the dialogue starts in login().
    // 0, or kCouldNotConnect (name not found, refused, unreachable, no answer in time),
    // kTooLong or kAbandoned.
    int connectTo(const Pop3ServerAddress &address);
    // Greeting, CAPA, STLS when offered, USER/PASS or APOP, STAT and, with listSizes,
    // LIST (without, the sizes are listed when first needed). Returns the number of
    // messages waiting (>= 0), or kLoginRejected, kApopUnavailable, kProtocolError,
    // kTlsFailure (the password is then never sent), kTimeout, kConnectionLost,
    // kServerError (STAT or LIST refused), kNotConnected (no connection, or a second login
    // on it), kUnsafeCredentials, kTooLong or kAbandoned.
    // With a trust store: a certificate refused only for its unknown issuer (or for being
    // self-signed) is accepted when its fingerprint is the one pinned for this server,
    // else fails with CertificateUnknown (none pinned) or CertificateChanged; a plain
    // connection to a server once seen with STLS that offers none now fails with
    // EncryptionWithdrawn. All three are kTlsFailure, before the password goes out.
    // A successful STLS upgrade is remembered in the store.
    int login(const QString &user, const QString &password, bool apop, bool listSizes = true);
    // 0 when message is one of 1..n of a live, logged-in session; else kNoSuchMessage,
    // kNotConnected or the failure that ended the session.
    int checkMessage(int message);
    // The size LIST gave (>= 0); kServerError when its line was unreadable; else as
    // checkMessage().
    std::int64_t messageSize(int message);
    // Retrieves a message, counting and dropping its body (see lastBodySize()). 0, or
    // kServerError (the server refused it), kProtocolError (a reply that makes no sense
    // or runs far past its size), kTimeout, kConnectionLost, kTooLong, kAbandoned, or as
    // checkMessage().
    int retrieve(int message);
    std::int64_t lastBodySize() const { return lastBodySize_; }
    // Asks UIDL for every message's unique ID, in message order, into ids. The count of
    // IDs (the login's count), or kServerError with UidlRefused (the server keeps none)
    // or UidlUnreadable (a line that is not "n id", an ID outside RFC 1939's 1..70
    // printable characters, numbers out of order, or a list not matching the count; the
    // session lives on in both cases), else kNotConnected or the failure that ended the
    // session, as checkMessage().
    int uniqueIds(std::vector<std::string> *ids);
    // Asks TOP for a message's header block alone (no body line; the message is not
    // marked read) into headers, of which kHeaderBlockLimit bytes are kept and the rest
    // read and dropped. 0, or kServerError with MessageRefused (the server refused, as
    // one without TOP does; the session lives on), else as retrieve().
    int topHeaders(int message, QByteArray *headers);
    // Says goodbye without waiting for messages still in flight.
    void quit();

    // The latest failure; MailProblem::None while there was none.
    const MailFailure &failure() const { return failure_; }
    bool usesTls() const;

private:
    struct Capabilities {
        bool stls = false;
        bool pipelining = false;
    };

    int fail(MailProblem problem, QStringList facts = {}, std::string_view serverText = {});
    int failTransport();
    QString sanitizedServerText(std::string_view text) const;

    // Why a wait must end now (the program's end, the session's deadline, or the step's
    // silence, reported as `silence`), or 0 to go on waiting.
    int stopWaiting(const QDeadlineTimer &step, MailProblem silence, const QStringList &facts);
    // The longest single wait: the step's and the session's time left, at most a tenth of a second.
    int waitSlice(const QDeadlineTimer &step) const;
    // Runs this thread's events until ready() holds or stopWaiting() says why not.
    int waitUntil(const std::function<bool()> &ready, MailProblem silence, const QStringList &facts);
    int lookUp(const Pop3ServerAddress &address, QList<QHostAddress> *found);
    int connectToAny(const QList<QHostAddress> &addresses);
    QStringList placeFacts() const;

    bool send(const QByteArray &commands);
    bool fillBuffer();
    // Fails the session once a reply runs past byteBudget bytes, so a server that
    // streams without end cannot hold the check for longer than its claim allows.
    int readReply(Pop3ReplyParser::Shape shape, Pop3ReplyParser::Sink &sink,
                  std::int64_t byteBudget = kReplyByteBudget);
    int readStatus(Pop3ReplyParser::Status *status, std::string *text);
    // A one-line reply that must be "+OK"; "-ERR" fails with refusal.
    int readOk(MailProblem refusal, std::string *text = nullptr, QStringList facts = {});
    int startTls();
    // During the handshake: lets a certificate the user pinned through, or notes why not.
    void judgeCertificate(const QList<QSslError> &errors);
    int refuseWithdrawnEncryption();
    int switchToTls();
    int readGreeting(std::string *timestamp);
    int readCapabilities(Capabilities *caps);
    int authenticate(const QString &user, bool apop, const std::string &timestamp);
    int readStatAndList(bool pipelined, bool list);
    int listSizes(); // LIST, once, before the first size or retrieval is asked for
    int readStat();          // the message count, or a failure
    int readList(int count); // fills sizes_; the list must hold exactly count messages
    int readOneRetr();
    int readRetrievalsInFlight(); // before another command's reply can be read
    void queueRetrievals(int message);

    Pop3Settings settings_;
    std::unique_ptr<QSslSocket> socket_;
    Pop3ServerAddress address_;
    QString trustKey_;
    MailFailure certificateProblem_; // why the handshake refused the certificate, if ours to say
    Pop3ReplyParser parser_;
    std::vector<char> buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;

    Capabilities caps_;
    bool loginTried_ = false;
    bool loggedIn_ = false;
    int deadFailure_ = 0; // the failure that ended the session, 0 while it lives
    QByteArray password_; // only to keep it out of server texts
    std::size_t messageCount_ = 0;    // from STAT
    bool sizesListed_ = false;
    std::vector<std::int64_t> sizes_; // -1 where the server's LIST line was unreadable
    std::deque<int> inFlight_;        // RETRs sent whose replies are not read yet
    std::size_t pipelineWindow_ = 1;  // for this mailbox, once it is listed
    std::int64_t lastBodySize_ = 0;
    MailFailure failure_;
};

} // namespace kingyo
