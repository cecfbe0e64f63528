#include "app/browser_sign_in.h"

#include "app/idle_watch.h"
#include "app/mail_check_windows.h"
#include "app/program.h"
#include "mail/auth/access_token_source.h"
#include "mail/auth/oauth_sign_in.h"
#include "panel/mail_error_box.h"
#include "panel/sign_in_dialog.h"

#include <QDesktopServices>
#include <QNetworkAccessManager>

namespace kingyo {
namespace {

SignInDialog *loadedDialog(Program &program)
{
    return program.signInDialog.isLoaded() ? program.signInDialog.get() : nullptr;
}

void tellDialog(Program &program, const QString &sentence)
{
    if (SignInDialog *dialog = loadedDialog(program))
        dialog->showFailure(sentence);
}

// The sign-in under way is over; deleted from the event loop, as it may be the one
// whose signal is being handled.
void endSignIn(Program &program)
{
    if (OAuthSignIn *signIn = program.signingIn.data()) {
        program.signingIn.clear();
        signIn->deleteLater();
    }
}

using Kept = RefreshTokenKeeper::Kept;

// What the dialog says when the sign-in worked but its refresh token is kept for this
// run only; empty when it was stored.
QString unkeptSentence(Kept kept)
{
    switch (kept) {
    case Kept::Stored:
        break;
    case Kept::KeyringLocked:
        return QStringLiteral("サインインしましたが、キーリングがロックされているので、サインインの情報を保存できませんでした"
                              "（kingyo を終えるまでは使えます）。キーリングのロックを解除して、もう一度サインインしてください。");
    case Kept::NotStored:
        return QStringLiteral("サインインしましたが、サインインの情報を保存できませんでした（kingyo を終えるまでは使えます）。");
    }
    return {};
}

// The sign-in, its refresh token kept already, becomes the account's.
void storeSignIn(Program &program, const SignIn &signIn, const QString &mailAddress, Kept kept)
{
    SettingsModel &settings = program.settings;
    if (!writeSignIn(settings.paths(), signIn, mailAddress)) {
        tellDialog(program, QStringLiteral("サインインはできましたが、設定を保存できませんでした。"));
        return;
    }
    if (const QString server = providerMailServer(signIn.provider); !server.isEmpty()) {
        const SharedState &state = settings.state();
        settings.storeServer(state.smtpServer, server, state.mailAddress, state.apopFlag != 0);
    }
    if (const QString unkept = unkeptSentence(kept); !unkept.isEmpty())
        tellDialog(program, unkept);
    else if (SignInDialog *dialog = loadedDialog(program))
        dialog->close();
    updateIdleWatch(program);
    runMailCheck(program);
}

// The refresh token held for this very sign-in and mail address, which a provider that
// gives no new one (as on a second consent) leaves valid; empty for another sign-in,
// whose token must not go to this one's provider.
QString heldRefreshToken(Program &program, const SignIn &signIn, const QString &mailAddress)
{
    const SettingsModel &settings = program.settings;
    if (settings.signIn() != signIn || readAccount(settings.paths()).userId != mailAddress)
        return {};
    return settings.refreshToken().token();
}

void signedIn(Program &program, const SignIn &signIn, const QString &mailAddress, const OAuthTokens &tokens)
{
    endSignIn(program);
    RefreshTokenKeeper &refreshToken = program.settings.refreshToken();
    if (tokens.refresh.isEmpty()) { // the provider gave none: only the one held for this sign-in is of use
        const QString held = heldRefreshToken(program, signIn, mailAddress);
        program.accessTokens->use(signIn, held, tokens);
        if (held.isEmpty())
            refreshToken.forget();
        return storeSignIn(program, signIn, mailAddress, Kept::Stored);
    }
    program.accessTokens->use(signIn, tokens.refresh, tokens);
    // Kept before the sign-in is written: a crash between leaves an unused token, never
    // a sign-in without one.
    refreshToken.keep(tokens.refresh, [&program, signIn, mailAddress](Kept kept) {
        storeSignIn(program, signIn, mailAddress, kept);
    });
}

void startSignIn(Program &program, const SignIn &signIn, const QString &mailAddress)
{
    endSignIn(program);
    auto *started = new OAuthSignIn(signIn, mailAddress, *program.network, program.accessTokens.get());
    program.signingIn = started;
    // The address is shown either way: a browser may fail after it started, or be wanted elsewhere.
    QObject::connect(started, &OAuthSignIn::openBrowser, started, [&program](const QUrl &authorization) {
        const bool opened = QDesktopServices::openUrl(authorization);
        if (SignInDialog *dialog = loadedDialog(program))
            dialog->showAuthorizationAddress(authorization, opened);
    });
    QObject::connect(started, &OAuthSignIn::signedIn, started,
                     [&program, signIn, mailAddress](const OAuthTokens &tokens) {
                         signedIn(program, signIn, mailAddress, tokens);
                     });
    QObject::connect(started, &OAuthSignIn::failed, started, [&program](const MailFailure &failure) {
        endSignIn(program);
        tellDialog(program, mailErrorText(failure));
    });
    started->start();
}

} // namespace

void wireSignIn(Program &program)
{
    program.network = std::make_unique<QNetworkAccessManager>();
    program.accessTokens = std::make_unique<AccessTokenSource>(*program.network);
    AccessTokenSource *tokens = program.accessTokens.get();
    RefreshTokenKeeper &refreshToken = program.settings.refreshToken();
    QObject::connect(&refreshToken, &RefreshTokenKeeper::loaded, tokens, [&program] { useStoredSignIn(program); });
    QObject::connect(tokens, &AccessTokenSource::refreshTokenChanged, &refreshToken,
                     [&refreshToken](const QString &rotated) { refreshToken.keep(rotated); });
    // The account dialog's save into the keyring ends later than its OK.
    QObject::connect(&program.settings.passwords(), &PasswordKeeper::passwordChanged, tokens,
                     [&program] { dropEndedSignIn(program); });
    program.signInDialog.setFactory([&program] {
        auto *dialog = new SignInDialog;
        QObject::connect(dialog, &SignInDialog::signInRequested, dialog,
                         [&program](const SignIn &signIn, const QString &mailAddress) {
                             startSignIn(program, signIn, mailAddress);
                         });
        QObject::connect(dialog, &SignInDialog::cancelled, dialog, [&program] { endSignIn(program); });
        return dialog;
    });
}

void showSignInDialog(Program &program)
{
    const SettingsModel &settings = program.settings;
    const QString id = readAccount(settings.paths()).userId;
    program.signInDialog.get()->showFor(settings.signIn().value_or(knownSignIn(SignIn::Provider::Google)),
                                        id.contains(u'@') ? id : settings.state().mailAddress);
}

void dropEndedSignIn(Program &program)
{
    if (!program.accessTokens || program.settings.signIn() || !program.accessTokens->signedIn())
        return;
    program.accessTokens->forget();
    program.settings.refreshToken().forget();
}

void dropRejectedAccessToken(Program &program)
{
    const std::optional<SignIn> signIn = program.settings.signIn();
    if (program.accessTokens && program.accessTokens->signedIn() && signIn)
        program.accessTokens->use(*signIn, program.settings.refreshToken().token());
}

void useStoredSignIn(Program &program)
{
    const std::optional<SignIn> signIn = program.settings.signIn();
    const QString &refreshToken = program.settings.refreshToken().token();
    if (signIn && !refreshToken.isEmpty())
        program.accessTokens->use(*signIn, refreshToken);
    updateIdleWatch(program);
}

void rereadRefreshToken(Program &program, const std::function<void()> &then)
{
    RefreshTokenKeeper &refreshToken = program.settings.refreshToken();
    if (!refreshToken.withheld())
        return then();
    // After the connection that feeds the token source, made at wiring.
    QObject::connect(&refreshToken, &RefreshTokenKeeper::loaded, &refreshToken, then, Qt::SingleShotConnection);
    refreshToken.load();
}

} // namespace kingyo
