#pragma once
#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <optional>

namespace kingyo {

// Who may read a settings file that a write stores.
enum class NewFileAccess {
    Usual,     // a new file as the umask allows; an existing one keeps its mode
    OwnerOnly, // the file holds a secret: always 0600, on the file a link leads to too
};

// Settings files are a few lines; anything bigger was not written by kingyo.
inline constexpr qint64 kSettingsFileLimit = 1024 * 1024;

// The whole file, or nothing when it is missing or cannot be read: not a regular file
// (a FIFO or device there cannot hold the read up), larger than limit bytes, or not
// readable. whyNot, when given, gets one line saying why a file that is there was not
// read; it stays untouched for a missing file.
std::optional<QByteArray> readSettingsFile(const QString &path, qint64 limit = kSettingsFileLimit,
                                           QString *whyNot = nullptr);

// What a write of a settings file did: stored everything (true), or nothing (false),
// with `failure` saying in one line which file could not be written and why, for the user.
struct WriteResult {
    QString failure;
    explicit operator bool() const { return failure.isEmpty(); }
};

// Writes a temporary file beside path and renames it over the old one, so the old
// file stays whole when anything fails. A link is followed: the file it leads to is
// replaced. Something other than a regular file in the way (a folder, a FIFO) is left
// as it is, unchanged even in its mode, and nothing is stored. The folder is never
// created. A secret's temporary is never open to others, except where the file system
// keeps no modes.
WriteResult replaceSettingsFile(const QString &path, QByteArrayView contents,
                                NewFileAccess access = NewFileAccess::Usual);

// Makes the folder and each missing parent, creating them 0700; folders that exist keep
// their mode. Empty when the folder exists afterwards, else one line saying why not
// (for example a file in the way, or a read-only parent).
QString makePrivateFolder(const QString &path);

// Empty when the folder belongs to this user and nobody else may write in it (a link
// to such a folder counts as the folder); else one line saying why it is not used.
QString foreignFolderProblem(const QString &path);

// Settings files are UTF-8. Bytes that are not (a file carried over from a Japanese
// Windows system) are read as Shift_JIS when they decode cleanly, else one character
// per byte, so nothing is dropped or replaced.
QString decodeSettingsText(QByteArrayView bytes);

// Drops a UTF-8 byte-order mark some editors put at the start of a file.
QByteArrayView withoutByteOrderMark(QByteArrayView bytes);

} // namespace kingyo
