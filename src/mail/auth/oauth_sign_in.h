#pragma once
#include "mail/auth/oauth_tokens.h"
#include "mail/mail_failure.h"
#include "settings/sign_in.h"

#include <QByteArray>
#include <QObject>
#include <QOAuth2AuthorizationCodeFlow>
#include <QString>
#include <QTimer>
#include <QVariantMap>
#include <chrono>

class QNetworkAccessManager;
class QOAuthHttpServerReplyHandler;

namespace kingyo {

// Qt's flow with the authorization address at hand: the token exchange is ours (see
// OAuthSignIn::trade()).
class AuthorizationFlow : public QOAuth2AuthorizationCodeFlow {
public:
    using QOAuth2AuthorizationCodeFlow::QOAuth2AuthorizationCodeFlow;
    using QOAuth2AuthorizationCodeFlow::buildAuthenticateUrl;
};

struct SignInTimings {
    std::chrono::milliseconds redirectWait{std::chrono::minutes(10)}; // for the browser to come back
    std::chrono::milliseconds tokenTimeout{std::chrono::seconds(30)}; // for the token endpoint's answer
};

// One browser sign-in: the OAuth2 authorization code flow with PKCE (S256) and a
// redirect to a handler of ours on 127.0.0.1. The browser brings the provider's answer
// there; the code is traded for tokens at the token endpoint. Delete it to cancel.
//
// A redirect whose state is not this sign-in's (a stray or forged request to the port)
// is ignored, so that it cannot end the user's real sign-in, and its code is never
// traded (the browser's page says the sign-in was not accepted); a redirect after the
// first is ignored too. A browser that never comes back ends the wait after
// SignInTimings::redirectWait. Neither codes nor tokens reach any log: Qt's own sign-in
// logging is silenced.
class OAuthSignIn : public QObject {
    Q_OBJECT
public:
    OAuthSignIn(const SignIn &signIn, const QString &mailAddress, QNetworkAccessManager &network,
                QObject *parent = nullptr);
    ~OAuthSignIn() override;

    // Before start().
    void setTimings(const SignInTimings &timings) { timings_ = timings; }
    // The clock the tokens' expiry is reckoned on (the system's wall clock).
    void setWallClock(WallClock now) { now_ = std::move(now); }

    // Listens on a loopback port; openBrowser() or failed() follow, from the event loop.
    // A sign-in that isUsable() refuses (an address neither https nor loopback, no client
    // ID) fails without contacting anything. Once only.
    void start();

signals:
    void openBrowser(const QUrl &authorization);
    void signedIn(const kingyo::OAuthTokens &tokens); // once, or failed() once; nothing after
    // SignInFailed, the provider's JSON/text as serverText; UnsafeSignInAddress (nothing
    // sent); SignInUnanswered (the wait ran out).
    void failed(const kingyo::MailFailure &failure);

private:
    void redirected(const QVariantMap &answer);
    void trade(const QString &code);
    void fail(const MailFailure &failure);
    void end();

    SignIn signIn_;
    QString mailAddress_;
    QNetworkAccessManager &network_;
    AuthorizationFlow flow_;
    QOAuthHttpServerReplyHandler *handler_ = nullptr;
    QByteArray verifier_;
    SignInTimings timings_;
    QTimer redirectWait_;
    WallClock now_ = [] { return std::chrono::system_clock::now(); };
    enum class Stage { New, AwaitingRedirect, Trading, Ended } stage_ = Stage::New;
};

} // namespace kingyo
