#pragma once
#include "mail/mail_failure.h"

#include <QString>
#include <ostream>
#include <string>

// Readable failure output for Qt strings.
inline void PrintTo(const QString &text, std::ostream *os) { *os << '"' << text.toStdString() << '"'; }

namespace kingyo {

// A failure as one line: its problem's number, its facts and the server's words.
inline std::string describe(const MailFailure &failure)
{
    return "problem " + std::to_string(static_cast<int>(failure.problem)) + " facts [" +
           failure.facts.join(QStringLiteral("|")).toStdString() + "] server [" + failure.serverText.toStdString() + "]";
}

inline void PrintTo(const MailFailure &failure, std::ostream *os) { *os << describe(failure); }

} // namespace kingyo
