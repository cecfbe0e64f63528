#pragma once

namespace kingyo {

// Starts kingyo: the bowl window, its timers and the settings; returns the exit code.
int runApplication(int argc, char **argv);

} // namespace kingyo
