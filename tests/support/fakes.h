#pragma once
#include "base/clock.h"
#include "base/random_source.h"

#include <chrono>
#include <deque>
#include <string>

namespace kingyo::testing {

// Hands out the numbers a test queued and notes reseeds and draws in order.
class ScriptedRandom final : public RandomSource {
public:
    void queue(float r) { values_.push_back(r); }
    void reseed() override { log_ += 'S'; }
    float next() override
    {
        log_ += 'r';
        if (values_.empty()) return 0;
        const float r = values_.front();
        values_.pop_front();
        return r;
    }
    // "S" for each reseed and "r" for each draw, in the order they happened.
    const std::string &log() const { return log_; }

private:
    std::deque<float> values_;
    std::string log_;
};

// A wall-clock second set by the test, and a monotonic time that moves by a fixed
// stride each time it is read (not at all with no stride) and when the test says so.
class SteppingClock final : public Clock {
public:
    explicit SteppingClock(std::chrono::nanoseconds stride = {}) : stride_(stride) {}
    void setStride(std::chrono::nanoseconds stride) { stride_ = stride; }
    void advance(std::chrono::nanoseconds by) { now_ += by; }
    int second = 0;
    int localSecond() const override { return second; }
    std::chrono::steady_clock::time_point now() const override
    {
        ++reads_;
        const auto at = now_;
        now_ += stride_;
        return at;
    }
    int reads() const { return reads_; }

private:
    std::chrono::nanoseconds stride_;
    mutable std::chrono::steady_clock::time_point now_{};
    mutable int reads_ = 0;
};

} // namespace kingyo::testing
