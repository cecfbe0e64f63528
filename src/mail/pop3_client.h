#pragma once
#include "mail/pop3_reply_parser.h"
#include "mail/pop3_server_address.h"

#include <QList>
#include <QSslCertificate>
#include <QString>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

class QSslSocket;

namespace kingyo {

struct Pop3Settings {
    int timeoutMs = 20000; // connect, TLS handshake and every read
    QList<QSslCertificate> extraCaCertificates; // trusted besides the system store
    int pipelineWindow = 64; // RETRs kept in flight when the server pipelines
};

// One POP3 session over a blocking socket on the calling thread. Every call
// returns within the timeout per network wait. Failures return a code from
// pop3_failure.h and leave a text in errorText(); after a transport or protocol
// failure the session is dead and every later call returns that failure again.
class Pop3Client {
public:
    static constexpr std::int64_t kReplyByteBudget = 64 << 20; // status lines, CAPA, LIST
    explicit Pop3Client(Pop3Settings settings);
    ~Pop3Client();
    Pop3Client(const Pop3Client &) = delete;
    Pop3Client &operator=(const Pop3Client &) = delete;

    // Opens the TCP connection only; the dialogue starts in login().
    int connectTo(const Pop3ServerAddress &address);
    // Greeting, CAPA, STLS when offered, USER/PASS or APOP, STAT and LIST.
    // Returns the number of messages waiting.
    int login(const QString &user, const QString &password, bool apop);
    int checkMessage(int message);
    std::int64_t messageSize(int message);
    // Retrieves a message, counting and dropping its body (see lastBodySize()).
    int retrieve(int message);
    std::int64_t lastBodySize() const { return lastBodySize_; }
    // Says goodbye without waiting for messages still in flight.
    void quit();

    const QString &errorText() const { return errorText_; }
    bool usesTls() const;

private:
    struct Capabilities {
        bool stls = false;
        bool pipelining = false;
    };

    int fail(int code, const QString &text);
    int failTransport();
    int failReplyText(int code, const QString &what, std::string_view serverText);
    QString sanitizedServerText(std::string_view text) const;

    bool send(const QByteArray &commands);
    bool fillBuffer();
    // Fails the session once a reply runs past byteBudget bytes, so a server that
    // streams without end cannot hold the check for longer than its claim allows.
    int readReply(Pop3ReplyParser::Shape shape, Pop3ReplyParser::Sink &sink,
                  std::int64_t byteBudget = kReplyByteBudget);
    int readStatus(Pop3ReplyParser::Status *status, std::string *text);
    // A one-line reply that must be "+OK"; "-ERR" fails with refusalCode and refusal.
    int readOk(int refusalCode, const QString &refusal, std::string *text = nullptr);
    int startTls();
    int switchToTls();
    int readGreeting(std::string *timestamp);
    int readCapabilities(Capabilities *caps);
    int authenticate(const QString &user, bool apop, const std::string &timestamp);
    int readStatAndList(bool pipelined);
    int readStat();          // the message count, or a failure
    int readList(int count); // fills sizes_; the list must hold exactly count messages
    int readOneRetr();
    void queueRetrievals(int message);

    Pop3Settings settings_;
    std::unique_ptr<QSslSocket> socket_;
    Pop3ServerAddress address_;
    Pop3ReplyParser parser_;
    std::vector<char> buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;

    Capabilities caps_;
    bool loginTried_ = false;
    bool loggedIn_ = false;
    int deadFailure_ = 0; // the failure that ended the session, 0 while it lives
    QByteArray password_; // only to keep it out of server texts
    std::vector<std::int64_t> sizes_; // -1 where the server's LIST line was unreadable
    std::deque<int> inFlight_;        // RETRs sent whose replies are not read yet
    std::int64_t lastBodySize_ = 0;
    QString errorText_;
};

} // namespace kingyo
