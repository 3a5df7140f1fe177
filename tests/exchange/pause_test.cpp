#include "serial/pause.h"

#include <gtest/gtest.h>

#include <chrono>

#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace vantri {
namespace {

TEST(PauseMs, LastsAtLeastWhatItSaysAndNotMuchMore) {
    PrecisePauses precise;
    for (const std::uint32_t ms : {0u, 1u, 10u, 25u}) {
        const auto start = std::chrono::steady_clock::now();
        PauseMs(ms);
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - start;
        EXPECT_GE(took.count(), ms) << ms;
        // Catches a unit error (25 ms taken as 250), not a late wake: a
        // loaded machine woke 34 ms late here; bench/ measures the overshoot.
        EXPECT_LT(took.count(), ms + 200.0) << ms;
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
