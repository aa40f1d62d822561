#include "app/win_app.h"

#include "app/command_line.h"

namespace {

CWinApp* g_application = nullptr;

}  // namespace

CWinApp::CWinApp()
{
    g_application = this;
}

CWinApp::~CWinApp()
{
    if (g_application == this) {
        g_application = nullptr;
    }
}

int CWinApp::Run(HINSTANCE instance)
{
    m_hInstance = instance;
    m_lpCmdLine = tarn::GetApplicationCommandLine();
    InitInstance();
    // Start-up always returns false: the chosen mode has run to its end and
    // left the process's exit code.
    return m_ExitCode;
}

namespace tarn {

CWinApp* CurrentApplication()
{
    return g_application;
}

}  // namespace tarn
