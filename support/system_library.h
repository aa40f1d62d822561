#pragma once
// Libraries that are not among the system's known libraries are loaded at
// run time from the system folder, never through the search path: the
// program runs elevated from a download folder, where anyone can plant a
// library of the same name. Entry points are bound into tables of function
// pointers; an entry point that cannot be bound is replaced by one that
// fails (zero result, ERROR_PROC_NOT_FOUND), so callers meet a failing call
// and never a null pointer.

#include <windows.h>

#include "support/proc_address.h"

namespace tarn {

// Loads the system folder's `name` (for example L"wininet.dll") by its full
// path; the libraries it depends on are looked for in the system folder only.
// Null, with a trace line, when it cannot be loaded. The module is never freed.
HMODULE LoadSystemLibrary(const wchar_t* name);

// The stand-in for an entry point that could not be bound.
template <class Function>
struct MissingEntryPoint;

template <class Result, class... Args>
struct MissingEntryPoint<Result(WINAPI*)(Args...)> {
    static Result WINAPI Call(Args...)
    {
        ::SetLastError(ERROR_PROC_NOT_FOUND);
        return Result();
    }
};

// Binds `entry` to the export `name` of `module` (GetProcAddressLogged), or
// to the failing stand-in. True when the real entry point was bound.
template <class Function>
bool BindEntryPoint(HMODULE module, const char* name, Function& entry)
{
    const FARPROC address = module != nullptr ? GetProcAddressLogged(module, name) : nullptr;
    if (address == nullptr) {
        entry = &MissingEntryPoint<Function>::Call;
        return false;
    }
    entry = reinterpret_cast<Function>(reinterpret_cast<void*>(address));
    return true;
}

}  // namespace tarn
