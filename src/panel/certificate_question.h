#pragma once
#include "mail/mail_failure.h"

#include <QString>

class QMessageBox;

namespace kingyo {

// What the "確認" box asks for a CertificateUnknown failure: the server, the
// certificate's SHA-256 fingerprint in colon-separated hex, and whether to trust it.
QString certificateQuestionText(const MailFailure &failure);

// The "確認" box, not yet shown: Yes / No (No is the default), plain text, above the
// topmost bowl and panel.
QMessageBox *makeCertificateQuestion(const MailFailure &failure);

} // namespace kingyo
