#include "fish/bowl_tick.h"
#include "support/fakes.h"

#include <gtest/gtest.h>
#include <vector>

namespace kingyo {
namespace {

using testing::ScriptedRandom;

// A 1280 x 800 pixel screen at 15 twips per pixel, and the 1500-twip bowl.
const TwipsRect kScreen{0, 0, 19200, 12000};

TwipsRect bowlAt(float left, float top) { return {left, top, kBowlPictureTwips, kBowlPictureTwips}; }

struct ReloadCase {
    float r;
    int steps;
};

TEST(BowlTick, ReloadRoundsTiesToEven)
{
    // (r * 10 + 3) * 2: 8.5 -> 8, 13.5 -> 14, 10.5 -> 10, 12.5 -> 12, 25.99... -> 26.
    for (const ReloadCase c : {ReloadCase{0.0f, 6}, {0.125f, 8}, {0.375f, 14}, {0.225f, 10}, {0.325f, 12},
                               {0.25f, 11}, {0.5f, 16}, {0.9999999f, 26}})
        EXPECT_EQ(BowlTick::reloadSteps(c.r), c.steps) << c.r;
}

TEST(BowlTick, FirstTickReloadsThenCountsDown)
{
    for (const ReloadCase c : {ReloadCase{0.0f, 5}, {0.9999999f, 25}, {0.125f, 7}}) {
        ScriptedRandom random;
        random.queue(c.r);
        BowlTick tick(random);
        tick.tick(bowlAt(3000, 3000), kScreen);
        EXPECT_EQ(tick.stepCount(), c.steps) << c.r;
        EXPECT_EQ(tick.moveX(), 0);
        EXPECT_EQ(tick.moveY(), 0);
        EXPECT_EQ(random.log(), "r");
    }
}

TEST(BowlTick, DrawsOnlyWhenTheCountIsUsedUp)
{
    ScriptedRandom random;
    random.queue(0.0f); // 6 steps
    random.queue(0.0f);
    BowlTick tick(random);
    for (int i = 0; i < 6; ++i)
        tick.tick(bowlAt(3000, 3000), kScreen);
    EXPECT_EQ(random.log(), "r");
    EXPECT_EQ(tick.stepCount(), 0);
    tick.tick(bowlAt(3000, 3000), kScreen);
    EXPECT_EQ(random.log(), "rr");
    EXPECT_EQ(tick.stepCount(), 5);
}

TEST(BowlTick, SlotsAlternateAndTheParityCanRepeatAcrossAReload)
{
    ScriptedRandom random;
    random.queue(0.125f); // 8 steps: counts 7..0
    random.queue(0.25f);  // 11 steps: counts 10, 9, ...
    BowlTick tick(random);
    std::vector<int> chosen;
    for (int i = 0; i < 11; ++i)
        chosen.push_back(tick.tick(bowlAt(3000, 3000), kScreen).slot);
    const std::vector<int> expected{1, 0, 1, 0, 1, 0, 1, 0, 0, 1, 0};
    EXPECT_EQ(chosen, expected);
}

struct SlotCase {
    std::int16_t stepCount;
    std::int16_t moveX;
    std::int16_t moveY;
    int slot;
};

TEST(BowlTick, SlotFromParityAndDirection)
{
    for (const SlotCase c : {SlotCase{4, 0, 0, 0}, {5, 0, 0, 1}, {2, 15, 0, 2}, {3, 15, 0, 3}, {0, 0, -15, 4},
                             {1, -15, -15, 5}, {6, 1, -1, 6}, {25, 30, -30, 7}, {7, -15, 15, 1}})
        EXPECT_EQ(BowlTick::slotFor(c.stepCount, c.moveX, c.moveY), c.slot)
            << c.stepCount << " " << c.moveX << " " << c.moveY;
}

struct ClampCase {
    const char *name;
    TwipsRect window;
    TwipsRect screen;
    std::int32_t left;
    std::int32_t top;
};

TEST(BowlTick, KeepsTheWindowOnTheScreen)
{
    const ClampCase cases[] = {
        {"inside", bowlAt(3000, 4500), kScreen, 3000, 4500},
        {"past left", bowlAt(-150, 4500), kScreen, 0, 4500},
        {"past top", bowlAt(3000, -15), kScreen, 3000, 0},
        {"past right", bowlAt(18000, 4500), kScreen, 17700, 4500},
        {"past bottom", bowlAt(3000, 11000), kScreen, 3000, 10500},
        {"past bottom right", bowlAt(30000, 30000), kScreen, 17700, 10500},
        {"past top left", bowlAt(-3000, -3000), kScreen, 0, 0},
        {"flush right and bottom", bowlAt(17700, 10500), kScreen, 17700, 10500},
        {"flush left and top", bowlAt(0, 0), kScreen, 0, 0},
        {"wider and taller than the screen", bowlAt(200, -300), {0, 0, 1000, 1200}, -500, -300},
        {"half twips round to even", bowlAt(3000.5f, 3001.5f), kScreen, 3000, 3002},
        {"screen not at the origin", bowlAt(1000, 30000), {1500, -600, 19200, 12000}, 1500, 9900},
    };
    for (const ClampCase &c : cases) {
        ScriptedRandom random;
        BowlTick tick(random);
        const BowlStep step = tick.tick(c.window, c.screen);
        EXPECT_EQ(step.left, c.left) << c.name;
        EXPECT_EQ(step.top, c.top) << c.name;
    }
}

TEST(BowlTick, PixelsToTwipsAtTheScreensScale)
{
    TwipsScale scale; // 96 DPI
    const TwipsRect at96 = pixelsToTwips(QRect(-2, 3, 1280, 800), scale);
    EXPECT_EQ((std::vector<float>{at96.left, at96.top, at96.width, at96.height}),
              (std::vector<float>{-30, 45, 19200, 12000}));
    scale.perPixelX = 1440.0 / 120; // 120 DPI
    scale.perPixelY = 1440.0 / 144;
    const TwipsRect at120 = pixelsToTwips(QRect(10, 10, 100, 100), scale);
    EXPECT_EQ((std::vector<float>{at120.left, at120.top, at120.width, at120.height}),
              (std::vector<float>{120, 100, 1200, 1000}));
}

TEST(BowlTick, StepMovesBeforeTheClamp)
{
    EXPECT_EQ(BowlTick::clampToScreen(3000, 45, 1500, 0, 19200), 3045);
    EXPECT_EQ(BowlTick::clampToScreen(30, -45, 1500, 0, 19200), 0);
    EXPECT_EQ(BowlTick::clampToScreen(17690, 15, 1500, 0, 19200), 17700);
}

} // namespace
} // namespace kingyo
