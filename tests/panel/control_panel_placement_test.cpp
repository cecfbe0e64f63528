#include "panel/control_panel_placement.h"

#include <gtest/gtest.h>
#include <ostream>

namespace kingyo {

void PrintTo(const PanelPlacement &placement, std::ostream *out)
{
    *out << "panel " << placement.panel.x() << ',' << placement.panel.y() << ", bowl " << placement.bowl.x() << ','
         << placement.bowl.y();
}

namespace {

// A 128 x 15 panel in a frame with a 24-pixel title bar and 1-pixel borders; the bowl
// above it 100 pixels square.
constexpr QSize kFrame(130, 40);
constexpr QSize kBowl(100, 100);
const QRect kScreen(0, 0, 1280, 800);
// A second monitor right of the first, lower down, with a 32-pixel bar at its bottom.
const QRect kRightScreen(1280, 100, 1024, 736);

TEST(PanelPlacement, ThePanelAndTheBowlMoveTogetherUntilBothAreWhole)
{
    // At 15 twips per pixel the panel's frame lies 107 pixels below the bowl's top and
    // 7 pixels left of it; at 10 twips per pixel (144 DPI), 160 and 10.
    const TwipsScale at96dpi;
    const TwipsScale at144dpi{10.0, 10.0};
    const struct {
        const char *name;
        QRect screen;
        QPoint bowl;
        TwipsScale scale;
        PanelPlacement expected;
    } cases[] = {
        {"already whole", kScreen, {400, 200}, at96dpi, {{393, 307}, {400, 200}}},
        {"bottom edge", kScreen, {400, 700}, at96dpi, {{393, 760}, {400, 653}}},
        {"bottom edge at 144 DPI", kScreen, {400, 700}, at144dpi, {{390, 760}, {400, 600}}},
        {"right edge", kScreen, {1230, 300}, at96dpi, {{1150, 407}, {1157, 300}}},
        {"left edge", kScreen, {3, 300}, at96dpi, {{0, 407}, {7, 300}}},
        {"bottom-left corner", kScreen, {-20, 700}, at96dpi, {{0, 760}, {7, 653}}},
        {"bottom-right corner", kScreen, {1200, 720}, at96dpi, {{1150, 760}, {1157, 653}}},
        {"top-left corner", kScreen, {-50, -200}, at96dpi, {{0, 107}, {7, 0}}},
        {"top-right corner", kScreen, {1250, -150}, at96dpi, {{1150, 107}, {1157, 0}}},
        {"screen not at 0,0: bottom-right", kRightScreen, {2250, 790}, at96dpi, {{2174, 796}, {2181, 689}}},
        {"screen not at 0,0: top-left", kRightScreen, {1275, 50}, at96dpi, {{1280, 207}, {1287, 100}}},
        {"screen not at 0,0: whole", kRightScreen, {1500, 300}, at96dpi, {{1493, 407}, {1500, 300}}},
        // A screen smaller than the two keeps their top-left corner: the bowl's top.
        {"screen smaller than the two", QRect(0, 0, 100, 30), {50, 50}, at96dpi, {{0, 107}, {7, 0}}},
        {"no screen known", QRect(), {400, 900}, at96dpi, {{393, 1007}, {400, 900}}},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(placeBelowBowl(c.screen, kFrame, QRect(c.bowl, kBowl), c.scale), c.expected) << c.name;
    }
}

} // namespace
} // namespace kingyo
