#include "panel/control_panel_pin.h"

#include "base/clock.h"
#include "panel/frame_moves.h"

#include <QEvent>
#include <QWidget>

namespace kingyo {
namespace {

constexpr double kPanelBelowBowl = 1600; // twips
constexpr double kPanelLeftOfBowl = 100; // twips
constexpr std::chrono::milliseconds kRefusalWindow{250};

} // namespace

// Positions are converted as the window system stores them: pixels to twips, add
// the offset in twips, back to the nearest pixel.
QPoint panelPositionBelow(QPoint bowl, const TwipsScale &scale)
{
    return {scale.toPixelsX(bowl.x() * scale.perPixelX - kPanelLeftOfBowl),
            scale.toPixelsY(bowl.y() * scale.perPixelY + kPanelBelowBowl)};
}

QPoint bowlPositionAbove(QPoint panel, const TwipsScale &scale)
{
    return {scale.toPixelsX(panel.x() * scale.perPixelX + kPanelLeftOfBowl),
            scale.toPixelsY(panel.y() * scale.perPixelY - kPanelBelowBowl)};
}

bool PutBackGuard::allows(QPoint from)
{
    const auto time = clock_.now();
    if (from == lastFrom_ && time - lastAt_ < patience_)
        return false;
    lastFrom_ = from;
    lastAt_ = time;
    return true;
}

BowlPin::BowlPin(QWidget *panel, QWidget *bowl, const TwipsScale &scale, const Clock &clock)
    : QObject(panel), panel_(panel), panelAt_(panel->pos()), bowl_(bowl), scale_(scale),
      guard_(clock, kRefusalWindow)
{
    panel_->installEventFilter(this);
    connect(new FrameMoves(panel_), &FrameMoves::clientMoved, this, &BowlPin::panelFollowed);
    if (bowl_)
        bowl_->installEventFilter(this);
}

BowlPin::~BowlPin()
{
    if (bowl_)
        bowl_->removeEventFilter(this);
}

void BowlPin::placeBowl()
{
    if (!bowl_)
        return;
    const QPoint target = bowlPositionAbove(panelAt_, scale_);
    if (bowl_->pos() != target)
        bowl_->move(target); // its move event finds the bowl in place
}

bool BowlPin::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Move) {
        if (watched == panel_) {
            panelAt_ = panel_->pos();
            guard_.forget();
            placeBowl();
        } else if (watched == bowl_) {
            bowlMoved();
        }
    }
    return QObject::eventFilter(watched, event);
}

void BowlPin::bowlMoved()
{
    const QPoint now = bowl_->pos();
    if (panel_->isMinimized() || now == bowlPositionAbove(panelAt_, scale_))
        return; // a minimised panel lets the bowl swim
    if (guard_.allows(now))
        placeBowl();
}

// The panel's own idea of its place lags during a drag; its frame margins do not change.
void BowlPin::panelFollowed(QPoint panelClientTopLeft)
{
    if (panel_->isMinimized())
        return; // the window manager may still shuffle its hidden frame
    panelAt_ = panelClientTopLeft - (panel_->geometry().topLeft() - panel_->pos());
    guard_.forget();
    placeBowl();
}

} // namespace kingyo
