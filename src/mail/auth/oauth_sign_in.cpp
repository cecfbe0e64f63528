#include "mail/auth/oauth_sign_in.h"

#include "mail/auth/token_endpoint.h"

#include <QCryptographicHash>
#include <QHostAddress>
#include <QLoggingCategory>
#include <QOAuthHttpServerReplyHandler>
#include <QRandomGenerator>
#include <QUrl>
#include <mutex>

namespace kingyo {
namespace {

QLoggingCategory::CategoryFilter previousFilter = nullptr;

// Qt's sign-in classes log whole addresses and answers (codes, a token in an answer it
// cannot read) at debug and warning level: their categories stay off.
void silenceNetworkAuth(QLoggingCategory *category)
{
    if (previousFilter)
        previousFilter(category);
    if (qstrncmp(category->categoryName(), "qt.networkauth", 14) != 0)
        return;
    for (QtMsgType type : {QtDebugMsg, QtInfoMsg, QtWarningMsg, QtCriticalMsg})
        category->setEnabled(type, false);
}

void silenceNetworkAuthOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { previousFilter = QLoggingCategory::installFilter(silenceNetworkAuth); });
}

// Base64url of random bytes: unreserved characters only.
QByteArray randomText(int bytes)
{
    QByteArray random(bytes, '\0');
    QRandomGenerator::system()->generate(random.begin(), random.end());
    return random.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

// RFC 7636 4.2: BASE64URL(SHA256(verifier)).
QByteArray challengeOf(const QByteArray &verifier)
{
    return QCryptographicHash::hash(verifier, QCryptographicHash::Sha256)
        .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

// The handler hands the redirect's values over partly decoded (delimiters such as
// "%2F", "%2B" and "%25" stay encoded, '+' stays): form-decoded, they are as the
// provider sent them.
QString redirectValue(const QVariantMap &answer, const char *name)
{
    return QUrl::fromPercentEncoding(answer.value(QLatin1String(name)).toString().toUtf8().replace('+', ' '));
}

const QString kPageAccepted = QStringLiteral("kingyo: このページを閉じて、kingyo に戻ってください。");
const QString kPageNotAccepted =
    QStringLiteral("kingyo: このサインインは受け付けませんでした（kingyo が今待っているサインインのものではありません）。"
                   "kingyo のサインインの画面を確かめてください。");

MailFailure signInFailure(const QString &serverText) { return {MailProblem::SignInFailed, {}, serverText}; }

} // namespace

OAuthSignIn::OAuthSignIn(const SignIn &signIn, const QString &mailAddress, QNetworkAccessManager &network,
                         QObject *parent)
    : QObject(parent), signIn_(signIn), mailAddress_(mailAddress), network_(network), flow_(&network)
{
    silenceNetworkAuthOnce();
    redirectWait_.setSingleShot(true);
    connect(&redirectWait_, &QTimer::timeout, this, [this] {
        const auto minutes = std::chrono::ceil<std::chrono::minutes>(timings_.redirectWait).count();
        fail({MailProblem::SignInUnanswered, {QString::number(minutes)}, {}});
    });
}

OAuthSignIn::~OAuthSignIn() = default;

void OAuthSignIn::start()
{
    if (stage_ != Stage::New)
        return;
    stage_ = Stage::AwaitingRedirect;
    for (const QUrl &address : {signIn_.authorizationUrl, signIn_.tokenUrl}) {
        if (!isAcceptableEndpoint(address))
            return fail(unsafeAddressFailure(address));
    }
    if (!isUsable(signIn_))
        return fail(signInFailure({}));
    handler_ = new QOAuthHttpServerReplyHandler(QHostAddress(QHostAddress::LocalHost), 0, &flow_);
    if (!handler_->isListening())
        return fail(signInFailure({}));
    connect(handler_, &QAbstractOAuthReplyHandler::callbackReceived, this, &OAuthSignIn::redirected);

    verifier_ = randomText(32); // 43 characters, as RFC 7636 asks at least
    flow_.setReplyHandler(handler_);
    flow_.setAuthorizationUrl(signIn_.authorizationUrl);
    flow_.setAccessTokenUrl(signIn_.tokenUrl);
    flow_.setClientIdentifier(signIn_.clientId);
    flow_.setScope(signIn_.scope);
    flow_.setState(QString::fromLatin1(randomText(16)));
    flow_.setModifyParametersFunction([this](QAbstractOAuth::Stage stage, QMultiMap<QString, QVariant> *parameters) {
        if (stage != QAbstractOAuth::Stage::RequestingAuthorization)
            return;
        parameters->insert(QStringLiteral("code_challenge"), QString::fromLatin1(challengeOf(verifier_)));
        parameters->insert(QStringLiteral("code_challenge_method"), QStringLiteral("S256"));
        if (!mailAddress_.isEmpty())
            parameters->insert(QStringLiteral("login_hint"), mailAddress_);
        // Qt puts the values into the query as they are, where a '+' would read as a blank.
        for (QVariant &value : *parameters)
            value = QString::fromLatin1(QUrl::toPercentEncoding(value.toString()));
    });
    const QUrl authorization = flow_.buildAuthenticateUrl();
    redirectWait_.start(timings_.redirectWait);
    QMetaObject::invokeMethod(
        this, [this, authorization] { emit openBrowser(authorization); }, Qt::QueuedConnection);
}

// The handler sends its page once this returns, with the text set here.
void OAuthSignIn::redirected(const QVariantMap &answer)
{
    const bool ours = redirectValue(answer, "state") == flow_.state();
    handler_->setCallbackText(ours ? kPageAccepted : kPageNotAccepted);
    if (stage_ != Stage::AwaitingRedirect || !ours)
        return;
    const QString error = redirectValue(answer, "error");
    if (!error.isEmpty()) {
        const QString description = redirectValue(answer, "error_description");
        return fail(signInFailure(
            cleanServerText((description.isEmpty() ? error : error + QStringLiteral(": ") + description).toStdString(), {})));
    }
    const QString code = redirectValue(answer, "code");
    if (code.isEmpty())
        return fail(signInFailure({}));
    trade(code);
}

// Qt 6.4's own exchange cannot be given a deadline, leaves a failed answer unanswered,
// logs an answer it cannot read (which may hold a token) and encodes the code anew: the
// code goes out here, as received, with the PKCE verifier.
void OAuthSignIn::trade(const QString &code)
{
    stage_ = Stage::Trading;
    redirectWait_.stop();
    TokenForm form{{QStringLiteral("grant_type"), QStringLiteral("authorization_code")},
                   {QStringLiteral("code"), code},
                   {QStringLiteral("redirect_uri"), handler_->callback()},
                   {QStringLiteral("client_id"), signIn_.clientId},
                   {QStringLiteral("code_verifier"), QString::fromLatin1(verifier_)}};
    if (!signIn_.clientSecret.isEmpty())
        form.append({QStringLiteral("client_secret"), signIn_.clientSecret});
    const QStringList secrets{code, QString::fromLatin1(verifier_), signIn_.clientSecret};
    requestToken(network_, signIn_.tokenUrl, form, secrets, timings_.tokenTimeout, now_, this, [this](const TokenGrant &grant) {
        if (grant.outcome == TokenGrant::Outcome::UnsafeAddress)
            return fail(unsafeAddressFailure(signIn_.tokenUrl));
        if (grant.outcome != TokenGrant::Outcome::Granted)
            return fail(signInFailure(grant.serverText));
        end();
        QMetaObject::invokeMethod(
            this, [this, tokens = grant.tokens] { emit signedIn(tokens); }, Qt::QueuedConnection);
    });
}

void OAuthSignIn::fail(const MailFailure &failure)
{
    end();
    QMetaObject::invokeMethod(
        this, [this, failure] { emit failed(failure); }, Qt::QueuedConnection);
}

// No further redirect is listened to. Signals go out from the event loop, so that a
// slot may delete this even when the end came from inside the handler.
void OAuthSignIn::end()
{
    stage_ = Stage::Ended;
    redirectWait_.stop();
    if (handler_)
        QMetaObject::invokeMethod(handler_, &QOAuthHttpServerReplyHandler::close, Qt::QueuedConnection);
}

} // namespace kingyo
