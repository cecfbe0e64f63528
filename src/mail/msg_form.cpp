#include "mail/msg_form.h"

#include "app/app_context.h"

namespace kingyo {

MsgForm::MsgForm(AppContext &context, QWidget *parent) : QWidget(parent), context_(context)
{
    setObjectName(QStringLiteral("MsgForm"));
}

} // namespace kingyo
