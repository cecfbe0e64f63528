#include "base/rounding.h"

#include <gtest/gtest.h>

namespace kingyo {
namespace {

struct RoundCase {
    double in;
    int expected;
};

TEST(Rounding, TiesGoToEven)
{
    for (const RoundCase c : {RoundCase{2.5, 2}, {3.5, 4}, {-2.5, -2}, {8.5, 8}, {13.5, 14}, {0.49, 0}, {-0.5, 0}})
        EXPECT_EQ(toInt16(c.in), c.expected) << c.in;
}

TEST(Rounding, ClampsOutOfRangeInsteadOfOverflowing)
{
    EXPECT_EQ(toInt16(40000.0), 32767);
    EXPECT_EQ(toInt16(-1e9), -32768);
    EXPECT_EQ(toInt16(std::nan("")), 0);
    EXPECT_EQ(toInt32(1e12), 2147483647);
}

} // namespace
} // namespace kingyo
