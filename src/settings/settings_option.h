#pragma once
#include "settings/settings_storage.h"

#include <optional>

namespace kingyo {

struct AppPaths;

// The hang-up option in the option file: key "NUMBER" of section "EXEINI", 0 when
// missing. Only 0 and 1 mean something; callers leave the box alone for other values.
int readHangupOption(const AppPaths &paths);

// The mail watcher's options, kept beside "NUMBER" in section "EXEINI": "NEWONLY" (1:
// count only new mail), "INTERVAL" (minutes between checks by themselves, 0 off) and
// "NOTIFY" (0: no desktop notification). Missing or unreadable keys keep the defaults.
struct MailWatchOptions {
    static constexpr int kMaxIntervalMinutes = 1440;
    bool countNewOnly = false;
    int intervalMinutes = 0; // 0..kMaxIntervalMinutes
    bool notify = true;
    bool operator==(const MailWatchOptions &) const = default;
};

MailWatchOptions readMailWatchOptions(const AppPaths &paths);

// Stores "NUMBER" ("1" or "0") and, when given, the mail watcher's three keys, in one
// write, every other line as it was; false, saying why, when nothing was stored (for
// example, no data folder).
WriteResult writeOptionFile(const AppPaths &paths, bool hangUp, const std::optional<MailWatchOptions> &mailWatch);

} // namespace kingyo
