#pragma once
#include "mail/mail_failure.h"

#include <QString>
#include <functional>
#include <utility>

namespace kingyo {

// What a login proves the user with: a password, or an OAuth2 access token sent as a
// bearer token (SASL OAUTHBEARER or XOAUTH2), the user then being the mail address. A
// plain string is a password, so code that holds one passes it as it is.
class MailSecret {
public:
    MailSecret() = default;
    MailSecret(QString password) : text_(std::move(password)) {} // NOLINT(google-explicit-constructor)
    static MailSecret accessToken(QString token)
    {
        MailSecret secret(std::move(token));
        secret.accessToken_ = true;
        return secret;
    }

    const QString &text() const { return text_; }
    bool isAccessToken() const { return accessToken_; }
    // Whether a login can write it and the user into its commands unchanged: neither
    // holds CR, LF or NUL, and a token passes isSafeForBearer().
    bool isSafeToSend(const QString &user) const;
    bool operator==(const MailSecret &) const = default;

private:
    QString text_;
    bool accessToken_ = false;
};

// Where a connection that lives on (the IDLE watch) gets the secret for each login: it
// answers once, later or within the call, with the secret or with why there is none
// (KeyringLocked, SignInAgain, TokenServiceUnavailable, ...). `refused`: the server
// refused the secret last given, so an access token must be renewed, not offered again.
using SecretAnswer = std::function<void(const MailSecret &secret, const MailFailure &failure)>;
using SecretSource = std::function<void(bool refused, SecretAnswer answer)>;

} // namespace kingyo
