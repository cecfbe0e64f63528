#pragma once
#include "mail/connection/mail_connection.h"

#include <QStringList>
#include <QTest>

namespace kingyo::test {

// What a connection said, in order, and every byte it handed over; the failures kept.
struct ConnectionRecorder {
    static constexpr int kHangGuardMs = 10000;

    explicit ConnectionRecorder(MailConnection *connection)
    {
        QObject::connect(connection, &MailConnection::opened, [this] { events << QStringLiteral("opened"); });
        QObject::connect(connection, &MailConnection::encrypted, [this] { events << QStringLiteral("encrypted"); });
        QObject::connect(connection, &MailConnection::readyRead, [this, connection] {
            char buffer[4096];
            while (const qint64 got = connection->read(buffer, sizeof buffer))
                received.append(buffer, got);
        });
        QObject::connect(connection, &MailConnection::failed, [this](const MailFailure &failure) {
            events << QStringLiteral("failed");
            failures << failure;
        });
    }
    ConnectionRecorder(const ConnectionRecorder &) = delete;
    ConnectionRecorder &operator=(const ConnectionRecorder &) = delete;

    // Until the event, or a failure; false when neither came.
    bool waitFor(const QString &event)
    {
        return QTest::qWaitFor([&] { return events.contains(event) || !failures.isEmpty(); }, kHangGuardMs);
    }
    // Until bytes holding text arrived, or a failure.
    bool waitForText(const QByteArray &text)
    {
        return QTest::qWaitFor([&] { return received.contains(text) || !failures.isEmpty(); }, kHangGuardMs);
    }

    QStringList events;
    QList<MailFailure> failures;
    QByteArray received;
};

} // namespace kingyo::test
