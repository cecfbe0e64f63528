#pragma once
#include "base/twips.h"

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <chrono>
#include <optional>

class QWidget;

namespace kingyo {

class Clock;

// Where the panel opens: 1600 twips below the bowl's top, 100 twips left of it.
QPoint panelPositionBelow(QPoint bowl, const TwipsScale &scale);
// Where the bowl belongs while the panel is open: the same offsets, taken back.
QPoint bowlPositionAbove(QPoint panel, const TwipsScale &scale);

// Whether a window that something moved should be put back: not when it stands
// where it stood when it was last put back, within `patience` of that; then something
// (a window manager) refuses the place, and fighting it would never end.
class PutBackGuard {
public:
    PutBackGuard(const Clock &clock, std::chrono::milliseconds patience) : clock_(clock), patience_(patience) {}

    // True, and noted as a put-back from `from`, unless the place is refused.
    bool allows(QPoint from);
    // The window came to rest somewhere on its own: nothing is refused any more.
    void forget() { lastFrom_.reset(); }

private:
    const Clock &clock_;
    std::chrono::milliseconds patience_;
    std::optional<QPoint> lastFrom_;
    std::chrono::steady_clock::time_point lastAt_;
};

// Holds the bowl just above the panel for as long as this object lives: a move of
// the panel takes the bowl along, during a drag too, and a move of the bowl by anything
// else (a drag, the bowl's own tick) is undone, except while the panel is minimised.
// Works from move events, so it costs nothing while nothing moves.
class BowlPin : public QObject {
    Q_OBJECT
public:
    BowlPin(QWidget *panel, QWidget *bowl, const TwipsScale &scale, const Clock &clock);
    ~BowlPin() override;

    void placeBowl();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void bowlMoved();
    void panelFollowed(QPoint panelClientTopLeft);

    QWidget *panel_;
    QPoint panelAt_; // the panel's frame, where the window manager has it now
    QPointer<QWidget> bowl_;
    TwipsScale scale_;
    PutBackGuard guard_;
};

} // namespace kingyo
