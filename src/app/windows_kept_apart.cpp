#include "app/windows_kept_apart.h"

#include "app/program.h"
#include "fish/bowl_window.h"
#include "panel/control_panel.h"
#include "panel/window_clearance.h"

#include <QApplication>

namespace kingyo {

void keepWindowsApart(Program &program)
{
    if (!program.bowl)
        return;
    // A child of the bowl, so it never asks about a program that has gone.
    auto *clearance = new WindowClearance(
        [&program] {
            QList<QWidget *> placedElsewhere{program.bowl};
            if (program.controlPanel.isLoaded())
                placedElsewhere << program.controlPanel.get();
            return placedElsewhere;
        },
        program.bowl);
    qApp->installEventFilter(clearance);
}

} // namespace kingyo
