#pragma once
#include <QString>
#include <optional>

namespace kingyo {

// Where to reach a mail server and how to speak to it, read from the user's server field.
struct MailServerAddress {
    enum class Protocol { Pop3, Imap };
    Protocol protocol = Protocol::Pop3;
    QString host; // a name or an address, IPv6 without brackets
    quint16 port = 110;
    bool implicitTls = false; // TLS from the first byte (pop3s, imaps) rather than STLS or STARTTLS

    bool operator==(const MailServerAddress &) const = default;
};

// Accepts "host", "host:port", "[v6addr]:port", a bare IPv6 address, and each of
// those after "pop3://", "pop3s://", "imap://" or "imaps://" (any case; a trailing
// "/" is allowed). A scheme's default ports are 110, 995, 143 and 993; pop3s and
// imaps mean implicit TLS. Without a scheme, port 995 means pop3s, 993 imaps, 143
// imap and any other port, or none (110), pop3. Nothing else is accepted.
std::optional<MailServerAddress> parseMailServerAddress(const QString &field);

} // namespace kingyo
