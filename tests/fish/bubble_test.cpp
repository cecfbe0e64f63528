#include "fish/bubble.h"

#include "support/fakes.h"

#include <gtest/gtest.h>

#include <set>

namespace kingyo {
namespace {

using testing::ScriptedRandom;
using testing::SteppingClock;

constexpr TwipSize kFish{435, 375};
constexpr TwipSize kBubble{210, 300}; // 14 x 20 pixels at 15 twips per pixel
const FishFrameSizes kFrames{{kFish, kFish}, {kFish, kFish}};

struct Fixture {
    ScriptedRandom random;
    SteppingClock clock;
    Swimmer fish{random, clock, kFrames, TwipSize{940, 585}};
    Bubble bubble{kBubble};

    void tickClockAt(int second)
    {
        clock.second = second;
        fish.clockTick();
    }
};

TEST(Bubble, ReleasedOnlyOnTheListedSeconds)
{
    const std::set<int> releasing{3, 13, 23, 33, 43, 53};
    for (int second = 0; second < 60; ++second) {
        Fixture f;
        f.random.queue(0.5f);
        f.tickClockAt(second);
        f.fish.setBody({200, 100, kFish.width, kFish.height});
        EXPECT_EQ(f.bubble.release(f.fish), releasing.count(second) == 1) << second;
        EXPECT_EQ(f.bubble.isVisible(), releasing.count(second) == 1) << second;
    }
}

TEST(Bubble, NothingBeforeTheFirstClockTick)
{
    Fixture f;
    EXPECT_FALSE(f.bubble.release(f.fish));
    EXPECT_EQ(f.bubble.rect().left, 3120);
}

TEST(Bubble, PlacedAtTheMouthTheCourseFacesTo)
{
    // Course -> the bubble's Left for a fish at Left 520, Top 0.
    const std::pair<std::int16_t, float> cases[] = {
        {0, 310}, {1, 310}, {2, 310}, {3, 955}, {4, 955}, {5, 955}, {6, 310}, {-1, 310}, {7, 310},
    };
    for (auto [course, left] : cases) {
        Fixture f;
        f.tickClockAt(23);
        f.fish.setBody({520, 0, kFish.width, kFish.height});
        f.fish.setDirection(course);
        ASSERT_TRUE(f.bubble.release(f.fish));
        EXPECT_EQ(f.bubble.rect().left, left) << "course " << course;
        EXPECT_EQ(f.bubble.rect().top, 93.75f) << "course " << course;
    }
}

TEST(Bubble, FollowsTheCourseNotThePictureOnShow)
{
    // Swimming right into the right wall: the picture still faces right, the course is left.
    Fixture f;
    f.tickClockAt(43);
    f.fish.setBody({440, 160, kFish.width, kFish.height});
    f.fish.setDirection(3);
    const FishFrame shown = f.fish.swimTick();
    ASSERT_EQ(shown.facing, Facing::Right);
    ASSERT_EQ(f.fish.direction(), 0);
    ASSERT_TRUE(f.bubble.release(f.fish));
    EXPECT_EQ(f.bubble.rect().left, 520 - 210) << "beside the tail, on the left";
}

TEST(Bubble, RisesOutOfTheBoxInFiveSteps)
{
    Fixture f;
    f.tickClockAt(3);
    f.fish.setBody({200, 0, kFish.width, kFish.height});
    ASSERT_TRUE(f.bubble.release(f.fish));
    ASSERT_EQ(f.bubble.rect().top, 93.75f);
    for (int rise = 1; rise <= 4; ++rise) {
        f.bubble.rise();
        EXPECT_GT(f.bubble.rect().top + f.bubble.rect().height, 0) << "still in the box after " << rise;
    }
    f.bubble.rise();
    EXPECT_EQ(f.bubble.rect().top, 93.75f - 5 * 80);
    EXPECT_LT(f.bubble.rect().top + f.bubble.rect().height, 0) << "above the box";
    EXPECT_TRUE(f.bubble.isVisible()) << "never hidden again";
    EXPECT_EQ(f.bubble.rect().left, 200 - 210) << "rising keeps the Left";
}

TEST(Bubble, MayShowInTheBoxFromItsReleaseUntilItHasRisenOutOfSight)
{
    const TwipSize box{940, 585};
    const struct {
        const char *what;
        TwipsRect fish;
        std::int16_t course;
        int rises;
        bool mayShow;
    } cases[] = {
        {"its lowest row still in the box", {200, 0, kFish.width, kFish.height}, 0, 4, true},
        {"risen above the box", {200, 0, kFish.width, kFish.height}, 0, 5, false},
        {"let go wholly left of the box", {-20, 160, kFish.width, kFish.height}, 0, 0, false},
        {"let go wholly right of the box", {520, 0, kFish.width, kFish.height}, 3, 0, false},
    };
    for (const auto &c : cases) {
        Fixture f;
        EXPECT_FALSE(f.bubble.mayShowIn(box)) << "before any release";
        f.tickClockAt(53);
        f.fish.setBody(c.fish);
        f.fish.setDirection(c.course);
        ASSERT_TRUE(f.bubble.release(f.fish));
        for (int rise = 0; rise < c.rises; ++rise) f.bubble.rise();
        EXPECT_EQ(f.bubble.mayShowIn(box), c.mayShow) << c.what;
    }
}

TEST(Bubble, RisesEvenWhileHidden)
{
    Bubble bubble(kBubble);
    bubble.rise();
    bubble.rise();
    EXPECT_EQ(bubble.rect().top, 240 - 160);
    EXPECT_FALSE(bubble.isVisible());
}

TEST(Bubble, ANewReleaseBringsItBackAtOnce)
{
    Fixture f;
    f.tickClockAt(33);
    f.fish.setBody({200, 160, kFish.width, kFish.height});
    ASSERT_TRUE(f.bubble.release(f.fish));
    for (int i = 0; i < 3; ++i) f.bubble.rise();
    f.fish.setBody({280, 80, kFish.width, kFish.height});
    ASSERT_TRUE(f.bubble.release(f.fish));
    EXPECT_EQ(f.bubble.rect().left, 280 - 210);
    EXPECT_EQ(f.bubble.rect().top, 80 + 93.75f);
}

} // namespace
} // namespace kingyo
