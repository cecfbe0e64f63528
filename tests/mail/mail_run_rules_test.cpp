// What checks show by who started them, and the timer that starts them.
#include "mail/mail_run_rules.h"

#include <gtest/gtest.h>

namespace kingyo {
namespace {

using Origin = MailRunRules::Origin;

// One run: who started it, and its outcome (a count, or a failure when negative).
struct Run {
    Origin origin;
    int count;
};

// What each run showed: 'n' notice, 'e' error box, '-' nothing.
std::string shown(const std::vector<Run> &runs)
{
    MailRunRules rules;
    std::string result;
    for (const Run &run : runs) {
        rules.begin(run.origin);
        if (run.count < 0)
            result += rules.showError() ? 'e' : '-';
        else
            result += rules.showNotice(rules.noteCount(QStringLiteral("box"), run.count)) ? 'n' : '-';
        rules.end();
    }
    return result;
}

struct RulesCase {
    const char *name;
    std::vector<Run> runs;
    const char *expected;
};

void PrintTo(const RulesCase &c, std::ostream *out) { *out << c.name; }

class MailRunRulesTest : public ::testing::TestWithParam<RulesCase> {};

TEST_P(MailRunRulesTest, ShowWhatTheUserNeeds) { EXPECT_EQ(shown(GetParam().runs), GetParam().expected); }

constexpr Origin T = Origin::Timer;
constexpr Origin C = Origin::Click;

INSTANTIATE_TEST_SUITE_P(
    Cases, MailRunRulesTest,
    ::testing::Values(RulesCase{"timer_quiet_without_mail", {{T, 0}, {T, 0}}, "--"},
                      RulesCase{"timer_tells_of_mail", {{T, 0}, {T, 2}, {T, 0}}, "-n-"},
                      RulesCase{"click_shows_everything", {{C, 0}, {C, -1}, {C, -1}}, "nee"},
                      RulesCase{"one_box_per_streak", {{T, -1}, {T, -1}, {T, -6}}, "e--"},
                      RulesCase{"success_ends_the_streak", {{T, -1}, {T, 0}, {T, -1}, {T, -1}}, "e-e-"},
                      RulesCase{"click_failure_starts_a_streak", {{C, -1}, {T, -1}, {C, 3}, {T, -1}}, "e-ne"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(MailRunRules, OnlyAClickOpensTheAccountDialog)
{
    MailRunRules rules;
    rules.begin(T);
    EXPECT_FALSE(rules.showAccountDialog());
    rules.end();
    rules.begin(C);
    EXPECT_TRUE(rules.showAccountDialog());
}

TEST(PeriodicMailCheck, TicksRunOnlyWhileAnIntervalIsSet)
{
    int runs = 0;
    PeriodicMailCheck periodic([&runs] { ++runs; });
    EXPECT_FALSE(periodic.isActive());
    periodic.tick();
    EXPECT_EQ(runs, 0) << "0 minutes: off";
    periodic.setIntervalMinutes(5);
    EXPECT_TRUE(periodic.isActive());
    periodic.tick();
    EXPECT_EQ(runs, 1);
    periodic.setIntervalMinutes(0);
    EXPECT_FALSE(periodic.isActive());
    periodic.tick();
    EXPECT_EQ(runs, 1);
}

} // namespace
} // namespace kingyo
