#pragma once
#include <QList>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <functional>

class QWidget;

namespace kingyo {

// Where a window whose frame wants to lie at `wanted` goes so that it lies whole in
// `screen` (the available area of its screen) and no obstacle covers any of it: the
// nearest such place. Where no place is clear, the place on the screen that the obstacles
// cover least, the nearest of those. A frame larger than the screen keeps its top-left
// corner on it. An empty screen (none known) leaves the window where it wants to be.
QPoint clearPlacement(const QRect &wanted, const QRect &screen, const QList<QRect> &obstacles);

// Moves each window the program opens (a form, a dialog, a message box) clear of the
// windows that stay on top of everything, as it is shown and again once the window
// manager has given it its title bar. A window the user moved later stays where it is.
// Watches the application's show and move events, so it costs nothing while nothing
// opens.
class WindowClearance : public QObject {
    Q_OBJECT
public:
    // The windows to keep clear of; those hidden or minimised are skipped, and they are
    // never moved themselves.
    using Obstacles = std::function<QList<QWidget *>()>;

    explicit WindowClearance(Obstacles obstacles, QObject *parent = nullptr);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Opening {
        QPointer<QWidget> window;
        QSize frameSize; // as last placed; a new size means the frame arrived
    };

    bool isObstacle(const QWidget *window) const;
    void placeLater(QWidget *window);
    void place(QWidget *window);
    void frameMayHaveChanged(QWidget *window);

    Obstacles obstacles_;
    QList<Opening> opening_;
};

} // namespace kingyo
