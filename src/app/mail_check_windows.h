#pragma once
#include "mail/mail_check.h"
#include "mail/mail_run_rules.h"

namespace kingyo {

struct Program;
class MsgForm;
class NewMailNotification;

// The mail check's surroundings in the running program: the account to use, its
// access token when it signs in through the browser, the account dialog, the "エラー" and "確認" boxes, the notice window with the bowl's letter
// and the desktop notification, the hang-up option and the hang-up routine.
class MailCheckWindows final : public MailCheckSurroundings {
public:
    explicit MailCheckWindows(Program &program) : program_(program) {}

    Account readAccount() override;
    bool passwordLocked() override;
    bool signsInWithToken() override;
    void fetchAccessToken(QDeadlineTimer deadline, TokenAnswer answer) override;
    void fillAccountDialog(const Account &account) override;
    void showAccountDialog() override;
    void showError(const MailFailure &failure) override;
    TrustAnswer trustCertificate(const MailFailure &failure) override;
    void showNotice(int count, const QList<MailSummary> &newest) override;
    bool hangUpAfterCheck() override;
    void hangUp() override;

    // What the run under way shows, by who started it.
    MailRunRules rules;

private:
    Program &program_;
};

// Gives the program its one mail check over its mail library (none without one), and
// its timer at the stored interval, and shows the busy cursor over the bowl and the
// panel while a check runs.
void wireMailCheck(Program &program);

// The panel's "受信": starts a check unless one is running, once the keyring was asked
// again for a password or refresh token it withholds (the user who clicked can unlock
// it). With no server set it opens the server dialog instead, and says nothing about the
// mailbox. Without a mail library it does nothing.
void runMailCheck(Program &program);
// The timer's check: quiet (see MailRunRules); skipped while a check runs, with no
// server set, or when the account is incomplete (and does not sign in through the browser), unless the keyring
// withholds the password, which the check then tells once.
void runPeriodicMailCheck(Program &program);
// The server says mail came: the timer's check, at once, or right after the one
// running (which may have started before the mail came).
void runMailCheckForNewMail(Program &program);

// The bowl's letter: shown while the notice says mail is waiting, that is, from a check
// that found new mail until the notice is closed or a check the user ran finds none.
void showMailWaiting(Program &program, bool waiting);
// Closing the notice takes the letter away.
void watchNoticeClose(Program &program, QWidget &notice);

// Checks the timer ran tell the desktop through `notification`, when the user wants that,
// instead of opening the notice (which they open when no notification service answers).
void wireNotification(Program &program, NewMailNotification &notification);
// The desktop notification was chosen: the notice comes back with what it said, and the
// letter with it.
void reopenNotice(Program &program, int count);
// Shows the notice, loading it if needed. Activated, it comes forward with the keyboard
// focus; otherwise it appears (topmost as ever) while the program in use keeps the keyboard.
MsgForm *showNoticeWindow(Program &program, bool activate);

// Whether a check is running, on the windows that show it.
void showMailCheckBusy(Program &program, bool busy);

} // namespace kingyo
