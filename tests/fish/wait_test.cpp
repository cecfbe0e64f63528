#include "fish/wait.h"

#include "base/clock.h"
#include "support/fakes.h"

#include <QElapsedTimer>
#include <QTimer>
#include <gtest/gtest.h>

namespace kingyo {
namespace {

using namespace std::chrono_literals;

TEST(Wait, ReturnsAfterMoreThanTheTimeWithTimersTickingInside)
{
    QTimer other;
    int ticks = 0;
    QObject::connect(&other, &QTimer::timeout, [&] { ++ticks; });
    other.start(20);

    const SystemClock clock;
    const auto start = clock.now();
    Wait(150, clock);
    const auto waited = clock.now() - start;

    EXPECT_GT(waited, 150ms);
    EXPECT_GE(ticks, 3) << "the other timer ran during the wait";
}

TEST(Wait, ProcessesPendingEventsEvenForNothingToWait)
{
    for (std::int32_t ms : {0, -1, -500}) {
        bool ran = false;
        QTimer::singleShot(0, [&] { ran = true; });
        Wait(ms);
        EXPECT_TRUE(ran) << ms;
    }
}

TEST(Wait, ReachingExactlyTheTimeIsNotEnough)
{
    // The clock reads 0 at the start, then exactly the limit, then past it.
    testing::SteppingClock clock(std::chrono::milliseconds(5));
    Wait(5, clock);
    EXPECT_EQ(clock.reads(), 3);
}

TEST(Wait, NestedWaitsBothLastTheirTime)
{
    const SystemClock clock;
    std::chrono::steady_clock::duration inner{};
    QTimer::singleShot(10, [&] {
        const auto start = clock.now();
        Wait(60, clock);
        inner = clock.now() - start;
    });
    const auto start = clock.now();
    Wait(30, clock);
    EXPECT_GT(clock.now() - start, 30ms);
    EXPECT_GT(inner, 60ms);
}

} // namespace
} // namespace kingyo
