#include "app/startup_settings.h"

#include "app/idle_watch.h"
#include "app/program.h"
#include "mail/mail_library.h"
#include "mail/mail_run_rules.h"
#include "panel/id_pass_form.h"
#include "panel/option_form.h"
#include "settings/autostart_entry.h"
#include "settings/leftover_files.h"

#include <QDir>
#include <QLineEdit>

#include <cstdio>

namespace kingyo {

void loadSettingsAtStartup(Program &program)
{
    const AppPaths &paths = program.settings.paths();
    for (const QString &folder : paths.privateFolders())
        removeLeftoverTemporaries(folder, QDateTime::currentDateTimeUtc());
    // A copy that moved since its box was ticked would not start at the next login.
    if (repairMovedAutostartEntry(paths.autostartEntry, autostartLaunchOf(paths, QDir::currentPath()))
        == AutostartRepair::Failed)
        std::fprintf(stderr, "kingyo: could not point %s at this copy\n", qPrintable(paths.autostartEntry));
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

    program.settings.passwords().start();
    program.settings.refreshToken().load();
    const IdPassForm *account = program.idPassForm.get(); // loads the stored account
    // A password kept in the keyring comes later, or not at all while it is locked:
    // the check says so then. An account that signs in through the browser has none.
    const bool noPassword = account->passText()->text().isEmpty() && !program.settings.passwordWithheld();
    if ((account->idText()->text().isEmpty() || noPassword) && !program.settings.signIn())
        program.idPassForm.show();
    updateIdleWatch(program);
}

} // namespace kingyo
