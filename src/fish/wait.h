#pragma once
#include <cstdint>

namespace kingyo {

class Clock;

// Waits until strictly more than waitTime milliseconds have passed on the clock's
// monotonic time, letting every pending event run meanwhile: timers tick and clicks are
// handled inside the wait, even a click that starts another wait. Events are processed
// at least once, even for 0 or less. Between events it sleeps in a nested event loop.
void Wait(std::int32_t waitTime, const Clock &clock);

// The same on the system's clock.
void Wait(std::int32_t waitTime);

} // namespace kingyo
