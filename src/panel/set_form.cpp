#include "panel/set_form.h"

#include "app/app_context.h"

namespace kingyo {

SetForm::SetForm(AppContext &context, QWidget *parent) : QWidget(parent), context_(context)
{
    setObjectName(QStringLiteral("SetForm"));
}

} // namespace kingyo
