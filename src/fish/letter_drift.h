#pragma once
#include <QPoint>
#include <QSize>

namespace kingyo {

// The letter that drifts in the water box while mail waits: side to side across the
// box a pixel at a time, bobbing gently and wandering slowly up and down, always
// wholly inside the box. Screen-free and deterministic: the route depends only on the
// box, the letter's size and the number of ticks since the letter was shown. The
// swim tick drives it, so that the letter is redrawn together with the fish.
class LetterDrift {
public:
    // Ticks between two moves: at the swim tick's 400 ms, a move every 0.8 s.
    static constexpr int kTicksPerMove = 2;

    // box and letter in pixels. A letter larger than the box stays at its top-left corner.
    LetterDrift(QSize box, QSize letter);

    // Showing a hidden letter starts its route afresh; showing it again while shown,
    // or hiding it while hidden, changes nothing.
    void setShown(bool shown);
    bool isShown() const { return shown_; }

    // One tick. Returns whether the letter moved: never while hidden.
    bool tick();

    // The letter's top-left corner in the box, in pixels.
    QPoint position() const { return position_; }

private:
    QPoint placeAfter(int moves) const;

    QSize room_; // how far the letter's corner can go each way
    bool shown_ = false;
    int ticks_ = 0;
    QPoint position_;
};

} // namespace kingyo
