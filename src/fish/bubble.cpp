#include "fish/bubble.h"

namespace kingyo {

namespace {
constexpr float kRise = 80;
}

bool isReleaseSecond(int second) { return second >= 0 && second < 60 && second % 10 == 3; }

Bubble::Bubble(TwipSize size)
{
    rect_.width = size.width;
    rect_.height = size.height;
}

bool Bubble::release(const Swimmer &fish)
{
    if (!isReleaseSecond(fish.lastSecond())) return false;
    // The course, not the picture on show, tells where the mouth is.
    const TwipsRect &body = fish.body();
    const double left = fish.facesRight() ? double(body.left) + body.width : double(body.left) - rect_.width;
    rect_.left = static_cast<float>(left);
    rect_.top = static_cast<float>(double(body.top) + double(body.height) / 4);
    visible_ = true;
    return true;
}

void Bubble::rise() { rect_.top = rect_.top - kRise; }

bool Bubble::mayShowIn(TwipSize box) const
{
    return visible_ && rect_.top + rect_.height > 0 && rect_.left + rect_.width > 0 && rect_.left < box.width;
}

} // namespace kingyo
