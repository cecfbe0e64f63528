#include "app/application.h"

#include "app/app_context.h"
#include "app/clock.h"
#include "app/random_source.h"
#include "fish/bowl_window.h"

#include <QApplication>

namespace kingyo {

int runApplication(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    SystemRandom random;
    SystemClock clock;
    AppContext context;
    context.paths = AppPaths::forRunningProgram();
    context.random = &random;
    context.clock = &clock;
    installWindowFactories(context);
    BowlWindow bowl(context);
    context.bowl = &bowl;
    bowl.show();
    return app.exec();
}

} // namespace kingyo
