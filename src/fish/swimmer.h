#pragma once
#include "base/twips.h"

#include <array>
#include <cstdint>

namespace kingyo {

class Clock;
class RandomSource;

// A size in twips, in single precision like every position of the bowl.
struct TwipSize {
    float width = 0;
    float height = 0;
};

enum class Facing { Left, Right };

// Which of the four fish pictures is on show: Image2(index) faces left, Image3(index) right.
struct FishFrame {
    Facing facing = Facing::Left;
    std::int16_t index = 0;

    bool operator==(const FishFrame &) const = default;
};

// What a frame picks from a pair facing left and a pair facing right; any index but 1
// reads as 0.
template <class T>
const T &pickFrame(const std::array<T, 2> &left, const std::array<T, 2> &right, FishFrame frame)
{
    return (frame.facing == Facing::Left ? left : right)[frame.index == 1 ? 1 : 0];
}

// The twip size each fish picture gives Image1 when it is assigned.
struct FishFrameSizes {
    std::array<TwipSize, 2> left;
    std::array<TwipSize, 2> right;

    TwipSize of(FishFrame frame) const;
};

// The small fish in the water box: its course, its pose and its place. Screen-free;
// the bowl's timers call swimTick and clockTick, the widgets show what it says.
class Swimmer {
public:
    Swimmer(RandomSource &random, const Clock &clock, FishFrameSizes frames, TwipSize box);

    // What start-up does for the fish: first pose, and a course drawn from 0..5.
    void start();

    // One step by the routine for Direction, then the wall test. Returns the picture shown.
    FishFrame swimTick();
    // Samples the seconds; on multiples of five a new course, 0..6.
    void clockTick();

    // The six direction routines: show the next frame, step 80 twips.
    FishFrame hidari();
    FishFrame hidariue();
    FishFrame hidarisita();
    FishFrame migi();
    FishFrame migiue();
    FishFrame migisita();
    // The wall test: turns the fish at the box's walls, never moves it.
    void atari();

    std::int16_t direction() const { return direction_; }
    std::int16_t frameToggle() const { return frameToggle_; }
    std::int16_t lastSecond() const { return lastSecond_; }
    const TwipsRect &body() const { return body_; }
    bool facesRight() const;

    void setDirection(std::int16_t direction) { direction_ = direction; }
    void setFrameToggle(std::int16_t toggle) { frameToggle_ = toggle; }
    void setBody(const TwipsRect &body) { body_ = body; }

private:
    FishFrame step(Facing facing, float dLeft, float dTop);

    RandomSource &random_;
    const Clock &clock_;
    FishFrameSizes frames_;
    TwipSize box_;

    std::int16_t direction_ = 0;
    std::int16_t frameToggle_ = 0;
    std::int16_t lastSecond_ = 0;
    // Image1 starts at Left 360, Top 240 in the box, without a picture (so without a size).
    TwipsRect body_{360, 240, 0, 0};
};

} // namespace kingyo
