#pragma once
// The one clock that waits and time-outs read: milliseconds from the system's
// 64-bit tick count, which does not wrap, and sleeping in between. Code that
// waits takes a Clock; tests hand it functions of their own, so that waits of
// minutes pass at once and deadlines can be stepped over exactly.

#include <windows.h>

namespace tarn {

struct Clock {
    ULONGLONG (*now)() = [] { return ::GetTickCount64(); };
    void (*sleep)(DWORD milliseconds) = [](DWORD milliseconds) { ::Sleep(milliseconds); };
};

}  // namespace tarn
