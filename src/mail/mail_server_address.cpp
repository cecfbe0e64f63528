#include "mail/mail_server_address.h"

#include <QHostAddress>

namespace kingyo {

namespace {

constexpr quint16 kPop3Port = 110;
constexpr quint16 kPop3sPort = 995;

std::optional<quint16> parsePort(const QString &text)
{
    bool ok = false;
    const uint port = text.toUInt(&ok);
    if (!ok || port == 0 || port > 65535 || text.startsWith(u'+'))
        return std::nullopt;
    return static_cast<quint16>(port);
}

bool isPlausibleHost(const QString &host)
{
    if (host.isEmpty())
        return false;
    for (const QChar c : host) {
        if (c.isSpace() || c == u'/' || c == u'@' || c == u'[' || c == u']' || c.category() == QChar::Other_Control)
            return false;
    }
    return true;
}

// "host", "host:port", "[v6]", "[v6]:port" or a bare IPv6 address.
std::optional<MailServerAddress> parseHostAndPort(const QString &text, std::optional<quint16> defaultPort)
{
    QString host = text;
    std::optional<QString> portText;
    if (text.startsWith(u'[')) {
        const qsizetype close = text.indexOf(u']');
        if (close < 0)
            return std::nullopt;
        host = text.mid(1, close - 1);
        const QString rest = text.mid(close + 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(u':'))
                return std::nullopt;
            portText = rest.mid(1);
        }
        if (QHostAddress(host).protocol() != QAbstractSocket::IPv6Protocol)
            return std::nullopt;
    } else if (text.count(u':') == 1) {
        host = text.section(u':', 0, 0);
        portText = text.section(u':', 1);
    } else if (text.count(u':') > 1 && QHostAddress(text).isNull()) {
        return std::nullopt;
    }
    if (!isPlausibleHost(host))
        return std::nullopt;
    MailServerAddress address{host, defaultPort.value_or(kPop3Port), false};
    if (portText) {
        const auto port = parsePort(*portText);
        if (!port)
            return std::nullopt;
        address.port = *port;
    }
    address.implicitTls = !defaultPort && address.port == kPop3sPort;
    return address;
}

} // namespace

std::optional<MailServerAddress> parseMailServerAddress(const QString &field)
{
    const QString text = field.trimmed();
    const qsizetype schemeEnd = text.indexOf(u"://");
    if (schemeEnd < 0)
        return parseHostAndPort(text, std::nullopt);

    const QString scheme = text.left(schemeEnd).toLower();
    QString rest = text.mid(schemeEnd + 3);
    if (rest.endsWith(u'/'))
        rest.chop(1);
    if (scheme == u"pop3")
        return parseHostAndPort(rest, kPop3Port);
    if (scheme == u"pop3s") {
        auto address = parseHostAndPort(rest, kPop3sPort);
        if (address)
            address->implicitTls = true;
        return address;
    }
    return std::nullopt;
}

} // namespace kingyo
