#pragma once
#include "mail/auth/mail_secret.h"
#include "mail/auth/oauth_tokens.h"
#include "mail/mail_failure.h"
#include "settings/sign_in.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <chrono>
#include <functional>
#include <map>

class QNetworkAccessManager;

namespace kingyo {

struct TokenGrant;

struct AccessTokenTimings {
    std::chrono::milliseconds requestTimeout{std::chrono::seconds(30)}; // for the token endpoint's answer
    std::chrono::milliseconds ahead{std::chrono::minutes(5)};      // refreshed by itself this long before expiry
    std::chrono::milliseconds retryAfter{std::chrono::minutes(1)}; // ...no sooner than this after the last try
    std::chrono::milliseconds lookEvery{std::chrono::minutes(5)};  // the wall clock looked at again (suspend)
};

// The access token in memory, refreshed (refresh_token grant) before it expires: on
// demand when less than a minute is left, and ahead of expiry by itself, so that a
// connection kept open (the IDLE watcher) gets refreshed() before its token dies. The
// expiry is reckoned on the wall clock, which runs on through a suspend; the timer ahead
// of it looks at that clock again every few minutes.
class AccessTokenSource : public QObject {
    Q_OBJECT
public:
    AccessTokenSource(QNetworkAccessManager &network,
                      WallClock now = [] { return std::chrono::system_clock::now(); },
                      QObject *parent = nullptr);
    ~AccessTokenSource() override;

    void setTimings(const AccessTokenTimings &timings) { timings_ = timings; }

    // The account's sign-in and refresh token, with its access token when one is at hand
    // (just signed in). A refresh on the way for the one before is dropped; fetches
    // waiting are served with this one.
    void use(const SignIn &signIn, const QString &refreshToken, const OAuthTokens &current = {});
    // Signed out: nothing held, nothing refreshed; fetches waiting get SignInAgain.
    void forget();
    // A refresh token is held.
    bool signedIn() const;

    using Answer = std::function<void(const MailSecret &token, const MailFailure &failure)>;
    // A token valid a minute more at least (MailSecret::accessToken), refreshing first
    // when needed; concurrent fetches share one refresh. Answers once, later, never
    // within the call, and by the deadline at the latest. Failures: TooLong (the deadline
    // came first), SignInAgain (no refresh token held, or the provider refused it:
    // signInNeeded() said so first), TokenServiceUnavailable (the provider did not
    // answer in time, could not be reached, failed or answered something else: retry
    // later), UnsafeSignInAddress (the sign-in's token address is not one a refresh
    // token may go to: nothing was sent, the refresh token is kept). The provider's
    // words are the failure's serverText, never a token.
    void fetch(QDeadlineTimer deadline, Answer answer);

signals:
    void refreshed(const kingyo::MailSecret &token);        // a new access token (the IDLE watcher takes it)
    void refreshTokenChanged(const QString &refreshToken);  // the provider rotated it: store it (a refresh
                                                            // that brings none keeps the one held)
    void signInNeeded(const kingyo::MailFailure &failure);  // the provider refused the refresh token (dropped)

private:
    bool fresh() const;
    void refresh();
    void refreshAnswered(const TokenGrant &grant);
    void scheduleAhead();
    void aheadTimeout();
    void answerWaiting(const MailSecret &token, const MailFailure &failure);
    void answerLater(Answer answer, const MailSecret &token, const MailFailure &failure);
    void dropRefresh();

    QNetworkAccessManager &network_;
    WallClock now_;
    AccessTokenTimings timings_;
    SignIn signIn_;
    QString refreshToken_;
    OAuthTokens current_;
    QPointer<QObject> refreshing_; // holds the refresh request on its way
    std::map<quint64, Answer> waiting_;
    quint64 nextWaiter_ = 0;
    QTimer ahead_;
};

} // namespace kingyo
