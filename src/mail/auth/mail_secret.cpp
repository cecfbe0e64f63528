#include "mail/auth/mail_secret.h"

#include "mail/auth/bearer_sasl.h"

namespace kingyo {
namespace {

bool hasLineBreakOrNul(const QString &text)
{
    return text.contains(u'\r') || text.contains(u'\n') || text.contains(QChar(0));
}

} // namespace

bool MailSecret::isSafeToSend(const QString &user) const
{
    if (accessToken_)
        return isSafeForBearer(user, text_);
    return !hasLineBreakOrNul(user) && !hasLineBreakOrNul(text_);
}

} // namespace kingyo
