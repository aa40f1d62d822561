#include "app/dialog/win_dialog.h"

#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

namespace {

// This test program does not import comctl32: the progress bar's class is
// known only once the common controls were loaded and initialised.
TEST(InitCommonControlsForDialogs, RegistersTheProgressBarClass)
{
    WNDCLASSEXW info{};
    info.cbSize = sizeof(info);
    ASSERT_EQ(::GetModuleHandleW(L"comctl32.dll"), nullptr);
    tarn::InitCommonControlsForDialogs();
    const HMODULE module = ::GetModuleHandleW(L"comctl32.dll");
    ASSERT_NE(module, nullptr);
    EXPECT_TRUE(::GetClassInfoExW(module, PROGRESS_CLASSW, &info));
}

}  // namespace
