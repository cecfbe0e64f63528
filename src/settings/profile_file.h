#pragma once
#include "settings/settings_storage.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <optional>
#include <utility>

namespace kingyo {

// Private-profile ("INI") files: "[section]" lines followed by "key=value" lines.
// Section and key names match without regard to (ASCII) case; the first matching
// section and key count. Values are trimmed of surrounding blanks, and one pair of
// surrounding double quotes is removed, so a value written with blanks at its ends
// reads back as written.
namespace profile {

// The raw value of the key, or nothing when the section or key is missing.
std::optional<QByteArray> findValue(QByteArrayView contents, QByteArrayView section, QByteArrayView key);

// The contents with the key set to value: the key's line replaced in place, or the key
// added at the end of its section, or the section added at the end. Every other line
// stays byte for byte; new lines use the file's own line ends (CR LF when it has none).
QByteArray withValue(QByteArrayView contents, QByteArrayView section, QByteArrayView key, QByteArrayView value);

// Leading decimal digits with an optional sign; no digits read as 0.
int leadingInteger(QByteArrayView value);

} // namespace profile

// The longest value a profile read returns, in bytes.
constexpr qsizetype profileValueLimit = 255;

// The key's value cut to 255 bytes at a character boundary; empty when the file,
// section or key is missing.
QString readProfileString(const QString &file, const QString &section, const QString &key);

// The key's value read by its leading digits, or defaultValue when the file, section
// or key is missing.
int readProfileInt(const QString &file, const QString &section, const QString &key, int defaultValue);

// Sets several keys of one section in one write, creating the section or the file
// when missing (never the folder): all of them are stored, or none (see
// replaceSettingsFile()); when none, the old file is untouched, as is a file that cannot
// be read.
WriteResult writeProfileStrings(const QString &file, const QString &section,
                         const QList<std::pair<QString, QString>> &keyValues,
                         NewFileAccess access = NewFileAccess::Usual);

} // namespace kingyo
