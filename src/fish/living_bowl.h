#pragma once
#include "fish/bubble.h"
#include "fish/feeding_scene.h"
#include "fish/letter_drift.h"
#include "fish/swimmer.h"

#include <QObject>
#include <QPixmap>
#include <array>
#include <functional>

class QTimer;
class QWidget;

namespace kingyo {

class BowlWindow;
class BoxPicture;
class Clock;
class ImageControl;
class RandomSource;
class WaterBox;

// Whether the small fish is on show at a point of a picture, in the picture's pixels.
using SmallFishAt = std::function<bool(QPoint)>;

// What the living bowl needs from the bowl window: the form to hold the water box, the
// bowl picture that hides the feeding scene, the screen's scale, and the window's way
// of giving its mouse handling to a picture, in which the small fish may swim.
struct BowlHost {
    QWidget *form = nullptr;
    QWidget *bowlPicture = nullptr;
    TwipsScale scale;
    std::function<void(QWidget *picture, const SmallFishAt &smallFishAt)> addPicture;
};

// Everything that moves in the bowl: the water box with the swimming fish, its bubble
// and the letter that shows waiting mail (pictures the box draws itself), their four
// timers, and the feeding scene behind the box.
class LivingBowl : public QObject, private FeedingStage {
    Q_OBJECT
public:
    LivingBowl(BowlWindow &form, RandomSource &random, const Clock &clock);
    LivingBowl(const BowlHost &host, RandomSource &random, const Clock &clock);
    ~LivingBowl() override;

    // The feed button's scene; waits with the events running, so it may nest.
    void playFeedingScene();

    // While mail waits, a letter drifts in the water box in front of the weed and
    // behind the fish; it takes presses as the box does.
    void setMailWaiting(bool waiting);
    bool mailWaiting() const { return letter_.isShown(); }

    // Timer2: swim tick, and the letter's drift. Timer3: clock tick. Timer4: bubble
    // release. Timer5: bubble rise; it runs only while the bubble may show in the box,
    // from a release until the bubble has risen out of sight.
    void Timer2_Timer();
    void Timer3_Timer();
    void Timer4_Timer();
    void Timer5_Timer();

    Swimmer &swimmer() { return swimmer_; }
    const Bubble &bubble() const { return bubble_; }
    const LetterDrift &letter() const { return letter_; }
    WaterBox *waterBox() const { return box_; }
    float waterBoxTop() const { return boxTop_; }

private:
    void setWaterBoxTop(float twips) override;
    void setFeedingFishLeft(int pixels) override;

    QPoint pixelsInBox(const TwipsRect &rect) const;
    QTimer *addTimer(const char *name, int intervalMs, void (LivingBowl::*tick)());

    BowlHost host_;
    const Clock &clock_;
    std::array<QPixmap, 2> leftFrames_;  // Image2(0), Image2(1)
    std::array<QPixmap, 2> rightFrames_; // Image3(0), Image3(1)
    QPixmap bubblePicture_;
    QPixmap letterPicture_;
    Swimmer swimmer_;
    Bubble bubble_;
    LetterDrift letter_;
    float boxTop_ = 720;

    WaterBox *box_ = nullptr;           // Picture1(9)
    BoxPicture *fish_ = nullptr;        // Image1
    BoxPicture *bubbleImage_ = nullptr; // Image4
    BoxPicture *letterImage_ = nullptr; // Image7
    ImageControl *nibbler_ = nullptr;   // Image6
    QTimer *riseTimer_ = nullptr;       // Timer5
};

} // namespace kingyo
