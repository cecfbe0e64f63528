#include "e2e_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <sstream>
#include <thread>

namespace kingyo::e2e {
namespace {

using namespace std::chrono_literals;

// The panel opens 1600 twips below the bowl's top and 100 twips left of it: 107 and 7
// pixels at 15 twips per pixel, counted from the panel's frame.
constexpr int kPanelBelowBowl = 107;
constexpr int kPanelLeftOfBowl = 7;

// A window's frame on the root window: its client's place widened by the frame extents.
struct Frame {
    int left = 0;
    int top = 0;
    int right = 0; // exclusive
    int bottom = 0; // exclusive
};

std::ostream &operator<<(std::ostream &out, const Frame &f)
{
    return out << "frame " << f.left << ',' << f.top << " to " << f.right << ',' << f.bottom;
}

std::ostream &operator<<(std::ostream &out, const Geometry &g) { return out << g.x << ',' << g.y; }

class PanelAtTheScreenEdge : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(x11.connected()) << "needs an X display (run through scripts/with-x11)";
        screen = x11.screen();
    }

    // Starts kingyo with the bowl at (x, y) (it starts at the pointer) and opens the
    // panel with a double-click on the bowl.
    void openPanelWithTheBowlAt(int x, int y)
    {
        x11.warpPointer(x, y);
        kingyo = std::make_unique<KingyoProcess>(KingyoSettings{"127.0.0.1:1", "edge", "edge-pass"});
        bowl = findBowl(x11, *kingyo);
        ASSERT_NE(bowl, XCB_NONE);
        ASSERT_TRUE(waitUntilShaped(x11, bowl)) << "the bowl never got its shape";
        bowlAtOpening = x11.geometry(bowl);
        doubleClickTheBowl();
        panel = findTitled(x11, *kingyo, "Brimble屋さん");
        ASSERT_NE(panel, XCB_NONE) << "no panel after a double-click";
    }

    // Aimed at the bowl where it is as the pointer moves, for a bowl let go swims.
    void doubleClickTheBowl()
    {
        xdotool("mousemove --window " + std::to_string(bowl) + " 10 60 click --repeat 2 --delay 80 1");
    }

    Frame panelFrame()
    {
        const Geometry client = x11.geometry(panel);
        const FrameExtents extents = x11.frameExtents(panel);
        return {client.x - extents.left, client.y - extents.top, client.x + client.width + extents.right,
                client.y + client.height + extents.bottom};
    }

    bool wholeOnTheScreen(const Frame &f) const
    {
        return f.left >= 0 && f.top >= 0 && f.right <= screen.width && f.bottom <= screen.height;
    }

    bool bowlAboveThePanel()
    {
        const Frame f = panelFrame();
        const Geometry b = x11.geometry(bowl);
        return b.x == f.left + kPanelLeftOfBowl && b.y == f.top - kPanelBelowBowl;
    }

    std::string where()
    {
        std::ostringstream out;
        out << "panel " << panelFrame() << ", bowl at " << x11.geometry(bowl);
        return out.str();
    }

    X11Client x11;
    Geometry screen;
    std::unique_ptr<KingyoProcess> kingyo;
    xcb_window_t bowl = XCB_NONE;
    xcb_window_t panel = XCB_NONE;
    Geometry bowlAtOpening;
};

TEST_F(PanelAtTheScreenEdge, OpenedAtTheBottomEdgeThePanelIsWholeWithTheBowlAboveIt)
{
    // The bowl's foot 10 pixels above the bottom edge: the panel would open below it.
    openPanelWithTheBowlAt(400, screen.height - 110);
    ASSERT_EQ(bowlAtOpening.y, screen.height - 110) << "the bowl did not start at the pointer";
    EXPECT_TRUE(waitUntil(kPatience, [&] {
        const Frame f = panelFrame();
        return f.bottom == screen.height && f.left == bowlAtOpening.x - kPanelLeftOfBowl && bowlAboveThePanel();
    })) << where();
    EXPECT_TRUE(wholeOnTheScreen(panelFrame())) << where();
}

TEST_F(PanelAtTheScreenEdge, DraggedPartlyOffTheRightEdgeThePanelComesBackWithTheBowl)
{
    openPanelWithTheBowlAt(400, 200);
    ASSERT_TRUE(waitUntil(kPatience, [&] { return bowlAboveThePanel(); })) << where();

    // Dragged by its title bar until only a third of it is left on the screen.
    const Frame before = panelFrame();
    const int grabX = before.left + 20;
    const int grabY = before.top + x11.frameExtents(panel).top / 2;
    const int dropX = screen.width - 20;
    xdotool(mouseAt(grabX, grabY) + " sleep 0.2 mousedown 1 sleep 0.1 " + mouseAt(grabX + 5, grabY + 5) +
            " sleep 0.1 " + mouseAt((grabX + dropX) / 2, grabY + 20) + " sleep 0.1 " + mouseAt(dropX, grabY + 40) +
            " sleep 0.2 mouseup 1");
    ASSERT_TRUE(waitUntil(kPatience, [&] { return panelFrame().top != before.top; })) << "the panel was not dragged";
    EXPECT_TRUE(waitUntil(kPatience, [&] {
        const Frame f = panelFrame();
        return f.right == screen.width && bowlAboveThePanel();
    })) << where();
    EXPECT_TRUE(wholeOnTheScreen(panelFrame())) << where();
}

TEST_F(PanelAtTheScreenEdge, WhileThePanelIsDraggedTheBowlFollowsIt)
{
    openPanelWithTheBowlAt(400, 200);
    ASSERT_TRUE(waitUntil(kPatience, [&] { return bowlAboveThePanel(); })) << where();

    // The button stays down: the bowl is checked mid-drag.
    const Frame before = panelFrame();
    const int grabX = before.left + 20;
    const int grabY = before.top + x11.frameExtents(panel).top / 2;
    xdotool(mouseAt(grabX, grabY) + " sleep 0.2 mousedown 1 sleep 0.1 " + mouseAt(grabX + 5, grabY + 5));
    for (int step = 1; step <= 4; ++step) {
        xdotool(mouseAt(grabX + 40 * step, grabY + 30 * step));
        const int leftBefore = before.left + 40 * (step - 1);
        EXPECT_TRUE(waitUntil(kPatience, [&] { return panelFrame().left > leftBefore && bowlAboveThePanel(); }))
            << "step " << step << ": " << where();
    }
    xdotool("mouseup 1");
    EXPECT_TRUE(waitUntil(kPatience, [&] { return bowlAboveThePanel(); })) << where();
}

TEST_F(PanelAtTheScreenEdge, AMinimisedPanelComesBackBelowTheBowlWithADoubleClickOnIt)
{
    openPanelWithTheBowlAt(400, 200);
    ASSERT_TRUE(waitUntil(kPatience, [&] { return bowlAboveThePanel(); })) << where();
    const auto shown = [&] {
        const auto windows = x11.windowsOfClass("kingyo");
        return std::find(windows.begin(), windows.end(), panel) != windows.end();
    };
    xdotool("windowminimize " + std::to_string(panel));
    ASSERT_TRUE(waitUntil(kPatience, [&] { return !shown(); })) << "the panel was not minimised";

    // The bowl was let go; wherever it is now, a double-click on it brings the panel
    // back below it.
    doubleClickTheBowl();
    EXPECT_TRUE(waitUntil(kPatience, shown)) << "the panel stayed minimised";
    EXPECT_TRUE(waitUntil(kPatience, [&] { return bowlAboveThePanel(); })) << where();
}

} // namespace
} // namespace kingyo::e2e
