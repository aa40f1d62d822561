#pragma once
// Polling with sleeps against the 32-bit system tick count, for the places
// that wait for a file another program holds (settings-file opens and the
// like). Elapsed time is the unsigned 32-bit difference now - start, so the
// counter's wrap-around after 49.7 days changes nothing.

#include <windows.h>

#include <cstdint>

namespace tarn {

// Where a poll loop takes its time from and how it waits; tests put a
// counter of their own here.
struct PollClock {
    uint32_t (*now)() = [] { return static_cast<uint32_t>(::GetTickCount()); };
    void (*sleep)(uint32_t milliseconds) = [](uint32_t milliseconds) { ::Sleep(milliseconds); };
};

// Milliseconds from `start` to `now`, both tick counts; correct across the wrap-around.
inline uint32_t TicksBetween(uint32_t start, uint32_t now)
{
    return static_cast<uint32_t>(now - start);
}

// Calls attempt() until it returns true. After a failure it tries again every
// `intervalMs` as long as keepTrying() holds and fewer than `timeoutMs`
// milliseconds have passed since the first attempt (a negative or zero time-out
// means one attempt; longer than the counter's range counts as the longest
// span it can measure). Returns the last attempt's result.
template <class Attempt, class KeepTrying>
bool RetryUntilTimeout(int64_t timeoutMs, uint32_t intervalMs, Attempt&& attempt, KeepTrying&& keepTrying,
                       const PollClock& clock = PollClock())
{
    const uint32_t limit =
        timeoutMs <= 0 ? 0u : (timeoutMs >= int64_t{UINT32_MAX} ? UINT32_MAX : static_cast<uint32_t>(timeoutMs));
    const uint32_t start = clock.now();
    for (;;) {
        if (attempt()) {
            return true;
        }
        if (TicksBetween(start, clock.now()) >= limit || !keepTrying()) {
            return false;
        }
        clock.sleep(intervalMs);
    }
}

}  // namespace tarn
