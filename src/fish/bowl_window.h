#pragma once
#include "fish/bowl_tick.h"
#include "fish/living_bowl.h"
#include "fish/region_cache.h"

#include <QPoint>
#include <QRegion>
#include <QHash>
#include <QWidget>
#include <array>
#include <memory>

class QAbstractNativeEventFilter;
class QLabel;
class QMouseEvent;
class QTimer;

namespace kingyo {

class Clock;
class RandomSource;

// Form1: the fish bowl on the desktop. A frameless, topmost window outside the
// taskbar whose shape is one of eight cached bowl outlines, switched by Timer1.
// A left drag moves it, a double-click opens the control panel, a right press ends
// the program.
class BowlWindow : public QWidget {
    Q_OBJECT
public:
    // Start-up: builds the region cache, sizes the window to Picture1(0), makes it
    // topmost, samples the twips per pixel, reseeds the random source and puts the
    // window's top-left corner on the mouse pointer. The window stays hidden.
    // The frames are the eight bowl pictures Picture1(0) to Picture1(7).
    BowlWindow(RandomSource &random, const Clock &clock, const BowlFrames &frames, QWidget *parent = nullptr);
    // The bowl with the program's own pictures.
    BowlWindow(RandomSource &random, const Clock &clock, QWidget *parent = nullptr);
    ~BowlWindow() override;

    static BowlFrames loadFrames();

    // A picture on the bowl that handles the mouse as the bowl does (press drags,
    // right press ends, double-click opens the panel), such as the water box. Where
    // smallFishAt says the small fish is, only a double-click counts (it opens the
    // panel): a press there neither drags the bowl nor ends the program.
    void addPicture(QWidget *picture, const SmallFishAt &smallFishAt = {});

    float twipsPerPixelX() const { return static_cast<float>(scale_.perPixelX); }
    float twipsPerPixelY() const { return static_cast<float>(scale_.perPixelY); }
    QWidget *bowlPicture() const; // Picture1(0), the empty bowl covering the window
    // The swimming fish, its bubbles and the feeding scene.
    LivingBowl &living() { return *living_; }

    // Timer1's tick: keeps the bowl on the primary screen and switches its outline.
    void Timer1_Timer();

    void setVisible(bool visible) override;

signals:
    // A double-click on the bowl, its pictures or the small fish.
    void panelRequested();
    // The window was closed from outside, or destroyed: the program unloads.
    void unloadRequested();
    // A right press on a bowl picture: the program ends at once.
    void endRequested();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    bool handleBowlMouse(QEvent *event);
    bool handleSmallFishPress(QEvent *event);
    static bool isPressOnSmallFish(const SmallFishAt &smallFishAt, const QEvent *event);
    void startDrag(QMouseEvent *event);
    void followDrag(QMouseEvent *event);
    bool showShape(int slot);

    RandomSource &random_;
    const Clock &clock_;
    TwipsScale scale_;
    BowlTick tick_;
    std::array<QRegion, kRegionSlots> shapes_;
    // For each slot, the first slot with the same outline: the program's frames all share one.
    std::array<int, kRegionSlots> firstSameShape_{};
    int shapeShown_ = -1; // as firstSameShape_; none before the first tick
    QLabel *picture0_;
    QTimer *timer1_;
    QHash<QObject *, SmallFishAt> pictures_;
    QPoint startPosition_;
    bool exposed_ = false;
    enum class Drag { None, Pressed, Manual };
    Drag drag_ = Drag::None;
    QPoint dragStartGlobal_;
    QPoint dragStartPosition_;
    std::unique_ptr<LivingBowl> living_;
    std::unique_ptr<QAbstractNativeEventFilter> destroyedWatch_;
};

} // namespace kingyo
