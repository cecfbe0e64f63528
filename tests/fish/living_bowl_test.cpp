#include "fish/living_bowl.h"

#include "fish/image_control.h"
#include "fish/water_box.h"
#include "support/fakes.h"

#include <QTimer>
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <vector>

// Readable failures for Qt's geometry types.
inline void PrintTo(const QRect &r, std::ostream *os) { *os << r.x() << "," << r.y() << " " << r.width() << "x" << r.height(); }
inline void PrintTo(const QPoint &p, std::ostream *os) { *os << p.x() << "," << p.y(); }
inline void PrintTo(const QSize &s, std::ostream *os) { *os << s.width() << "x" << s.height(); }

namespace kingyo {
namespace {

using testing::ScriptedRandom;
using testing::SteppingClock;

// A plain window standing in for the bowl: 100 x 100 with its bowl picture Picture1(0).
struct Stage {
    explicit Stage(float twipsPerPixel = 15, std::chrono::nanoseconds clockStride = {})
        : clock(clockStride)
    {
        form.setObjectName("Form1");
        form.resize(100, 100);
        bowlPicture = new QWidget(&form);
        bowlPicture->setObjectName("Picture1(0)");
        bowlPicture->setGeometry(0, 0, 100, 100);
        random.queue(0.0f); // start course 0
        BowlHost host;
        host.form = &form;
        host.bowlPicture = bowlPicture;
        host.scale.perPixelX = twipsPerPixel;
        host.scale.perPixelY = twipsPerPixel;
        host.addPicture = [this](QWidget *w) { pictures.push_back(w); };
        host.addSmallFish = [this](QWidget *w) { smallFish.push_back(w); };
        living = std::make_unique<LivingBowl>(host, random, clock);
    }

    template <class T = QWidget>
    T *child(const char *name) const { return form.findChild<T *>(QLatin1String(name)); }

    QWidget form;
    QWidget *bowlPicture = nullptr;
    ScriptedRandom random;
    SteppingClock clock;
    std::vector<QWidget *> pictures;
    std::vector<QWidget *> smallFish;
    std::unique_ptr<LivingBowl> living;
};

// Index among the parent's children: later children are drawn in front.
int stackIndex(const QWidget *w) { return w->parentWidget()->children().indexOf(const_cast<QWidget *>(w)); }

TEST(LivingBowl, BuildsTheWaterBoxInFrontOfTheBowlPicture)
{
    Stage s;
    auto *box = s.child<WaterBox>("Picture1(9)");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->parentWidget(), &s.form);
    EXPECT_EQ(box->geometry(), QRect(19, 48, 63, 39)); // 280, 720, 940 x 585 twips
    EXPECT_GT(stackIndex(box), stackIndex(s.bowlPicture));
    EXPECT_EQ(s.pictures, std::vector<QWidget *>{box});
}

TEST(LivingBowl, PutsFishAndBubbleInTheBoxAndTheSceneBehindIt)
{
    Stage s;
    auto *fish = s.child<ImageControl>("Image1");
    auto *bubble = s.child<ImageControl>("Image4");
    auto *food = s.child<ImageControl>("Image5");
    auto *nibbler = s.child<ImageControl>("Image6");
    ASSERT_TRUE(fish && bubble && food && nibbler);

    EXPECT_EQ(fish->parentWidget(), s.living->waterBox());
    EXPECT_EQ(fish->pos(), QPoint(24, 16));
    EXPECT_EQ(fish->size(), QSize(0, 0)) << "no picture before the first swim tick";
    EXPECT_EQ(s.smallFish, std::vector<QWidget *>{fish});

    EXPECT_EQ(bubble->parentWidget(), s.living->waterBox());
    EXPECT_TRUE(bubble->isHidden());
    EXPECT_EQ(bubble->pos(), QPoint(208, 16));
    EXPECT_GT(stackIndex(bubble), stackIndex(fish));

    EXPECT_EQ(food->parentWidget(), s.bowlPicture);
    EXPECT_EQ(nibbler->parentWidget(), s.bowlPicture);
    EXPECT_EQ(food->geometry(), QRect(40, 48, 14, 20));
    EXPECT_EQ(nibbler->geometry(), QRect(56, 48, 26, 32));
    EXPECT_GT(stackIndex(food), stackIndex(nibbler)) << "the food lies in front";
}

TEST(LivingBowl, RunsItsFourTimers)
{
    Stage s;
    const std::pair<const char *, int> timers[] = {{"Timer2", 400}, {"Timer3", 3000}, {"Timer4", 3000}, {"Timer5", 150}};
    for (auto [name, interval] : timers) {
        auto *timer = s.form.findChild<QTimer *>(QLatin1String(name));
        ASSERT_NE(timer, nullptr) << name;
        EXPECT_TRUE(timer->isActive()) << name;
        EXPECT_EQ(timer->interval(), interval) << name;
    }
}

TEST(LivingBowl, StartsWithACourseDrawnAfterReseeding)
{
    Stage s;
    EXPECT_EQ(s.random.log(), "Sr");
    EXPECT_EQ(s.living->swimmer().direction(), 0);
    EXPECT_EQ(s.living->swimmer().frameToggle(), 0);
}

TEST(LivingBowl, SwimTickShowsTheFrameAndMovesTheFish)
{
    Stage s;
    auto *fish = s.child<ImageControl>("Image1");
    s.living->Timer2_Timer(); // course 0 at the bottom wall: left, then up-left
    EXPECT_EQ(fish->size(), QSize(29, 25));
    EXPECT_EQ(fish->pos(), QPoint(19, 16)); // 280, 240 twips
    EXPECT_EQ(s.living->swimmer().body().width, 435);
    const QImage firstFrame = fish->picture().toImage();
    EXPECT_EQ(firstFrame, QPixmap(":/assets/fish/left0.png").toImage());

    s.living->Timer2_Timer();
    EXPECT_EQ(fish->pos(), QPoint(13, 11)); // 200, 160 twips
    EXPECT_EQ(fish->picture().toImage(), QPixmap(":/assets/fish/left1.png").toImage());
}

TEST(LivingBowl, KeepsTwipStepsAtOtherScales)
{
    // 10 twips per pixel: the box grows in pixels, the fish keeps its pixel size.
    Stage s(10);
    EXPECT_EQ(s.living->waterBox()->geometry(), QRect(28, 72, 94, 58)); // 58.5 rounds to even
    s.living->Timer2_Timer();
    EXPECT_EQ(s.living->swimmer().body().width, 290);
    EXPECT_EQ(s.living->swimmer().body().height, 250);
    EXPECT_EQ(s.child("Image1")->pos(), QPoint(28, 24)); // 280, 240 twips
}

TEST(LivingBowl, WaterIsDrawnUnstretchedFromTheTopLeftOnTheBackColour)
{
    // At 10 twips per pixel the box (94 x 58) is wider than the 74 x 47 water picture.
    Stage s(10);
    s.child("Image1")->hide();
    const QImage box = s.living->waterBox()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QImage water = QImage(":/assets/water.png").convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(water.size(), QSize(74, 47));
    EXPECT_EQ(box.copy(0, 0, 74, 47), water);
    EXPECT_EQ(QColor(box.pixel(80, 10)), QColor(192, 255, 255));
    EXPECT_EQ(QColor(box.pixel(10, 52)), QColor(192, 255, 255));
}

TEST(LivingBowl, ReleasesAndRaisesTheBubble)
{
    Stage s;
    auto *bubble = s.child<ImageControl>("Image4");
    s.living->Timer2_Timer(); // fish at 280, 240, course 1
    s.clock.second = 13;
    s.living->Timer3_Timer();
    s.living->Timer4_Timer();
    EXPECT_TRUE(bubble->isVisibleTo(&s.form));
    EXPECT_EQ(s.living->bubble().rect().left, 280 - 210);
    EXPECT_EQ(s.living->bubble().rect().top, 240 + 93.75f);
    EXPECT_EQ(bubble->pos(), QPoint(5, 22)); // 70, 333.75 twips
    s.living->Timer5_Timer();
    EXPECT_EQ(bubble->pos(), QPoint(5, 17)); // 253.75 twips
}

TEST(LivingBowl, NoBubbleOnOtherSeconds)
{
    Stage s;
    s.clock.second = 14;
    s.living->Timer3_Timer();
    s.living->Timer4_Timer();
    EXPECT_TRUE(s.child("Image4")->isHidden());
}

TEST(LivingBowl, OnceTheBubbleHasRisenOutNoPartOfItIsLeftInTheBox)
{
    Stage s;
    auto *bubble = s.child<ImageControl>("Image4");
    const QRect box = s.living->waterBox()->rect();
    s.living->Timer2_Timer(); // fish at 280, 240
    s.clock.second = 3;
    s.living->Timer3_Timer();
    s.living->Timer4_Timer();
    ASSERT_TRUE(bubble->geometry().intersects(box));
    for (int rise = 0; rise < 40; ++rise) s.living->Timer5_Timer();
    EXPECT_FALSE(bubble->geometry().intersects(box));
    EXPECT_TRUE(bubble->isVisibleTo(&s.form));
    EXPECT_EQ(s.living->bubble().rect().top, 240 + 93.75f - 40 * 80) << "it keeps rising unseen";

    s.clock.second = 13;
    s.living->Timer3_Timer();
    s.living->Timer4_Timer();
    EXPECT_EQ(bubble->pos(), QPoint(5, 22)) << "the next release puts it back beside the fish";
}

TEST(LivingBowl, TheLetterLiesInTheBoxBehindTheFishAndTheBubble)
{
    Stage s;
    auto *letter = s.child<ImageControl>("Image7");
    ASSERT_NE(letter, nullptr);
    EXPECT_EQ(letter->parentWidget(), s.living->waterBox()) << "in front of the water and its weed";
    EXPECT_LT(stackIndex(letter), stackIndex(s.child("Image1")));
    EXPECT_LT(stackIndex(letter), stackIndex(s.child("Image4")));
    EXPECT_EQ(letter->size(), QSize(18, 13));
    EXPECT_TRUE(letter->isHidden());
    EXPECT_FALSE(s.living->mailWaiting());
}

TEST(LivingBowl, TheLetterShowsWhileMailWaitsAndDriftsWithTheSwimTick)
{
    Stage s;
    auto *letter = s.child<ImageControl>("Image7");
    s.living->setMailWaiting(true);
    EXPECT_TRUE(s.living->mailWaiting());
    EXPECT_TRUE(letter->isVisibleTo(&s.form));
    EXPECT_EQ(letter->pos(), s.living->letter().position());

    const QRect box = s.living->waterBox()->rect();
    std::vector<QPoint> places{letter->pos()};
    for (int tick = 0; tick < 400; ++tick) {
        s.living->Timer2_Timer();
        EXPECT_EQ(letter->pos(), s.living->letter().position());
        EXPECT_TRUE(box.contains(letter->geometry())) << "tick " << tick;
        if (letter->pos() != places.back()) places.push_back(letter->pos());
    }
    EXPECT_GT(places.size(), 50u) << "it drifts";

    s.living->setMailWaiting(false);
    EXPECT_FALSE(s.living->mailWaiting());
    EXPECT_TRUE(letter->isHidden());
    const QPoint hiddenAt = letter->pos();
    for (int tick = 0; tick < 40; ++tick) s.living->Timer2_Timer();
    EXPECT_EQ(letter->pos(), hiddenAt) << "a hidden letter stays still";
}

// What the box shows at a point: the frontmost opaque picture there, else the water.
TEST(LivingBowl, TheBoxShowsTheFishInFrontOfTheLetterInFrontOfTheWater)
{
    Stage s;
    s.living->setMailWaiting(true);
    s.living->Timer2_Timer();
    auto *box = s.living->waterBox();
    const auto *fish = s.child<ImageControl>("Image1");
    const auto *letter = s.child<ImageControl>("Image7");
    ASSERT_TRUE(fish->geometry().intersects(letter->geometry()));
    const QImage shown = box->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    const QImage water = QImage(":/assets/water.png").convertToFormat(QImage::Format_ARGB32);
    const QImage fishPicture = fish->picture().toImage().convertToFormat(QImage::Format_ARGB32);
    const QImage letterPicture = letter->picture().toImage().convertToFormat(QImage::Format_ARGB32);
    const auto opaqueAt = [](const QImage &picture, const QWidget *control, QPoint at) {
        const QPoint inside = at - control->pos();
        return picture.rect().contains(inside) && qAlpha(picture.pixel(inside)) == 255;
    };
    int fishOverLetter = 0;
    int letterOverWater = 0;
    for (int y = 0; y < shown.height(); ++y) {
        for (int x = 0; x < shown.width(); ++x) {
            const QPoint at(x, y);
            QRgb expected = water.pixel(at);
            if (opaqueAt(fishPicture, fish, at)) expected = fishPicture.pixel(at - fish->pos());
            else if (opaqueAt(letterPicture, letter, at)) expected = letterPicture.pixel(at - letter->pos());
            ASSERT_EQ(QColor(shown.pixel(at)), QColor(expected)) << x << "," << y;
            fishOverLetter += opaqueAt(fishPicture, fish, at) && opaqueAt(letterPicture, letter, at);
            letterOverWater += !opaqueAt(fishPicture, fish, at) && opaqueAt(letterPicture, letter, at);
        }
    }
    EXPECT_GT(fishOverLetter, 10);
    EXPECT_GT(letterOverWater, 100);
}

TEST(LivingBowl, TheLetterChangesNothingAboutTheFishOrTheBubble)
{
    // The same ticks with and without waiting mail: the fish and its bubble go the same way.
    Stage plain;
    Stage withMail;
    withMail.living->setMailWaiting(true);
    for (Stage *s : {&plain, &withMail}) {
        s->random.queue(0.6f);
        s->random.queue(0.2f);
    }
    const auto snapshot = [](Stage &s) {
        return std::vector<QRect>{s.child("Image1")->geometry(), s.child("Image4")->geometry()};
    };
    for (int tick = 0; tick < 600; ++tick) {
        for (Stage *s : {&plain, &withMail}) {
            s->clock.second = (tick / 20) % 60;
            s->living->Timer5_Timer();
            if (tick % 3 == 0) s->living->Timer2_Timer();
            if (tick % 20 == 0) {
                s->living->Timer3_Timer();
                s->living->Timer4_Timer();
            }
        }
        ASSERT_EQ(snapshot(withMail), snapshot(plain)) << "tick " << tick;
        ASSERT_EQ(withMail.living->swimmer().direction(), plain.living->swimmer().direction()) << "tick " << tick;
    }
}

TEST(LivingBowl, NestedFeedingScenesEndWithTheBoxBackAndTheFishAtFifty)
{
    // A clock that jumps a second per reading: every wait still runs the pending events
    // once, so the second press below lands inside the first scene's first wait.
    Stage s(15, std::chrono::seconds(1));
    auto *box = s.living->waterBox();
    auto *nibbler = s.child("Image6");
    std::vector<int> boxTopsSeenByPress;
    QTimer::singleShot(0, [&] {
        boxTopsSeenByPress.push_back(box->y());
        s.living->playFeedingScene();
    });
    s.living->playFeedingScene();

    EXPECT_EQ(boxTopsSeenByPress, std::vector<int>{-133}) << "pressed while the box was lifted";
    EXPECT_EQ(s.living->waterBoxTop(), 720);
    EXPECT_EQ(box->y(), 48);
    EXPECT_EQ(nibbler->x(), 50);
    EXPECT_EQ(nibbler->y(), 48);
}

} // namespace
} // namespace kingyo
