#pragma once
#include "mail/blocking_pop3.h"
#include "test_pop3_server.h"

#include <cstdint>
#include <utility>

namespace kingyo::test {

// Logs in to the private Dovecot over IMAP (STARTTLS) with the access token and counts
// the unread mail: the count, or a failure code with its failure.
inline std::pair<std::int64_t, MailFailure> countUnreadWithToken(const TestPop3Server &server, const QString &user,
                                                                 const QString &token)
{
    BlockingMailLibrary library(server.trustingSettings());
    const int handle = library.connect(QStringLiteral("imap://127.0.0.1:%1").arg(server.imapPort()));
    if (handle < 0)
        return {handle, library.lastFailure()};
    const std::int64_t count = library.countUnread(handle, user, MailSecret::accessToken(token)).result;
    const MailFailure failure = library.lastFailure();
    library.close(handle);
    return {count, failure};
}

} // namespace kingyo::test
