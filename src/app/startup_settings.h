#pragma once

namespace kingyo {

struct AppContext;

// The settings part of start-up, before the bowl first shows: the hang-up option into
// the settings window's box (only for 0 or 1), the server file into the shared state,
// the mail library started, and the server or account dialog opened when its
// settings are incomplete.
void loadSettingsAtStartup(AppContext &context);

} // namespace kingyo
