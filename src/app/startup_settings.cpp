#include "app/startup_settings.h"

#include "app/app_context.h"
#include "app/server_file.h"
#include "app/settings_option.h"
#include "mail/mail_library.h"
#include "panel/id_pass_form.h"
#include "panel/option_form.h"
#include "panel/set_form.h"

#include <QCheckBox>
#include <QLineEdit>

namespace kingyo {

void loadSettingsAtStartup(AppContext &context)
{
    // Other values leave the box alone, and the settings window is not created for them.
    const int hangUp = readHangupOption(context.paths);
    if (hangUp == 0 || hangUp == 1)
        context.setForm.get()->check1()->setChecked(hangUp == 1);

    readServerFile(context.paths.serverFile, context.state);

    if (context.mail) {
        context.mail->initialize();
        context.mail->setOption(1, 8192);
    }

    if (context.state.pop3Server.isEmpty())
        context.optionForm.show();

    const IdPassForm *account = context.idPassForm.get(); // loads the stored account
    if (account->idText()->text().isEmpty() || account->passText()->text().isEmpty())
        context.idPassForm.show();
}

} // namespace kingyo
