#include "e2e_support.h"

#include <gtest/gtest.h>

#include <chrono>

namespace kingyo::e2e {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Complete settings, so that no start opens a settings dialog; no server is asked.
const KingyoSettings kSettings{"127.0.0.1:9", "fish", "bowl"};

// Starts kingyo again on the same display and waits for it to end; its exit status, or
// -1 when it was still running after the time limit. The time it took is recorded.
int startAgain(const char *property)
{
    const auto started = Clock::now();
    KingyoProcess again(kSettings);
    waitUntil(kPatience, [&] { return again.exited(); });
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started);
    ::testing::Test::RecordProperty(property, static_cast<int>(took.count()));
    return again.exitStatus();
}

TEST(OneKingyoPerDisplay, ALaterStartShowsTheRunningPanelAndEnds)
{
    X11Client x11;
    ASSERT_TRUE(x11.connected()) << "needs an X display (run through scripts/with-x11)";
    x11.warpPointer(300, 200);
    KingyoProcess first(kSettings);
    ASSERT_NE(findBowl(x11, first), XCB_NONE) << "the first kingyo showed no bowl";
    const auto panel = [&] {
        for (const xcb_window_t window : x11.windowsOfClass("kingyo"))
            if (x11.title(window) == "Brimble屋さん")
                return window;
        return static_cast<xcb_window_t>(XCB_NONE);
    };
    ASSERT_EQ(panel(), XCB_NONE);

    EXPECT_EQ(startAgain("second_start_ms"), 0);
    EXPECT_TRUE(waitUntil(kPatience, [&] { return panel() != XCB_NONE; })) << "the running kingyo showed no panel";

    // Minimised, the panel comes back with the next start.
    xdotool("windowminimize " + std::to_string(panel()));
    ASSERT_TRUE(waitUntil(kPatience, [&] { return panel() == XCB_NONE; })) << "the window manager kept the panel";
    EXPECT_EQ(startAgain("third_start_ms"), 0);
    EXPECT_TRUE(waitUntil(kPatience, [&] { return panel() != XCB_NONE; })) << "the minimised panel did not come back";

    EXPECT_FALSE(first.exited());
}

} // namespace
} // namespace kingyo::e2e
