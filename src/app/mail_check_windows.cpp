#include "mail/mail_check_windows.h"

#include "app/app_context.h"
#include "mail/dialup_hangup.h"
#include "mail/msg_form.h"
#include "panel/id_pass_form.h"
#include "panel/set_form.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>

namespace kingyo {

Account MailCheckWindows::readAccount() { return kingyo::readAccount(context_.paths); }

void MailCheckWindows::fillAccountDialog(const Account &account)
{
    IdPassForm *dialog = context_.idPassForm.get();
    dialog->idText()->setText(account.userId);
    dialog->passText()->setText(account.password);
}

void MailCheckWindows::showAccountDialog() { context_.idPassForm.show(); }

void MailCheckWindows::showError(const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("エラー"), text, QMessageBox::Ok);
    box.setObjectName(QStringLiteral("MailErrorBox"));
    box.setTextFormat(Qt::PlainText); // the server's words, never markup
    box.setWindowFlag(Qt::WindowStaysOnTopHint); // above the topmost bowl and panel
    box.exec();
}

void MailCheckWindows::showNotice(int count) { context_.msgForm.show()->showResult(count); }

bool MailCheckWindows::hangUpAfterCheck() { return context_.setForm.get()->check1()->isChecked(); }

void MailCheckWindows::hangUp()
{
    if (context_.hangup)
        context_.hangup->hangUpAll();
}

void runMailCheck(AppContext &context)
{
    if (!context.mail)
        return;
    MailCheckWindows windows(context);
    MailCheck(context.state, *context.mail, windows).run();
}

} // namespace kingyo
