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
        {"the bowl in the window", {490, 300}, window, kScreen, {kBowl}, {490, 420}},
        // Down would be nearest, but the panel lies there: below the panel, 167 down.
        {"the bowl and the panel", {490, 300}, window, kScreen, {kBowl, kPanel}, {490, 467}},
        // Down (60) would leave the screen: left, 170.
        {"near the bottom edge", {490, 550}, window, kScreen, {{620, 560, 100, 100}}, {320, 550}},
        {"two obstacles, a diagonal move", {100, 100}, window, kScreen,
         {{0, 250, 420, 100}, {350, 0, 100, 260}}, {50, 50}},
        {"nothing clear: least covered", {40, 50}, {1200, 700}, kScreen, {{1150, 650, 100, 100}}, {0, 0}},
        {"partly off the screen, nothing in the way", {1100, -30}, window, kScreen, {}, {980, 0}},
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
        bowl.setGeometry(QRect(availableScreen().center() + QPoint(10, -80), QSize(100, 100)));
        bowl.show();
        qApp->installEventFilter(&clearance);
    }

    QWidget bowl;
    WindowClearance clearance{[this] { return QList<QWidget *>{&bowl}; }};
};

TEST_F(ShownWindows, AMessageBoxIsPlacedAfterItHasCentredItself)
{
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("エラー"), QStringLiteral("text"), QMessageBox::Ok);
    box.show();
    QApplication::processEvents();
    // Placed with its final size: clear of the bowl yet right against it.
    EXPECT_FALSE(box.frameGeometry().intersects(bowl.frameGeometry()));
    EXPECT_TRUE(box.frameGeometry().adjusted(-1, -1, 1, 1).intersects(bowl.frameGeometry()));
}

// A window opening keeps clear of the others open too (a notice over the settings window).
TEST_F(ShownWindows, AWindowKeepsClearOfTheOthersOpen)
{
    QWidget settings;
    settings.setGeometry(QRect(availableScreen().center() - QPoint(150, 100), QSize(300, 200)));
    settings.show();
    QWidget notice;
    notice.setGeometry(QRect(settings.geometry().center(), QSize(200, 40)));
    notice.show();
    EXPECT_FALSE(notice.frameGeometry().intersects(settings.frameGeometry()));
    EXPECT_FALSE(notice.frameGeometry().intersects(bowl.frameGeometry()));
}

} // namespace
} // namespace kingyo
