#include "app/dialog/win_dialog.h"

#include <commctrl.h>

#include "support/proc_address.h"
#include "support/program_path.h"
#include "support/trace.h"

CDialog::CDialog(UINT templateId, HWND parent) : templateId_(templateId), parent_(parent) {}

CDialog::~CDialog() = default;

INT_PTR CDialog::DoModal()
{
    const INT_PTR result = ::DialogBoxParamW(tarn::GetProcessInstance(), MAKEINTRESOURCEW(templateId_), parent_,
                                             &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
    if (result == -1) {
        tarn::Trace(L"DialogBoxParamW of dialog %u failed (error %lu)", templateId_, ::GetLastError());
    }
    return result;
}

void CDialog::EndDialog(INT_PTR result)
{
    if (m_hWnd != nullptr) {
        ::EndDialog(m_hWnd, result);
    }
}

INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        ::SetWindowLongPtrW(window, DWLP_USER, lParam);
        reinterpret_cast<CDialog*>(lParam)->m_hWnd = window;
    }
    auto* dialog = reinterpret_cast<CDialog*>(::GetWindowLongPtrW(window, DWLP_USER));
    if (dialog == nullptr) {
        return FALSE;
    }
    const INT_PTR result = dialog->HandleMessage(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrW(window, DWLP_USER, 0);
        dialog->m_hWnd = nullptr;
    }
    return result;
}

INT_PTR CDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog() ? TRUE : FALSE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            OnOK();
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            OnCancel();
            return TRUE;
        }
        return FALSE;
    case WM_TIMER:
        OnTimer(static_cast<UINT_PTR>(wParam));
        return TRUE;
    case WM_PAINT:
        return OnPaint() ? TRUE : FALSE;
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORMSGBOX:
        // A dialog procedure returns the brush itself for these messages.
        return reinterpret_cast<INT_PTR>(
            OnCtlColor(message, reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam)));
    case WM_DRAWITEM:
        return OnDrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam)) ? TRUE : FALSE;
    case WM_QUERYDRAGICON:
        return reinterpret_cast<INT_PTR>(OnQueryDragIcon());
    case WM_DESTROY:
        OnDestroy();
        return FALSE;
    default:
        return FALSE;
    }
}

namespace tarn {

void InitCommonControlsForDialogs()
{
    // Never freed: the controls' window procedures live in it.
    const HMODULE module = ::LoadLibraryW(L"comctl32.dll");
    if (module == nullptr) {
        return;
    }
    using InitFunction = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    const auto init = reinterpret_cast<InitFunction>(
        reinterpret_cast<void*>(GetProcAddressLogged(module, "InitCommonControlsEx")));
    if (init == nullptr) {
        return;
    }
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_WIN95_CLASSES;
    init(&controls);
}

}  // namespace tarn
