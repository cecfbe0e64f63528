#include "app/mail_check_windows.h"

#include "app/browser_sign_in.h"
#include "app/program.h"
#include "fish/bowl_window.h"
#include "fish/living_bowl.h"
#include "mail/auth/access_token_source.h"
#include "mail/dialup_hangup.h"
#include "panel/control_panel.h"
#include "panel/certificate_question.h"
#include "panel/id_pass_form.h"
#include "panel/mail_error_box.h"
#include "panel/message_box_queue.h"
#include "panel/msg_form.h"
#include "panel/new_mail_notification.h"
#include "panel/option_form.h"
#include "settings/server_trust.h"
#include "settings/shared_state.h"

#include <QEvent>
#include <QLineEdit>
#include <QTimer>

namespace kingyo {

Account MailCheckWindows::readAccount() { return program_.settings.accountForCheck(); }

bool MailCheckWindows::passwordLocked() { return program_.settings.passwordWithheld(); }

bool MailCheckWindows::signsInWithToken() { return program_.settings.signIn().has_value(); }

void MailCheckWindows::fetchAccessToken(QDeadlineTimer deadline, TokenAnswer answer)
{
    if (!program_.accessTokens)
        return MailCheckSurroundings::fetchAccessToken(deadline, std::move(answer));
    if (program_.settings.refreshToken().withheld()) {
        QTimer::singleShot(0, program_.accessTokens.get(), [answer = std::move(answer)] {
            answer({}, {MailProblem::KeyringLocked, {}, {}});
        });
        return;
    }
    program_.accessTokens->fetch(deadline, std::move(answer));
}

void MailCheckWindows::fillAccountDialog(const Account &account)
{
    IdPassForm *dialog = program_.idPassForm.get();
    dialog->idText()->setText(account.userId);
    dialog->passText()->setText(account.password);
}

void MailCheckWindows::showAccountDialog()
{
    if (rules.showAccountDialog())
        program_.idPassForm.show();
}

void MailCheckWindows::showError(const MailFailure &failure)
{
    if (failure.problem == MailProblem::TokenRejected)
        dropRejectedAccessToken(program_);
    if (!rules.showError())
        return;
    // Checks by themselves stay refused until the user signs in again: the desktop says
    // so too, as nobody may be looking at the bowl.
    if (failure.problem == MailProblem::SignInAgain && rules.notifyDesktopOfFailure() && program_.notification
        && program_.settings.mailWatch().notify)
        program_.notification->showProblem(QStringLiteral("メールを確認できません"), mailErrorText(failure));
    program_.boxes->post(makeMailErrorBox(failure));
}

MailCheckWindows::TrustAnswer MailCheckWindows::trustCertificate(const MailFailure &failure)
{
    if (!program_.serverTrust || failure.facts.size() < 3)
        return TrustAnswer::Declined;
    if (!rules.mayAsk())
        return TrustAnswer::Deferred;
    Program &program = program_;
    program.boxes->post(makeCertificateQuestion(failure), [&program, failure](QMessageBox::StandardButton chosen) {
        if (chosen != QMessageBox::Yes)
            return;
        const QString key = ServerTrust::keyFor(failure.facts[0], failure.facts[1].toUShort());
        // A data folder that cannot be written keeps the pin for this run only.
        program.serverTrust->pinCertificate(key, failure.facts[2].toLatin1());
        runMailCheck(program);
    });
    return TrustAnswer::Asked;
}

void MailCheckWindows::showNotice(int count, const QList<MailSummary> &newest)
{
    const SharedState &state = program_.settings.state();
    const bool news = count >= 0 && rules.noteCount(state.pop3Server + u'\n' + state.userId, count);
    if (!rules.showNotice(news))
        return; // a quiet check leaves the notice, and the letter, as they were
    // The letter says what the notice says; a failure leaves it as it was.
    if (count >= 0)
        showMailWaiting(program_, count > 0);
    if (program_.notification && rules.notifyDesktop(news) && program_.settings.mailWatch().notify) {
        // The desktop says it: the notice waits for the notification's 表示, unless no
        // notification service answers. One open already is brought up to date.
        if (program_.msgForm.isLoaded())
            program_.msgForm.get()->showResult(count);
        program_.notification->show(count, newest, [&program = program_, count] {
            showNoticeWindow(program, false)->showResult(count);
        });
        return;
    }
    showNoticeWindow(program_, rules.activateNotice())->showResult(count);
}

bool MailCheckWindows::hangUpAfterCheck() { return program_.settings.hangUpAfterCheck(); }

void MailCheckWindows::hangUp()
{
    if (program_.hangup)
        program_.hangup->hangUpAll();
}

namespace {

class NoticeCloseWatch final : public QObject {
public:
    NoticeCloseWatch(Program &program, QObject *parent) : QObject(parent), program_(program) {}

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Close)
            showMailWaiting(program_, false);
        return false;
    }

private:
    Program &program_;
};

} // namespace

void showMailWaiting(Program &program, bool waiting)
{
    if (program.bowl)
        program.bowl->living().setMailWaiting(waiting);
}

void watchNoticeClose(Program &program, QWidget &notice)
{
    notice.installEventFilter(new NoticeCloseWatch(program, &notice));
}

void wireMailCheck(Program &program)
{
    if (!program.mail)
        return;
    program.mailCheckWindows = std::make_unique<MailCheckWindows>(program);
    program.mailCheck =
        std::make_unique<MailCheck>(program.settings.state(), *program.mail, *program.mailCheckWindows);
    program.periodicCheck = std::make_unique<PeriodicMailCheck>([&program] { runPeriodicMailCheck(program); });
    program.periodicCheck->setIntervalMinutes(program.settings.mailWatch().intervalMinutes);
    QObject::connect(program.mailCheck.get(), &MailCheck::runningChanged, program.mailCheck.get(),
                     [&program](bool running) { showMailCheckBusy(program, running); });
    QObject::connect(program.mailCheck.get(), &MailCheck::finished, program.mailCheck.get(), [&program] {
        program.mailCheckWindows->rules.end();
        if (std::exchange(program.newMailAfterCheck, false))
            QMetaObject::invokeMethod(program.mailCheck.get(), [&program] { runPeriodicMailCheck(program); },
                                      Qt::QueuedConnection);
    });
}

void wireNotification(Program &program, NewMailNotification &notification)
{
    program.notification = &notification;
    QObject::connect(&notification, &NewMailNotification::activated, &notification,
                     [&program](int count) { reopenNotice(program, count); });
}

void reopenNotice(Program &program, int count)
{
    showNoticeWindow(program, true)->showResult(count); // the user chose it: it comes forward
    showMailWaiting(program, true);
}

MsgForm *showNoticeWindow(Program &program, bool activate)
{
    MsgForm *notice = program.msgForm.get();
    // Read when the window is mapped; a later notice the user wants must not inherit it.
    notice->setAttribute(Qt::WA_ShowWithoutActivating, !activate);
    if (activate)
        return program.msgForm.show();
    if (notice->isMinimized())
        notice->showNormal();
    else
        notice->show();
    return notice;
}

namespace {

void startMailCheck(Program &program, MailRunRules::Origin origin)
{
    if (!program.mailCheck || program.mailCheck->isRunning())
        return;
    const SettingsModel &settings = program.settings;
    const bool newOnly = settings.mailWatch().countNewOnly;
    program.mailCheckWindows->rules.begin(origin, newOnly ? MailRunRules::Counting::NewOnly
                                                          : MailRunRules::Counting::Waiting);
    program.mailCheck->setNewOnlyFolder(newOnly ? settings.paths().dataDir() : QString());
    program.mailCheck->start();
}

} // namespace

void runMailCheck(Program &program)
{
    if (!program.mailCheck || program.mailCheck->isRunning())
        return;
    if (program.settings.state().pop3Server.isEmpty()) {
        program.optionForm.show(); // nothing to ask until a server is set
        return;
    }
    program.settings.passwords().reread([&program] {
        rereadRefreshToken(program, [&program] { startMailCheck(program, MailRunRules::Origin::Click); });
    });
}

void runPeriodicMailCheck(Program &program)
{
    const SettingsModel &settings = program.settings;
    if (isComplete(settings.accountForCheck()) || settings.passwordWithheld() || settings.signIn())
        startMailCheck(program, MailRunRules::Origin::Timer);
}

void runMailCheckForNewMail(Program &program)
{
    if (program.mailCheck && program.mailCheck->isRunning())
        program.newMailAfterCheck = true;
    else
        runPeriodicMailCheck(program);
}

void showMailCheckBusy(Program &program, bool busy)
{
    QWidget *windows[] = {program.bowl, program.controlPanel.isLoaded() ? program.controlPanel.get() : nullptr};
    for (QWidget *window : windows) {
        if (!window)
            continue;
        if (busy)
            window->setCursor(Qt::BusyCursor);
        else
            window->unsetCursor();
    }
}

} // namespace kingyo
