#include "mail/mail_check.h"

#include "settings/shared_state.h"
#include "mail/mail_library.h"

namespace kingyo {

QString trimNull(const QString &text)
{
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    return nul < 0 ? text : text.left(nul);
}

QString noticeSentence(int count)
{
    return count > 0 ? QStringLiteral("新着メールが有ります。") : QStringLiteral("新着メールはありませんでした。");
}

MailCheck::MailCheck(SharedState &state, MailLibrary &mail, MailCheckSurroundings &surroundings)
    : state_(state), mail_(mail), surroundings_(surroundings)
{
}

int MailCheck::run()
{
    const int count = state_.pop3Server.isEmpty() ? 0 : checkMailbox();
    surroundings_.showNotice(count);
    if (surroundings_.hangUpAfterCheck())
        surroundings_.hangUp();
    return count;
}

int MailCheck::checkMailbox()
{
    const int handle = mail_.connect(state_.pop3Server);
    if (handle == -1) {
        // A server that cannot be reached is not "no new mail": say why first.
        reportLibraryFailure();
        return 0;
    }
    const int count = logIn(handle);
    if (count > 0)
        fetchAll(handle, count);
    else if (count < 0)
        reportLibraryFailure();
    mail_.close(handle);
    return count;
}

int MailCheck::logIn(int handle)
{
    const Account account = surroundings_.readAccount();
    surroundings_.fillAccountDialog(account);
    state_.userId = account.userId;
    state_.userPass = account.password;
    if (state_.userId.isEmpty() || state_.userPass.isEmpty()) {
        surroundings_.showAccountDialog();
        return 0;
    }
    return mail_.authenticate(handle, state_.userId, state_.userPass, state_.apopFlag != 0);
}

void MailCheck::fetchAll(int handle, int count)
{
    for (int message = 1; message <= count; ++message) {
        mail_.mailStatus(handle, message);
        // A message whose size cannot be learned is not fetched; the rest still are.
        if (mail_.mailSize(handle, message) < 0)
            continue;
        mail_.fetchMail(handle, message);
    }
}

void MailCheck::reportLibraryFailure() { surroundings_.showError(trimNull(mail_.lastError())); }

} // namespace kingyo
