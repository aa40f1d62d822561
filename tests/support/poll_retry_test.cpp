#include "support/poll_retry.h"

#include <gtest/gtest.h>

namespace {

// A tick counter of the test's own: every sleep advances it, nothing waits.
uint32_t g_now = 0;
uint32_t FakeNow()
{
    return g_now;
}
void FakeSleep(uint32_t milliseconds)
{
    g_now += milliseconds;
}

TEST(PollRetryTest, TimeOutIsMeasuredAcrossTheCounterWrapAround)
{
    struct Row {
        uint32_t start;
        int64_t timeout;
        int attempts;  // expected attempts when every attempt fails
    };
    const Row rows[] = {
        {0u, 1000, 11},
        {0xFFFFFF00u, 1000, 11},  // wraps after the third sleep
        {0xFFFFFFFFu, 100, 2},
        {5u, 0, 1},
        {5u, -7, 1},
        {0xFFFFFFF0u, 250, 4},
    };
    const tarn::PollClock clock{&FakeNow, &FakeSleep};
    for (const Row& row : rows) {
        g_now = row.start;
        int attempts = 0;
        const bool done = tarn::RetryUntilTimeout(
            row.timeout, 100, [&] { return ++attempts > 1000; }, [] { return true; }, clock);
        EXPECT_FALSE(done);
        EXPECT_EQ(attempts, row.attempts) << "start " << row.start << " timeout " << row.timeout;
    }
}

TEST(PollRetryTest, StopsAtSuccessOrWhenThereIsNoReasonToWait)
{
    const tarn::PollClock clock{&FakeNow, &FakeSleep};
    g_now = 0xFFFFFFF0u;
    int attempts = 0;
    EXPECT_TRUE(tarn::RetryUntilTimeout(5000, 100, [&] { return ++attempts == 3; }, [] { return true; }, clock));
    EXPECT_EQ(attempts, 3);

    attempts = 0;
    EXPECT_FALSE(tarn::RetryUntilTimeout(5000, 100, [&] { return ++attempts > 100; }, [] { return false; }, clock));
    EXPECT_EQ(attempts, 1);
}

}  // namespace
