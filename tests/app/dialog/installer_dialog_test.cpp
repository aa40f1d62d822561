// The installer dialog with the program's own resources on the test display:
// picture decoding and scaling, the layout at 100 %, the worker's view, the
// timer that closes the dialog, and the user's ways out.

#include "app/dialog/installer_dialog.h"
#include "app/dialog/win_dialog.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "app/dialog/picture_bitmap.h"
#include "app/dialog/picture_loader.h"
#include "offline_profile.h"
#include "resources/resource_ids.h"

namespace {

struct PictureCase {
    const wchar_t* name;
    double scale;
    int result;
    SIZE size;
};

TEST(LoadScaledPicture, DecodesTheResourceAndScalesItForTheScreen)
{
    const PictureCase cases[] = {
        {L"ID_BACKGROUND", 1.0, 1, {750, 380}},        {L"ID_BACKGROUND", 1.5, 1, {1125, 570}},
        {L"ID_BACKGROUND_CORVIN", 1.25, 1, {937, 475}}, {L"ID_BACKGROUND_APP", 2.0, 1, {1500, 760}},
        {L"ID_BACKGROUND_APP", 1.75, 1, {1312, 665}},  {L"ID_BACKGROUND_VTS", 1.0, 0, {0, 0}},
        {L"", 1.0, 0, {0, 0}},
    };
    for (const PictureCase& c : cases) {
        tarn::UniqueGdiObject bitmap(::CreateBitmap(2, 2, 1, 32, nullptr));  // replaced or cleared
        EXPECT_EQ(LoadScaledPicture(c.name, bitmap, c.scale), c.result) << c.name << " " << c.scale;
        const SIZE size = tarn::BitmapSize(bitmap.Get());
        EXPECT_EQ(size.cx, c.size.cx) << c.name << " " << c.scale;
        EXPECT_EQ(size.cy, c.size.cy) << c.name << " " << c.scale;
    }
}

// The pictures keep a light band where the status line's black text sits.
TEST(LoadScaledPicture, KeepsThePicturesContent)
{
    tarn::UniqueGdiObject bitmap;
    ASSERT_EQ(LoadScaledPicture(L"ID_BACKGROUND", bitmap, 1.5), 1);
    const HDC dc = ::CreateCompatibleDC(tarn::DisplayDC());
    const HGDIOBJ previous = ::SelectObject(dc, bitmap.Get());
    const COLORREF band = ::GetPixel(dc, 560, 338);  // (375, 225) at 100 %
    const COLORREF sky = ::GetPixel(dc, 560, 4);
    ::SelectObject(dc, previous);
    ::DeleteDC(dc);
    EXPECT_GT(GetRValue(band) + GetGValue(band) + GetBValue(band), 3 * 200);
    EXPECT_LT(GetRValue(sky) + GetGValue(sky) + GetBValue(sky), 3 * 120);
}

TEST(ScaledBackground, ColoursControlsWithThePictureOnlyWhenThereIsOne)
{
    const HWND parent = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 750, 380, nullptr, nullptr,
                                          nullptr, nullptr);
    ASSERT_NE(parent, nullptr);
    const HWND label = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD, 20, 210, 200, 13, parent, nullptr, nullptr,
                                         nullptr);
    const HWND list = ::CreateWindowExW(0, L"LISTBOX", L"", WS_CHILD, 20, 300, 200, 40, parent, nullptr, nullptr,
                                        nullptr);
    const HDC dc = ::GetDC(label);
    CScaledBackground withPicture(L"ID_BACKGROUND");
    CScaledBackground withoutPicture(L"ID_BACKGROUND_VTS");  // no such picture: nothing loaded at all
    EXPECT_TRUE(withPicture.Picture());
    EXPECT_FALSE(withoutPicture.Picture());

    EXPECT_NE(withPicture.CtlColor(WM_CTLCOLORDLG, dc, parent), nullptr);
    EXPECT_NE(withPicture.CtlColor(WM_CTLCOLORSTATIC, dc, label), nullptr);
    EXPECT_NE(withPicture.CtlColor(WM_CTLCOLORBTN, dc, label), nullptr);
    EXPECT_EQ(withPicture.CtlColor(WM_CTLCOLORSTATIC, dc, list), nullptr);     // list boxes keep theirs
    EXPECT_EQ(withPicture.CtlColor(WM_CTLCOLORSCROLLBAR, dc, label), nullptr);
    EXPECT_EQ(withoutPicture.CtlColor(WM_CTLCOLORDLG, dc, parent), nullptr);
    EXPECT_EQ(withoutPicture.CtlColor(WM_CTLCOLORSTATIC, dc, label), nullptr);  // default colours, not black

    ::ReleaseDC(label, dc);
    ::DestroyWindow(parent);
}

// What the worker saw of the dialog while it ran.
struct Seen {
    SIZE client{};
    RECT picture{};
    RECT controls[4]{};  // cancel, status line, progress bar, default button
    wchar_t status[100]{};
    wchar_t caption[100]{};
    std::wstring folder;
};
Seen g_seen;

RECT RectIn(HWND dialog, int id)
{
    RECT rect{};
    ::GetWindowRect(::GetDlgItem(dialog, id), &rect);
    ::MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

int LookingWorker(tarn::InstallView& view)
{
    view.SetStatusText(L"Das 1. Datenpaket von 11 wird heruntergeladen...");
    const HWND dialog = ::GetParent(view.ProgressBar());
    RECT client{};
    ::GetClientRect(dialog, &client);
    g_seen.client = {client.right, client.bottom};
    g_seen.picture = RectIn(dialog, IDC_BACKGROUND);
    const int ids[] = {IDCANCEL, IDC_STATUS_TEXT, IDC_PROGRESS, IDOK};
    for (int i = 0; i < 4; ++i) {
        g_seen.controls[i] = RectIn(dialog, ids[i]);
    }
    ::GetDlgItemTextW(dialog, IDC_STATUS_TEXT, g_seen.status, 100);
    ::GetWindowTextW(dialog, g_seen.caption, 100);
    g_seen.folder = view.InstallDataFolder();
    return 1;
}

int ThrowingWorker(tarn::InstallView&)
{
    throw std::runtime_error("worker failed");
}

// The dialogs' timer here: a tenth of the one second they tick at in use.
constexpr UINT kTestTickMs = 100;

class InstallerDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        tarn::InitCommonControlsForDialogs();
        tarn::test::ResolveProductProfileOffline();
    }
};

TEST_F(InstallerDialogTest, FillsThePictureLaysOutTheControlsAndClosesOnTheSecondTickAfterTheWorker)
{
    if (GetScreenScale() != 1.0) {
        GTEST_SKIP() << "the display is not at 96 DPI";
    }
    CTarn_Gridwell_20xxDlg dialog(nullptr, L"C:\\Tarn_InstallData", &LookingWorker);
    dialog.SetTickForTest(kTestTickMs);
    const ULONGLONG start = ::GetTickCount64();
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_GE(::GetTickCount64() - start, 2 * kTestTickMs - 10);  // two ticks after the worker's end

    EXPECT_EQ(g_seen.client.cx, 750);
    EXPECT_EQ(g_seen.client.cy, 380);
    EXPECT_EQ(g_seen.picture.left, 0);
    EXPECT_EQ(g_seen.picture.top, 0);
    EXPECT_EQ(g_seen.picture.right, 750);
    EXPECT_EQ(g_seen.picture.bottom, 380);
    // Left edges and widths from the record, whatever the font's metrics.
    const int lefts[] = {632, 13, 334, 665};
    const int widths[] = {102, 304, 400, 9};
    const int centres[] = {254, 222, 223, 298};
    for (int i = 0; i < 4; ++i) {
        const RECT& r = g_seen.controls[i];
        EXPECT_EQ(r.left, lefts[i]) << "control " << i;
        EXPECT_EQ(r.right - r.left, widths[i]) << "control " << i;
        EXPECT_LE(std::abs((r.top + r.bottom) / 2 - centres[i]), 1) << "control " << i;
    }
    EXPECT_STREQ(g_seen.status, L"Das 1. Datenpaket von 11 wird heruntergeladen...");
    EXPECT_STREQ(g_seen.caption, L"Tarn Software 2023 Installationsstarter");  // the generic profile's
    EXPECT_EQ(g_seen.folder, L"C:\\Tarn_InstallData");
}

TEST_F(InstallerDialogTest, ClosesAfterAWorkerThatThrows)
{
    CTarn_Gridwell_20xxDlg dialog(nullptr, L"", &ThrowingWorker);
    dialog.SetTickForTest(kTestTickMs);
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_FALSE(dialog.WorkerRunning());
}

// The user ends the dialog while the worker still runs; the worker then
// goes on with the dialog object destroyed. The worker cannot end before
// that, so the timer cannot be what closed the dialog.
struct UserEnd {
    UINT message;
    WPARAM wParam;
};
UserEnd g_userEnd{};
HANDLE g_dialogGone = nullptr;
HANDLE g_workerDone = nullptr;
bool g_viewDetached = false;

int WorkerOutlivingTheDialog(tarn::InstallView& view)
{
    const HWND dialog = ::GetParent(view.ProgressBar());
    const HWND target = g_userEnd.message == WM_SYSCOMMAND ? dialog : ::GetDlgItem(dialog, IDCANCEL);
    ::PostMessageW(target, g_userEnd.message, g_userEnd.wParam, 0);
    ::WaitForSingleObject(g_dialogGone, 10000);
    view.SetStatusText(L"Setup wird gestartet...");  // must touch nothing
    g_viewDetached = view.ProgressBar() == nullptr && view.InstallDataFolder() == L"D:\\x";
    ::SetEvent(g_workerDone);
    return 1;
}

TEST_F(InstallerDialogTest, EscapeEnterAndTheCloseBoxEndItAtOnceAndTheWorkerTouchesNothingAfterwards)
{
    const UserEnd ends[] = {{WM_KEYDOWN, VK_ESCAPE}, {WM_KEYDOWN, VK_RETURN}, {WM_SYSCOMMAND, SC_CLOSE}};
    for (const UserEnd& end : ends) {
        g_userEnd = end;
        g_viewDetached = false;
        g_dialogGone = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        g_workerDone = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        {
            CTarn_Gridwell_20xxDlg dialog(nullptr, L"D:\\x", &WorkerOutlivingTheDialog);
            const INT_PTR result = dialog.DoModal();
            // Enter clicks the focused cancel button, or the hidden default
            // button when nothing has the focus.
            EXPECT_TRUE(result == IDCANCEL || (end.wParam == VK_RETURN && result == IDOK))
                << end.message << " " << end.wParam << ": " << result;
            // What makes start-up end the process at once.
            EXPECT_TRUE(dialog.WorkerRunning());
        }
        ::SetEvent(g_dialogGone);
        EXPECT_EQ(::WaitForSingleObject(g_workerDone, 10000), WAIT_OBJECT_0);
        EXPECT_TRUE(g_viewDetached);
        ::CloseHandle(g_dialogGone);
        ::CloseHandle(g_workerDone);
    }
}

}  // namespace
