#include "mail/auth/token_endpoint.h"

#include "mail/mail_failure.h"
#include "settings/sign_in.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>
#include <algorithm>
#include <memory>

namespace kingyo {
namespace {

constexpr qint64 kMaxAnswerBytes = 256 * 1024; // token answers are a few hundred bytes
constexpr std::chrono::seconds kLifetimeWhenUntold{3600};
// Providers give an hour or so; a longer claim is not believed past a day, and a huge one
// would run the clock past its end.
constexpr std::chrono::seconds kLongestLifetime{24 * 3600};

QByteArray formBody(const TokenForm &form)
{
    QByteArray body;
    for (const auto &[name, value] : form) {
        if (!body.isEmpty())
            body += '&';
        body += QUrl::toPercentEncoding(name) + '=' + QUrl::toPercentEncoding(value);
    }
    return body;
}

// expires_in as a number, or a string of one as some providers send it.
std::chrono::seconds lifetimeOf(const QJsonValue &value)
{
    bool ok = value.isDouble();
    double seconds = value.toDouble(-1);
    if (value.isString())
        seconds = value.toString().toDouble(&ok);
    if (!ok || !(seconds >= 0)) // NaN too
        return kLifetimeWhenUntold;
    return std::chrono::seconds(qint64(std::min(seconds, double(kLongestLifetime.count()))));
}

TokenGrant granted(const QByteArray &body, const WallClock &now)
{
    const QJsonObject answer = QJsonDocument::fromJson(body).object();
    TokenGrant grant;
    grant.tokens.access = answer.value(QLatin1String("access_token")).toString();
    if (grant.tokens.access.isEmpty())
        return grant; // Unavailable, saying nothing: the broken answer may hold a token
    grant.outcome = TokenGrant::Outcome::Granted;
    grant.tokens.refresh = answer.value(QLatin1String("refresh_token")).toString();
    grant.tokens.expiresAt = now() + lifetimeOf(answer.value(QLatin1String("expires_in")));
    return grant;
}

// The answer's words as the user may read them: an HTML page (a proxy's, say) is no
// sentence, so it is told by its status line.
QString errorText(const QNetworkReply &reply, int status, const QByteArray &body, const QStringList &secrets)
{
    const bool html = reply.header(QNetworkRequest::ContentTypeHeader).toString().contains(QLatin1String("html"))
        || body.trimmed().startsWith('<');
    if (!html && !body.trimmed().isEmpty())
        return cleanServerText(body.toStdString(), secrets);
    const QString reason = reply.attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
    return cleanServerText(QStringLiteral("HTTP %1 %2").arg(status).arg(reason).toStdString(), secrets);
}

TokenGrant refused(const QNetworkReply &reply, int status, const QByteArray &body, const QStringList &secrets)
{
    TokenGrant grant;
    grant.serverText = errorText(reply, status, body, secrets);
    const QString error = QJsonDocument::fromJson(body).object().value(QLatin1String("error")).toString();
    const bool passing = error == QLatin1String("temporarily_unavailable") || error == QLatin1String("server_error");
    if (status >= 400 && status < 500 && !error.isEmpty() && !passing)
        grant.outcome = TokenGrant::Outcome::Refused;
    return grant;
}

} // namespace

MailFailure unsafeAddressFailure(const QUrl &address)
{
    const QString shown = address.toDisplayString(QUrl::RemoveUserInfo | QUrl::RemoveQuery | QUrl::RemoveFragment);
    return {MailProblem::UnsafeSignInAddress, {cleanServerText(shown.toStdString(), {})}, {}};
}

void requestToken(QNetworkAccessManager &network, const QUrl &endpoint, const TokenForm &form,
                  const QStringList &secrets, std::chrono::milliseconds timeout, const WallClock &now,
                  QObject *context, std::function<void(const TokenGrant &)> answer)
{
    if (!isAcceptableEndpoint(endpoint)) {
        TokenGrant unsafe;
        unsafe.outcome = TokenGrant::Outcome::UnsafeAddress;
        QMetaObject::invokeMethod(context, [unsafe, answer = std::move(answer)] { answer(unsafe); }, Qt::QueuedConnection);
        return;
    }
    QNetworkRequest request(endpoint);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/x-www-form-urlencoded"));
    request.setRawHeader("Accept", "application/json");
    // A code or refresh token goes to the address given, nowhere else.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    QNetworkReply *reply = network.post(request, formBody(form));
    reply->setParent(context); // goes, aborted, with the context
    auto *deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    QObject::connect(deadline, &QTimer::timeout, reply, &QNetworkReply::abort);
    deadline->start(timeout);
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received) {
        if (received > kMaxAnswerBytes)
            reply->abort();
    });
    QObject::connect(reply, &QNetworkReply::finished, context, [=, answer = std::move(answer)] {
        reply->deleteLater();
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (reply->error() == QNetworkReply::OperationCanceledError || status == 0)
            return answer({});
        const QByteArray body = reply->read(kMaxAnswerBytes);
        answer(status >= 200 && status < 300 ? granted(body, now) : refused(*reply, status, body, secrets));
    });
}

} // namespace kingyo
