#include "mail/connection/retry_backoff.h"
#include "support/fakes.h"

#include <gtest/gtest.h>
#include <vector>

namespace kingyo {
namespace {

using namespace std::chrono_literals;
using Waits = std::vector<std::chrono::milliseconds>;

struct BackoffCase {
    const char *name;
    std::vector<float> draws; // the random numbers, one a wait
    int resetBefore;          // the wait reset() comes before; -1: none
    Waits waits;
};

void PrintTo(const BackoffCase &c, std::ostream *out) { *out << c.name; }

class RetryBackoffTable : public ::testing::TestWithParam<BackoffCase> {};

TEST_P(RetryBackoffTable, WaitsDoubleUpToTheLongestEachDrawnAroundItsStep)
{
    const BackoffCase &row = GetParam();
    testing::ScriptedRandom random;
    for (const float draw : row.draws)
        random.queue(draw);
    RetryBackoff backoff({}, random); // 2 s doubling to 5 min, 20 % either side
    Waits waits;
    for (int i = 0; i < int(row.waits.size()); ++i) {
        if (i == row.resetBefore)
            backoff.reset();
        waits.push_back(backoff.next());
    }
    EXPECT_EQ(waits, row.waits);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RetryBackoffTable,
    ::testing::Values(
        BackoffCase{"MiddleDraws", std::vector<float>(10, 0.5f), -1, {2s, 4s, 8s, 16s, 32s, 64s, 128s, 256s, 300s, 300s}},
        BackoffCase{"EdgeDraws", {0.0f, 0.75f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.75f},
                    -1, {1600ms, 4400ms, 6400ms, 12800ms, 25600ms, 51200ms, 102400ms, 204800ms, 240s, 330s}},
        BackoffCase{"ResetStartsOver", std::vector<float>(5, 0.5f), 3, {2s, 4s, 8s, 2s, 4s}}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
} // namespace kingyo
