#include "panel/window_clearance.h"

#include <QEvent>
#include <QApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <limits>

namespace kingyo {
namespace {

// [position, position + size) moved into [start, start + length); when it does not
// fit, its start stays inside.
int intoRange(int position, int size, int start, int length)
{
    return std::max(start, std::min(position, start + length - size));
}

// The places along one axis where the nearest clear place or the least covered one can
// lie: where the window wants to be, against either side of each obstacle, against the
// screen's edges; each kept on the screen.
QList<int> candidates(int wanted, int size, int screenStart, int screenLength, const QList<QPair<int, int>> &spans)
{
    QList<int> places{wanted, screenStart, screenStart + screenLength - size};
    for (const auto &[start, end] : spans)
        places << start - size << end;
    for (int &place : places)
        place = intoRange(place, size, screenStart, screenLength);
    std::sort(places.begin(), places.end());
    places.erase(std::unique(places.begin(), places.end()), places.end());
    return places;
}

qint64 coveredArea(const QRect &frame, const QList<QRect> &obstacles)
{
    qint64 covered = 0;
    for (const QRect &obstacle : obstacles) {
        const QRect overlap = frame.intersected(obstacle);
        if (!overlap.isEmpty())
            covered += qint64(overlap.width()) * overlap.height();
    }
    return covered;
}

qint64 squaredDistance(QPoint from, QPoint to)
{
    const qint64 dx = to.x() - from.x();
    const qint64 dy = to.y() - from.y();
    return dx * dx + dy * dy;
}

} // namespace

QPoint clearPlacement(const QRect &wanted, const QRect &screen, const QList<QRect> &obstacles)
{
    if (screen.isEmpty())
        return wanted.topLeft();
    QList<QPair<int, int>> across;
    QList<QPair<int, int>> down;
    for (const QRect &obstacle : obstacles) {
        across.append({obstacle.left(), obstacle.right() + 1});
        down.append({obstacle.top(), obstacle.bottom() + 1});
    }
    // Each coordinate of the best place is either the wanted one or against an edge, so
    // trying every pair of those finds it.
    const QList<int> xs = candidates(wanted.x(), wanted.width(), screen.x(), screen.width(), across);
    const QList<int> ys = candidates(wanted.y(), wanted.height(), screen.y(), screen.height(), down);
    QPoint best = wanted.topLeft();
    qint64 bestCovered = std::numeric_limits<qint64>::max();
    qint64 bestDistance = 0;
    for (const int x : xs) {
        for (const int y : ys) {
            const QPoint place(x, y);
            const qint64 covered = coveredArea(QRect(place, wanted.size()), obstacles);
            const qint64 distance = squaredDistance(wanted.topLeft(), place);
            if (covered < bestCovered || (covered == bestCovered && distance < bestDistance)) {
                best = place;
                bestCovered = covered;
                bestDistance = distance;
            }
        }
    }
    return best;
}

namespace {

// Whether the window is one the user sees as a window of its own: not a tooltip, a menu or
// a drop-down list.
bool isWindowKind(const QWidget *window)
{
    const Qt::WindowType type = window->windowType();
    return type == Qt::Window || type == Qt::Dialog || type == Qt::Tool;
}

bool isFramed(const QWidget *window) { return window->frameGeometry() != window->geometry(); }

} // namespace

WindowClearance::WindowClearance(Fixed fixed, QObject *parent) : QObject(parent), fixed_(std::move(fixed)) {}

bool WindowClearance::isFixed(const QWidget *window) const
{
    const QList<QWidget *> windows = fixed_();
    return std::find(windows.begin(), windows.end(), window) != windows.end();
}

bool WindowClearance::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::Show:
        // The native window's show: after the widget's own show handling (a dialog centres
        // itself and takes its size there), before the window manager is asked to map it.
        if (const auto *handle = qobject_cast<QWindow *>(watched); handle && !event->spontaneous())
            aboutToMap(handle);
        return false;
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::Hide:
        break;
    case QEvent::Expose: {
        // Mapped, so framed if it ever will be; the frame may come without a move.
        const auto shown = std::find_if(opening_.cbegin(), opening_.cend(), [watched](const Opening &opening) {
            return opening.window && opening.window->windowHandle() == watched;
        });
        if (shown != opening_.cend())
            frameMayHaveChanged(shown->window);
        return false;
    }
    default:
        return false; // every event of the program passes here: nothing else is looked at
    }
    auto *window = qobject_cast<QWidget *>(watched);
    if (!window || !window->isWindow())
        return false;
    if (event->type() == QEvent::Hide)
        opening_.removeIf([window](const Opening &opening) { return opening.window == window; });
    else
        frameMayHaveChanged(window);
    return false;
}

void WindowClearance::aboutToMap(const QWindow *handle)
{
    const QWidgetList windows = QApplication::topLevelWidgets();
    const auto widget = std::find_if(windows.cbegin(), windows.cend(),
                                     [handle](const QWidget *window) { return window->windowHandle() == handle; });
    if (widget == windows.cend() || isFixed(*widget))
        return;
    if (const Qt::WindowType type = (*widget)->windowType(); type != Qt::Window && type != Qt::Dialog)
        return;
    opening_.removeIf([widget](const Opening &opening) { return opening.window == *widget || !opening.window; });
    opening_.append(Opening{*widget, {}});
    place(*widget);
}

void WindowClearance::placeLater(QWidget *window)
{
    QMetaObject::invokeMethod(
        this, [this, guarded = QPointer<QWidget>(window)] {
            if (guarded)
                place(guarded);
        },
        Qt::QueuedConnection);
}

void WindowClearance::frameMayHaveChanged(QWidget *window)
{
    const auto opening = std::find_if(opening_.begin(), opening_.end(),
                                      [window](const Opening &candidate) { return candidate.window == window; });
    if (opening == opening_.end())
        return;
    const QRect frame = frameOf(window);
    if (frame != opening->frame) {
        // Right after reparenting, Qt may report the window at 0,0 and later put it there:
        // while it opens, its frame stays where it was placed, and is checked again.
        if (opening->frame.isValid() && frame.topLeft() != opening->frame.topLeft())
            window->move(window->pos() + opening->frame.topLeft() - frame.topLeft());
        placeLater(window);
    } else if (isFramed(window))
        opening_.erase(opening); // the frame came as foreseen: the window is where it belongs
}

void WindowClearance::learnFrame(const QWidget *window)
{
    if (!isFramed(window))
        return;
    const QRect frame = window->frameGeometry();
    const QRect client = window->geometry();
    frameMargins_ = {client.left() - frame.left(), client.top() - frame.top(), frame.right() - client.right(),
                     frame.bottom() - client.bottom()};
}

QRect WindowClearance::frameOf(const QWidget *window) const
{
    if (isFramed(window) || window->windowFlags().testFlag(Qt::FramelessWindowHint))
        return window->frameGeometry();
    // Not framed yet: the window manager will put the frame around where the window is.
    return window->geometry().marginsAdded(frameMargins_);
}

void WindowClearance::place(QWidget *window)
{
    learnFrame(window);
    QList<QRect> covering;
    for (const QWidget *other : QApplication::topLevelWidgets()) {
        if (other == window || !isWindowKind(other) || !other->isVisible() || other->isMinimized())
            continue;
        learnFrame(other);
        covering << other->frameGeometry();
    }
    const QRect frame = frameOf(window);
    const QScreen *screen = QGuiApplication::screenAt(frame.center());
    if (!screen)
        screen = window->screen();
    const QPoint target = clearPlacement(frame, screen ? screen->availableGeometry() : QRect(), covering);
    if (target != frame.topLeft())
        window->move(window->pos() + target - frame.topLeft());
    const auto opening = std::find_if(opening_.begin(), opening_.end(),
                                      [window](const Opening &candidate) { return candidate.window == window; });
    if (opening == opening_.end())
        return;
    if (isFramed(window)) // the title bar will not come again
        opening_.erase(opening);
    else
        opening->frame = frame.translated(target - frame.topLeft());
}

} // namespace kingyo
