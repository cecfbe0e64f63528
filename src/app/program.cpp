#include "app/app_context.h"

#include "mail/msg_form.h"
#include "panel/control_panel.h"
#include "panel/id_pass_form.h"
#include "panel/option_form.h"
#include "panel/set_form.h"

namespace kingyo {

void installWindowFactories(AppContext &context)
{
    context.controlPanel.setFactory([&context] { return new ControlPanel(context); });
    context.setForm.setFactory([&context] { return new SetForm(context); });
    context.idPassForm.setFactory([&context] { return new IdPassForm(context); });
    context.optionForm.setFactory([&context] { return new OptionForm(context); });
    context.msgForm.setFactory([&context] { return new MsgForm(context); });
}

} // namespace kingyo
