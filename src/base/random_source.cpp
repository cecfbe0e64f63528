#include "base/random_source.h"

#include <chrono>

namespace kingyo {

void SystemRandom::reseed()
{
    engine_.seed(static_cast<std::mt19937::result_type>(
        std::chrono::system_clock::now().time_since_epoch().count()));
}

float SystemRandom::next()
{
    // generate_canonical can return 1.0 through rounding; keep the half-open range.
    std::uniform_real_distribution<float> dist(0.0f, 1.0f);
    float r = dist(engine_);
    return r < 1.0f ? r : 0.0f;
}

} // namespace kingyo
