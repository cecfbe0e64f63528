#include "mail/pop3/pop3_session.h"

#include <gtest/gtest.h>

namespace kingyo {
namespace {

struct WindowCase {
    const char *mailbox;
    std::vector<std::int64_t> sizes;
    std::int64_t pipelineBytes;
    int window;
};

TEST(Pop3PipelineWindow, HoldsAboutTheByteBudgetWithinItsBounds)
{
    constexpr std::int64_t budget = 8 << 20;
    const std::vector<std::int64_t> small(10000, 2048);
    const WindowCase cases[] = {
        {"2 KB messages: the cap", small, budget, kMaxPipelineWindow},
        {"20 KB messages", std::vector<std::int64_t>(2000, 20 * 1024), budget, int(budget / (20 * 1024 + 1))},
        {"1 MB messages: the least window", std::vector<std::int64_t>(200, 1 << 20), budget, 64},
        {"unknown sizes count for nothing", {-1, 100 << 20, -1}, budget, 64},
        {"no size known", {-1, -1}, budget, 64},
        {"empty mailbox", {}, budget, 64},
        {"no byte budget", small, 0, 64},
        {"sizes near the top of the range", {INT64_MAX, INT64_MAX, 1}, budget, 64},
    };
    for (const WindowCase &c : cases) {
        Pop3Pipeline pipeline;
        pipeline.bytes = c.pipelineBytes;
        EXPECT_EQ(pipelineWindowFor(c.sizes, pipeline), c.window) << c.mailbox;
    }
}

} // namespace
} // namespace kingyo
