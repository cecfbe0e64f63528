#include "settings/settings_storage.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace kingyo {

std::optional<QByteArray> readSettingsFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

bool replaceSettingsFile(const QString &path, QByteArrayView contents, NewFileAccess access)
{
    const bool isNew = !QFile::exists(path);
    QSaveFile file(path);
    // Unbuffered, so that a short write shows in write()'s count: a buffered QSaveFile
    // commits a file cut short when its final flush fails.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    // Narrow the mode before the contents arrive, so a password is never readable by others.
    if (isNew && access == NewFileAccess::OwnerOnly
        && !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        file.cancelWriting();
        file.commit();
        return false;
    }
    if (file.write(contents.data(), contents.size()) != contents.size())
        file.cancelWriting();
    return file.commit();
}

QString makePrivateFolder(const QString &path)
{
    const QByteArray native = QFile::encodeName(QDir::cleanPath(path));
    if (!native.startsWith('/'))
        return QStringLiteral("%1 is not an absolute path").arg(path);
    for (qsizetype end = 1; end <= native.size(); ++end) {
        if (end < native.size() && native[end] != '/')
            continue;
        const QByteArray folder = native.left(end);
        if (::mkdir(folder.constData(), 0700) == 0) {
            ::chmod(folder.constData(), 0700); // a umask may have taken the owner's bits
            continue;
        }
        const int error = errno;
        struct stat info {};
        if (::stat(folder.constData(), &info) == 0) {
            if (S_ISDIR(info.st_mode))
                continue;
            return QStringLiteral("%1 is not a folder").arg(QFile::decodeName(folder));
        }
        return QStringLiteral("cannot create %1: %2")
            .arg(QFile::decodeName(folder), QString::fromLocal8Bit(std::strerror(error)));
    }
    return {};
}

QString decodeSettingsText(QByteArrayView bytes)
{
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = utf8(bytes);
    if (!utf8.hasError())
        return text;
    QStringDecoder shiftJis("Shift_JIS", QStringConverter::Flag::Stateless);
    if (shiftJis.isValid()) {
        text = shiftJis(bytes);
        if (!shiftJis.hasError() && !text.contains(QChar::ReplacementCharacter))
            return text;
    }
    return QString::fromLatin1(bytes);
}

QByteArrayView withoutByteOrderMark(QByteArrayView bytes)
{
    return bytes.startsWith("\xEF\xBB\xBF") ? bytes.sliced(3) : bytes;
}

} // namespace kingyo
