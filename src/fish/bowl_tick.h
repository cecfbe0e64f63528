#pragma once
#include "base/twips.h"

#include <cstdint>

namespace kingyo {

class RandomSource;

// Picture1(0), the bowl picture the window takes its size from, in twips (100 pixels
// at 15 twips per pixel).
inline constexpr float kBowlPictureTwips = 1500.0f;

// A rectangle of whole screen pixels in twips at this scale.
TwipsRect pixelsToTwips(const QRect &pixels, const TwipsScale &scale);

// What one bowl tick decides: the window's new top-left corner in twips and the
// region slot that becomes its shape.
struct BowlStep {
    std::int32_t left = 0;
    std::int32_t top = 0;
    int slot = 0;
};

// The bowl window's once-a-second step: counts down a random number of steps, moves
// the window by its per-tick step, keeps it entirely on the screen and picks the
// outline for the window's shape.
class BowlTick {
public:
    explicit BowlTick(RandomSource &random) : random_(random) {}

    // window: the window's position and frame size; screen: the whole primary screen.
    BowlStep tick(const TwipsRect &window, const TwipsRect &screen);

    std::int16_t stepCount() const { return stepCount_; }
    std::int16_t moveX() const { return moveX_; }
    std::int16_t moveY() const { return moveY_; }

    // Alternates with the step count; the direction of travel picks the picture set.
    static int slotFor(std::int16_t stepCount, std::int16_t moveX, std::int16_t moveY);
    // The reload value for a random number r in [0, 1): 6 to 26.
    static std::int16_t reloadSteps(float r);
    // Puts [position, position + size) inside [areaStart, areaStart + areaSize): the
    // start edge first, then the end edge, so an oversized frame ends flush at the end.
    static std::int32_t clampToScreen(float position, std::int16_t step, float size, float areaStart,
                                      float areaSize);

private:
    RandomSource &random_;
    std::int16_t stepCount_ = 0;
    std::int16_t moveX_ = 0;
    std::int16_t moveY_ = 0;
};

} // namespace kingyo
