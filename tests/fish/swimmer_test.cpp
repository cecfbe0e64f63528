#include "fish/swimmer.h"

#include "support/fakes.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>

namespace kingyo {
namespace {

using testing::ScriptedRandom;
using testing::SteppingClock;

// The fish pictures at 15 twips per pixel: 29 x 25 pixels.
constexpr TwipSize kFish{435, 375};
constexpr TwipSize kBox{940, 585};
const FishFrameSizes kFrames{{kFish, kFish}, {kFish, kFish}};

// Direction values the wall test is tried with: the six courses, 6, and strays.
constexpr std::array<std::int16_t, 9> kCourses{-1, 0, 1, 2, 3, 4, 5, 6, 7};

struct Fixture {
    ScriptedRandom random;
    SteppingClock clock;
    Swimmer swimmer{random, clock, kFrames, kBox};

    void placeFish(float left, float top) { swimmer.setBody({left, top, kFish.width, kFish.height}); }
};

struct WallCase {
    const char *name;
    float left;
    float top;
    std::array<std::int16_t, 9> after; // for -1, 0, 1, 2, 3, 4, 5, 6, 7
};

// Names the case in test listings.
void PrintTo(const WallCase &c, std::ostream *out)
{
    *out << c.name;
}

// Each row places the fish so that the named walls are touched and lists the course
// the wall test leaves for every course it met.
const WallCase kWallCases[] = {
    {"open water", 200, 100, {-1, 0, 1, 2, 3, 4, 5, 6, 7}},
    {"just off the left wall", 61, 100, {-1, 0, 1, 2, 3, 4, 5, 6, 7}},
    {"left wall", 60, 100, {3, 3, 4, 5, 3, 3, 3, 3, 3}},
    {"beyond the left wall", -40, 100, {3, 3, 4, 5, 3, 3, 3, 3, 3}},
    {"just off the right wall", 474, 100, {-1, 0, 1, 2, 3, 4, 5, 6, 7}},
    {"right wall", 475, 100, {0, 0, 0, 0, 0, 1, 2, 0, 0}},
    {"just off the top wall", 200, 1, {-1, 0, 1, 2, 3, 4, 5, 6, 7}},
    {"top wall", 200, 0, {2, 2, 2, 2, 2, 5, 2, 2, 2}},
    {"beyond the top wall", 200, -80, {2, 2, 2, 2, 2, 5, 2, 2, 2}},
    {"just off the bottom wall", 200, 209, {-1, 0, 1, 2, 3, 4, 5, 6, 7}},
    {"bottom wall", 200, 210, {1, 1, 1, 1, 1, 1, 4, 1, 1}},
    // Corners: the rules run in order, each on the course the one before left.
    {"top-left corner", 40, 0, {2, 2, 5, 2, 2, 2, 2, 2, 2}},
    {"bottom-left corner", 40, 240, {1, 1, 1, 4, 1, 1, 1, 1, 1}},
    {"top-right corner", 520, 0, {2, 2, 2, 2, 2, 2, 2, 2, 2}},
    {"bottom-right corner", 520, 240, {1, 1, 1, 1, 1, 1, 1, 1, 1}},
};

class WallTest : public ::testing::TestWithParam<WallCase> {};

TEST_P(WallTest, TurnsEveryCourseAsTheWallsSay)
{
    const WallCase &wall = GetParam();
    for (std::size_t i = 0; i < kCourses.size(); ++i) {
        Fixture f;
        f.placeFish(wall.left, wall.top);
        f.swimmer.setDirection(kCourses[i]);
        f.swimmer.atari();
        EXPECT_EQ(f.swimmer.direction(), wall.after[i]) << "course " << kCourses[i];
        EXPECT_EQ(f.swimmer.body().left, wall.left) << "the wall test never moves the fish";
        EXPECT_EQ(f.swimmer.body().top, wall.top);
    }
}

INSTANTIATE_TEST_SUITE_P(Atari, WallTest, ::testing::ValuesIn(kWallCases), [](const auto &info) {
    std::string name = info.param.name;
    for (char &c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
});

TEST(Atari, LeftRuleRunsBeforeRightRuleInANarrowBox)
{
    // A box so narrow that the fish touches both side walls: the right wall has the last word.
    ScriptedRandom random;
    SteppingClock clock;
    Swimmer swimmer(random, clock, kFrames, TwipSize{500, 5000});
    const std::array<std::int16_t, 9> after{0, 0, 1, 2, 0, 0, 0, 0, 0};
    for (std::size_t i = 0; i < kCourses.size(); ++i) {
        swimmer.setBody({40, 1000, kFish.width, kFish.height});
        swimmer.setDirection(kCourses[i]);
        swimmer.atari();
        EXPECT_EQ(swimmer.direction(), after[i]) << "course " << kCourses[i];
    }
}

struct RoutineCase {
    const char *name;
    FishFrame (Swimmer::*routine)();
    float dLeft;
    float dTop;
    Facing facing;
};

const RoutineCase kRoutines[] = {
    {"hidari", &Swimmer::hidari, -80, 0, Facing::Left},
    {"hidariue", &Swimmer::hidariue, -80, -80, Facing::Left},
    {"hidarisita", &Swimmer::hidarisita, -80, 80, Facing::Left},
    {"migi", &Swimmer::migi, 80, 0, Facing::Right},
    {"migiue", &Swimmer::migiue, 80, -80, Facing::Right},
    {"migisita", &Swimmer::migisita, 80, 80, Facing::Right},
};

TEST(Routines, StepEightyTwipsAndShowTheCurrentFrameOfTheirFacing)
{
    const FishFrameSizes distinct{{TwipSize{100, 10}, TwipSize{101, 11}}, {TwipSize{200, 20}, TwipSize{201, 21}}};
    for (const RoutineCase &c : kRoutines) {
        for (std::int16_t toggle : {0, 1}) {
            ScriptedRandom random;
            SteppingClock clock;
            Swimmer swimmer(random, clock, distinct, kBox);
            swimmer.setBody({360, 240, 0, 0});
            swimmer.setFrameToggle(toggle);
            const FishFrame shown = (swimmer.*c.routine)();
            EXPECT_EQ(shown, (FishFrame{c.facing, toggle})) << c.name;
            EXPECT_EQ(swimmer.frameToggle(), 1 - toggle) << c.name;
            EXPECT_EQ(swimmer.body().left, 360 + c.dLeft) << c.name;
            EXPECT_EQ(swimmer.body().top, 240 + c.dTop) << c.name;
            const TwipSize size = distinct.of(shown);
            EXPECT_EQ(swimmer.body().width, size.width) << c.name << ": the picture sizes the fish";
            EXPECT_EQ(swimmer.body().height, size.height) << c.name;
        }
    }
}

TEST(SwimTick, FramesAlternateAcrossATurn)
{
    Fixture f;
    f.placeFish(300, 100);
    f.swimmer.setDirection(0);
    EXPECT_EQ(f.swimmer.swimTick(), (FishFrame{Facing::Left, 0}));
    f.swimmer.setDirection(3); // a random turn between ticks
    EXPECT_EQ(f.swimmer.swimTick(), (FishFrame{Facing::Right, 1}));
    EXPECT_EQ(f.swimmer.swimTick(), (FishFrame{Facing::Right, 0}));
    f.swimmer.setDirection(1);
    EXPECT_EQ(f.swimmer.swimTick(), (FishFrame{Facing::Left, 1}));
}

TEST(SwimTick, StrayCoursesSwimLeft)
{
    for (std::int16_t course : {0, 6, 7, -1, 32767}) {
        Fixture f;
        f.placeFish(300, 100);
        f.swimmer.setDirection(course);
        EXPECT_EQ(f.swimmer.swimTick().facing, Facing::Left) << course;
        EXPECT_EQ(f.swimmer.body().left, 220) << course;
        EXPECT_EQ(f.swimmer.body().top, 100) << course;
    }
}

TEST(SwimTick, StepsWithTheCourseBeforeTheWallTestTurnsIt)
{
    // The clock tick sent the fish up while it touches the top: one step beyond, then the turn.
    Fixture f;
    f.placeFish(200, 0);
    f.swimmer.setDirection(1);
    f.swimmer.swimTick();
    EXPECT_EQ(f.swimmer.body().top, -80);
    EXPECT_EQ(f.swimmer.direction(), 2);
}

struct FirstTickCase {
    std::int16_t start;
    float left;
    float top;
    std::int16_t course;
};

TEST(SwimTick, FirstTickFromTheDesignedStart)
{
    // Image1 starts at 360, 240 with no picture; after the first picture it touches the bottom.
    const FirstTickCase cases[] = {
        {0, 280, 240, 1}, {1, 280, 160, 1}, {2, 280, 320, 1},
        {3, 440, 240, 1}, {4, 440, 160, 4}, {5, 440, 320, 4},
    };
    for (const FirstTickCase &c : cases) {
        Fixture f;
        f.random.queue((c.start + 0.5f) / 6);
        f.swimmer.start();
        ASSERT_EQ(f.swimmer.direction(), c.start);
        f.swimmer.swimTick();
        EXPECT_EQ(f.swimmer.body().left, c.left) << "start " << c.start;
        EXPECT_EQ(f.swimmer.body().top, c.top) << "start " << c.start;
        EXPECT_EQ(f.swimmer.direction(), c.course) << "start " << c.start;
    }
}

TEST(Start, DrawsACourseFromZeroToFiveAfterReseeding)
{
    const std::pair<float, std::int16_t> cases[] = {
        {0.0f, 0}, {0.1666f, 0}, {1.0f / 6, 1}, {0.5f, 3}, {0.8333f, 4}, {std::nextafter(1.0f, 0.0f), 5},
    };
    for (auto [r, course] : cases) {
        Fixture f;
        f.swimmer.setFrameToggle(1);
        f.random.queue(r);
        f.swimmer.start();
        EXPECT_EQ(f.swimmer.direction(), course) << r;
        EXPECT_EQ(f.swimmer.frameToggle(), 0);
        EXPECT_EQ(f.random.log(), "Sr");
    }
}

struct ClockCase {
    int second;
    float r;
    std::int16_t course; // 9: unchanged
};

TEST(ClockTick, NewCourseOnMultiplesOfFiveRoundedHalfToEven)
{
    const ClockCase cases[] = {
        {0, 0.0f, 0},
        {5, std::nextafter(1.0f / 12, 0.0f), 0}, // 6r just under 0.5
        {10, 1.0f / 12, 1},                      // the float nearest 1/12 lies above it
        {15, 0.25f, 2},                          // 6r = 1.5 exactly: to even
        {20, 0.5f, 3},
        {35, 5.0f / 12, 2},                      // 6r just under 2.5
        {40, 7.0f / 12, 3},                      // 6r just under 3.5
        {25, 0.75f, 4},                          // 6r = 4.5 exactly: to even
        {30, std::nextafter(11.0f / 12, 0.0f), 5},
        {55, 11.0f / 12, 6},                     // 6r just over 5.5
        {50, std::nextafter(1.0f, 0.0f), 6},
    };
    for (const ClockCase &c : cases) {
        Fixture f;
        f.swimmer.setDirection(9);
        f.clock.second = c.second;
        f.random.queue(c.r);
        f.swimmer.clockTick();
        EXPECT_EQ(f.swimmer.lastSecond(), c.second);
        EXPECT_EQ(f.swimmer.direction(), c.course) << "r = " << c.r;
        EXPECT_EQ(f.random.log(), "Sr");
    }
}

TEST(ClockTick, OtherSecondsOnlyNoteTheSecond)
{
    for (int second : {1, 3, 4, 13, 53, 59}) {
        Fixture f;
        f.swimmer.setDirection(4);
        f.clock.second = second;
        f.swimmer.clockTick();
        EXPECT_EQ(f.swimmer.lastSecond(), second);
        EXPECT_EQ(f.swimmer.direction(), 4);
        EXPECT_EQ(f.random.log(), "");
    }
}

TEST(Swimming, StaysOnTheGridAndWithinOneStepOfTheWalls)
{
    // A long swim with random turns: Left is 360 plus steps, Top 240 plus steps, and the
    // fish strays at most one step past a wall, except that a fish a random turn put past
    // the left wall in a corner is sent on left by the top or bottom rule (which act
    // after the left rule): one step more there.
    Fixture f;
    std::mt19937 engine(7);
    std::uniform_int_distribution<int> course(0, 6);
    f.swimmer.setFrameToggle(0);
    for (int tick = 0; tick < 5000; ++tick) {
        if (tick % 37 == 0) f.swimmer.setDirection(static_cast<std::int16_t>(course(engine)));
        f.swimmer.swimTick();
        const TwipsRect &b = f.swimmer.body();
        ASSERT_EQ(std::fmod(b.left - 360, 80.0f), 0) << tick;
        ASSERT_EQ(std::fmod(b.top - 240, 80.0f), 0) << tick;
        ASSERT_GE(b.left, 40 - 2 * 80) << tick;
        ASSERT_LE(b.left, 520 + 80) << tick;
        ASSERT_GE(b.top, 0 - 80) << tick;
        ASSERT_LE(b.top, 240 + 80) << tick;
    }
}

} // namespace
} // namespace kingyo
