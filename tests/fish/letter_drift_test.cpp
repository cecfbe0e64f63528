#include "fish/letter_drift.h"

#include <QRect>
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <vector>

namespace kingyo {
namespace {

struct Room {
    const char *name;
    QSize box;
    QSize letter;
};

void PrintTo(const Room &room, std::ostream *out) { *out << room.name; }

const Room kRooms[] = {
    {"design box", {63, 39}, {18, 13}},
    {"box at 10 twips per pixel", {94, 58}, {18, 13}},
    {"letter just fits", {18, 13}, {18, 13}},
    {"narrow box", {20, 60}, {18, 13}},
    {"flat box", {80, 14}, {18, 13}},
    {"letter larger than the box", {10, 8}, {18, 13}},
};

// Every place the letter takes over the given number of ticks, the first one included.
std::vector<QPoint> route(LetterDrift &drift, int ticks)
{
    std::vector<QPoint> places{drift.position()};
    for (int i = 0; i < ticks; ++i)
        if (drift.tick()) places.push_back(drift.position());
    return places;
}

class LetterDriftInRoom : public ::testing::TestWithParam<Room> {};

TEST_P(LetterDriftInRoom, StaysWhollyInsideTheBoxAndMovesGently)
{
    const Room room = GetParam();
    LetterDrift drift(room.box, room.letter);
    drift.setShown(true);
    const QRect allowed(0, 0, std::max(1, room.box.width() - room.letter.width() + 1),
                        std::max(1, room.box.height() - room.letter.height() + 1));
    const std::vector<QPoint> places = route(drift, 100000);
    for (std::size_t i = 0; i < places.size(); ++i) {
        ASSERT_TRUE(allowed.contains(places[i])) << "move " << i << " at " << places[i].x() << "," << places[i].y();
        if (i == 0) continue;
        ASSERT_LE(std::abs(places[i].x() - places[i - 1].x()), 1) << "move " << i;
        ASSERT_LE(std::abs(places[i].y() - places[i - 1].y()), 2) << "move " << i;
    }
}

TEST_P(LetterDriftInRoom, ReachesBothSidesOfTheBox)
{
    const Room room = GetParam();
    LetterDrift drift(room.box, room.letter);
    drift.setShown(true);
    const std::vector<QPoint> places = route(drift, 100000);
    const auto [left, right] = std::minmax_element(places.begin(), places.end(),
                                                   [](QPoint a, QPoint b) { return a.x() < b.x(); });
    EXPECT_EQ(left->x(), 0);
    EXPECT_EQ(right->x(), std::max(0, room.box.width() - room.letter.width()));
}

INSTANTIATE_TEST_SUITE_P(Rooms, LetterDriftInRoom, ::testing::ValuesIn(kRooms));

TEST(LetterDrift, MovesOnlyOnEveryFewTicks)
{
    LetterDrift drift({63, 39}, {18, 13});
    drift.setShown(true);
    for (int tick = 1; tick <= 10 * LetterDrift::kTicksPerMove; ++tick) {
        const QPoint before = drift.position();
        const bool moved = drift.tick();
        EXPECT_EQ(moved, drift.position() != before) << "tick " << tick;
        if (tick % LetterDrift::kTicksPerMove != 0) EXPECT_FALSE(moved) << "tick " << tick;
        else EXPECT_TRUE(moved) << "tick " << tick << ": every move goes sideways";
    }
}

TEST(LetterDrift, TheSameBoxGivesTheSameRouteAndShowingAgainStartsItAfresh)
{
    LetterDrift first({63, 39}, {18, 13});
    LetterDrift second({63, 39}, {18, 13});
    first.setShown(true);
    second.setShown(true);
    const std::vector<QPoint> firstRoute = route(first, 5000);
    EXPECT_EQ(route(second, 5000), firstRoute);

    first.setShown(false);
    first.setShown(true);
    EXPECT_EQ(route(first, 5000), firstRoute);
}

TEST(LetterDrift, HiddenItStaysStill)
{
    LetterDrift drift({63, 39}, {18, 13});
    EXPECT_FALSE(drift.isShown()) << "no mail waits at first";
    const QPoint start = drift.position();
    for (int i = 0; i < 100; ++i) EXPECT_FALSE(drift.tick());
    EXPECT_EQ(drift.position(), start);

    drift.setShown(true);
    EXPECT_TRUE(drift.isShown());
    EXPECT_EQ(drift.position(), start) << "it appears where its route begins";
    route(drift, 40);
    const QPoint midway = drift.position();
    drift.setShown(true);
    EXPECT_EQ(drift.position(), midway) << "showing it again keeps its place";

    drift.setShown(false);
    EXPECT_FALSE(drift.isShown());
    for (int i = 0; i < 100; ++i) EXPECT_FALSE(drift.tick());
}

} // namespace
} // namespace kingyo
