#pragma once
#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <functional>
#include <unistd.h>

namespace kingyo::test {

// Delivers one message into a Maildir as a delivery agent does: written under tmp/,
// handed to the Maildir's owner (the server reads mail as that user), then renamed into
// new/. The writer gets an append function for the message's bytes. False on failure.
inline bool deliverToMaildir(const QString &maildir, const QString &name,
                             const std::function<void(const std::function<void(const QByteArray &)> &)> &writer)
{
    const QString temporary = maildir + QStringLiteral("/tmp/") + name;
    {
        QFile file(temporary);
        if (!file.open(QIODevice::WriteOnly))
            return false;
        writer([&file](const QByteArray &bytes) { file.write(bytes); });
        if (!file.flush())
            return false;
    }
    const QFileInfo owner(maildir);
    if (::getuid() == 0 && ::chown(QFile::encodeName(temporary).constData(), owner.ownerId(), owner.groupId()) != 0)
        return false;
    return QFile::rename(temporary, maildir + QStringLiteral("/new/") + name);
}

inline bool deliverToMaildir(const QString &maildir, const QString &name, const QByteArray &message)
{
    return deliverToMaildir(maildir, name, [&message](const auto &append) { append(message); });
}

} // namespace kingyo::test
