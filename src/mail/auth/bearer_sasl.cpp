#include "mail/auth/bearer_sasl.h"

#include <algorithm>

namespace kingyo {
namespace {

constexpr char kFieldEnd = '\x01'; // RFC 7628's kvsep, which XOAUTH2 shares

bool sameName(std::string_view name, std::string_view upper)
{
    return std::equal(name.begin(), name.end(), upper.begin(), upper.end(),
                      [](char a, char b) { return std::toupper(static_cast<unsigned char>(a)) == b; });
}

// RFC 6750: 1*( ALPHA / DIGIT / "-" / "." / "_" / "~" / "+" / "/" ) *"="
bool isB64Token(const QString &token)
{
    qsizetype end = token.size();
    while (end > 0 && token[end - 1] == u'=')
        --end;
    return end > 0 && std::all_of(token.begin(), token.begin() + end, [](QChar c) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
               QStringView(u"-._~+/").contains(c);
    });
}

bool hasControlCharacter(const QString &text)
{
    return std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7F; });
}

// RFC 5801's saslname: ',' and '=' would end or garble the GS2 header.
QByteArray saslName(const QString &user)
{
    return user.toUtf8().replace('=', "=3D").replace(',', "=2C");
}

} // namespace

void BearerOffer::note(std::string_view mechanism)
{
    oauthBearer_ |= sameName(mechanism, "OAUTHBEARER");
    xoauth2_ |= sameName(mechanism, "XOAUTH2");
}

BearerMechanism BearerOffer::preferred() const
{
    if (oauthBearer_)
        return BearerMechanism::OAuthBearer;
    return xoauth2_ ? BearerMechanism::XOAuth2 : BearerMechanism::None;
}

QByteArray bearerMechanismName(BearerMechanism mechanism)
{
    switch (mechanism) {
    case BearerMechanism::OAuthBearer: return "OAUTHBEARER";
    case BearerMechanism::XOAuth2: return "XOAUTH2";
    case BearerMechanism::None: break;
    }
    return {};
}

bool isSafeForBearer(const QString &user, const QString &token)
{
    return isB64Token(token) && !hasControlCharacter(user);
}

QByteArray bearerInitialResponse(BearerMechanism mechanism, const QString &user, const QString &token)
{
    const QByteArray bearer = "auth=Bearer " + token.toLatin1() + kFieldEnd + kFieldEnd;
    switch (mechanism) {
    case BearerMechanism::OAuthBearer:
        return (user.isEmpty() ? QByteArray("n,,") : "n,a=" + saslName(user) + ',') + kFieldEnd + bearer;
    case BearerMechanism::XOAuth2:
        return "user=" + user.toUtf8() + kFieldEnd + bearer;
    case BearerMechanism::None:
        break;
    }
    return {};
}

QByteArray bearerErrorReply(BearerMechanism mechanism)
{
    return mechanism == BearerMechanism::OAuthBearer ? QByteArray(1, kFieldEnd) : QByteArray();
}

std::string_view bearerRefusalText(const std::optional<std::string> &challengeError, std::string_view closingWords)
{
    return challengeError && !challengeError->empty() ? std::string_view(*challengeError) : closingWords;
}

QStringList bearerSentForms(const QString &user, const QString &token)
{
    QStringList forms;
    for (const BearerMechanism mechanism : {BearerMechanism::OAuthBearer, BearerMechanism::XOAuth2})
        forms << QString::fromLatin1(bearerInitialResponse(mechanism, user, token).toBase64());
    return forms;
}

std::string bearerErrorText(std::string_view challenge)
{
    const auto decoded = QByteArray::fromBase64Encoding(
        QByteArray(challenge.data(), qsizetype(challenge.size())), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::string(challenge);
    return decoded.decoded.toStdString();
}

} // namespace kingyo
