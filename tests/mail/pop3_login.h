#pragma once
#include "mail/blocking_pop3.h"
#include "mail/pop3_failure.h"

namespace kingyo::test {

// Connects the client to the server field and logs in. The result of login(), or the
// connection's own failure code when there was nothing to log in to, so that a test
// expecting a message count never passes on a refused connection.
inline int connectAndLogIn(test::BlockingPop3Client &client, const QString &serverField, const QString &user,
                           const QString &password, bool apop = false, bool listSizes = true)
{
    const auto address = parseMailServerAddress(serverField);
    if (!address)
        return pop3::kCouldNotConnect;
    if (const int result = client.connectTo(*address); result < 0)
        return result;
    return client.login(user, password, apop, listSizes);
}

} // namespace kingyo::test
