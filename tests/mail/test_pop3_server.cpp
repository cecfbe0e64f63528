#include "test_pop3_server.h"

#include "support/maildir.h"

#include <QDir>
#include <QFile>
#include <atomic>
#include <gtest/gtest.h>
#include <unistd.h>

namespace kingyo::test {

bool TestPop3Server::load(QString *problem)
{
    return loadFrom(QStringLiteral(KINGYO_POP3_SERVER_DIR), problem);
}

bool TestPop3Server::loadFrom(const QString &dir, QString *problem)
{
    QFile env(dir + QStringLiteral("/env"));
    if (!env.open(QIODevice::ReadOnly)) {
        *problem = QStringLiteral("no %1: is the pop3_server fixture running?").arg(env.fileName());
        return false;
    }
    while (!env.atEnd()) {
        const QString line = QString::fromUtf8(env.readLine()).trimmed();
        const QString key = line.section(u'=', 0, 0);
        QString value = line.section(u'=', 1);
        value.remove(u'\'');
        if (key == u"POP3_DIR")
            dir_ = value;
        else if (key == u"POP3_PORT")
            port_ = static_cast<quint16>(value.toUInt());
        else if (key == u"POP3S_PORT")
            tlsPort_ = static_cast<quint16>(value.toUInt());
        else if (key == u"IMAP_PORT")
            imapPort_ = static_cast<quint16>(value.toUInt());
        else if (key == u"IMAPS_PORT")
            imapsPort_ = static_cast<quint16>(value.toUInt());
        else if (key == u"OAUTH_PORT")
            oauthPort_ = static_cast<quint16>(value.toUInt());
        else if (key == u"POP3_CA")
            caPath_ = value;
        else if (key == u"POP3_IPV6")
            ipv6_ = value == u"1";
    }
    if (port_ == 0 || tlsPort_ == 0 || imapPort_ == 0 || imapsPort_ == 0 || dir_.isEmpty()) {
        *problem = QStringLiteral("incomplete %1").arg(env.fileName());
        return false;
    }
    return true;
}

QString TestPop3Server::passwordOf(const QString &user)
{
    if (user == u"grace")
        return QStringLiteral("open sesame 7");
    if (user == hardToQuoteUser())
        return QStringLiteral("p a\"s\\s 金魚");
    return user + QStringLiteral("-pass-1");
}

Pop3Settings TestPop3Server::trustingSettings() const
{
    Pop3Settings settings;
    settings.timeoutMs = 10000;
    settings.extraCaCertificates = QSslCertificate::fromPath(caPath_);
    return settings;
}

QString TestPop3Server::logText() const
{
    QFile log(dir_ + QStringLiteral("/dovecot.log"));
    return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
}

QString TestPop3Server::maildir(const QString &user) const
{
    return dir_ + QStringLiteral("/home/") + user + QStringLiteral("/Maildir");
}

void TestPop3Server::holdMailbox(const QString &user)
{
    if (heldMailboxes_.count(user))
        return;
    auto lock = std::make_unique<QLockFile>(dir_ + QStringLiteral("/home/") + user + QStringLiteral(".lock"));
    lock->setStaleLockTime(0); // a holder that still runs keeps it however long it takes
    ASSERT_TRUE(lock->lock()) << "the lock of " << user.toStdString() << "'s mailbox";
    heldMailboxes_.emplace(user, std::move(lock));
}

void TestPop3Server::clearMailbox(const QString &user)
{
    holdMailbox(user);
    for (const char *sub : {"new", "cur", "tmp"}) {
        QDir folder(maildir(user) + u'/' + QLatin1String(sub));
        for (const QString &name : folder.entryList(QDir::Files))
            folder.remove(name);
    }
}

void TestPop3Server::deliver(const QString &user,
                             const std::function<void(const std::function<void(const QByteArray &)> &)> &writer)
{
    holdMailbox(user);
    static std::atomic<int> serial = 0;
    const QString name = QStringLiteral("%1.%2_%3.kingyo-test").arg(time(nullptr)).arg(getpid()).arg(serial++, 8, 10, QChar(u'0'));
    ASSERT_TRUE(deliverToMaildir(maildir(user), name, writer)) << "delivery to " << maildir(user).toStdString();
}

void TestPop3Server::deliver(const QString &user, const QByteArray &message)
{
    deliver(user, [&message](const auto &append) { append(message); });
}

void TestPop3Server::expungeOne(const QString &user)
{
    holdMailbox(user);
    for (const char *sub : {"cur", "new"}) {
        QDir folder(maildir(user) + u'/' + QLatin1String(sub));
        if (const QStringList names = folder.entryList(QDir::Files); !names.isEmpty()) {
            ASSERT_TRUE(folder.remove(names.first()));
            return;
        }
    }
    FAIL() << "no message of " << user.toStdString() << " to expunge";
}

} // namespace kingyo::test
