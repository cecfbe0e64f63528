#include "fish/bowl_tick.h"

#include "base/random_source.h"
#include "base/rounding.h"

namespace kingyo {

TwipsRect pixelsToTwips(const QRect &pixels, const TwipsScale &scale)
{
    const auto x = static_cast<float>(scale.perPixelX);
    const auto y = static_cast<float>(scale.perPixelY);
    return {x * static_cast<float>(pixels.x()), y * static_cast<float>(pixels.y()),
            x * static_cast<float>(pixels.width()), y * static_cast<float>(pixels.height())};
}

std::int16_t BowlTick::reloadSteps(float r)
{
    const float steps = (r * 10.0f + 3.0f) * 2.0f;
    return toInt16(steps);
}

int BowlTick::slotFor(std::int16_t stepCount, std::int16_t moveX, std::int16_t moveY)
{
    return stepCount % 2 + 2 * (moveX > 0 ? 1 : 0) + 4 * (moveY < 0 ? 1 : 0);
}

std::int32_t BowlTick::clampToScreen(float position, std::int16_t step, float size, float areaStart,
                                     float areaSize)
{
    std::int32_t next = toInt32(position + static_cast<float>(step));
    if (static_cast<float>(next) < areaStart)
        next = toInt32(areaStart);
    if (size + static_cast<float>(next) > areaStart + areaSize)
        next = toInt32(areaStart + areaSize - size);
    return next;
}

BowlStep BowlTick::tick(const TwipsRect &window, const TwipsRect &screen)
{
    if (stepCount_ < 1) {
        stepCount_ = reloadSteps(random_.next());
        moveX_ = 0;
        moveY_ = 0;
    }
    --stepCount_;
    BowlStep step;
    step.left = clampToScreen(window.left, moveX_, window.width, screen.left, screen.width);
    step.top = clampToScreen(window.top, moveY_, window.height, screen.top, screen.height);
    step.slot = slotFor(stepCount_, moveX_, moveY_);
    return step;
}

} // namespace kingyo
