#pragma once
#include "mail/mail_failure.h"

#include <QString>

class QMessageBox;

namespace kingyo {

// The text up to the first NUL character, or the whole text when it has none.
QString trimNull(const QString &text);

// What the "エラー" box says for a failure: our own sentence for its problem, then the
// server's own words, quoted, when it said any.
QString mailErrorText(const MailFailure &failure);

// The "エラー" box, not yet shown: OK only, no icon, the text as plain text, above the
// topmost bowl and panel.
QMessageBox *makeMailErrorBox(const MailFailure &failure);

} // namespace kingyo
