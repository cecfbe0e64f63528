#include "app/program.h"

#include "app/browser_sign_in.h"
#include "app/idle_watch.h"
#include "app/mail_check_windows.h"
#include "fish/bowl_window.h"
#include "mail/auth/access_token_source.h"
#include "mail/dialup_hangup.h"
#include "mail/mail_check.h"
#include "mail/mail_run_rules.h"
#include "panel/control_panel.h"
#include "panel/id_pass_form.h"
#include "panel/message_box_queue.h"
#include "panel/msg_form.h"
#include "panel/option_form.h"
#include "panel/set_form.h"
#include "panel/sign_in_dialog.h"

#include <QDesktopServices>
#include <QNetworkAccessManager>
#include <QUrl>

namespace kingyo {
namespace {

void hangUp(Program &program)
{
    if (program.hangup)
        program.hangup->hangUpAll();
}

ControlPanel *makeControlPanel(Program &program)
{
    auto *panel = new ControlPanel(program.bowl, *program.clock);
    if (program.mailCheck && program.mailCheck->isRunning())
        panel->setCursor(Qt::BusyCursor);
    QObject::connect(panel, &ControlPanel::feedRequested, panel, [&program] {
        if (program.bowl)
            program.bowl->living().playFeedingScene();
    });
    QObject::connect(panel, &ControlPanel::mailCheckRequested, panel, [&program] { runMailCheck(program); });
    QObject::connect(panel, &ControlPanel::settingsRequested, panel, [&program] { program.setForm.show(); });
    QObject::connect(panel, &ControlPanel::homePageRequested, panel, [] {
        QDesktopServices::openUrl(QUrl(QString::fromLatin1(kHomePage))); // false, and nothing else, without a browser
    });
    QObject::connect(panel, &ControlPanel::hangUpRequested, panel, [&program] { hangUp(program); });
    return panel;
}

SetForm *makeSetForm(Program &program)
{
    auto *form = new SetForm(program.settings);
    QObject::connect(form, &SetForm::accountDialogRequested, form, [&program] { program.idPassForm.show(); });
    QObject::connect(form, &SetForm::serverDialogRequested, form, [&program] { program.optionForm.show(); });
    QObject::connect(form, &SetForm::signInDialogRequested, form, [&program] { showSignInDialog(program); });
    QObject::connect(form, &SetForm::intervalChanged, form, [&program](int minutes) {
        if (program.periodicCheck)
            program.periodicCheck->setIntervalMinutes(minutes);
        updateIdleWatch(program);
    });
    return form;
}

} // namespace

Program::Program() : boxes(std::make_unique<MessageBoxQueue>()) {}
Program::~Program() = default;

void wireWindows(Program &program)
{
    // A save through the keyring that could not write the file brings the account back.
    QObject::connect(&program.settings.passwords(), &PasswordKeeper::saveFailed, &program.settings.passwords(),
                     [&program](const Account &account, const QString &why) {
                         program.idPassForm.show()->showNotStored(account, why);
                     });
    program.controlPanel.setFactory([&program] { return makeControlPanel(program); });
    program.setForm.setFactory([&program] { return makeSetForm(program); });
    program.idPassForm.setFactory([&program] {
        auto *form = new IdPassForm(program.settings);
        QObject::connect(form, &IdPassForm::accepted, form, [&program] {
            dropEndedSignIn(program);
            updateIdleWatch(program);
        });
        return form;
    });
    program.optionForm.setFactory([&program] {
        auto *form = new OptionForm(program.settings);
        QObject::connect(form, &OptionForm::accepted, form, [&program] { updateIdleWatch(program); });
        return form;
    });
    program.msgForm.setFactory([&program] {
        auto *notice = new MsgForm;
        watchNoticeClose(program, *notice);
        return notice;
    });
}

void wireBowl(Program &program, BowlWindow &bowl)
{
    program.bowl = &bowl;
    QObject::connect(&bowl, &BowlWindow::panelRequested, &bowl, [&program] { program.controlPanel.show(); });
}

} // namespace kingyo
