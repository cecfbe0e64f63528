#include "app/windows_clear_of_bowl.h"

#include "app/program.h"
#include "fish/bowl_window.h"
#include "panel/control_panel.h"
#include "panel/window_clearance.h"

#include <QApplication>

namespace kingyo {

void keepWindowsClearOfBowl(Program &program)
{
    if (!program.bowl)
        return;
    // A child of the bowl, so it never asks about a program that has gone.
    auto *clearance = new WindowClearance(
        [&program] {
            QList<QWidget *> onTop{program.bowl};
            if (program.controlPanel.isLoaded())
                onTop << program.controlPanel.get();
            return onTop;
        },
        program.bowl);
    qApp->installEventFilter(clearance);
}

} // namespace kingyo
