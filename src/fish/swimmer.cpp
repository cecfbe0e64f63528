#include "fish/swimmer.h"

#include "base/clock.h"
#include "base/random_source.h"
#include "base/rounding.h"

#include <algorithm>
#include <cmath>

namespace kingyo {

namespace {

constexpr float kStep = 80;
constexpr float kLeftMargin = 60;
constexpr float kRightMargin = 30;

// Every reader takes a course outside 1..5 as 0 (straight left).
std::int16_t normalised(std::int16_t direction) { return direction >= 1 && direction <= 5 ? direction : 0; }

} // namespace

TwipSize FishFrameSizes::of(FishFrame frame) const { return pickFrame(left, right, frame); }

Swimmer::Swimmer(RandomSource &random, const Clock &clock, FishFrameSizes frames, TwipSize box)
    : random_(random), clock_(clock), frames_(frames), box_(box)
{
}

void Swimmer::start()
{
    frameToggle_ = 0;
    random_.reseed();
    // The float product stays below 6 for r < 1; the clamp only guards a generator that breaks that.
    direction_ = static_cast<std::int16_t>(std::min(5.0, std::floor(6.0 * random_.next())));
}

FishFrame Swimmer::swimTick()
{
    FishFrame shown;
    switch (normalised(direction_)) {
    case 1: shown = hidariue(); break;
    case 2: shown = hidarisita(); break;
    case 3: shown = migi(); break;
    case 4: shown = migiue(); break;
    case 5: shown = migisita(); break;
    default: shown = hidari(); break;
    }
    atari();
    return shown;
}

void Swimmer::clockTick()
{
    lastSecond_ = static_cast<std::int16_t>(clock_.localSecond());
    if (lastSecond_ % 5 != 0) return;
    random_.reseed();
    // Half to even: 0 and 6 each get half a unit and both mean "left".
    direction_ = toInt16(6.0 * random_.next());
}

FishFrame Swimmer::hidari() { return step(Facing::Left, -kStep, 0); }
FishFrame Swimmer::hidariue() { return step(Facing::Left, -kStep, -kStep); }
FishFrame Swimmer::hidarisita() { return step(Facing::Left, -kStep, kStep); }
FishFrame Swimmer::migi() { return step(Facing::Right, kStep, 0); }
FishFrame Swimmer::migiue() { return step(Facing::Right, kStep, -kStep); }
FishFrame Swimmer::migisita() { return step(Facing::Right, kStep, kStep); }

FishFrame Swimmer::step(Facing facing, float dLeft, float dTop)
{
    const FishFrame shown{facing, frameToggle_};
    const TwipSize size = frames_.of(shown);
    body_.width = size.width;
    body_.height = size.height;

    frameToggle_ = static_cast<std::int16_t>(frameToggle_ + 1);
    if (frameToggle_ == 2) frameToggle_ = 0;

    body_.left = body_.left + dLeft;
    body_.top = body_.top + dTop;
    return shown;
}

void Swimmer::atari()
{
    // Each rule reads the fish afresh and works on the course the rules before it left.
    if (body_.left <= kLeftMargin) {
        const std::int16_t d = direction_;
        direction_ = d == 1 ? 4 : d == 2 ? 5 : 3;
    }
    if (static_cast<float>(body_.left + body_.width + kRightMargin) >= box_.width) {
        const std::int16_t d = direction_;
        direction_ = d == 4 ? 1 : d == 5 ? 2 : 0;
    }
    if (body_.top <= 0) {
        direction_ = direction_ == 4 ? 5 : 2;
    }
    if (static_cast<float>(body_.top + body_.height) >= box_.height) {
        direction_ = direction_ == 5 ? 4 : 1;
    }
}

bool Swimmer::facesRight() const
{
    const std::int16_t d = normalised(direction_);
    return d >= 3;
}

} // namespace kingyo
