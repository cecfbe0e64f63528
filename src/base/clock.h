#pragma once
#include <chrono>

namespace kingyo {

// Time as the program sees it: the seconds of the local wall clock for the fish's
// moods, and a monotonic clock for waits. Tests inject a fake.
class Clock {
public:
    virtual ~Clock() = default;
    virtual int localSecond() const = 0; // 0..59
    virtual std::chrono::steady_clock::time_point now() const = 0;
};

class SystemClock final : public Clock {
public:
    int localSecond() const override;
    std::chrono::steady_clock::time_point now() const override { return std::chrono::steady_clock::now(); }
};

} // namespace kingyo
