#pragma once
#include <QList>
#include <QMargins>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <functional>

class QWidget;
class QWindow;

namespace kingyo {

// Where a window whose frame wants to lie at `wanted` goes so that it lies whole in
// `screen` (the available area of its screen) and no obstacle covers any of it: the
// nearest such place. Where no place is clear, the place on the screen that the obstacles
// cover least, the nearest of those. A frame larger than the screen keeps its top-left
// corner on it. An empty screen (none known) leaves the window where it wants to be.
QPoint clearPlacement(const QRect &wanted, const QRect &screen, const QList<QRect> &obstacles);

// Moves each window the program opens (a form, a dialog, a message box) clear of every
// other window it has open, the bowl and the control panel included, so that none hides
// another. It is placed before the window manager maps it, with the frame the window
// manager gave the program's other windows, and once more if its own frame turns out
// otherwise. A window the user moved later stays where it is. Watches the application's
// show and move events, so it costs nothing while nothing opens.
class WindowClearance : public QObject {
    Q_OBJECT
public:
    // Windows that others place (the bowl, the control panel): kept clear of, never
    // moved here.
    using Fixed = std::function<QList<QWidget *>()>;

    explicit WindowClearance(Fixed fixed, QObject *parent = nullptr);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Opening {
        QPointer<QWidget> window;
        QRect frame; // where it was placed to be, before the window manager framed it
    };

    bool isFixed(const QWidget *window) const;
    void aboutToMap(const QWindow *handle);
    void placeLater(QWidget *window);
    void place(QWidget *window);
    void frameMayHaveChanged(QWidget *window);
    // Notes the frame the window manager gave a window, as others will get the same.
    void learnFrame(const QWidget *window);
    // The window's frame as the window manager made it, or, before it has, as it made
    // the others.
    QRect frameOf(const QWidget *window) const;

    Fixed fixed_;
    QList<Opening> opening_;
    QMargins frameMargins_; // of the last framed window seen
};

} // namespace kingyo
