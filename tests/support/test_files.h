#pragma once
#include <QByteArray>
#include <QFile>
#include <QString>

namespace kingyo {

// The file's bytes, or "<missing>" when it cannot be read, so that a missing file never
// compares equal to an empty one.
inline QByteArray contentsOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Writes the whole file; false when any of it could not be written.
inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace kingyo
