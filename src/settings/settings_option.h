#pragma once

namespace kingyo {

struct AppPaths;

// The hang-up option in the option file: key "NUMBER" of section "EXEINI", 0 when
// missing. Only 0 and 1 mean something; callers leave the box alone for other values.
int readHangupOption(const AppPaths &paths);

// Stores "1" or "0"; false when nothing was stored (for example, no data folder).
bool writeHangupOption(const AppPaths &paths, bool hangUp);

} // namespace kingyo
