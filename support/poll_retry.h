#pragma once
// Polling with sleeps, for the places that wait for a file another program
// holds (settings-file opens and the like). Elapsed time is the unsigned
// difference now - start of the clock's readings, so even a clock that wraps
// around changes nothing.

#include <cstdint>

#include "support/clock.h"

namespace tarn {

// Calls attempt() until it returns true. After a failure it tries again every
// `intervalMs` as long as keepTrying() holds and fewer than `timeoutMs`
// milliseconds have passed since the first attempt (a negative or zero time-out
// means one attempt). Returns the last attempt's result.
template <class Attempt, class KeepTrying>
bool RetryUntilTimeout(int64_t timeoutMs, DWORD intervalMs, Attempt&& attempt, KeepTrying&& keepTrying,
                       const Clock& clock = Clock())
{
    const ULONGLONG limit = timeoutMs <= 0 ? 0u : static_cast<ULONGLONG>(timeoutMs);
    const ULONGLONG start = clock.now();
    for (;;) {
        if (attempt()) {
            return true;
        }
        if (clock.now() - start >= limit || !keepTrying()) {
            return false;
        }
        clock.sleep(intervalMs);
    }
}

}  // namespace tarn
