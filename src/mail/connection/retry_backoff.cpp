#include "mail/connection/retry_backoff.h"

#include <algorithm>
#include <cmath>

namespace kingyo {

RetryBackoff::RetryBackoff(BackoffTimings timings, RandomSource &random)
    : timings_(timings), random_(random), step_(timings.first)
{
}

std::chrono::milliseconds RetryBackoff::next()
{
    const std::chrono::milliseconds step = step_;
    step_ = std::min(step_ * 2, timings_.longest);
    const double drawn = 1.0 + timings_.jitter * (2.0 * random_.next() - 1.0);
    return std::chrono::milliseconds(std::llround(double(step.count()) * drawn));
}

void RetryBackoff::reset()
{
    step_ = timings_.first;
}

} // namespace kingyo
