#pragma once
// Hands buffers between two threads: one party fills a buffer while the
// other drains the previous one, and each waits only for the other's
// hand-over. Built on the platform's SRW lock and condition variable: those
// of the C++ library (winpthreads under MinGW) call into the wineserver at
// every wait and wake-up under Wine, which costs the download a tenth of its
// speed.

#include <windows.h>

namespace tarn {

// The state of a hand-over lives with its user; the monitor only orders the
// looks at it and the changes to it.
class HandoverMonitor {
public:
    HandoverMonitor() = default;
    HandoverMonitor(const HandoverMonitor&) = delete;
    HandoverMonitor& operator=(const HandoverMonitor&) = delete;

    // With the lock held: waits until `ready()` is true, then runs `change()`
    // and wakes the other party. Returns what `change` returns.
    template <class Ready, class Change>
    auto WhenReady(Ready ready, Change change)
    {
        // The waker is made first, so that it wakes once the lock is free.
        struct Waker {
            CONDITION_VARIABLE& changed;
            ~Waker() { ::WakeAllConditionVariable(&changed); }
        } waker{changed_};
        Guard guard(lock_);
        while (!ready()) {
            ::SleepConditionVariableSRW(&changed_, &lock_, INFINITE, 0);
        }
        return change();
    }

    // Runs `change()` with the lock held and wakes the other party.
    template <class Change>
    auto Update(Change change)
    {
        return WhenReady([] { return true; }, change);
    }

private:
    class Guard {
    public:
        explicit Guard(SRWLOCK& lock) : lock_(lock) { ::AcquireSRWLockExclusive(&lock_); }
        ~Guard() { ::ReleaseSRWLockExclusive(&lock_); }
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;

    private:
        SRWLOCK& lock_;
    };

    SRWLOCK lock_ = SRWLOCK_INIT;
    CONDITION_VARIABLE changed_ = CONDITION_VARIABLE_INIT;
};

}  // namespace tarn
