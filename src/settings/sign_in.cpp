#include "settings/sign_in.h"

#include <QRegularExpression>

#ifndef KINGYO_GOOGLE_CLIENT_ID
#define KINGYO_GOOGLE_CLIENT_ID ""
#endif
#ifndef KINGYO_GOOGLE_CLIENT_SECRET
#define KINGYO_GOOGLE_CLIENT_SECRET ""
#endif
#ifndef KINGYO_MICROSOFT_CLIENT_ID
#define KINGYO_MICROSOFT_CLIENT_ID ""
#endif

namespace kingyo {

SignIn knownSignIn(SignIn::Provider provider)
{
    switch (provider) {
    case SignIn::Provider::Google:
        return {provider, QUrl(QStringLiteral("https://accounts.google.com/o/oauth2/v2/auth")),
                QUrl(QStringLiteral("https://oauth2.googleapis.com/token")),
                QStringLiteral("https://mail.google.com/"), QStringLiteral(KINGYO_GOOGLE_CLIENT_ID),
                QStringLiteral(KINGYO_GOOGLE_CLIENT_SECRET)};
    case SignIn::Provider::Microsoft:
        return {provider, QUrl(QStringLiteral("https://login.microsoftonline.com/common/oauth2/v2.0/authorize")),
                QUrl(QStringLiteral("https://login.microsoftonline.com/common/oauth2/v2.0/token")),
                QStringLiteral("https://outlook.office.com/IMAP.AccessAsUser.All offline_access"),
                QStringLiteral(KINGYO_MICROSOFT_CLIENT_ID), QString()};
    case SignIn::Provider::Other:
        break;
    }
    return {};
}

QString providerMailServer(SignIn::Provider provider)
{
    switch (provider) {
    case SignIn::Provider::Google:
        return QStringLiteral("imaps://imap.gmail.com");
    case SignIn::Provider::Microsoft:
        return QStringLiteral("imaps://outlook.office365.com");
    case SignIn::Provider::Other:
        break;
    }
    return {};
}

bool isAcceptableEndpoint(const QUrl &url)
{
    if (!url.isValid() || url.host().isEmpty() || !url.userInfo().isEmpty())
        return false;
    if (url.scheme() == QLatin1String("https"))
        return true;
    if (url.scheme() != QLatin1String("http"))
        return false;
    static const QRegularExpression loopbackV4(QStringLiteral("^127(\\.\\d{1,3}){3}$"));
    const QString host = url.host();
    return loopbackV4.match(host).hasMatch() || host == QLatin1String("::1") || host == QLatin1String("localhost");
}

bool isUsable(const SignIn &signIn)
{
    return isAcceptableEndpoint(signIn.authorizationUrl) && isAcceptableEndpoint(signIn.tokenUrl)
        && !signIn.clientId.isEmpty();
}

} // namespace kingyo
