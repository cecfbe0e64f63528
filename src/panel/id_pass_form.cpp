#include "panel/id_pass_form.h"

#include "app/app_context.h"

namespace kingyo {

IdPassForm::IdPassForm(AppContext &context, QWidget *parent) : QWidget(parent), context_(context)
{
    setObjectName(QStringLiteral("IdPassForm"));
}

} // namespace kingyo
