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

// Holds the bowl just above the panel for as long as this object lives: a move of
// the panel takes the bowl along, and a move of the bowl by anything else (a
// drag, the bowl's own tick) is undone. Works from move events, so it costs
// nothing while nothing moves.
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

    QWidget *panel_;
    QPointer<QWidget> bowl_;
    TwipsScale scale_;
    const Clock &clock_;
    // Where the bowl was when it was last put back, and when. If it lands there
    // again at once, something (a window manager) refuses the place: do not fight.
    std::optional<QPoint> lastPutBackFrom_;
    std::chrono::steady_clock::time_point lastPutBackAt_;
};

} // namespace kingyo
