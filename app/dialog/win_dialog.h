#pragma once
// The small dialog layer under the program's dialogs: a modal dialog from a
// template in the program's resources, whose dialog procedure hands the
// messages a dialog needs to virtual handlers. No product logic lives here.

#include <windows.h>

class CDialog {
public:
    CDialog(UINT templateId, HWND parent);
    virtual ~CDialog();
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Shows the dialog and runs its modal loop; returns the result given to
    // EndDialog, or -1 when the dialog could not be made.
    INT_PTR DoModal();

    void EndDialog(INT_PTR result);

    HWND m_hWnd = nullptr;

protected:
    // WM_INITDIALOG; returning true gives the first tab stop the focus.
    virtual bool OnInitDialog() { return true; }
    // The hidden default button or Enter (IDOK), and the cancel button,
    // Escape or the close box (IDCANCEL): both end the dialog.
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    virtual void OnTimer(UINT_PTR) {}
    // WM_PAINT; false leaves the painting to the dialog manager.
    virtual bool OnPaint() { return false; }
    // WM_CTLCOLOR*: the brush to paint with, or null for the default colours.
    virtual HBRUSH OnCtlColor(UINT, HDC, HWND) { return nullptr; }
    // WM_DRAWITEM of an owner-drawn control; false when not drawn.
    virtual bool OnDrawItem(const DRAWITEMSTRUCT&) { return false; }
    // WM_QUERYDRAGICON.
    virtual HICON OnQueryDragIcon() { return nullptr; }
    // WM_DESTROY: the window and its controls are about to go.
    virtual void OnDestroy() {}

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    UINT templateId_;
    HWND parent_;
};

namespace tarn {

// Loads comctl32 and initialises the common controls that the dialogs use
// (ICC_WIN95_CLASSES: the progress bar among them); nothing happens when it
// cannot be loaded. Bound at run time, not imported: loading comctl32
// registers its window classes, which under Wine first starts the desktop
// process, a tenth of a second that the windowless download modes, started
// once per file by the installer, need not pay. Keep comctl32 out of the
// program's imports.
void InitCommonControlsForDialogs();

}  // namespace tarn
