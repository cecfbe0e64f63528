#pragma once
#include "mail/blocking_pop3.h"

#include <QByteArray>
#include <QLockFile>
#include <QString>
#include <functional>
#include <map>
#include <memory>

namespace kingyo::test {

// The Dovecot that scripts/test-pop3-server started for this test run, serving POP3
// and IMAP from the same mailboxes; its folder holds an env file with the ports and
// the certificate.
class TestPop3Server {
public:
    // Reads the env file; false (with a message) when the server is not up.
    bool load(QString *problem);
    // The same for a server the script started in dir.
    bool loadFrom(const QString &dir, QString *problem);

    quint16 port() const { return port_; }
    quint16 tlsPort() const { return tlsPort_; }
    quint16 imapPort() const { return imapPort_; }   // STARTTLS offered
    quint16 imapsPort() const { return imapsPort_; } // TLS from the first byte
    // The test OAuth2 provider whose tokens the server takes from users named by a mail
    // address (see TestOAuthProvider).
    quint16 oauthPort() const { return oauthPort_; }
    bool hasIpv6() const { return ipv6_; }
    QString logText() const;
    static QString passwordOf(const QString &user);
    // A user whose password IMAP must quote: spaces, '"', '\' and more than ASCII.
    static QString hardToQuoteUser() { return QStringLiteral("trent"); }
    // Trusts the server's certificate; nothing else is relaxed.
    Pop3Settings trustingSettings() const;
    // The server's own (self-signed) certificate.
    QString certificatePath() const { return caPath_; }

    // Clearing or filling a mailbox holds it until this object goes: tests that run
    // at once take turns at a mailbox rather than mixing its messages.
    void clearMailbox(const QString &user);
    // Delivers one message the way a mail server does (tmp/, then new/).
    // The writer is called with an append function until it returns.
    void deliver(const QString &user, const std::function<void(const std::function<void(const QByteArray &)> &)> &writer);
    void deliver(const QString &user, const QByteArray &message);
    // Removes one stored message, as another client that deleted it would.
    void expungeOne(const QString &user);

private:
    QString maildir(const QString &user) const;
    void holdMailbox(const QString &user);

    QString dir_;
    quint16 port_ = 0;
    quint16 tlsPort_ = 0;
    quint16 imapPort_ = 0;
    quint16 imapsPort_ = 0;
    quint16 oauthPort_ = 0;
    bool ipv6_ = false;
    QString caPath_;
    std::map<QString, std::unique_ptr<QLockFile>> heldMailboxes_;
};

} // namespace kingyo::test
