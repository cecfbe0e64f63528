#pragma once
#include <cstdint>
#include <functional>

namespace kingyo {

// What the feeding scene moves: the water box (twips, in the bowl window) and the
// nibbling fish Image6 (pixels, in the bowl picture).
class FeedingStage {
public:
    virtual ~FeedingStage() = default;
    virtual void setWaterBoxTop(float twips) = 0;
    virtual void setFeedingFishLeft(int pixels) = 0;
};

using WaitFunction = std::function<void(std::int32_t milliseconds)>;

// Lifts the water box away to uncover the food and the upturned fish, lets that fish
// nibble three times, then puts the box back. The waits let everything else run,
// including another scene started meanwhile.
void playFeedingScene(FeedingStage &stage, const WaitFunction &wait);

} // namespace kingyo
