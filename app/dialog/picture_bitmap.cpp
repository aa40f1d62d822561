#include "app/dialog/picture_bitmap.h"

#include "app/dialog/control_layout.h"
#include "support/trace.h"

namespace {

// A memory device context with one bitmap selected into it for its lifetime.
class SelectedBitmap {
public:
    explicit SelectedBitmap(HGDIOBJ bitmap) : dc_(::CreateCompatibleDC(tarn::DisplayDC()))
    {
        if (dc_ != nullptr) {
            previous_ = ::SelectObject(dc_, bitmap);
        }
    }
    ~SelectedBitmap()
    {
        if (dc_ != nullptr) {
            ::SelectObject(dc_, previous_);
            ::DeleteDC(dc_);
        }
    }
    SelectedBitmap(const SelectedBitmap&) = delete;
    SelectedBitmap& operator=(const SelectedBitmap&) = delete;

    HDC Get() const { return dc_; }

private:
    HDC dc_;
    HGDIOBJ previous_ = nullptr;
};

}  // namespace

double GetScreenScale()
{
    static double scale = 0.0;
    if (scale != 0.0) {
        return scale;
    }
    scale = 1.0;
    const HWND desktop = ::GetDesktopWindow();
    if (const HDC dc = ::GetDC(desktop); dc != nullptr) {
        scale = ::GetDeviceCaps(dc, LOGPIXELSX) / 96.0;
        ::ReleaseDC(desktop, dc);
    }
    return scale;
}

void FillNewBitmap(COLORREF colour, tarn::UniqueGdiObject& target, int width, int height)
{
    target.Reset(::CreateCompatibleBitmap(tarn::DisplayDC(), width, height));
    if (!target) {
        tarn::Trace(L"FillNewBitmap: no bitmap of %d x %d (error %lu)", width, height, ::GetLastError());
        return;
    }
    const SelectedBitmap selected(target.Get());
    const tarn::UniqueGdiObject brush(::CreateSolidBrush(colour));
    const RECT all{0, 0, width, height};
    ::FillRect(selected.Get(), &all, static_cast<HBRUSH>(brush.Get()));
}

int CopyBitmapArea(const tarn::UniqueGdiObject& source, tarn::UniqueGdiObject& target, const RECT& rect, int stretch,
                   DWORD rasterOperation)
{
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    const SIZE have = tarn::BitmapSize(target.Get());
    if (!target || have.cx != width || have.cy != height) {
        target.Reset(::CreateCompatibleBitmap(tarn::DisplayDC(), width, height));
    }
    if (!source || !target) {
        return 0;
    }
    const SelectedBitmap from(source.Get());
    const SelectedBitmap to(target.Get());
    if (stretch == 1) {
        const SIZE whole = tarn::BitmapSize(source.Get());
        ::SetStretchBltMode(to.Get(), HALFTONE);
        ::SetBrushOrgEx(to.Get(), 0, 0, nullptr);  // HALFTONE needs the origin reset
        ::StretchBlt(to.Get(), 0, 0, width, height, from.Get(), 0, 0, whole.cx, whole.cy, rasterOperation);
    } else {
        ::BitBlt(to.Get(), 0, 0, width, height, from.Get(), rect.left, rect.top, rasterOperation);
    }
    return 1;
}

int ScaleBitmap(tarn::UniqueGdiObject& bitmap, double factor)
{
    const SIZE size = tarn::BitmapSize(bitmap.Get());
    if (!bitmap || size.cx <= 0 || size.cy <= 0) {
        return 0;
    }
    const tarn::PixelSize scaled = tarn::ScaledPictureSize({size.cx, size.cy}, factor);
    if (scaled.width == size.cx && scaled.height == size.cy) {
        return 1;
    }
    tarn::UniqueGdiObject result;
    FillNewBitmap(RGB(255, 255, 255), result, scaled.width, scaled.height);
    if (!result || CopyBitmapArea(bitmap, result, RECT{0, 0, scaled.width, scaled.height}, 1, SRCCOPY) == 0) {
        return 1;  // the unscaled picture is still better than none
    }
    bitmap = std::move(result);
    return 1;
}

namespace tarn {

HDC DisplayDC()
{
    // Made once, kept until the process ends.
    static const HDC display = ::CreateDCW(L"DISPLAY", nullptr, nullptr, nullptr);
    return display;
}

SIZE BitmapSize(HGDIOBJ bitmap)
{
    BITMAP info{};
    if (bitmap == nullptr || ::GetObjectW(bitmap, sizeof(info), &info) == 0) {
        return SIZE{0, 0};
    }
    return SIZE{info.bmWidth, info.bmHeight < 0 ? -info.bmHeight : info.bmHeight};
}

}  // namespace tarn
