#pragma once
#include <QString>

namespace kingyo::test {

// The test OAuth2 provider that scripts/test-pop3-server starts beside its Dovecot.
// Tokens are got as a program gets them: an authorization code asked with a PKCE
// challenge, traded with its verifier at the token endpoint.
class TestOAuthProvider {
public:
    explicit TestOAuthProvider(quint16 port) : port_(port) {}

    struct Tokens {
        QString access;
        QString refresh;
    };
    // Signs the user (a mail address) in for client, approved at once. Empty tokens, and
    // a test failure, when the provider refuses.
    Tokens signIn(const QString &user, const QString &client = QStringLiteral("kingyo-test"));
    void revoke(const QString &token);
    // The client's access tokens from now on: living that long (0: born expired), of that
    // many characters (0: the provider's own length).
    void configureClient(const QString &client, int lifetimeSeconds, int tokenLength = 0);

private:
    QString url(const QString &path) const;

    quint16 port_;
};

} // namespace kingyo::test
