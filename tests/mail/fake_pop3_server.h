#pragma once
#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace kingyo::test {

// One run of tests/mail/fake_pop3_server.py: a scripted POP3 server on
// loopback serving one client. received() is every byte the client sent.
class FakePop3Server {
public:
    // The certificate names the server by altNames (openssl's subjectAltName form).
    explicit FakePop3Server(const QString &scenario,
                            const QString &altNames = QStringLiteral("IP:127.0.0.1,DNS:localhost"));
    ~FakePop3Server();

    quint16 port() const { return port_; }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(port_); }
    QString certificatePath() const { return dir_.filePath(QStringLiteral("cert.pem")); }
    // Waits for the server to finish with its client, then reads the record.
    QByteArray received();
    // What the client has sent so far, the server still serving it.
    QByteArray receivedSoFar() const;

private:
    QTemporaryDir dir_;
    QProcess process_;
    quint16 port_ = 0;
};

} // namespace kingyo::test
