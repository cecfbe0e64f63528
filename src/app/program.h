#pragma once
#include "app/app_paths.h"
#include "app/shared_state.h"
#include "app/window_holder.h"

namespace kingyo {

class BowlWindow;
class ControlPanel;
class SetForm;
class IdPassForm;
class OptionForm;
class MsgForm;
class MailLibrary;
class DialupHangup;
class RandomSource;
class Clock;

// Everything the windows share for the whole run: the settings in memory, where the
// files are, the services behind them, and the one instance of each window.
struct AppContext {
    SharedState state;
    AppPaths paths;

    RandomSource *random = nullptr;
    Clock *clock = nullptr;
    MailLibrary *mail = nullptr;
    DialupHangup *hangup = nullptr;

    BowlWindow *bowl = nullptr; // Form1, created at start-up, lives for the whole run
    WindowHolder<ControlPanel> controlPanel; // Form2
    WindowHolder<SetForm> setForm;
    WindowHolder<IdPassForm> idPassForm;
    WindowHolder<OptionForm> optionForm;
    WindowHolder<MsgForm> msgForm;
};

// Teaches each holder how to create its window from this context.
void installWindowFactories(AppContext &context);

} // namespace kingyo
