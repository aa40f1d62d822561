#pragma once
// The application: start-up splits the command line and runs the one mode
// it selects.

#include "app/win_app.h"

class CTarn_Gridwell_20xxApp : public CWinApp {
public:
    bool InitInstance() override;
};

