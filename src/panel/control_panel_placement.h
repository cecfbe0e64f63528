#pragma once
#include "base/twips.h"
#include "panel/control_panel_pin.h"

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QTimer>

class QWidget;

namespace kingyo {

class Clock;

// Where the panel and the bowl above it go.
struct PanelPlacement {
    QPoint panel; // the top-left corner of the panel's frame
    QPoint bowl;
    friend bool operator==(const PanelPlacement &, const PanelPlacement &) = default;
};

// The panel opened below a bowl at `bowl`, its frame (title bar included, panelFrame in
// size) moved with the bowl in tow as little as it takes to lie whole in `screen`, the
// available area of the screen that holds it. A frame larger than the screen keeps its
// top-left corner on it. The panel comes first: the bowl may end up above the screen.
// An empty screen (none known) leaves the panel right below the bowl.
PanelPlacement placeBelowBowl(const QRect &screen, QSize panelFrame, QPoint bowl, const TwipsScale &scale);

// Keeps the panel whole on the screen that holds it; the bowl follows through its
// BowlPin. A frame that changes size (the title bar arriving once the window manager
// has framed the panel) is checked at once; a panel dragged partly off comes back once
// the drag has come to rest. A window manager that refuses the place is not fought.
// A panel restored from its minimised state comes back below the bowl.
class PanelOnScreen : public QObject {
    Q_OBJECT
public:
    PanelOnScreen(QWidget *panel, QWidget *bowl, const TwipsScale &scale, const Clock &clock);

    // Moves the panel below the bowl, whole on the screen (no bowl: nothing happens).
    void openBelowBowl();
    // Moves a panel that is not whole on its screen until it is.
    void keepWhole();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QRect bowlFrame() const;

    QWidget *panel_;
    QPointer<QWidget> bowl_;
    TwipsScale scale_;
    PutBackGuard guard_;
    QTimer dragSettled_;
    QSize frameSizeSeen_;
};

} // namespace kingyo
