#include "e2e_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

namespace kingyo::e2e {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

bool onScreen(const Geometry &window, const Geometry &screen)
{
    return window.x >= screen.x && window.y >= screen.y && window.x + window.width <= screen.x + screen.width &&
           window.y + window.height <= screen.y + screen.height;
}

bool shapeContains(const std::vector<xcb_rectangle_t> &shape, int x, int y)
{
    return std::any_of(shape.begin(), shape.end(), [&](const xcb_rectangle_t &r) {
        return x >= r.x && x < r.x + r.width && y >= r.y && y < r.y + r.height;
    });
}

// The pointer on a spot of the bowl, counted from its top-left corner.
std::string at(const Geometry &bowl, int x, int y) { return mouseAt(bowl.x + x, bowl.y + y); }

TEST(BowlOnTheDesktop, ShapedTopmostOutsideTheTaskbarAndKeptOnScreen)
{
    X11Client x11;
    ASSERT_TRUE(x11.connected()) << "needs an X display (run through scripts/with-x11)";
    const Geometry screen = x11.screen();
    const int pointerX = 333;
    const int pointerY = 222;
    x11.warpPointer(pointerX, pointerY);
    ASSERT_EQ(x11.pointer(), std::make_pair(pointerX, pointerY));

    KingyoProcess kingyo;
    const xcb_window_t bowl = findBowl(x11, kingyo);
    ASSERT_NE(bowl, XCB_NONE) << "no bowl window appeared";

    // Where it first shows: its top-left corner on the pointer.
    const Geometry start = x11.geometry(bowl);
    EXPECT_EQ(start.x, pointerX);
    EXPECT_EQ(start.y, pointerY);

    const std::vector<std::string> states = x11.netWmState(bowl);
    for (const char *state : {"_NET_WM_STATE_ABOVE", "_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"})
        EXPECT_NE(std::find(states.begin(), states.end(), state), states.end()) << state;

    // The first bowl tick, about a second in, gives it the bowl's outline.
    ASSERT_TRUE(waitUntilShaped(x11, bowl)) << "the window never got a shape";
    const std::vector<xcb_rectangle_t> shape = x11.boundingShape(bowl);
    EXPECT_GT(shape.size(), 10u);
    EXPECT_FALSE(shapeContains(shape, 0, 0)) << "the background corner shows the desktop";
    EXPECT_TRUE(shapeContains(shape, 50, 80)) << "the water is part of the bowl";

    // Pushed past an edge, the next tick pulls it back so the edge lies on the screen's.
    struct Push {
        int x;
        int y;
        int expectedX;
        int expectedY;
    };
    const Push pushes[] = {
        {screen.width - 30, screen.height - 20, screen.width - 100, screen.height - 100},
        {-40, -30, 0, 0},
    };
    for (const Push &push : pushes) {
        x11.requestMove(bowl, push.x, push.y);
        ASSERT_TRUE(waitUntil(kPatience, [&] { return !onScreen(x11.geometry(bowl), screen); }))
            << "the window manager did not move the bowl to " << push.x << "," << push.y;
        const auto pushed = Clock::now();
        EXPECT_TRUE(waitUntil(kPatience, [&] { return onScreen(x11.geometry(bowl), screen); }))
            << "still off screen at " << x11.geometry(bowl).x << "," << x11.geometry(bowl).y;
        const auto pulledBack = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - pushed);
        const Geometry back = x11.geometry(bowl);
        EXPECT_EQ(back.x, push.expectedX);
        EXPECT_EQ(back.y, push.expectedY);
        RecordProperty("pulled_back_ms", static_cast<int>(pulledBack.count()));
    }

    // Closed from outside, the program unloads and ends cleanly.
    x11.requestClose(bowl);
    EXPECT_TRUE(waitUntil(kPatience, [&] { return kingyo.exited(); }));
    EXPECT_EQ(kingyo.exitStatus(), 0);
}

TEST(BowlOnTheDesktop, DragDoubleClickAndRightPressWithTheRealPointer)
{
    X11Client x11;
    ASSERT_TRUE(x11.connected()) << "needs an X display (run through scripts/with-x11)";
    x11.warpPointer(400, 300);
    KingyoProcess kingyo;
    const xcb_window_t bowl = findBowl(x11, kingyo);
    ASSERT_NE(bowl, XCB_NONE) << "no bowl window appeared";
    ASSERT_TRUE(waitUntilShaped(x11, bowl));

    // A spot on the bowl away from the water box, where the small fish swims.
    const int spotX = 10;
    const int spotY = 60;
    ASSERT_TRUE(shapeContains(x11.boundingShape(bowl), spotX, spotY));

    // A left drag moves the bowl with the pointer; the window manager takes over after
    // the first small step, which may be lost.
    const Geometry before = x11.geometry(bowl);
    xdotool(at(before, spotX, spotY) + " sleep 0.2 mousedown 1 sleep 0.1 " + at(before, spotX + 1, spotY + 1) +
            " sleep 0.2 " + at(before, spotX + 60, spotY + 40) + " sleep 0.1 " + at(before, spotX + 150, spotY + 100) +
            " sleep 0.2 mouseup 1");
    EXPECT_TRUE(waitUntil(kPatience, [&] {
        const Geometry g = x11.geometry(bowl);
        return std::abs(g.x - (before.x + 150)) <= 1 && std::abs(g.y - (before.y + 100)) <= 1;
    })) << "bowl at " << x11.geometry(bowl).x << "," << x11.geometry(bowl).y;

    // A double-click opens the control panel.
    const auto panelShown = [&] {
        for (const xcb_window_t window : x11.windowsOfClass("kingyo"))
            if (x11.title(window) == "Brimble屋さん")
                return true;
        return false;
    };
    EXPECT_FALSE(panelShown());
    xdotool(at(x11.geometry(bowl), spotX, spotY) + " sleep 0.2 click --repeat 2 --delay 80 1");
    EXPECT_TRUE(waitUntil(kPatience, panelShown)) << "no control panel after a double-click";

    // A right press on the bowl ends the program at once, cleanly.
    xdotool(at(x11.geometry(bowl), spotX, spotY) + " sleep 0.2 click 3");
    EXPECT_TRUE(waitUntil(kPatience, [&] { return kingyo.exited(); }));
    EXPECT_EQ(kingyo.exitStatus(), 0);
}

} // namespace
} // namespace kingyo::e2e
