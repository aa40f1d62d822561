#include "support/poll_retry.h"

#include <gtest/gtest.h>

namespace {

// A tick counter of the test's own: every sleep advances it, nothing waits.
ULONGLONG g_now = 0;
ULONGLONG FakeNow()
{
    return g_now;
}
void FakeSleep(DWORD milliseconds)
{
    g_now += milliseconds;
}

TEST(PollRetryTest, TimeOutIsMeasuredAcrossTheCounterWrapAround)
{
    struct Row {
        ULONGLONG start;
        int64_t timeout;
        int attempts;  // expected attempts when every attempt fails
    };
    const Row rows[] = {
        {0u, 1000, 11},
        {0xFFFFFFFFFFFFFF00u, 1000, 11},  // wraps after the third sleep
        {0xFFFFFFFFFFFFFFFFu, 100, 2},
        {5u, 0, 1},
        {5u, -7, 1},
        {0xFFFFFFFFFFFFFFF0u, 250, 4},
        {0xFFFFFF00u, 1000, 11},  // past the 32-bit counter's end: no early time-out
    };
    const tarn::Clock clock{&FakeNow, &FakeSleep};
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
    const tarn::Clock clock{&FakeNow, &FakeSleep};
    g_now = 0xFFFFFFFFFFFFFFF0u;
    int attempts = 0;
    EXPECT_TRUE(tarn::RetryUntilTimeout(5000, 100, [&] { return ++attempts == 3; }, [] { return true; }, clock));
    EXPECT_EQ(attempts, 3);

    attempts = 0;
    EXPECT_FALSE(tarn::RetryUntilTimeout(5000, 100, [&] { return ++attempts > 100; }, [] { return false; }, clock));
    EXPECT_EQ(attempts, 1);
}

}  // namespace
