#pragma once
#include "mail/auth/oauth_tokens.h"
#include "mail/mail_failure.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <chrono>
#include <functional>
#include <utility>

class QNetworkAccessManager;
class QObject;

namespace kingyo {

// A token endpoint's answer, as far as the program tells them apart.
struct TokenGrant {
    enum class Outcome {
        Granted,     // tokens: an access token at least
        Refused,     // an OAuth2 error answer (4xx with JSON "error"): asking again gives the same
        Unavailable, // no answer in time, no connection, a 5xx or temporarily_unavailable, or an answer that holds no token
        UnsafeAddress, // the endpoint is not one isAcceptableEndpoint() allows: nothing was sent
    };
    Outcome outcome = Outcome::Unavailable;
    OAuthTokens tokens;
    // Refused and Unavailable: the provider's error answer (its JSON or plain text; its
    // status line, "HTTP 502 Bad Gateway", for an HTML page or no text), cleaned; empty
    // for a 2xx answer, which may hold a token, and when nothing came.
    QString serverText;
};

// UnsafeSignInAddress, naming the address as the user may read it (no user or query).
MailFailure unsafeAddressFailure(const QUrl &address);

using TokenForm = QList<std::pair<QString, QString>>;

// Posts form to the token endpoint, each value percent-encoded as it is (a code holding
// '/', '+' or '%' arrives as given), and calls answer once from the event loop. An
// endpoint isAcceptableEndpoint() refuses is not contacted (UnsafeAddress): whatever
// wrote it, a code or refresh token never goes anywhere else. An
// answer not finished within timeout is aborted (Unavailable). The expiry is
// expires_in from now(), at most a day (an hour when missing, negative or not a
// number). No redirect is followed. Nothing is
// logged. secrets (a code, a refresh token, ...) are hidden in the server's text.
// Deleting context aborts the request, and answer is not called.
void requestToken(QNetworkAccessManager &network, const QUrl &endpoint, const TokenForm &form,
                  const QStringList &secrets, std::chrono::milliseconds timeout, const WallClock &now,
                  QObject *context, std::function<void(const TokenGrant &)> answer);

} // namespace kingyo
