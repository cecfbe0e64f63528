#pragma once
#include <QString>
#include <cstdint>

namespace kingyo {

// The program-wide settings every window shares for the whole run.
struct SharedState {
    QString pop3Server;
    QString smtpServer;
    QString mailAddress;
    std::int16_t apopFlag = 0; // non-zero: log in with APOP
    QString userId;
    QString userPass;
};

} // namespace kingyo
