#pragma once
#include "mail/pop3_client.h"

#include <QByteArray>
#include <QString>
#include <functional>

namespace kingyo::test {

// The Dovecot that scripts/test-pop3-server started for this test run; its
// folder holds an env file with the ports and the certificate.
class TestPop3Server {
public:
    // Reads the env file; false (with a message) when the server is not up.
    bool load(QString *problem);

    quint16 port() const { return port_; }
    quint16 tlsPort() const { return tlsPort_; }
    bool hasIpv6() const { return ipv6_; }
    QString logText() const;
    static QString passwordOf(const QString &user);
    // Trusts the server's certificate; nothing else is relaxed.
    Pop3Settings trustingSettings() const;
    // The server's own (self-signed) certificate.
    QString certificatePath() const { return caPath_; }

    void clearMailbox(const QString &user) const;
    // Delivers one message the way a mail server does (tmp/, then new/).
    // The writer is called with an append function until it returns.
    void deliver(const QString &user, const std::function<void(const std::function<void(const QByteArray &)> &)> &writer) const;
    void deliver(const QString &user, const QByteArray &message) const;

private:
    QString maildir(const QString &user) const;

    QString dir_;
    quint16 port_ = 0;
    quint16 tlsPort_ = 0;
    bool ipv6_ = false;
    QString caPath_;
};

} // namespace kingyo::test
