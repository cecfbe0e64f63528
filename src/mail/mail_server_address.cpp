#include "mail/mail_server_address.h"

#include <QHostAddress>

namespace kingyo {

namespace {

using Protocol = MailServerAddress::Protocol;

struct Scheme {
    QStringView name;
    Protocol protocol;
    quint16 port;
    bool implicitTls;
};

// The first one is what a field without scheme or well-known port means.
constexpr Scheme kSchemes[] = {
    {u"pop3", Protocol::Pop3, 110, false},
    {u"pop3s", Protocol::Pop3, 995, true},
    {u"imap", Protocol::Imap, 143, false},
    {u"imaps", Protocol::Imap, 993, true},
};

const Scheme *schemeNamed(const QString &name)
{
    const QString lowered = name.toLower();
    for (const Scheme &scheme : kSchemes) {
        if (lowered == scheme.name)
            return &scheme;
    }
    return nullptr;
}

// A field without scheme: the scheme whose well-known port it names.
const Scheme &schemeForPort(std::optional<quint16> port)
{
    for (const Scheme &scheme : kSchemes) {
        if (scheme.port == port)
            return scheme;
    }
    return kSchemes[0];
}

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

struct HostAndPort {
    QString host;
    std::optional<quint16> port;
};

// "host", "host:port", "[v6]", "[v6]:port" or a bare IPv6 address.
std::optional<HostAndPort> parseHostAndPort(const QString &text)
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
    HostAndPort result{host, std::nullopt};
    if (portText) {
        result.port = parsePort(*portText);
        if (!result.port)
            return std::nullopt;
    }
    return result;
}

} // namespace

std::optional<MailServerAddress> parseMailServerAddress(const QString &field)
{
    QString rest = field.trimmed();
    const Scheme *scheme = nullptr;
    if (const qsizetype schemeEnd = rest.indexOf(u"://"); schemeEnd >= 0) {
        scheme = schemeNamed(rest.left(schemeEnd));
        if (!scheme)
            return std::nullopt;
        rest = rest.mid(schemeEnd + 3);
        if (rest.endsWith(u'/'))
            rest.chop(1);
    }
    const auto hostAndPort = parseHostAndPort(rest);
    if (!hostAndPort)
        return std::nullopt;
    if (!scheme)
        scheme = &schemeForPort(hostAndPort->port);
    return MailServerAddress{scheme->protocol, hostAndPort->host, hostAndPort->port.value_or(scheme->port),
                             scheme->implicitTls};
}

} // namespace kingyo
