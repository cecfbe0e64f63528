#include "settings/settings_storage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kingyo {

namespace {

constexpr QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

// QSaveFile gives its temporary the mode of the file it replaces, so that file is made
// 0600 first (a missing one is made empty and 0600): the temporary is then never open to
// others, not even empty, when someone could open it and read what arrives later.
// An existing path is a regular file (checked before). True when the empty file was made here.
bool narrowFileBeforeSecret(const QString &path)
{
    QFile file(path);
    if (!file.exists()) // follows a link; a dangling link is not created through (O_EXCL)
        return file.open(QIODevice::WriteOnly | QIODevice::NewOnly, ownerOnly);
    // Refused for another user's file or where the file system keeps no modes; the
    // temporary is narrowed again below.
    file.setPermissions(ownerOnly);
    return false;
}

// Empty when stored, else why not.
QString writeThroughTemporary(const QString &path, QByteArrayView contents, bool secret)
{
    QSaveFile file(path);
    // Unbuffered, so that a short write shows in write()'s count: a buffered QSaveFile
    // commits a file cut short when its final flush fails.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return file.errorString();
    // Before the contents arrive; a file system that keeps no modes refuses, and there
    // the user chose where the file lives.
    if (secret)
        file.setPermissions(ownerOnly);
    if (file.write(contents.data(), contents.size()) != contents.size())
        return file.errorString(); // the temporary goes with the QSaveFile
    return file.commit() ? QString() : file.errorString();
}

// Empty when path is missing or a regular file (a link leads to what it names).
QString notRegularFileProblem(const QString &path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0 || S_ISREG(info.st_mode))
        return {};
    return QStringLiteral("%1 is not a regular file").arg(path);
}

} // namespace

std::optional<QByteArray> readSettingsFile(const QString &path, qint64 limit, QString *whyNot)
{
    const auto refuse = [whyNot](const QString &why) -> std::optional<QByteArray> {
        if (whyNot)
            *whyNot = why;
        return std::nullopt;
    };
    const auto cannotRead = [&path](int error) {
        return QStringLiteral("cannot read %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(error)));
    };
    // Non-blocking, so that a FIFO in the file's place cannot hold the open up.
    const int descriptor = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0)
        return errno == ENOENT ? std::nullopt : refuse(cannotRead(errno));
    QFile file;
    if (!file.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(descriptor);
        return refuse(cannotRead(EIO));
    }
    struct stat info {};
    if (::fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode))
        return refuse(QStringLiteral("%1 is not a regular file").arg(path));
    if (info.st_size > limit)
        return refuse(QStringLiteral("%1 is larger than %2 bytes").arg(path, QString::number(limit)));
    // One byte more than fstat said tells a file that is being written to.
    QByteArray contents = file.read(info.st_size + 1);
    if (file.error() != QFileDevice::NoError)
        return refuse(cannotRead(EIO));
    if (contents.size() > info.st_size)
        return refuse(QStringLiteral("%1 changed while it was read").arg(path));
    return contents;
}

WriteResult replaceSettingsFile(const QString &path, QByteArrayView contents, NewFileAccess access)
{
    if (QString problem = notRegularFileProblem(path); !problem.isEmpty())
        return {std::move(problem)};
    const bool secret = access == NewFileAccess::OwnerOnly;
    const bool created = secret && narrowFileBeforeSecret(path);
    const QString why = writeThroughTemporary(path, contents, secret);
    if (why.isEmpty())
        return {};
    if (created)
        QFile::remove(path); // the empty file made above: nothing was stored
    return {QStringLiteral("cannot write %1: %2").arg(path, why)};
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

QString foreignFolderProblem(const QString &path)
{
    const QFileInfo folder(path);
    if (!folder.isDir())
        return QStringLiteral("%1 is not a folder").arg(path);
    if (folder.ownerId() != ::geteuid())
        return QStringLiteral("%1 belongs to another user").arg(path);
    if (folder.permissions() & (QFileDevice::WriteGroup | QFileDevice::WriteOther))
        return QStringLiteral("%1 may be written by other users").arg(path);
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
