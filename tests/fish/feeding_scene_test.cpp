#include "fish/feeding_scene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace kingyo {
namespace {

// Records what a scene does, as "box:T", "fish:L" and "wait:MS" entries.
class RecordingStage final : public FeedingStage {
public:
    std::vector<std::string> log;
    float boxTop = 720;
    int fishLeft = 56;

    void setWaterBoxTop(float twips) override
    {
        boxTop = twips;
        log.push_back("box:" + std::to_string(static_cast<int>(twips)));
    }
    void setFeedingFishLeft(int pixels) override
    {
        fishLeft = pixels;
        log.push_back("fish:" + std::to_string(pixels));
    }
};

const std::vector<std::string> kOneScene{
    "box:-2000", "fish:56", "wait:500", "fish:50", "wait:500", "fish:56", "wait:500",
    "fish:50",   "wait:500", "fish:56", "wait:500", "fish:50", "wait:100", "box:720",
};

TEST(FeedingScene, LiftsTheBoxNibblesThreeTimesAndPutsTheBoxBack)
{
    RecordingStage stage;
    playFeedingScene(stage, [&](std::int32_t ms) { stage.log.push_back("wait:" + std::to_string(ms)); });
    EXPECT_EQ(stage.log, kOneScene);
    EXPECT_EQ(stage.boxTop, 720);
    EXPECT_EQ(stage.fishLeft, 50) << "the fish stays where the last nibble left it";
}

class NestedFeeding : public ::testing::TestWithParam<int> {};

TEST_P(NestedFeeding, ASecondPressInsideAWaitPlaysAWholeScene)
{
    // The press arrives during the outer scene's wait number GetParam().
    const int pressDuring = GetParam();
    RecordingStage stage;
    int outerWaits = 0;
    int depth = 0;
    std::vector<std::string> boxAfterInner;
    std::function<void(std::int32_t)> wait = [&](std::int32_t ms) {
        stage.log.push_back("wait:" + std::to_string(ms));
        if (depth == 1 && outerWaits++ == pressDuring) {
            ++depth;
            playFeedingScene(stage, wait);
            --depth;
            EXPECT_EQ(stage.boxTop, 720) << "the inner scene puts the box back";
        }
    };
    ++depth;
    playFeedingScene(stage, wait);

    EXPECT_EQ(stage.boxTop, 720);
    EXPECT_EQ(stage.fishLeft, 50);
    // The inner scene's whole script sits inside the outer one, right after the pressed wait.
    std::vector<std::string> expected(kOneScene.begin(), kOneScene.end());
    const auto pressedWait = std::find(expected.begin(), expected.end(), "wait:500") + 2 * pressDuring;
    expected.insert(pressedWait + 1, kOneScene.begin(), kOneScene.end());
    EXPECT_EQ(stage.log, expected);
}

INSTANTIATE_TEST_SUITE_P(EveryWait, NestedFeeding, ::testing::Range(0, 6));

} // namespace
} // namespace kingyo
