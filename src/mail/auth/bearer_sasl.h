#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>
#include <string>
#include <string_view>

namespace kingyo {

// The SASL mechanisms that carry an OAuth2 access token, for IMAP AUTHENTICATE and
// POP3 AUTH alike.
enum class BearerMechanism {
    None,
    OAuthBearer, // RFC 7628
    XOAuth2,     // the older form the big providers began with
};

// The token mechanisms a server lists, noted name by name.
class BearerOffer {
public:
    // Notes one SASL mechanism the server lists (any case); others are ignored.
    void note(std::string_view mechanism);
    // OAUTHBEARER when listed: it is the standard one, its error exchange is defined
    // and the user's name is escaped in it. Else XOAUTH2; None when neither is listed.
    BearerMechanism preferred() const;

private:
    bool oauthBearer_ = false;
    bool xoauth2_ = false;
};

// "OAUTHBEARER" or "XOAUTH2"; empty for None.
QByteArray bearerMechanismName(BearerMechanism mechanism);

// Whether a login with this user and token can be written without changing either:
// the token is RFC 6750's b64token and the user holds no control character (either
// would end a field of the message early, or end the command's line).
bool isSafeForBearer(const QString &user, const QString &token);

// The client's first message, before base64: for OAUTHBEARER the GS2 header naming the
// user (',' and '=' escaped) and the token; for XOAUTH2 "user=" and the token. Empty
// for None. Only for a user and token isSafeForBearer() accepts.
QByteArray bearerInitialResponse(BearerMechanism mechanism, const QString &user, const QString &token);

// What ends the exchange once the server sent its error as a challenge, before base64:
// a single 0x01 for OAUTHBEARER (RFC 7628 3.2.3), nothing for XOAUTH2. The server then
// refuses the login with its usual answer.
QByteArray bearerErrorReply(BearerMechanism mechanism);

// The server's error challenge (base64 of a JSON object: status, scope, ...) decoded,
// as the server's own words; the challenge as it came when it is not base64.
std::string bearerErrorText(std::string_view challenge);

// The server's words for a refused token: the error of its challenge when it sent one
// (bearerErrorText()), else the closing words of its refusal.
std::string_view bearerRefusalText(const std::optional<std::string> &challengeError, std::string_view closingWords);

// The token in base64 as either mechanism's first message carries it, to be hidden
// wherever the server's words are kept.
QStringList bearerSentForms(const QString &user, const QString &token);

} // namespace kingyo
