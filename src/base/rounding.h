#pragma once
#include <cmath>
#include <cstdint>
#include <limits>

namespace kingyo {

// Rounds half to even (as every conversion to an integer does) and clamps into the
// integer's range instead of overflowing; NaN gives 0.
template <typename Integer>
Integer roundClamped(double value)
{
    if (std::isnan(value))
        return 0;
    const double r = std::nearbyint(value);
    if (r <= std::numeric_limits<Integer>::min())
        return std::numeric_limits<Integer>::min();
    if (r >= std::numeric_limits<Integer>::max())
        return std::numeric_limits<Integer>::max();
    return static_cast<Integer>(r);
}

inline std::int16_t toInt16(double value) { return roundClamped<std::int16_t>(value); }
inline std::int32_t toInt32(double value) { return roundClamped<std::int32_t>(value); }

} // namespace kingyo
