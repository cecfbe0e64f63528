#pragma once
#include <QString>
#include <QUrl>

namespace kingyo {

// How an account signs in through the browser (OAuth2 authorization code flow with
// PKCE): the provider's two addresses, the scope asked for and the client the user
// registered with the provider. The refresh token is kept apart from it, as a secret.
struct SignIn {
    enum class Provider { Google, Microsoft, Other };
    Provider provider = Provider::Other;
    QUrl authorizationUrl;
    QUrl tokenUrl;
    QString scope;        // space-separated
    QString clientId;
    QString clientSecret; // empty where the provider needs none

    bool operator==(const SignIn &) const = default;
};

// A known provider's addresses and scope, with the client ID and secret a packager
// built in (else empty). Other: nothing but the provider.
SignIn knownSignIn(SignIn::Provider provider);

// The mail server a known provider's accounts are read from ("imaps://…"); empty for
// Other.
QString providerMailServer(SignIn::Provider provider);

// An address a sign-in may talk to: https, or http to a loopback host written plainly
// (as QUrl reads it: 127.x.x.x, ::1 or localhost; not an IPv4-mapped or dotted-off form),
// a local test server or bridge. Nothing else, so that no code or token crosses a
// network in clear. The one rule for every address a sign-in opens or posts to, whoever
// wrote it.
bool isAcceptableEndpoint(const QUrl &url);

// Both addresses acceptable and a client ID given.
bool isUsable(const SignIn &signIn);

} // namespace kingyo
