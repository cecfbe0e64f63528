#include "panel/control_panel.h"

#include "app/app_context.h"

namespace kingyo {

ControlPanel::ControlPanel(AppContext &context, QWidget *parent) : QWidget(parent), context_(context)
{
    setObjectName(QStringLiteral("Form2"));
}

} // namespace kingyo
