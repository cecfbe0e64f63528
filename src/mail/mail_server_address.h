#pragma once
#include <QString>
#include <optional>

namespace kingyo {

// Where to reach a POP3 server, read from the user's server field.
struct MailServerAddress {
    QString host; // a name or an address, IPv6 without brackets
    quint16 port = 110;
    bool implicitTls = false; // TLS from the first byte (POP3S) rather than STLS

    bool operator==(const MailServerAddress &) const = default;
};

// Accepts "host", "host:port", "[v6addr]:port", a bare IPv6 address,
// "pop3://host[:port]" and "pop3s://host[:port]". A bare host means port 110;
// port 995 without a scheme, or pop3s://, means POP3S. Nothing else is accepted.
std::optional<MailServerAddress> parseMailServerAddress(const QString &field);

} // namespace kingyo
