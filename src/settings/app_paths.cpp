#include "settings/app_paths.h"

#include <QCoreApplication>

namespace kingyo {

AppPaths AppPaths::forRunningProgram()
{
    AppPaths paths;
    paths.programDir = QCoreApplication::applicationDirPath();
    return paths;
}

} // namespace kingyo
