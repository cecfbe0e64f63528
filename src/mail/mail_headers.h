#pragma once
#include <QByteArrayView>
#include <QList>
#include <QString>

namespace kingyo {

// Who wrote a message and what about, read from its header block, ready to show:
// encoded words decoded, control characters blanked, each capped in length. Plain text
// (no markup interpreted or added); empty when the header is missing.
struct MailSummary {
    QString from;    // the sender's display name, else the address
    QString subject;
    bool operator==(const MailSummary &) const = default;
};

// The header block of a message (the lines up to the first empty line; what follows is
// ignored) as a summary. Folded lines are unfolded; RFC 2047 encoded words (B and Q, in
// any charset Qt's decoder knows) are decoded; undeclared 8-bit bytes are read as UTF-8,
// else ISO-2022-JP / Shift_JIS / EUC-JP when they decode cleanly; anything broken is
// kept as it came rather than dropped.
MailSummary summarizeHeaders(QByteArrayView headerBlock);

// The longest header block a check asks a server for, in bytes; a longer one is cut.
inline constexpr qsizetype kHeaderBlockLimit = 64 * 1024;

} // namespace kingyo
