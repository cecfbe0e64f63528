#include "app/mail_check_windows.h"

#include "app/program.h"
#include "mail/dialup_hangup.h"
#include "panel/id_pass_form.h"
#include "panel/msg_form.h"

#include <QLineEdit>
#include <QMessageBox>

namespace kingyo {

Account MailCheckWindows::readAccount() { return program_.settings.accountForCheck(); }

void MailCheckWindows::fillAccountDialog(const Account &account)
{
    IdPassForm *dialog = program_.idPassForm.get();
    dialog->idText()->setText(account.userId);
    dialog->passText()->setText(account.password);
}

void MailCheckWindows::showAccountDialog() { program_.idPassForm.show(); }

void MailCheckWindows::showError(const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("エラー"), text, QMessageBox::Ok);
    box.setObjectName(QStringLiteral("MailErrorBox"));
    box.setTextFormat(Qt::PlainText); // the server's words, never markup
    box.setWindowFlag(Qt::WindowStaysOnTopHint); // above the topmost bowl and panel
    box.exec();
}

void MailCheckWindows::showNotice(int count) { program_.msgForm.show()->showResult(count); }

bool MailCheckWindows::hangUpAfterCheck() { return program_.settings.hangUpAfterCheck(); }

void MailCheckWindows::hangUp()
{
    if (program_.hangup)
        program_.hangup->hangUpAll();
}

void runMailCheck(Program &program)
{
    if (!program.mail)
        return;
    MailCheckWindows windows(program);
    MailCheck(program.settings.state(), *program.mail, windows).run();
}

} // namespace kingyo
