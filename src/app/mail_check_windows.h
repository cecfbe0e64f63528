#pragma once
#include "mail/mail_check.h"

namespace kingyo {

struct Program;

// The mail check's surroundings in the running program: the account to use, the
// account dialog, the "エラー" box, the notice window, the settings window's
// hang-up option and the hang-up routine.
class MailCheckWindows final : public MailCheckSurroundings {
public:
    explicit MailCheckWindows(Program &program) : program_(program) {}

    Account readAccount() override;
    void fillAccountDialog(const Account &account) override;
    void showAccountDialog() override;
    void showError(const QString &text) override;
    void showNotice(int count) override;
    bool hangUpAfterCheck() override;
    void hangUp() override;

private:
    Program &program_;
};

// One mail check as the panel's "受信" runs it. Without a mail library it does nothing.
void runMailCheck(Program &program);

} // namespace kingyo
