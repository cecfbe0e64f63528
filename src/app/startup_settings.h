#pragma once

namespace kingyo {

struct Program;

// The settings part of start-up, before the bowl first shows: the temporaries a crash
// left in the data folders removed, kingyo's autostart entry pointed at this copy when
// the copy it started moved, the hang-up option (only
// for 0 or 1) and the server file into the live settings,
// the mail library started, and the server or account dialog opened when its
// settings are incomplete.
void loadSettingsAtStartup(Program &program);

} // namespace kingyo
