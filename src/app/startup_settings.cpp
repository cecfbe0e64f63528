#include "app/startup_settings.h"

#include "app/program.h"
#include "mail/mail_library.h"
#include "mail/mail_run_rules.h"
#include "panel/id_pass_form.h"
#include "panel/option_form.h"

#include <QLineEdit>

namespace kingyo {

void loadSettingsAtStartup(Program &program)
{
    program.settings.loadHangUpOption();
    program.settings.loadMailWatchOptions();
    if (program.periodicCheck)
        program.periodicCheck->setIntervalMinutes(program.settings.mailWatch().intervalMinutes);
    program.settings.loadServerFile();

    if (program.mail) {
        program.mail->initialize();
        program.mail->setOption(1, 8192);
    }

    if (program.settings.state().pop3Server.isEmpty())
        program.optionForm.show();

    const IdPassForm *account = program.idPassForm.get(); // loads the stored account
    if (account->idText()->text().isEmpty() || account->passText()->text().isEmpty())
        program.idPassForm.show();
}

} // namespace kingyo
