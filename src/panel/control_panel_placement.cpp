#include "panel/control_panel_placement.h"

#include <QEvent>
#include <QWindowStateChangeEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace kingyo {
namespace {

// How long a drag must rest before a panel left partly off the screen comes back: a
// window manager that is still moving it would only take it away again.
constexpr std::chrono::milliseconds kDragRest{300};
// A put-back that lands where it started within this time is refused.
constexpr std::chrono::milliseconds kRefusalWindow{2000};

// [position, position + size) moved into [start, start + length); when it does not
// fit, its start stays inside.
int intoRange(int position, int size, int start, int length)
{
    return std::max(start, std::min(position, start + length - size));
}

qint64 areaOf(const QRect &rect) { return rect.isEmpty() ? 0 : qint64(rect.width()) * rect.height(); }

// The available area of the screen that holds most of `frame`, or else most of
// `fallback`, or else the primary screen's; empty with no screen at all.
QRect availableAreaHolding(const QRect &frame, const QRect &fallback)
{
    for (const QRect &window : {frame, fallback}) {
        const QScreen *holder = nullptr;
        qint64 held = 0;
        for (const QScreen *screen : QGuiApplication::screens()) {
            const qint64 area = areaOf(screen->geometry().intersected(window));
            if (area > held) {
                holder = screen;
                held = area;
            }
        }
        if (holder)
            return holder->availableGeometry();
    }
    const QScreen *primary = QGuiApplication::primaryScreen();
    return primary ? primary->availableGeometry() : QRect();
}

} // namespace

QRect panelWithBowl(QPoint panel, QSize panelFrame, QSize bowl, const TwipsScale &scale)
{
    return QRect(panel, panelFrame).united(QRect(bowlPositionAbove(panel, scale), bowl));
}

PanelPlacement placeBelowBowl(const QRect &screen, QSize panelFrame, const QRect &bowl, const TwipsScale &scale)
{
    QPoint panel = panelPositionBelow(bowl.topLeft(), scale);
    if (screen.isEmpty())
        return {panel, bowl.topLeft()};
    const QRect both = panelWithBowl(panel, panelFrame, bowl.size(), scale);
    panel += QPoint(intoRange(both.x(), both.width(), screen.x(), screen.width()),
                    intoRange(both.y(), both.height(), screen.y(), screen.height()))
             - both.topLeft();
    return {panel, bowlPositionAbove(panel, scale)};
}

PanelOnScreen::PanelOnScreen(QWidget *panel, QWidget *bowl, const TwipsScale &scale, const Clock &clock)
    : QObject(panel), panel_(panel), bowl_(bowl), scale_(scale), guard_(clock, kRefusalWindow)
{
    dragSettled_.setSingleShot(true);
    dragSettled_.setInterval(kDragRest);
    connect(&dragSettled_, &QTimer::timeout, this, &PanelOnScreen::keepWhole);
    panel_->installEventFilter(this);
}

QRect PanelOnScreen::bowlFrame() const { return bowl_ ? bowl_->frameGeometry() : QRect(); }

void PanelOnScreen::openBelowBowl()
{
    if (!bowl_)
        return;
    const QSize frameSize = panel_->frameGeometry().size();
    const QRect below(panelPositionBelow(bowl_->pos(), scale_), frameSize);
    const QRect screen = availableAreaHolding(below, bowlFrame());
    panel_->move(placeBelowBowl(screen, frameSize, bowlFrame(), scale_).panel);
}

void PanelOnScreen::keepWhole()
{
    const QRect frame = panel_->frameGeometry();
    const QRect screen = availableAreaHolding(frame, bowlFrame());
    const QSize bowl = bowlFrame().size();
    if (screen.isEmpty() || screen.contains(panelWithBowl(frame.topLeft(), frame.size(), bowl, scale_))) {
        guard_.forget();
        return;
    }
    const QRect bowlAbove(bowlPositionAbove(frame.topLeft(), scale_), bowl);
    const QPoint target = placeBelowBowl(screen, frame.size(), bowlAbove, scale_).panel;
    if (target != frame.topLeft() && guard_.allows(frame.topLeft()))
        panel_->move(target);
}

bool PanelOnScreen::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == panel_ && event->type() == QEvent::WindowStateChange) {
        const auto *change = static_cast<QWindowStateChangeEvent *>(event);
        if ((change->oldState() & Qt::WindowMinimized) && !panel_->isMinimized())
            openBelowBowl(); // the bowl swam on meanwhile: the panel comes back below it
    }
    if (watched == panel_ && (event->type() == QEvent::Move || event->type() == QEvent::Show)) {
        const QSize frameSize = panel_->frameGeometry().size();
        if (frameSize != frameSizeSeen_) {
            frameSizeSeen_ = frameSize;
            // After this event: a move made while the panel is being shown is not
            // reported to the bowl's pin.
            QMetaObject::invokeMethod(this, &PanelOnScreen::keepWhole, Qt::QueuedConnection);
        } else {
            dragSettled_.start();
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace kingyo
