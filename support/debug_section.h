#pragma once
// The shared section through which debug texts reach the outside viewer, and
// the names the sender and the viewer find each other by.
//
// Section layout: 8 bytes capacity in UTF-16 code units (always 16384,
// little-endian), then 16384 UTF-16 code units of text ending with a 0 code
// unit. A first code unit of 0 means the viewer has taken the text.

#include <windows.h>

#include <cstdint>
#include <string>

#include "support/unique_handle.h"

namespace tarn {

inline constexpr wchar_t kDebugSectionName[] = L"$$Tarnix_DebugOutputData$$";
inline constexpr wchar_t kDebugWindowTitle[] = L"Tarnix Debug Output Window";
inline constexpr wchar_t kDebugMessageName[] = L"WM_TARNIX_DEBUG_TEXT_OUT";
inline constexpr uint64_t kDebugCapacity = 16384;
inline constexpr DWORD kDebugSectionSize = 8 + 2 * static_cast<DWORD>(kDebugCapacity);
// Milliseconds between two looks for a missing or vanished viewer.
inline constexpr DWORD kDebugViewerCheckInterval = 120000;

// The process's mapping of the shared section.
struct DebugBuffer {
    UniqueKernelHandle mapping;
    UniqueMappedView view;
    uint64_t capacity = kDebugCapacity;
    std::wstring name;
    wchar_t* text = nullptr;  // the text field of the mapped view
};

}  // namespace tarn
