#pragma once
#include <QString>

namespace kingyo {

// Where the settings files live: the server file by its bare name in the current
// directory, the option and account files in "★MailData" beside the executable.
struct AppPaths {
    QString programDir;
    QString serverFile = QStringLiteral("vbmail.ini");

    QString dataDir() const { return programDir + QStringLiteral("/★MailData"); }
    QString optionFile() const { return dataDir() + QStringLiteral("/ini.ini"); }
    QString accountFile() const { return dataDir() + QStringLiteral("/iniIdPass.ini"); }

    static AppPaths forRunningProgram(); // programDir = the executable's folder
};

} // namespace kingyo
