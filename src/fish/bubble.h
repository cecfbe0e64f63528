#pragma once
#include "fish/swimmer.h"

namespace kingyo {

// The one bubble of the water box: released beside the fish's mouth on a few
// seconds of the minute, then rising until the next release puts it back.
class Bubble {
public:
    explicit Bubble(TwipSize size);

    // Timer4: on the listed seconds only, place the bubble at the mouth the course points to.
    // Returns whether it was placed.
    bool release(const Swimmer &fish);
    // Timer5: 80 twips up, seen or not.
    void rise();
    // Whether rising can still show any of the bubble in a box of that size: it is on
    // show, lies across the box, and has not yet gone above the box's top edge. Once
    // this is false, only the next release can bring it back into sight.
    bool mayShowIn(TwipSize box) const;

    const TwipsRect &rect() const { return rect_; }
    bool isVisible() const { return visible_; }

private:
    // Image4 starts out of sight, right of the box, and hidden.
    TwipsRect rect_{3120, 240, 0, 0};
    bool visible_ = false;
};

// Whether a clock tick's second lets a bubble go: 3, 13, 23, 33, 43 and 53.
bool isReleaseSecond(int second);

} // namespace kingyo
