#pragma once
// The installer dialog's picture control: an owner-drawn control that holds
// the product picture scaled once for the screen, sizes the dialog to it,
// places the dialog's controls for the screen scale from the
// control-position record, and hands out the pattern brushes through which
// the other controls show the picture behind them.

#include <windows.h>

#include <string>
#include <vector>

#include "support/unique_handle.h"

class CScaledBackground {
public:
    // Loads the picture (scaled for the screen) before any window exists.
    explicit CScaledBackground(const wchar_t* pictureName = L"ID_BACKGROUND");
    virtual ~CScaledBackground();
    CScaledBackground(const CScaledBackground&) = delete;
    CScaledBackground& operator=(const CScaledBackground&) = delete;

    // Binds the object to its control; `dialogClassName` names the
    // control-position record, the move-by resource and the ".ctrlPos" file.
    void Attach(HWND control, const std::wstring& dialogClassName);

    // Sizes the dialog to the design at the screen scale and places its
    // controls; with `inactivePicture` 1 also loads "ID_BACKGROUND_INACTIVE".
    void LayoutControls(int inactivePicture);

    // Paints the picture one to one into the control.
    void DrawItem(const DRAWITEMSTRUCT& item) const;

    // The brush for a WM_CTLCOLOR* message of the dialog: the whole picture
    // for the dialog's background, the block of the picture under an edit,
    // button or static control; null (the default colours) for everything
    // else and whenever there is no picture to cut a brush from.
    HBRUSH CtlColor(UINT message, HDC dc, HWND control);

    const tarn::UniqueGdiObject& Picture() const { return m_Picture; }

    HWND m_hWnd = nullptr;

protected:
    int m_FitToPicture = 1;
    tarn::UniqueGdiObject m_Picture;
    tarn::UniqueGdiObject m_InactivePicture;
    tarn::UniqueGdiObject m_ControlBrush;
    tarn::UniqueGdiObject m_PictureBrush;
    std::wstring m_DialogClassName;
};

// The picture control with the picture of the product this program serves.
class CMyScaledBackground : public CScaledBackground {
public:
    CMyScaledBackground();
};

// The dialog's controls in child-window order, the picture control left out;
// returns whether there are any.
bool CollectChildWindows(HWND pictureControl, std::vector<HWND>& windows);
