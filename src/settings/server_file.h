#pragma once
#include "settings/settings_storage.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace kingyo {

struct SharedState;

// The server file "vbmail.ini": lines "SMTP=", "POP3=", "MAIL=", "APOP=" (keys with
// case, at the very start of a line), no sections, no comments.

// Sets the fields the contents name; a key given twice takes its later line. Each value
// is the rest of its line cut to 100 characters, not trimmed; APOP is read as a decimal
// number, rounded half to even and clamped into 16 bits.
void applyServerFileContents(QByteArrayView contents, SharedState &state);

// The four CR LF lines the server dialog stores.
QByteArray serverFileContents(const SharedState &state);

// A missing or unreadable file leaves the state as it was.
void readServerFile(const QString &path, SharedState &state);

// Replaces the whole file; false, saying why, when nothing was stored (the old file is
// then intact).
WriteResult writeServerFile(const QString &path, const SharedState &state);

// The number at the start of text as the APOP line reads it: leading blanks skipped,
// optional sign, digits, fraction and exponent; no number at all gives 0.
double leadingNumber(QStringView text);

} // namespace kingyo
