#include "app/dialog/scaled_background.h"

#include <optional>

#include "app/dialog/control_layout.h"
#include "app/dialog/picture_bitmap.h"
#include "app/dialog/picture_loader.h"
#include "app/profile/product_profile.h"
#include "support/file_queries.h"
#include "support/name_compare.h"
#include "support/program_path.h"
#include "support/trace.h"

namespace {

// A window's rectangle in its parent's client coordinates.
RECT RectInParent(HWND window, HWND parent)
{
    RECT rect{};
    ::GetWindowRect(window, &rect);
    ::MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

std::wstring FromAnsi(const unsigned char* bytes, DWORD length)
{
    if (bytes == nullptr || length == 0) {
        return std::wstring();
    }
    const char* text = reinterpret_cast<const char*>(bytes);
    const int units = ::MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0);
    std::wstring wide(static_cast<size_t>(units > 0 ? units : 0), L'\0');
    if (units > 0) {
        ::MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), wide.data(), units);
    }
    return wide;
}

tarn::MoveBy LoadMoveBy(const std::wstring& dialogClassName)
{
    std::vector<unsigned char> data;
    DWORD length = 0;
    const std::wstring name = dialogClassName + L"_MoveBy";
    const unsigned char* bytes = LoadResourceData(tarn::GetProcessInstance(), name.c_str(), data, length);
    return tarn::ParseMoveBy(FromAnsi(bytes, length));
}

std::optional<tarn::ControlPositionRecord> ReadCtrlPosFile(const std::wstring& path, size_t controlCount)
{
    const tarn::UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        tarn::Trace(L"Opening %ls failed (error %lu)", path.c_str(), ::GetLastError());
        return std::nullopt;
    }
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.Get(), &size) || size.QuadPart > 0x10000) {
        return std::nullopt;  // far larger than any dialog's record
    }
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!bytes.empty() && (!::ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
                           read != bytes.size())) {
        tarn::Trace(L"Reading %ls failed (error %lu)", path.c_str(), ::GetLastError());
        return std::nullopt;
    }
    return tarn::ParseControlPositionRecord(bytes.data(), bytes.size(), controlCount);
}

void WriteCtrlPosFile(const std::wstring& path, const tarn::ControlPositionRecord& record)
{
    // Only ever made new: whatever lies at that name already is left alone.
    const tarn::UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        tarn::Trace(L"Creating %ls failed (error %lu)", path.c_str(), ::GetLastError());
        return;
    }
    const std::string bytes = tarn::SerializeControlPositionRecord(record);
    DWORD written = 0;
    if (!::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) {
        tarn::Trace(L"Writing %ls failed (error %lu)", path.c_str(), ::GetLastError());
    }
}

tarn::ControlPositionRecord RecordOfWindows(HWND dialog, SIZE client, const std::vector<HWND>& controls)
{
    tarn::ControlPositionRecord record{client.cx, client.cy, {}};
    for (const HWND control : controls) {
        const RECT rect = RectInParent(control, dialog);
        record.controls.push_back({(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2, rect.right - rect.left});
    }
    return record;
}

SIZE ClientSize(HWND window)
{
    RECT rect{};
    ::GetClientRect(window, &rect);
    return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

std::wstring ProfilePictureName()
{
    return tarn::LocalProductProfile().pictureName;
}

}  // namespace

CScaledBackground::CScaledBackground(const wchar_t* pictureName)
{
    LoadScaledPicture(pictureName, m_Picture, GetScreenScale());
}

CScaledBackground::~CScaledBackground() = default;

void CScaledBackground::Attach(HWND control, const std::wstring& dialogClassName)
{
    m_hWnd = control;
    m_DialogClassName = dialogClassName;
}

void CScaledBackground::LayoutControls(int inactivePicture)
{
    const double scale = GetScreenScale();
    const HWND dialog = ::GetParent(m_hWnd);
    const SIZE picture = tarn::BitmapSize(m_Picture.Get());

    std::vector<HWND> controls;
    CollectChildWindows(m_hWnd, controls);

    std::vector<unsigned char> resourceData;
    DWORD resourceLength = 0;
    const bool resourcePresent = LoadResourceData(tarn::GetProcessInstance(), m_DialogClassName.c_str(), resourceData,
                                                  resourceLength) != nullptr;
    std::optional<tarn::ControlPositionRecord> record;
    if (resourcePresent) {
        record = tarn::ParseControlPositionRecord(resourceData.data(), resourceLength, controls.size());
        if (!record) {
            tarn::Trace(L"Control-position record %ls: %lu bytes do not describe %lu controls; ignored",
                        m_DialogClassName.c_str(), resourceLength, static_cast<unsigned long>(controls.size()));
        }
    }
    const tarn::MoveBy offset = LoadMoveBy(m_DialogClassName);

    RECT window{};
    ::GetWindowRect(dialog, &window);
    const SIZE client = ClientSize(dialog);
    const tarn::PixelSize growth = tarn::DialogGrowth(record ? &*record : nullptr, {picture.cx, picture.cy},
                                                      {client.cx, client.cy}, scale);
    if (m_FitToPicture == 1) {
        ::SetWindowPos(dialog, HWND_TOP, window.left, window.top, window.right - window.left + growth.width,
                       window.bottom - window.top + growth.height, 0);
    }

    const std::wstring filePath = tarn::CtrlPosFilePath(tarn::GetProgramPath(), m_DialogClassName);
    int isFolder = 0;
    const bool fileExists = FileExists(filePath.c_str(), &isFolder) != 0 && isFolder == 0;
    switch (tarn::ChooseCtrlPosFileUse(resourcePresent, fileExists, scale)) {
    case tarn::CtrlPosFileUse::Read:
        record = ReadCtrlPosFile(filePath, controls.size());
        break;
    case tarn::CtrlPosFileUse::Write:
        WriteCtrlPosFile(filePath, RecordOfWindows(dialog, ClientSize(dialog), controls));
        break;
    case tarn::CtrlPosFileUse::None:
        break;
    }

    if (record) {
        // At every scale, 100 % included: the template's own positions follow
        // the dialog font's metrics, which differ between systems.
        for (size_t i = 0; i < controls.size(); ++i) {
            const RECT current = RectInParent(controls[i], dialog);
            const tarn::ControlRect place =
                tarn::PlaceControl(record->controls[i], offset, scale, current.bottom - current.top);
            ::SetWindowPos(controls[i], nullptr, place.left, place.top, place.width, place.height,
                           SWP_NOZORDER | SWP_NOOWNERZORDER);
        }
    } else if (scale == 1.0 && offset != tarn::MoveBy{}) {
        for (const HWND control : controls) {
            const RECT current = RectInParent(control, dialog);
            ::SetWindowPos(control, nullptr, current.left + offset.dx, current.top + offset.dy, 0, 0,
                           SWP_NOSIZE | SWP_NOZORDER | SWP_NOOWNERZORDER);
        }
    }

    if (m_FitToPicture == 1) {
        ::SetWindowPos(m_hWnd, nullptr, 0, 0, picture.cx, picture.cy,
                       SWP_NOMOVE | SWP_NOZORDER | SWP_NOREDRAW | SWP_NOOWNERZORDER);
    }
    if (inactivePicture == 1) {
        LoadScaledPicture(L"ID_BACKGROUND_INACTIVE", m_InactivePicture, scale);
    }
}

void CScaledBackground::DrawItem(const DRAWITEMSTRUCT& item) const
{
    if (!m_Picture) {
        return;
    }
    const HDC source = ::CreateCompatibleDC(item.hDC);
    if (source == nullptr) {
        return;
    }
    const HGDIOBJ previous = ::SelectObject(source, m_Picture.Get());
    ::BitBlt(item.hDC, item.rcItem.left, item.rcItem.top, item.rcItem.right - item.rcItem.left,
             item.rcItem.bottom - item.rcItem.top, source, 0, 0, SRCCOPY);
    ::SelectObject(source, previous);
    ::DeleteDC(source);
}

HBRUSH CScaledBackground::CtlColor(UINT message, HDC dc, HWND control)
{
    if (!m_PictureBrush && m_Picture) {
        m_PictureBrush.Reset(::CreatePatternBrush(static_cast<HBITMAP>(m_Picture.Get())));
    }
    if (message == WM_CTLCOLORDLG) {
        if (!m_PictureBrush) {
            return nullptr;
        }
        ::SetBkMode(dc, TRANSPARENT);
        return static_cast<HBRUSH>(m_PictureBrush.Get());
    }
    if (message != WM_CTLCOLOREDIT && message != WM_CTLCOLORBTN && message != WM_CTLCOLORSTATIC) {
        return nullptr;
    }
    wchar_t className[261] = {};
    ::GetClassNameW(control, className, 261);
    if (tarn::EqualsNoCase(className, L"COMBOBOX") || tarn::EqualsNoCase(className, L"LISTBOX")) {
        return nullptr;
    }
    const HWND dialog = ::GetParent(control);
    RECT rect = RectInParent(control, dialog);
    RECT inner{};
    ::GetClientRect(control, &inner);
    const int borderX = ((rect.right - rect.left) - (inner.right - inner.left)) / 2;
    const int borderY = ((rect.bottom - rect.top) - (inner.bottom - inner.top)) / 2;
    ::InflateRect(&rect, -borderX, -borderY);
    tarn::UniqueGdiObject block;
    // Without a picture there is nothing to cut: the control keeps its
    // default colours rather than a brush of an undefined bitmap.
    if (rect.right <= rect.left || rect.bottom <= rect.top || CopyBitmapArea(m_Picture, block, rect, 0, SRCCOPY) == 0) {
        return nullptr;
    }
    tarn::UniqueGdiObject brush(::CreatePatternBrush(static_cast<HBITMAP>(block.Get())));
    if (!brush) {
        return nullptr;
    }
    m_ControlBrush = std::move(brush);
    ::SetBkMode(dc, TRANSPARENT);
    return static_cast<HBRUSH>(m_ControlBrush.Get());
}

CMyScaledBackground::CMyScaledBackground() : CScaledBackground(ProfilePictureName().c_str())
{
    m_FitToPicture = 1;
}

bool CollectChildWindows(HWND pictureControl, std::vector<HWND>& windows)
{
    windows.clear();
    struct Collected {
        HWND skip;
        std::vector<HWND>* windows;
    } collected{pictureControl, &windows};
    ::EnumChildWindows(
        ::GetParent(pictureControl),
        [](HWND window, LPARAM context) -> BOOL {
            auto* into = reinterpret_cast<Collected*>(context);
            if (window != into->skip) {
                into->windows->push_back(window);
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&collected));
    return !windows.empty();
}
