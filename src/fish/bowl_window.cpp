#include "fish/bowl_window.h"

#include "app/app_context.h"

namespace kingyo {

BowlWindow::BowlWindow(AppContext &context, QWidget *parent) : QWidget(parent), context_(context)
{
    setObjectName(QStringLiteral("Form1"));
}

} // namespace kingyo
