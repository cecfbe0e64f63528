#pragma once
#include "base/random_source.h"

#include <chrono>

namespace kingyo {

struct BackoffTimings {
    std::chrono::milliseconds first{std::chrono::seconds(2)};
    std::chrono::milliseconds longest{std::chrono::minutes(5)};
    double jitter = 0.2; // each wait lies within this share either side of its step
};

// The waits between attempts to reach a server that keeps failing: each step twice the
// one before, up to the longest; each wait drawn around its step, so that clients cut
// off together do not all come back in the same second.
class RetryBackoff {
public:
    RetryBackoff(BackoffTimings timings, RandomSource &random);

    // The wait before the next attempt; the step after it is longer.
    std::chrono::milliseconds next();
    // The next wait is around the first step again.
    void reset();

private:
    BackoffTimings timings_;
    RandomSource &random_;
    std::chrono::milliseconds step_;
};

} // namespace kingyo
