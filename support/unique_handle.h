#pragma once
// One small owner for every kind of Win32 handle. A traits type names the
// value that means "no handle" and the function that releases it; each
// handle goes into its guard on the line that opens it.

#include <windows.h>
#include <wininet.h>

#include "support/win_inet.h"

#include <utility>

namespace tarn {

template <class Traits>
class UniqueHandle {
public:
    using Handle = typename Traits::Handle;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(Handle handle) noexcept : handle_(handle) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }
    ~UniqueHandle() { Reset(); }

    Handle Get() const noexcept { return handle_; }
    bool Valid() const noexcept { return handle_ != Traits::Invalid(); }
    explicit operator bool() const noexcept { return Valid(); }

    // Gives up ownership without releasing.
    Handle Release() noexcept { return std::exchange(handle_, Traits::Invalid()); }

    void Reset(Handle handle = Traits::Invalid()) noexcept
    {
        Handle old = std::exchange(handle_, handle);
        if (old != Traits::Invalid()) {
            Traits::Close(old);
        }
    }

    // For APIs that hand a new handle out through a pointer.
    Handle* Put() noexcept
    {
        Reset();
        return &handle_;
    }

private:
    Handle handle_ = Traits::Invalid();
};

namespace handle_traits {

struct Kernel {  // processes, threads, events, mappings: NULL means none
    using Handle = HANDLE;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { ::CloseHandle(h); }
};

struct File {  // CreateFileW: INVALID_HANDLE_VALUE means none
    using Handle = HANDLE;
    static Handle Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Handle h) noexcept { ::CloseHandle(h); }
};

struct Find {
    using Handle = HANDLE;
    static Handle Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Handle h) noexcept { ::FindClose(h); }
};

struct RegKey {
    using Handle = HKEY;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { ::RegCloseKey(h); }
};

struct Internet {
    using Handle = HINTERNET;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { GetWinInet().InternetCloseHandle(h); }
};

struct GdiObject {
    using Handle = HGDIOBJ;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { ::DeleteObject(h); }
};

struct MappedView {
    using Handle = void*;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { ::UnmapViewOfFile(h); }
};

struct Module {
    using Handle = HMODULE;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { ::FreeLibrary(h); }
};

}  // namespace handle_traits

using UniqueKernelHandle = UniqueHandle<handle_traits::Kernel>;
using UniqueFileHandle = UniqueHandle<handle_traits::File>;
using UniqueFindHandle = UniqueHandle<handle_traits::Find>;
using UniqueRegKey = UniqueHandle<handle_traits::RegKey>;
using UniqueInternetHandle = UniqueHandle<handle_traits::Internet>;
using UniqueGdiObject = UniqueHandle<handle_traits::GdiObject>;
using UniqueMappedView = UniqueHandle<handle_traits::MappedView>;
using UniqueModule = UniqueHandle<handle_traits::Module>;

}  // namespace tarn
