#pragma once
#include <cmath>
#include <cstdint>
#include <limits>

namespace kingyo {

// Conversions to integers round to the nearest integer, ties to even.
inline double roundHalfEven(double value) { return std::nearbyint(value); }

// Rounds half to even and clamps into the 16-bit signed range instead of overflowing.
inline std::int16_t toInt16(double value)
{
    if (std::isnan(value)) return 0;
    const double r = std::nearbyint(value);
    if (r <= std::numeric_limits<std::int16_t>::min()) return std::numeric_limits<std::int16_t>::min();
    if (r >= std::numeric_limits<std::int16_t>::max()) return std::numeric_limits<std::int16_t>::max();
    return static_cast<std::int16_t>(r);
}

// Rounds half to even and clamps into the 32-bit signed range.
inline std::int32_t toInt32(double value)
{
    if (std::isnan(value)) return 0;
    const double r = std::nearbyint(value);
    if (r <= std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
    if (r >= std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(r);
}

} // namespace kingyo
