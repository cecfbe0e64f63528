// How often the IDLE watch logs in to a server that ends every IDLE with BYE, with the
// watch's own timings: `watcher_logins_bench [seconds]` (600 by default) prints the
// logins heard. A server that drops every connection must see the waits grow.
#include "base/random_source.h"
#include "mail/imap/imap_watcher.h"

#include <QCoreApplication>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <cstdio>

namespace {

// Greets, takes any login, shows an INBOX of three and ends each IDLE with BYE.
void serveByeInIdle(QTcpSocket *peer, int &logins)
{
    peer->write("* OK [CAPABILITY IMAP4rev1 IDLE] ready\r\n");
    QObject::connect(peer, &QTcpSocket::readyRead, peer, [peer, &logins] {
        while (peer->canReadLine()) {
            const QList<QByteArray> words = peer->readLine().trimmed().split(' ');
            const QByteArray tag = words.value(0), command = words.value(1).toUpper();
            if (command == "LOGIN") {
                ++logins;
                peer->write(tag + " OK [CAPABILITY IMAP4rev1 IDLE] in\r\n");
            } else if (command == "EXAMINE") {
                peer->write("* 3 EXISTS\r\n" + tag + " OK\r\n");
            } else if (command == "IDLE") {
                peer->write("+ idling\r\n* BYE going away\r\n");
                peer->disconnectFromHost();
            } else {
                peer->write(tag + " OK\r\n");
            }
        }
    });
    QObject::connect(peer, &QTcpSocket::disconnected, peer, &QObject::deleteLater);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? QByteArray(argv[1]).toInt() : 600;
    int logins = 0;
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        while (QTcpSocket *peer = server.nextPendingConnection())
            serveByeInIdle(peer, logins);
    });
    kingyo::SystemRandom random;
    kingyo::ImapWatcher watcher({}, random);
    watcher.watch({kingyo::MailServerAddress::Protocol::Imap, QStringLiteral("127.0.0.1"), server.serverPort(), false},
                  QStringLiteral("user"), QStringLiteral("password"));
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    app.exec();
    std::printf("logins in %d s against a server that sends BYE at each IDLE: %d\n", seconds, logins);
    return 0;
}
