#include "app/dialog/picture_loader.h"

#include <objidl.h>
#include <shlwapi.h>

#include <cstdint>
#include <string>

#include "app/dialog/control_layout.h"
#include "app/dialog/picture_bitmap.h"
#include "support/name_compare.h"
#include "support/path_text.h"
#include "support/proc_address.h"
#include "support/program_path.h"
#include "support/trace.h"

namespace {

// The few entry points of GDI+'s flat interface the decoder needs, bound at
// run time so that the program imports only the system's known libraries.
struct GdiplusStartupInput {
    UINT32 GdiplusVersion = 1;
    void* DebugEventCallback = nullptr;
    BOOL SuppressBackgroundThread = FALSE;
    BOOL SuppressExternalCodecs = FALSE;
};
struct GpBitmap;
using StartupFunction = int(WINAPI*)(ULONG_PTR*, const GdiplusStartupInput*, void*);
using FromStreamFunction = int(WINAPI*)(IStream*, GpBitmap**);
using ToHbitmapFunction = int(WINAPI*)(GpBitmap*, HBITMAP*, DWORD);
using DisposeFunction = int(WINAPI*)(GpBitmap*);

struct Gdiplus {
    FromStreamFunction fromStream = nullptr;
    ToHbitmapFunction toHbitmap = nullptr;
    DisposeFunction dispose = nullptr;
    bool ready = false;
};

template <class Function>
Function Bind(HMODULE module, const char* name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddressLogged(module, name)));
}

// Started once per process on first use; it stays up until the process ends
// (shutting it down from a static destructor would race its own thread).
const Gdiplus& StartGdiplus()
{
    static const Gdiplus gdiplus = [] {
        Gdiplus result;
        const HMODULE module = ::LoadLibraryExW(L"gdiplus.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (module == nullptr) {
            tarn::Trace(L"LoadLibraryExW gdiplus.dll failed (error %lu)", ::GetLastError());
            return result;
        }
        const auto startup = Bind<StartupFunction>(module, "GdiplusStartup");
        result.fromStream = Bind<FromStreamFunction>(module, "GdipCreateBitmapFromStream");
        result.toHbitmap = Bind<ToHbitmapFunction>(module, "GdipCreateHBITMAPFromBitmap");
        result.dispose = Bind<DisposeFunction>(module, "GdipDisposeImage");
        if (startup == nullptr || result.fromStream == nullptr || result.toHbitmap == nullptr ||
            result.dispose == nullptr) {
            return result;
        }
        ULONG_PTR token = 0;
        const GdiplusStartupInput input;
        const int status = startup(&token, &input, nullptr);
        if (status != 0) {
            tarn::Trace(L"GdiplusStartup failed (status %d)", status);
            return result;
        }
        result.ready = true;
        return result;
    }();
    return gdiplus;
}

const wchar_t* ResourceType(const wchar_t* type)
{
    if (tarn::IsEmptyText(type) || tarn::EqualsNoCase(type, L"RCDATA")) {
        return MAKEINTRESOURCEW(10);  // RT_RCDATA
    }
    return type;
}

}  // namespace

const unsigned char* LoadResourceData(HMODULE module, const wchar_t* name, std::vector<unsigned char>& buffer,
                                      DWORD& length, const wchar_t* type)
{
    length = 0;
    buffer.clear();
    const HRSRC info = ::FindResourceW(module, name, ResourceType(type));
    if (info == nullptr) {
        return nullptr;
    }
    const DWORD size = ::SizeofResource(module, info);
    const HGLOBAL loaded = ::LoadResource(module, info);
    const void* bytes = loaded == nullptr ? nullptr : ::LockResource(loaded);
    if (bytes == nullptr || size == 0) {
        tarn::Trace(L"LoadResource %ls failed (error %lu)", IS_INTRESOURCE(name) ? L"#" : name, ::GetLastError());
        return nullptr;
    }
    const auto* first = static_cast<const unsigned char*>(bytes);
    buffer.assign(first, first + size);
    length = size;
    return buffer.data();
}

int LoadScaledPicture(const wchar_t* name, tarn::UniqueGdiObject& bitmap, double scale)
{
    bitmap.Reset();
    if (tarn::IsEmptyText(name)) {
        return 0;
    }
    const HMODULE module = tarn::GetProcessInstance();
    for (const tarn::PictureCandidate& candidate : tarn::PictureCandidates(scale)) {
        const std::wstring resource = name + candidate.suffix;
        std::vector<unsigned char> data;
        DWORD length = 0;
        if (LoadResourceData(module, resource.c_str(), data, length) == nullptr) {
            continue;
        }
        if (tarn::DecodePicture(data.data(), length, bitmap) == 0) {
            return 0;
        }
        ScaleBitmap(bitmap, candidate.factor);
        return 1;
    }
    return 0;
}

namespace tarn {

int DecodePicture(const void* data, size_t size, UniqueGdiObject& bitmap)
{
    bitmap.Reset();
    const Gdiplus& gdiplus = StartGdiplus();
    if (!gdiplus.ready || data == nullptr || size == 0 || size > UINT32_MAX) {
        return 0;
    }
    IStream* stream = ::SHCreateMemStream(static_cast<const BYTE*>(data), static_cast<UINT>(size));
    if (stream == nullptr) {
        Trace(L"SHCreateMemStream of %lu bytes failed", static_cast<unsigned long>(size));
        return 0;
    }
    GpBitmap* image = nullptr;
    int status = gdiplus.fromStream(stream, &image);
    stream->Release();
    if (status != 0 || image == nullptr) {
        Trace(L"GDI+ could not decode a picture of %lu bytes (status %d)", static_cast<unsigned long>(size), status);
        return 0;
    }
    HBITMAP decoded = nullptr;
    status = gdiplus.toHbitmap(image, &decoded, 0xFFFFFFFF);  // transparent parts on white
    gdiplus.dispose(image);
    if (status != 0 || decoded == nullptr) {
        Trace(L"GDI+ could not make a bitmap of a picture (status %d)", status);
        return 0;
    }
    bitmap.Reset(decoded);
    return 1;
}

}  // namespace tarn
