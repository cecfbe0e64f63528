#include "fish/bowl_window.h"
#include "fish/pixel_region.h"
#include "support/fakes.h"

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QSignalSpy>
#include <QTimer>
#include <QWindow>
#include <gtest/gtest.h>

namespace kingyo {
namespace {

// Eight bowls of one colour on white, each with a notch of its own on the rim, so
// every slot has an outline of its own.
BowlFrames paintedFrames()
{
    BowlFrames frames;
    for (int i = 0; i < kRegionSlots; ++i) {
        QImage frame(100, 100, QImage::Format_RGB32);
        frame.fill(Qt::white);
        QPainter painter(&frame);
        painter.fillRect(QRect(10, 20, 80, 70), QColor(120, 40, 160));
        painter.fillRect(QRect(12 + 9 * i, 20, 5, 3), Qt::white);
        frames[i] = frame;
    }
    return frames;
}

void sendMouse(QWidget *target, QEvent::Type type, Qt::MouseButton button, QPoint local, QPoint global)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
    QMouseEvent event(type, local, global, type == QEvent::MouseMove ? Qt::NoButton : button, held, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &event);
}

void press(QWidget *target, Qt::MouseButton button, QPoint at = {5, 5})
{
    sendMouse(target, QEvent::MouseButtonPress, button, at, target->mapToGlobal(at));
}

void doubleClick(QWidget *target, QPoint at = {5, 5})
{
    const QPoint global = target->mapToGlobal(at);
    sendMouse(target, QEvent::MouseButtonPress, Qt::LeftButton, at, global);
    sendMouse(target, QEvent::MouseButtonRelease, Qt::LeftButton, at, global);
    sendMouse(target, QEvent::MouseButtonDblClick, Qt::LeftButton, at, global);
    sendMouse(target, QEvent::MouseButtonRelease, Qt::LeftButton, at, global);
}

// A left drag on a picture by an offset, released there.
void drag(QWidget *target, QPoint from, QPoint by)
{
    const QPoint global = target->mapToGlobal(from);
    sendMouse(target, QEvent::MouseButtonPress, Qt::LeftButton, from, global);
    sendMouse(target, QEvent::MouseMove, Qt::LeftButton, from + by, global + by);
    sendMouse(target, QEvent::MouseButtonRelease, Qt::LeftButton, from + by, global + by);
}

class BowlWindowTest : public ::testing::Test {
protected:
    BowlWindowTest()
    {
        QCursor::setPos(kPointer);
    }

    // Starts the bowl the way the program does and queues the first reload's number.
    BowlWindow &startBowl(float firstReload = 0.125f)
    {
        bowl = std::make_unique<BowlWindow>(random, clock, frames);
        random.queue(firstReload);
        return *bowl;
    }

    const QPoint kPointer{321, 123};
    const BowlFrames frames = paintedFrames();
    testing::ScriptedRandom random;
    testing::SteppingClock clock;
    std::unique_ptr<BowlWindow> bowl;
};

TEST_F(BowlWindowTest, IsAFramelessTopmostToolWindow)
{
    const Qt::WindowFlags flags = startBowl().windowFlags();
    EXPECT_EQ(bowl->objectName(), "Form1");
    EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Tool);
    EXPECT_TRUE(flags.testFlag(Qt::FramelessWindowHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowStaysOnTopHint));
}

TEST_F(BowlWindowTest, TakesItsSizeFromTheBowlPictureInTwips)
{
    startBowl();
    const QScreen *screen = QGuiApplication::primaryScreen();
    const double twipsPerPixelX = 1440.0 / screen->logicalDotsPerInchX();
    const double twipsPerPixelY = 1440.0 / screen->logicalDotsPerInchY();
    EXPECT_FLOAT_EQ(bowl->twipsPerPixelX(), twipsPerPixelX);
    EXPECT_FLOAT_EQ(bowl->twipsPerPixelY(), twipsPerPixelY);
    EXPECT_EQ(bowl->size(), QSize(qRound(1500 / twipsPerPixelX), qRound(1500 / twipsPerPixelY)));
    if (screen->logicalDotsPerInchX() == 96) {
        EXPECT_EQ(bowl->size(), QSize(100, 100));
    }
}

TEST_F(BowlWindowTest, BowlPictureCoversTheWindowAndTimer1RunsEverySecond)
{
    startBowl();
    auto *picture = bowl->findChild<QLabel *>(QStringLiteral("Picture1(0)"));
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture, bowl->bowlPicture());
    EXPECT_EQ(picture->geometry(), QRect(QPoint(0, 0), bowl->size()));
    auto *timer = bowl->findChild<QTimer *>(QStringLiteral("Timer1"));
    ASSERT_NE(timer, nullptr);
    EXPECT_EQ(timer->interval(), 1000);
    EXPECT_TRUE(timer->isActive());
}

TEST_F(BowlWindowTest, StartsAtThePointerWithoutAShapeAfterReseeding)
{
    startBowl();
    EXPECT_EQ(bowl->pos(), kPointer);
    EXPECT_TRUE(bowl->windowHandle() == nullptr || bowl->windowHandle()->mask().isEmpty());
    EXPECT_NE(random.log().find('S'), std::string::npos);
    EXPECT_FALSE(bowl->isVisible());
}

TEST_F(BowlWindowTest, EachTickShapesTheWindowWithTheChosenSlot)
{
    const QRegion slot0 = testing::pixelByPixelRegion(frames[0]);
    const QRegion slot1 = testing::pixelByPixelRegion(frames[1]);
    startBowl(0.125f); // 8 steps: the first tick counts down to 7 (slot 1), then 6 (slot 0)
    bowl->Timer1_Timer();
    EXPECT_EQ(bowl->windowHandle()->mask(), slot1);
    bowl->Timer1_Timer();
    EXPECT_EQ(bowl->windowHandle()->mask(), slot0);
    bowl->Timer1_Timer();
    EXPECT_EQ(bowl->windowHandle()->mask(), slot1);
}

TEST_F(BowlWindowTest, ProgramPicturesGiveEverySlotAShape)
{
    const BowlFrames pictures = BowlWindow::loadFrames();
    for (const QImage &picture : pictures) {
        ASSERT_EQ(picture.size(), QSize(100, 100));
        const QRegion shape = toQRegion(regionFromFrame(picture));
        EXPECT_FALSE(shape.contains(QPoint(0, 0))) << "the corner is background";
        EXPECT_GT(shape.rectCount(), 2) << "more than the extra row and column";
    }
    BowlWindow programBowl(random, clock);
    const auto *picture0 = qobject_cast<QLabel *>(programBowl.bowlPicture());
    ASSERT_NE(picture0, nullptr);
    EXPECT_EQ(picture0->pixmap().toImage().convertToFormat(QImage::Format_RGB32),
              pictures[0].convertToFormat(QImage::Format_RGB32));
}

TEST_F(BowlWindowTest, TickPullsTheWindowBackOntoThePrimaryScreen)
{
    startBowl();
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    struct Case {
        QPoint at;
        QPoint expected;
    };
    const QPoint farCorner = screen.bottomRight() + QPoint(1, 1) - QPoint(bowl->width(), bowl->height());
    for (const Case c : {Case{screen.bottomRight() - QPoint(10, 10), farCorner},
                         Case{screen.topLeft() - QPoint(40, 30), screen.topLeft()},
                         Case{screen.topLeft() + QPoint(20, 30), screen.topLeft() + QPoint(20, 30)}}) {
        bowl->move(c.at);
        bowl->Timer1_Timer();
        EXPECT_EQ(bowl->pos(), c.expected);
    }
}

TEST_F(BowlWindowTest, LeftDragMovesTheWindowWhenTheSystemWillNot)
{
    startBowl();
    bowl->show();
    QWidget *picture = bowl->bowlPicture();
    const QPoint start = bowl->pos();
    const QPoint grab = start + QPoint(30, 40);
    sendMouse(picture, QEvent::MouseButtonPress, Qt::LeftButton, {30, 40}, grab);
    sendMouse(picture, QEvent::MouseMove, Qt::LeftButton, {50, 70}, grab + QPoint(20, 30));
    sendMouse(picture, QEvent::MouseMove, Qt::LeftButton, {45, 60}, grab + QPoint(-7, 12));
    sendMouse(picture, QEvent::MouseButtonRelease, Qt::LeftButton, {45, 60}, grab + QPoint(-7, 12));
    EXPECT_EQ(bowl->pos(), start + QPoint(-7, 12));
    sendMouse(picture, QEvent::MouseMove, Qt::NoButton, {80, 80}, grab + QPoint(40, 40));
    EXPECT_EQ(bowl->pos(), start + QPoint(-7, 12)) << "the drag ended with the release";
}

TEST_F(BowlWindowTest, RightPressOnABowlPictureEndsTheProgram)
{
    startBowl();
    QLabel waterBox(bowl.get());
    bowl->addPicture(&waterBox);
    QSignalSpy ends(bowl.get(), &BowlWindow::endRequested);
    press(bowl->bowlPicture(), Qt::MiddleButton);
    press(bowl->bowlPicture(), Qt::LeftButton);
    EXPECT_EQ(ends.count(), 0);
    press(bowl->bowlPicture(), Qt::RightButton);
    EXPECT_EQ(ends.count(), 1);
    press(&waterBox, Qt::RightButton);
    EXPECT_EQ(ends.count(), 2);
}

// A stand-in water box whose small fish covers a corner of it.
struct BoxWithFish {
    explicit BoxWithFish(BowlWindow &bowl) : box(&bowl)
    {
        box.setGeometry(10, 40, 60, 40);
        bowl.addPicture(&box, [this](QPoint at) { return fish.contains(at); });
    }
    QLabel box;
    const QRect fish{0, 0, 20, 15};
};

TEST_F(BowlWindowTest, PressOnTheSmallFishNeitherDragsNorEnds)
{
    startBowl();
    bowl->show();
    BoxWithFish water(*bowl);
    QSignalSpy ends(bowl.get(), &BowlWindow::endRequested);
    QSignalSpy panelRequests(bowl.get(), &BowlWindow::panelRequested);
    const QPoint start = bowl->pos();
    drag(&water.box, {3, 3}, {20, 20});
    press(&water.box, Qt::RightButton, {3, 3});
    EXPECT_EQ(bowl->pos(), start);
    EXPECT_EQ(ends.count(), 0);
    EXPECT_EQ(panelRequests.count(), 0);
    press(&water.box, Qt::RightButton, {40, 30});
    EXPECT_EQ(ends.count(), 1) << "beside the fish the box ends the program";
}

TEST_F(BowlWindowTest, DoubleClicksOnTheBowlItsPicturesAndTheSmallFishAskForThePanel)
{
    startBowl();
    BoxWithFish water(*bowl);
    QSignalSpy requests(bowl.get(), &BowlWindow::panelRequested);
    doubleClick(bowl->bowlPicture());
    doubleClick(&water.box, {5, 5});
    doubleClick(bowl.get());
    EXPECT_EQ(requests.count(), 3);
}

TEST_F(BowlWindowTest, ClosingFromOutsideAsksToUnload)
{
    startBowl();
    bowl->show();
    QSignalSpy unloads(bowl.get(), &BowlWindow::unloadRequested);
    bowl->close();
    EXPECT_EQ(unloads.count(), 1);
}

} // namespace
} // namespace kingyo
