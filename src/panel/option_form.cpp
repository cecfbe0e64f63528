#include "panel/option_form.h"

#include "app/app_context.h"

namespace kingyo {

OptionForm::OptionForm(AppContext &context, QWidget *parent) : QWidget(parent), context_(context)
{
    setObjectName(QStringLiteral("OptionForm"));
}

} // namespace kingyo
