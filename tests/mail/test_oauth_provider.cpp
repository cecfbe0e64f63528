#include "test_oauth_provider.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QUrlQuery>
#include <gtest/gtest.h>
#include <memory>

namespace kingyo::test {
namespace {

constexpr auto kRedirect = "http://127.0.0.1:9/kingyo"; // never visited: the code is read off the redirect

// Waits for the reply, which the caller then owns.
std::unique_ptr<QNetworkReply> finished(QNetworkReply *reply)
{
    std::unique_ptr<QNetworkReply> owned(reply);
    QSignalSpy done(reply, &QNetworkReply::finished);
    if (!reply->isFinished()) {
        EXPECT_TRUE(done.wait(10000)) << reply->url().toString().toStdString();
    }
    return owned;
}

std::unique_ptr<QNetworkReply> post(QNetworkAccessManager &network, const QUrl &url, const QUrlQuery &form)
{
    QNetworkRequest request{url};
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/x-www-form-urlencoded"));
    return finished(network.post(request, form.toString(QUrl::FullyEncoded).toUtf8()));
}

QByteArray base64Url(const QByteArray &bytes)
{
    return bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

} // namespace

QUrl TestOAuthProvider::url(const QString &path) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(path));
}

TestOAuthProvider::Tokens TestOAuthProvider::signIn(const QString &user, const QString &client)
{
    QNetworkAccessManager network;
    QByteArray random(48, '\0');
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(random.data()), random.size() / 4);
    const QByteArray verifier = base64Url(random);
    QUrlQuery ask;
    ask.addQueryItem(QStringLiteral("response_type"), QStringLiteral("code"));
    ask.addQueryItem(QStringLiteral("client_id"), client);
    ask.addQueryItem(QStringLiteral("redirect_uri"), QString::fromLatin1(kRedirect));
    ask.addQueryItem(QStringLiteral("state"), QStringLiteral("s1"));
    ask.addQueryItem(QStringLiteral("login_hint"), user);
    ask.addQueryItem(QStringLiteral("code_challenge_method"), QStringLiteral("S256"));
    ask.addQueryItem(QStringLiteral("code_challenge"),
                     QString::fromLatin1(base64Url(QCryptographicHash::hash(verifier, QCryptographicHash::Sha256))));
    QUrl authorize = url(QStringLiteral("/authorize"));
    authorize.setQuery(ask);
    QNetworkRequest request(authorize);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    const auto approved = finished(network.get(request));
    const QUrlQuery redirect(approved->header(QNetworkRequest::LocationHeader).toUrl());
    const QString code = redirect.queryItemValue(QStringLiteral("code"));
    EXPECT_FALSE(code.isEmpty()) << "no code in the redirect";

    QUrlQuery trade;
    trade.addQueryItem(QStringLiteral("grant_type"), QStringLiteral("authorization_code"));
    trade.addQueryItem(QStringLiteral("code"), code);
    trade.addQueryItem(QStringLiteral("redirect_uri"), QString::fromLatin1(kRedirect));
    trade.addQueryItem(QStringLiteral("client_id"), client);
    trade.addQueryItem(QStringLiteral("code_verifier"), QString::fromLatin1(verifier));
    const auto answer = post(network, url(QStringLiteral("/token")), trade);
    const QJsonObject tokens = QJsonDocument::fromJson(answer->readAll()).object();
    EXPECT_TRUE(tokens.contains(QStringLiteral("access_token"))) << "the provider gave no token";
    return {tokens.value(QStringLiteral("access_token")).toString(), tokens.value(QStringLiteral("refresh_token")).toString()};
}

void TestOAuthProvider::revoke(const QString &token)
{
    QNetworkAccessManager network;
    QUrlQuery form;
    form.addQueryItem(QStringLiteral("token"), token);
    EXPECT_EQ(post(network, url(QStringLiteral("/revoke")), form)->error(), QNetworkReply::NoError);
}

void TestOAuthProvider::configureClient(const QString &client, int lifetimeSeconds, int tokenLength)
{
    QNetworkAccessManager network;
    QUrlQuery form;
    form.addQueryItem(QStringLiteral("client_id"), client);
    form.addQueryItem(QStringLiteral("access_token_lifetime"), QString::number(lifetimeSeconds));
    form.addQueryItem(QStringLiteral("token_length"), QString::number(tokenLength));
    EXPECT_EQ(post(network, url(QStringLiteral("/test/client")), form)->error(), QNetworkReply::NoError);
}

void TestOAuthProvider::setCodePrefix(const QString &client, const QString &prefix)
{
    QNetworkAccessManager network;
    QUrlQuery form;
    form.addQueryItem(QStringLiteral("client_id"), client);
    form.addQueryItem(QStringLiteral("code_prefix"), QString::fromLatin1(QUrl::toPercentEncoding(prefix)));
    EXPECT_EQ(post(network, url(QStringLiteral("/test/client")), form)->error(), QNetworkReply::NoError);
}

void TestOAuthProvider::fault(const QString &client, const Fault &fault)
{
    QNetworkAccessManager network;
    QUrlQuery form;
    form.addQueryItem(QStringLiteral("client_id"), client);
    form.addQueryItem(QStringLiteral("endpoint"), QString::fromLatin1(fault.endpoint));
    form.addQueryItem(QStringLiteral("answer"), QString::fromLatin1(fault.answer));
    form.addQueryItem(QStringLiteral("error"), QString::fromLatin1(fault.error));
    form.addQueryItem(QStringLiteral("seconds"), QString::number(fault.seconds));
    form.addQueryItem(QStringLiteral("times"), QString::number(fault.times));
    EXPECT_EQ(post(network, url(QStringLiteral("/test/fault")), form)->error(), QNetworkReply::NoError);
}

bool TestOAuthProvider::browse(const QUrl &authorization, QString *page)
{
    QNetworkAccessManager browser;
    QNetworkRequest request(authorization);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    const auto reply = finished(browser.get(request));
    if (page)
        *page = QString::fromUtf8(reply->readAll());
    return reply->error() == QNetworkReply::NoError;
}

} // namespace kingyo::test
