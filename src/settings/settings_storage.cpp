#include "settings/settings_storage.h"

#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>

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
