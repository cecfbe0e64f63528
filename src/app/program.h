#pragma once
#include "app/window_holder.h"
#include "settings/settings_model.h"

#include <QPointer>
#include <memory>

class QNetworkAccessManager;

namespace kingyo {

class BowlWindow;
class ControlPanel;
class SetForm;
class IdPassForm;
class OptionForm;
class MsgForm;
class MailLibrary;
class DialupHangup;
class NewMailNotification;
class MailCheck;
class MailCheckWindows;
class PeriodicMailCheck;
class ServerTrust;
class RandomSource;
class Clock;
class ImapWatcher;
class AccessTokenSource;
class OAuthSignIn;
class SignInDialog;
class MessageBoxQueue;

// The page the panel's HP button offers.
inline constexpr const char *kHomePage = "https://github.com/kingyo-desktop/kingyo";

// The running program: its live settings, the services behind them, and the one
// instance of each window. Only this floor knows every window; the windows say what the
// user asked for with signals, and wireWindows() connects them here.
struct Program {
    Program();
    ~Program();

    SettingsModel settings;

    RandomSource *random = nullptr;
    Clock *clock = nullptr;
    MailLibrary *mail = nullptr;
    DialupHangup *hangup = nullptr;
    NewMailNotification *notification = nullptr; // the desktop's, for checks the timer ran
    ServerTrust *serverTrust = nullptr; // the mail library's; the certificate question adds to it
    // The one mail check over `mail` and the windows it reaches (see wireMailCheck()).
    std::unique_ptr<MailCheckWindows> mailCheckWindows;
    std::unique_ptr<MailCheck> mailCheck;
    std::unique_ptr<PeriodicMailCheck> periodicCheck; // checks by themselves, at the stored interval
    ImapWatcher *imapWatcher = nullptr; // IDLE on an IMAP server, while checks by themselves are on
    bool newMailAfterCheck = false;     // the server told of mail during a check: one more after it
    // The browser sign-in's (see wireSignIn()): the network its requests go through, the
    // account's access token kept fresh, and the sign-in under way, if any.
    std::unique_ptr<QNetworkAccessManager> network;
    std::unique_ptr<AccessTokenSource> accessTokens;
    QPointer<OAuthSignIn> signingIn;

    // Every message box of the program, one at a time, none modal: nothing waits for them.
    std::unique_ptr<MessageBoxQueue> boxes;

    BowlWindow *bowl = nullptr; // Form1, created at start-up, lives for the whole run
    WindowHolder<ControlPanel> controlPanel; // Form2
    WindowHolder<SetForm> setForm;
    WindowHolder<IdPassForm> idPassForm;
    WindowHolder<OptionForm> optionForm;
    WindowHolder<MsgForm> msgForm;
    WindowHolder<SignInDialog> signInDialog;
};

// Teaches each holder how to create its window and connects what the window asks for.
void wireWindows(Program &program);
// Connects the bowl's requests; the bowl is made at start-up, outside the holders.
void wireBowl(Program &program, BowlWindow &bowl);

} // namespace kingyo
