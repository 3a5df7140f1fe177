#include "serial/pause.h"

#include <gtest/gtest.h>

#include <chrono>

#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace vantri {
namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

TEST(PauseMs, LastsAtLeastWhatItSaysAndNotMuchMore) {
    PrecisePauses precise;
    for (const std::uint32_t ms : {0u, 1u, 10u, 25u}) {
        const auto start = Clock::now();
        PauseMs(ms);
        const double took = MsSince(start);
        EXPECT_GE(took, static_cast<double>(ms)) << ms;
        // Loose: a loaded machine may wake the thread late.
        EXPECT_LT(took, ms + 30.0) << ms;
    }
}

#ifdef __linux__
TEST(PrecisePauses, SetsTheMinimumTimerSlackAndRestoresIt) {
    const int before = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    ASSERT_GT(before, 1);
    {
        PrecisePauses precise;
        EXPECT_EQ(prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0), 1);
    }
    EXPECT_EQ(prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0), before);
}
#endif

}  // namespace
}  // namespace vantri
