#include "panel/window_clearance.h"

#include <QApplication>
#include <QMessageBox>
#include <QScreen>
#include <QWidget>
#include <gtest/gtest.h>
#include <ostream>

void PrintTo(const QPoint &point, std::ostream *out) { *out << point.x() << ',' << point.y(); }

namespace kingyo {
namespace {

const QRect kScreen(0, 0, 1280, 800);
// The bowl a little right of and below the centre, and the panel 107 pixels below it.
const QRect kBowl(600, 320, 100, 100);
const QRect kPanel(593, 427, 130, 40);

TEST(WindowClearance, TheWindowMovesTheLeastThatLeavesItWholeAndUncovered)
{
    const QSize window(300, 200);
    const struct {
        const char *name;
        QPoint wanted;
        QSize size;
        QRect screen;
        QList<QRect> obstacles;
        QPoint expected;
    } cases[] = {
        {"nothing in the way", {490, 300}, window, kScreen, {}, {490, 300}},
        {"the bowl touching the corner only", {490, 300}, window, kScreen, {{790, 500, 100, 100}}, {490, 300}},
        // Down 120 beats up 180, left 190 and right 210.
        {"the bowl in the window", {490, 300}, window, kScreen, {kBowl}, {490, 420}},
        // Down would be nearest, but the panel lies there: below the panel, 167 down.
        {"the bowl and the panel", {490, 300}, window, kScreen, {kBowl, kPanel}, {490, 467}},
        // Down (60) would leave the screen: left, 170.
        {"near the bottom edge", {490, 550}, window, kScreen, {{620, 560, 100, 100}}, {320, 550}},
        // Neither straight move clears both; the corner between them does.
        {"two obstacles, a diagonal move", {100, 100}, window, kScreen,
         {{0, 250, 420, 100}, {350, 0, 100, 260}}, {50, 50}},
        // Too large to miss the bowl anywhere: the place covering least of it.
        {"nothing clear: least covered", {40, 50}, {1200, 700}, kScreen, {{1150, 650, 100, 100}}, {0, 0}},
        {"nothing clear, covered alike everywhere", {40, 50}, {1200, 700}, kScreen, {kBowl}, {40, 50}},
        {"partly off the screen, nothing in the way", {1100, -30}, window, kScreen, {}, {980, 0}},
        {"larger than the screen", {-60, -50}, {1400, 900}, kScreen, {}, {0, 0}},
        // Left and up would leave a screen that starts at 1280,100: right, 40.
        {"a screen not at 0,0", {1500, 300}, window, {1280, 100, 1024, 736}, {{1480, 250, 60, 300}}, {1540, 300}},
        {"no screen known", {490, 300}, window, QRect(), {kBowl}, {490, 300}},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(clearPlacement(QRect(c.wanted, c.size), c.screen, c.obstacles), c.expected) << c.name;
    }
}

QRect availableScreen() { return QApplication::primaryScreen()->availableGeometry(); }

// On the offscreen platform a window has no frame: its frame is its geometry.
class ShownWindows : public ::testing::Test {
protected:
    void SetUp() override
    {
        // A bowl 100 pixels square just right of and below the screen's centre.
        bowl.setGeometry(QRect(availableScreen().center() + QPoint(10, -80), QSize(100, 100)));
        bowl.show();
        qApp->installEventFilter(&clearance);
    }

    void showCentred(QWidget &window)
    {
        window.resize(300, 200);
        window.move(availableScreen().center() - QPoint(150, 100));
        window.show();
        QApplication::processEvents(); // the placement waits for the window's own show handling
    }

    QWidget bowl;
    WindowClearance clearance{[this] { return QList<QWidget *>{&bowl}; }};
};

TEST_F(ShownWindows, AMessageBoxIsPlacedAfterItHasCentredItself)
{
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("エラー"), QStringLiteral("text"), QMessageBox::Ok);
    box.show();
    QApplication::processEvents();
    // Placed with the size it ended with: clear of the bowl and right against it.
    const QRect placed = box.frameGeometry();
    EXPECT_FALSE(placed.intersects(bowl.frameGeometry())) << "box at " << box.x() << ',' << box.y();
    EXPECT_TRUE(placed.adjusted(-1, -1, 1, 1).intersects(bowl.frameGeometry()))
        << "box at " << box.x() << ',' << box.y() << ", " << box.width() << " x " << box.height();
}

TEST_F(ShownWindows, AHiddenBowlIsNoObstacleAndTheBowlItselfIsNeverMoved)
{
    bowl.hide();
    QWidget window;
    showCentred(window);
    EXPECT_EQ(window.pos(), availableScreen().center() - QPoint(150, 100));

    const QPoint bowlAt = bowl.pos();
    bowl.show();
    QApplication::processEvents();
    EXPECT_EQ(bowl.pos(), bowlAt);
}

TEST_F(ShownWindows, AWindowMovedAfterItOpenedStaysWhereItWasPut)
{
    QWidget window;
    showCentred(window);
    const QPoint underTheBowl = bowl.pos();
    window.move(underTheBowl);
    QApplication::processEvents();
    EXPECT_EQ(window.pos(), underTheBowl);
}

} // namespace
} // namespace kingyo
