// The browser sign-in to the first IMAP login, against a private Dovecot and its test
// provider on loopback, not counting the browser: from the redirect reaching the
// program's loopback handler, through the code traded for tokens, to the mail counted
// over IMAP (STARTTLS, AUTHENTICATE with the new token). Prints the median and the
// fastest of RUNS sign-ins.
//   sign_in_bench [RUNS]
#include "mail/auth/imap_token_count.h"
#include "mail/auth/oauth_sign_in.h"
#include "mail/test_oauth_provider.h"
#include "mail/test_pop3_server.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

using namespace kingyo;

namespace {

const QString kUser = QStringLiteral("olive@kingyo.test");

// Where the provider sends the browser: the loopback handler's address with the code.
QUrl redirectOf(QNetworkAccessManager &browser, const QUrl &authorization)
{
    QNetworkRequest request(authorization);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    QNetworkReply *reply = browser.get(request);
    QSignalSpy(reply, &QNetworkReply::finished).wait(5000);
    reply->deleteLater();
    return reply->header(QNetworkRequest::LocationHeader).toUrl();
}

// Milliseconds from the redirect to the count; nullopt when a step failed.
std::optional<double> signInAndCount(const test::TestPop3Server &server, const SignIn &signIn)
{
    QNetworkAccessManager network, browser;
    OAuthSignIn signing(signIn, kUser, network);
    QSignalSpy opened(&signing, &OAuthSignIn::openBrowser), tokens(&signing, &OAuthSignIn::signedIn);
    signing.start();
    if (!opened.wait(5000))
        return std::nullopt;
    const QUrl redirect = redirectOf(browser, opened.first().first().toUrl());
    QElapsedTimer clock;
    clock.start();
    std::unique_ptr<QNetworkReply> page(browser.get(QNetworkRequest(redirect)));
    if (!tokens.wait(5000))
        return std::nullopt;
    const auto [count, failure] = test::countUnreadWithToken(server, kUser, tokens.first().first().value<OAuthTokens>().access);
    const double ms = clock.nsecsElapsed() / 1e6;
    return count >= 0 ? std::optional(ms) : std::nullopt;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::atoi(argv[1]) : 7;
    const QString script = QStringLiteral(KINGYO_SOURCE_DIR "/scripts/test-pop3-server");
    QTemporaryDir work(QStringLiteral("/tmp/kingyo-signin.XXXXXX"));
    const QString serverDir = work.filePath(QStringLiteral("server"));
    if (QProcess::execute(script, {QStringLiteral("start"), serverDir}) != 0) {
        std::fprintf(stderr, "Dovecot did not start\n");
        return 1;
    }
    test::TestPop3Server server;
    QString problem;
    if (!server.loadFrom(serverDir, &problem)) {
        std::fprintf(stderr, "%s\n", qPrintable(problem));
        return 1;
    }
    test::TestOAuthProvider provider(server.oauthPort());
    const SignIn signIn{SignIn::Provider::Other, provider.url(QStringLiteral("/authorize")),
                        provider.url(QStringLiteral("/token")), QStringLiteral("mail"), QStringLiteral("kingyo-bench"), {}};
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        if (const auto ms = signInAndCount(server, signIn))
            times.push_back(*ms);
        else
            std::fprintf(stderr, "run %d failed\n", run + 1);
    }
    QProcess::execute(script, {QStringLiteral("stop"), serverDir});
    if (times.empty())
        return 1;
    std::sort(times.begin(), times.end());
    std::printf("sign-in, redirect to first IMAP count, %zu runs\n| median ms | fastest ms |\n|---|---|\n| %.1f | %.1f |\n",
                times.size(), times[times.size() / 2], times.front());
    return 0;
}
