#include "fish/feeding_scene.h"

#include <array>

namespace kingyo {

namespace {

constexpr float kBoxLifted = -2000; // wholly above the window
constexpr float kBoxInPlace = 720;

struct Nibble {
    int left;
    std::int32_t waitMs;
};

constexpr std::array<Nibble, 6> kNibbles{{{56, 500}, {50, 500}, {56, 500}, {50, 500}, {56, 500}, {50, 100}}};

} // namespace

void playFeedingScene(FeedingStage &stage, const WaitFunction &wait)
{
    stage.setWaterBoxTop(kBoxLifted);
    for (const Nibble &nibble : kNibbles) {
        stage.setFeedingFishLeft(nibble.left);
        wait(nibble.waitMs);
    }
    stage.setWaterBoxTop(kBoxInPlace);
}

} // namespace kingyo
