#pragma once
// The application: start-up splits the command line and runs the one mode
// it selects.

#include "app/win_app.h"

class CTarn_Gridwell_20xxApp : public CWinApp {
public:
    bool InitInstance() override;
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
