#include "fish/living_bowl.h"

#include "fish/bowl_window.h"
#include "fish/image_control.h"
#include "fish/wait.h"
#include "fish/water_box.h"

#include <QTimer>

namespace kingyo {

namespace {

// The water box's place and size in the bowl window, in twips.
constexpr TwipsRect kWaterBox{280, 720, 940, 585};
constexpr TwipSize kWaterBoxSize{kWaterBox.width, kWaterBox.height};
constexpr QPoint kFoodAt{40, 48};     // pixels in the bowl picture
constexpr QPoint kNibblerAt{56, 48};  // pixels in the bowl picture

QPixmap picture(const char *name) { return QPixmap(QStringLiteral(":/assets/") + QLatin1String(name)); }

TwipSize twipSizeOf(const QPixmap &pixmap, const TwipsScale &scale)
{
    const QSizeF pixels = pixmap.deviceIndependentSize();
    return {static_cast<float>(pixels.width() * scale.perPixelX), static_cast<float>(pixels.height() * scale.perPixelY)};
}

FishFrameSizes frameSizesOf(const std::array<QPixmap, 2> &left, const std::array<QPixmap, 2> &right,
                            const TwipsScale &scale)
{
    return {{twipSizeOf(left[0], scale), twipSizeOf(left[1], scale)},
            {twipSizeOf(right[0], scale), twipSizeOf(right[1], scale)}};
}

BowlHost hostOf(BowlWindow &form)
{
    BowlHost host;
    host.form = &form;
    host.bowlPicture = form.bowlPicture();
    host.scale.perPixelX = form.twipsPerPixelX();
    host.scale.perPixelY = form.twipsPerPixelY();
    host.addPicture = [&form](QWidget *picture, const SmallFishAt &smallFishAt) {
        form.addPicture(picture, smallFishAt);
    };
    return host;
}

} // namespace

LivingBowl::LivingBowl(const BowlHost &host, RandomSource &random, const Clock &clock)
    : host_(host),
      clock_(clock),
      leftFrames_{picture("fish/left0.png"), picture("fish/left1.png")},
      rightFrames_{picture("fish/right0.png"), picture("fish/right1.png")},
      bubblePicture_(picture("bubble.png")),
      letterPicture_(picture("letter.png")),
      swimmer_(random, clock, frameSizesOf(leftFrames_, rightFrames_, host.scale),
               kWaterBoxSize),
      bubble_(twipSizeOf(bubblePicture_, host.scale)),
      letter_(host.scale.toPixels(kWaterBox).size(), letterPicture_.deviceIndependentSize().toSize())
{
    // The scene behind the box: the upturned fish, and the food in front of it.
    nibbler_ = new ImageControl(host_.bowlPicture, QStringLiteral("Image6"), picture("feeding_fish.png"));
    nibbler_->move(kNibblerAt);
    auto *food = new ImageControl(host_.bowlPicture, QStringLiteral("Image5"), picture("food.png"));
    food->move(kFoodAt);

    box_ = new WaterBox(host_.form);
    box_->setGeometry(host_.scale.toPixels(kWaterBox));
    box_->raise();
    // Made back to front: the letter lies behind the fish, the bubble in front of it.
    letterImage_ = new BoxPicture(box_, QStringLiteral("Image7"), letterPicture_);
    fish_ = new BoxPicture(box_, QStringLiteral("Image1"));
    fish_->move(pixelsInBox(swimmer_.body()));
    fish_->setVisible(true);
    bubbleImage_ = new BoxPicture(box_, QStringLiteral("Image4"), bubblePicture_);
    bubbleImage_->move(pixelsInBox(bubble_.rect()));
    if (host_.addPicture)
        host_.addPicture(box_, [box = box_, fish = fish_](QPoint at) { return box->pictureAt(at) == fish; });

    swimmer_.start();

    addTimer("Timer2", 400, &LivingBowl::Timer2_Timer)->start();
    addTimer("Timer3", 3000, &LivingBowl::Timer3_Timer)->start();
    addTimer("Timer4", 3000, &LivingBowl::Timer4_Timer)->start();
    // Six wake-ups a second that would mostly move a bubble nobody can see: this one
    // waits for the first release.
    riseTimer_ = addTimer("Timer5", 150, &LivingBowl::Timer5_Timer);
}

LivingBowl::LivingBowl(BowlWindow &form, RandomSource &random, const Clock &clock)
    : LivingBowl(hostOf(form), random, clock)
{
}

LivingBowl::~LivingBowl() = default;

QTimer *LivingBowl::addTimer(const char *name, int intervalMs, void (LivingBowl::*tick)())
{
    // The timers belong to the form, like its other controls; the ticks stop with this object.
    auto *timer = new QTimer(host_.form);
    timer->setObjectName(QLatin1String(name));
    timer->setInterval(intervalMs);
    connect(timer, &QTimer::timeout, this, tick);
    return timer;
}

void LivingBowl::playFeedingScene()
{
    kingyo::playFeedingScene(*this, [this](std::int32_t ms) { Wait(ms, clock_); });
}

void LivingBowl::Timer2_Timer()
{
    const FishFrame frame = swimmer_.swimTick();
    fish_->setPicture(pickFrame(leftFrames_, rightFrames_, frame), pixelsInBox(swimmer_.body()));
    // On the fish's tick, the letter's move costs no repaint of its own.
    if (letter_.tick()) letterImage_->move(letter_.position());
}

void LivingBowl::Timer3_Timer() { swimmer_.clockTick(); }

void LivingBowl::Timer4_Timer()
{
    if (!bubble_.release(swimmer_)) return;
    bubbleImage_->move(pixelsInBox(bubble_.rect()));
    bubbleImage_->setVisible(true);
    if (bubble_.mayShowIn(kWaterBoxSize)) riseTimer_->start();
}

// The bubble that has risen out of sight is left where it was last seen: the rise
// timer sleeps until the next release puts it back beside the fish.
void LivingBowl::Timer5_Timer()
{
    bubble_.rise();
    bubbleImage_->move(pixelsInBox(bubble_.rect()));
    if (!bubble_.mayShowIn(kWaterBoxSize)) riseTimer_->stop();
}

void LivingBowl::setMailWaiting(bool waiting)
{
    letter_.setShown(waiting);
    letterImage_->move(letter_.position());
    letterImage_->setVisible(waiting);
}

void LivingBowl::setWaterBoxTop(float twips)
{
    boxTop_ = twips;
    box_->move(box_->x(), host_.scale.toPixelsY(twips));
}

void LivingBowl::setFeedingFishLeft(int pixels) { nibbler_->move(pixels, nibbler_->y()); }

QPoint LivingBowl::pixelsInBox(const TwipsRect &rect) const
{
    return {host_.scale.toPixelsX(rect.left), host_.scale.toPixelsY(rect.top)};
}

} // namespace kingyo
