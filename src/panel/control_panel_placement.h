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

// What the panel whose frame's corner is at `panel` and the bowl held above it cover
// together.
QRect panelWithBowl(QPoint panel, QSize panelFrame, QSize bowl, const TwipsScale &scale);

// The panel opened below the bowl at `bowl`, its frame (title bar included, panelFrame in
// size) moved with the bowl in tow as little as it takes for both to lie whole in
// `screen`, the available area of the screen that holds them. Where the two are larger
// than the screen, the corner of what they cover together stays on it. An empty screen
// (none known) leaves the panel right below the bowl.
PanelPlacement placeBelowBowl(const QRect &screen, QSize panelFrame, const QRect &bowl, const TwipsScale &scale);

// Keeps the panel, and the bowl above it, whole on the screen that holds them; the bowl
// follows through its BowlPin. A frame that changes size (the title bar arriving once the window manager
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
