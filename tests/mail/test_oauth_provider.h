#pragma once
#include <QString>
#include <QUrl>

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
    // The client's codes from now on start with prefix.
    void setCodePrefix(const QString &client, const QString &prefix);
    struct Fault {
        const char *endpoint; // authorize, token or introspect
        const char *answer;   // slow, broken, error, html, no_refresh_token, wrong_state or other_challenge
        const char *error = ""; // the OAuth2 error code of an error
        double seconds = 5;   // slow
        int times = 1;
    };
    // The next answers of that endpoint for the client go wrong so.
    void fault(const QString &client, const Fault &fault);
    // The provider's address of path ("/token").
    QUrl url(const QString &path) const;

    // What the browser does: follows the authorization address to the program's loopback
    // handler, where the provider redirects it. Waits for the handler's page (into
    // `page` when given): false when none came.
    static bool browse(const QUrl &authorization, QString *page = nullptr);

private:
    quint16 port_;
};

} // namespace kingyo::test
