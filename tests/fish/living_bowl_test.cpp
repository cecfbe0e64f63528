#include "fish/living_bowl.h"

#include "fish/image_control.h"
#include "fish/water_box.h"
#include "support/fakes.h"

#include <QPaintEvent>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <tuple>
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
        host.addPicture = [this](QWidget *w, const SmallFishAt &fishAt) {
            pictures.push_back(w);
            smallFishAt = fishAt;
        };
        living = std::make_unique<LivingBowl>(host, random, clock);
    }

    template <class T = QWidget>
    T *child(const char *name) const { return form.findChild<T *>(QLatin1String(name)); }

    QWidget form;
    QWidget *bowlPicture = nullptr;
    ScriptedRandom random;
    SteppingClock clock;
    std::vector<QWidget *> pictures;
    SmallFishAt smallFishAt;
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
    auto *fish = s.child<BoxPicture>("Image1");
    auto *bubble = s.child<BoxPicture>("Image4");
    auto *food = s.child<ImageControl>("Image5");
    auto *nibbler = s.child<ImageControl>("Image6");
    ASSERT_TRUE(fish && bubble && food && nibbler);

    EXPECT_EQ(fish->parent(), s.living->waterBox());
    EXPECT_EQ(fish->pos(), QPoint(24, 16));
    EXPECT_EQ(fish->size(), QSize(0, 0)) << "no picture before the first swim tick";

    EXPECT_EQ(bubble->parent(), s.living->waterBox());
    EXPECT_FALSE(bubble->isVisible());
    EXPECT_EQ(bubble->pos(), QPoint(208, 16));

    EXPECT_EQ(food->parentWidget(), s.bowlPicture);
    EXPECT_EQ(nibbler->parentWidget(), s.bowlPicture);
    EXPECT_EQ(food->geometry(), QRect(40, 48, 14, 20));
    EXPECT_EQ(nibbler->geometry(), QRect(56, 48, 26, 32));
    EXPECT_GT(stackIndex(food), stackIndex(nibbler)) << "the food lies in front";
}

TEST(LivingBowl, RunsItsTimersAndTheRiseOnlyOnceABubbleIsOut)
{
    Stage s;
    const std::tuple<const char *, int, bool> timers[] = {
        {"Timer2", 400, true}, {"Timer3", 3000, true}, {"Timer4", 3000, true}, {"Timer5", 150, false}};
    for (auto [name, interval, running] : timers) {
        auto *timer = s.form.findChild<QTimer *>(QLatin1String(name));
        ASSERT_NE(timer, nullptr) << name;
        EXPECT_EQ(timer->isActive(), running) << name;
        EXPECT_EQ(timer->interval(), interval) << name;
    }
}

TEST(LivingBowl, TheRiseTimerRunsOnlyWhileABubbleIsInSight)
{
    Stage s;
    auto *rise = s.form.findChild<QTimer *>(QStringLiteral("Timer5"));
    const auto *bubble = s.child<BoxPicture>("Image4");
    const QRect box = s.living->waterBox()->rect();
    s.living->Timer2_Timer();
    for (int release = 0; release < 2; ++release) {
        s.clock.second = 13;
        s.living->Timer3_Timer();
        s.living->Timer4_Timer();
        ASSERT_TRUE(rise->isActive()) << "release " << release;
        for (int rises = 0; rise->isActive() && rises < 100; ++rises) {
            ASSERT_TRUE(bubble->geometry().intersects(box)) << "stopped only once out of sight";
            s.living->Timer5_Timer();
        }
        EXPECT_FALSE(rise->isActive());
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
    auto *fish = s.child<BoxPicture>("Image1");
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
    EXPECT_EQ(s.child<BoxPicture>("Image1")->pos(), QPoint(28, 24)); // 280, 240 twips
}

TEST(LivingBowl, WaterIsDrawnUnstretchedFromTheTopLeftOnTheBackColour)
{
    // At 10 twips per pixel the box (94 x 58) is wider than the 74 x 47 water picture.
    Stage s(10);
    s.child<BoxPicture>("Image1")->setVisible(false);
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
    auto *bubble = s.child<BoxPicture>("Image4");
    s.living->Timer2_Timer(); // fish at 280, 240, course 1
    s.clock.second = 13;
    s.living->Timer3_Timer();
    s.living->Timer4_Timer();
    EXPECT_TRUE(bubble->isVisible());
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
    EXPECT_FALSE(s.child<BoxPicture>("Image4")->isVisible());
}

TEST(LivingBowl, OnceTheBubbleHasRisenOutNoPartOfItIsLeftInTheBox)
{
    Stage s;
    auto *bubble = s.child<BoxPicture>("Image4");
    const QRect box = s.living->waterBox()->rect();
    s.living->Timer2_Timer(); // fish at 280, 240
    s.clock.second = 3;
    s.living->Timer3_Timer();
    s.living->Timer4_Timer();
    ASSERT_TRUE(bubble->geometry().intersects(box));
    for (int rise = 0; rise < 40; ++rise) s.living->Timer5_Timer();
    EXPECT_FALSE(bubble->geometry().intersects(box));
    EXPECT_TRUE(bubble->isVisible());
    EXPECT_EQ(s.living->bubble().rect().top, 240 + 93.75f - 40 * 80) << "it keeps rising unseen";

    s.clock.second = 13;
    s.living->Timer3_Timer();
    s.living->Timer4_Timer();
    EXPECT_EQ(bubble->pos(), QPoint(5, 22)) << "the next release puts it back beside the fish";
}

TEST(LivingBowl, TheLetterLiesInTheBoxBehindTheFishAndTheBubble)
{
    Stage s;
    auto *letter = s.child<BoxPicture>("Image7");
    ASSERT_NE(letter, nullptr);
    EXPECT_EQ(letter->parent(), s.living->waterBox()) << "in front of the water and its weed";
    EXPECT_EQ(letter->size(), QSize(18, 13));
    EXPECT_FALSE(letter->isVisible());
    EXPECT_FALSE(s.living->mailWaiting());
}

TEST(LivingBowl, TheLetterShowsWhileMailWaitsAndDriftsWithTheSwimTick)
{
    Stage s;
    auto *letter = s.child<BoxPicture>("Image7");
    s.living->setMailWaiting(true);
    EXPECT_TRUE(s.living->mailWaiting());
    EXPECT_TRUE(letter->isVisible());
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
    EXPECT_FALSE(letter->isVisible());
    const QPoint hiddenAt = letter->pos();
    for (int tick = 0; tick < 40; ++tick) s.living->Timer2_Timer();
    EXPECT_EQ(letter->pos(), hiddenAt) << "a hidden letter stays still";
}

// The letter waiting, the fish stepped left onto a bubble just let go beside its mouth.
struct CrowdedBox : Stage {
    CrowdedBox()
    {
        living->setMailWaiting(true);
        living->Timer2_Timer(); // fish at 280, 240
        clock.second = 3;
        living->Timer3_Timer();
        living->Timer4_Timer(); // the bubble at the fish's mouth
        living->swimmer().setDirection(0);
        living->Timer2_Timer(); // one step left, onto the bubble
    }
    const BoxPicture &letter() const { return *child<BoxPicture>("Image7"); }
    const BoxPicture &fish() const { return *child<BoxPicture>("Image1"); }
    const BoxPicture &bubble() const { return *child<BoxPicture>("Image4"); }
};

// What the box shows at a point: the frontmost opaque picture there, else the water.
TEST(LivingBowl, TheBoxShowsTheBubbleInFrontOfTheFishInFrontOfTheLetterInFrontOfTheWater)
{
    CrowdedBox s;
    const BoxPicture *backToFront[] = {&s.letter(), &s.fish(), &s.bubble()};
    const QImage shown = s.living->waterBox()->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    const QImage water = QImage(":/assets/water.png").convertToFormat(QImage::Format_ARGB32);
    std::vector<QImage> pictures;
    for (const BoxPicture *picture : backToFront)
        pictures.push_back(picture->picture().toImage().convertToFormat(QImage::Format_ARGB32));
    const auto opaqueAt = [&](std::size_t layer, QPoint at) {
        const QPoint inside = at - backToFront[layer]->pos();
        return pictures[layer].rect().contains(inside) && qAlpha(pictures[layer].pixel(inside)) == 255;
    };
    int overlaps[3] = {}; // pixels where layer i covers something opaque: the water, the letter, the fish
    for (int y = 0; y < shown.height(); ++y) {
        for (int x = 0; x < shown.width(); ++x) {
            const QPoint at(x, y);
            QRgb expected = water.pixel(at);
            for (std::size_t layer = 0; layer < pictures.size(); ++layer) {
                if (!opaqueAt(layer, at)) continue;
                expected = pictures[layer].pixel(at - backToFront[layer]->pos());
                overlaps[layer] += layer == 0 || opaqueAt(layer - 1, at);
            }
            ASSERT_EQ(QColor(shown.pixel(at)), QColor(expected)) << x << "," << y;
        }
    }
    EXPECT_GT(overlaps[0], 100) << "the letter over the water";
    EXPECT_GT(overlaps[1], 10) << "the fish over the letter";
    EXPECT_GT(overlaps[2], 5) << "the bubble over the fish";
}

// A point of the box: inside a but neither in b nor in c.
QPoint pointIn(const QRect &a, const QRect &b = {}, const QRect &c = {})
{
    const QRegion only = QRegion(a) - b - c;
    return only.isEmpty() ? QPoint(-1, -1) : only.begin()->topLeft();
}

TEST(LivingBowl, TheSmallFishIsFoundOnlyWhereItIsTheFrontmostPicture)
{
    CrowdedBox s;
    const QRect letter = s.letter().geometry();
    const QRect fish = s.fish().geometry();
    const QRect bubble = s.bubble().geometry();
    const struct {
        const char *where;
        QPoint at;
        bool fishFound;
    } cases[] = {
        {"on the fish in front of the letter", pointIn(fish & letter, bubble), true},
        {"on the bubble in front of the fish", pointIn(fish & bubble), false},
        {"on the open water", pointIn(s.living->waterBox()->rect(), letter | fish | bubble), false},
    };
    for (const auto &c : cases) {
        ASSERT_NE(c.at, QPoint(-1, -1)) << c.where << ": the pictures no longer overlap so";
        EXPECT_EQ(s.smallFishAt(c.at), c.fishFound) << c.where;
    }
    s.child<BoxPicture>("Image1")->setVisible(false);
    EXPECT_FALSE(s.smallFishAt(pointIn(fish & letter, bubble))) << "a fish not on show";
}

struct PaintRecorder : QObject {
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) painted += static_cast<QPaintEvent *>(event)->region();
        return false;
    }
    QRegion painted;
};

TEST(LivingBowl, AStepRepaintsOnlyTheRectangleThePictureLeftAndEntered)
{
    Stage s;
    for (QTimer *timer : s.form.findChildren<QTimer *>()) timer->stop(); // the test ticks by hand
    auto *box = s.living->waterBox();
    PaintRecorder recorder;
    box->installEventFilter(&recorder);
    s.form.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !recorder.painted.isEmpty(); }));
    recorder.painted = {};
    s.living->Timer2_Timer(); // the fish's first picture
    s.clock.second = 3;
    s.living->Timer3_Timer();
    s.living->Timer4_Timer();
    for (int rise = 0; rise < 10; ++rise) s.living->Timer5_Timer(); // the bubble out of the box
    ASSERT_TRUE(QTest::qWaitFor([&] { return !recorder.painted.isEmpty(); }));
    ASSERT_FALSE(s.child<BoxPicture>("Image4")->geometry().intersects(box->rect()));

    const QRect before = s.child<BoxPicture>("Image1")->geometry();
    recorder.painted = {};
    s.living->Timer5_Timer(); // the bubble, unseen, rises on
    s.living->Timer2_Timer();
    const QRect after = s.child<BoxPicture>("Image1")->geometry();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !recorder.painted.isEmpty(); }));
    EXPECT_EQ(recorder.painted, QRegion((before | after) & box->rect()));
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
        return std::vector<QRect>{s.child<BoxPicture>("Image1")->geometry(), s.child<BoxPicture>("Image4")->geometry()};
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
