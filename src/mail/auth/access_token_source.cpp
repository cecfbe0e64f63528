#include "mail/auth/access_token_source.h"

#include "mail/auth/token_endpoint.h"

#include <algorithm>

namespace kingyo {
namespace {

using namespace std::chrono_literals;

constexpr auto kFreshFor = 1min; // a token handed out lasts through a check at least

} // namespace

AccessTokenSource::AccessTokenSource(QNetworkAccessManager &network, WallClock now, QObject *parent)
    : QObject(parent), network_(network), now_(std::move(now))
{
    ahead_.setSingleShot(true);
    connect(&ahead_, &QTimer::timeout, this, &AccessTokenSource::aheadTimeout);
}

AccessTokenSource::~AccessTokenSource() = default;

void AccessTokenSource::use(const SignIn &signIn, const QString &refreshToken, const OAuthTokens &current)
{
    dropRefresh();
    signIn_ = signIn;
    refreshToken_ = refreshToken;
    current_ = current;
    scheduleAhead();
    if (waiting_.empty())
        return;
    if (!fresh())
        return refresh();
    QMetaObject::invokeMethod(
        this, [this, token = MailSecret::accessToken(current_.access)] { answerWaiting(token, {}); },
        Qt::QueuedConnection);
}

void AccessTokenSource::forget()
{
    dropRefresh();
    signIn_ = {};
    refreshToken_.clear();
    current_ = {};
    ahead_.stop();
    for (auto &[id, answer] : std::exchange(waiting_, {}))
        answerLater(std::move(answer), {}, {MailProblem::SignInAgain, {}, {}});
}

bool AccessTokenSource::signedIn() const
{
    return !refreshToken_.isEmpty();
}

void AccessTokenSource::fetch(QDeadlineTimer deadline, Answer answer)
{
    if (fresh())
        return answerLater(std::move(answer), MailSecret::accessToken(current_.access), {});
    if (!signedIn())
        return answerLater(std::move(answer), {}, {MailProblem::SignInAgain, {}, {}});
    const quint64 id = nextWaiter_++;
    waiting_.emplace(id, std::move(answer));
    if (!deadline.isForever()) {
        const auto left = std::max(deadline.remainingTimeAsDuration(), std::chrono::nanoseconds::zero());
        QTimer::singleShot(std::chrono::ceil<std::chrono::milliseconds>(left), Qt::PreciseTimer, this, [this, id] {
            const auto found = waiting_.find(id);
            if (found == waiting_.end())
                return;
            const Answer late = std::move(found->second);
            waiting_.erase(found);
            late({}, {MailProblem::TooLong, {}, {}});
        });
    }
    refresh();
}

bool AccessTokenSource::fresh() const
{
    return !current_.access.isEmpty() && now_() + kFreshFor < current_.expiresAt;
}

void AccessTokenSource::refresh()
{
    if (refreshing_)
        return; // shared with the one on its way
    refreshing_ = new QObject(this);
    TokenForm form{{QStringLiteral("grant_type"), QStringLiteral("refresh_token")},
                   {QStringLiteral("refresh_token"), refreshToken_},
                   {QStringLiteral("client_id"), signIn_.clientId}};
    if (!signIn_.clientSecret.isEmpty())
        form.append({QStringLiteral("client_secret"), signIn_.clientSecret});
    requestToken(network_, signIn_.tokenUrl, form, {refreshToken_, signIn_.clientSecret}, timings_.requestTimeout, now_,
                 refreshing_, [this](const TokenGrant &grant) { refreshAnswered(grant); });
}

void AccessTokenSource::refreshAnswered(const TokenGrant &grant)
{
    std::exchange(refreshing_, nullptr)->deleteLater(); // inside its request's answer
    const QPointer<AccessTokenSource> self(this); // a slot may delete this
    if (grant.outcome == TokenGrant::Outcome::Refused) {
        const MailFailure failure{MailProblem::SignInAgain, {}, grant.serverText};
        refreshToken_.clear();
        current_ = {};
        ahead_.stop();
        emit signInNeeded(failure);
        if (self)
            answerWaiting({}, failure);
        return;
    }
    if (grant.outcome == TokenGrant::Outcome::UnsafeAddress) // the refresh token stays: the address is what is wrong
        return answerWaiting({}, unsafeAddressFailure(signIn_.tokenUrl));
    if (grant.outcome == TokenGrant::Outcome::Unavailable) {
        scheduleAhead();
        return answerWaiting({}, {MailProblem::TokenServiceUnavailable, {}, grant.serverText});
    }
    const bool rotated = !grant.tokens.refresh.isEmpty() && grant.tokens.refresh != refreshToken_;
    if (rotated)
        refreshToken_ = grant.tokens.refresh;
    current_ = grant.tokens;
    current_.refresh = refreshToken_;
    scheduleAhead();
    const MailSecret token = MailSecret::accessToken(current_.access);
    if (rotated)
        emit refreshTokenChanged(refreshToken_);
    if (self)
        emit refreshed(token);
    if (self)
        answerWaiting(token, {});
}

void AccessTokenSource::scheduleAhead()
{
    if (!signedIn() || current_.access.isEmpty())
        return ahead_.stop(); // nothing to keep alive until a fetch asks
    const auto untilDue = std::chrono::ceil<std::chrono::milliseconds>(current_.expiresAt - timings_.ahead - now_());
    ahead_.start(std::clamp(untilDue, timings_.retryAfter, std::max(timings_.retryAfter, timings_.lookEvery)));
}

void AccessTokenSource::aheadTimeout()
{
    if (now_() >= current_.expiresAt - timings_.ahead)
        return refresh();
    scheduleAhead();
}

// Each waiting fetch once; a fetch made from one of the answers waits for the next refresh.
void AccessTokenSource::answerWaiting(const MailSecret &token, const MailFailure &failure)
{
    const QPointer<AccessTokenSource> self(this);
    for (auto &[id, answer] : std::exchange(waiting_, {})) {
        answer(token, failure);
        if (!self)
            return;
    }
}

void AccessTokenSource::answerLater(Answer answer, const MailSecret &token, const MailFailure &failure)
{
    QMetaObject::invokeMethod(
        this, [answer = std::move(answer), token, failure] { answer(token, failure); }, Qt::QueuedConnection);
}

void AccessTokenSource::dropRefresh()
{
    delete refreshing_.data(); // its request aborted, unanswered
}

} // namespace kingyo
