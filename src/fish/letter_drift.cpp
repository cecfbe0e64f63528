#include "fish/letter_drift.h"

#include <algorithm>
#include <array>

namespace kingyo {

namespace {

// One bob, in pixels up (-) and down (+) from the letter's level, a step per move.
constexpr std::array<int, 16> kBob{0, 1, 1, 2, 2, 2, 1, 1, 0, -1, -1, -2, -2, -2, -1, -1};
// The level wanders a pixel every so many moves.
constexpr int kMovesPerWander = 8;

// Where a walk of n unit steps that turns at 0 and span has got to.
int pingPong(int n, int span)
{
    if (span <= 0) return 0;
    const int m = n % (2 * span);
    return m <= span ? m : 2 * span - m;
}

} // namespace

LetterDrift::LetterDrift(QSize box, QSize letter)
    : room_(std::max(0, box.width() - letter.width()), std::max(0, box.height() - letter.height()))
{
    position_ = placeAfter(0);
}

void LetterDrift::setShown(bool shown)
{
    if (shown == shown_) return;
    shown_ = shown;
    ticks_ = 0;
    position_ = placeAfter(0);
}

bool LetterDrift::tick()
{
    if (!shown_) return false;
    ++ticks_;
    if (ticks_ % kTicksPerMove != 0) return false;
    const QPoint next = placeAfter(ticks_ / kTicksPerMove);
    const bool moved = next != position_;
    position_ = next;
    return moved;
}

QPoint LetterDrift::placeAfter(int moves) const
{
    // Sideways: from two thirds of the way across, first towards the left.
    const int across = room_.width();
    const int x = pingPong(moves + across + across / 3, across);
    // Up and down: a bob around a level that wanders over the middle half of the room.
    const int wander = room_.height() / 4;
    const int level = room_.height() / 2 - wander + pingPong(moves / kMovesPerWander + wander, 2 * wander);
    const int y = std::clamp(level + kBob[static_cast<std::size_t>(moves) % kBob.size()], 0, room_.height());
    return {x, y};
}

} // namespace kingyo
