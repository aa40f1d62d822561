#pragma once
// The small application layer under the program: wWinMain hands the instance
// handle and the command-line text to the one application object and calls
// its start-up routine. No product logic lives here.

#include <windows.h>

#include <string>

class CWinApp {
public:
    CWinApp();
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // Start-up. Returning false ends the process without a message loop.
    virtual bool InitInstance() = 0;

    // Runs the application: start-up, then the exit code it left in
    // m_ExitCode.
    int Run(HINSTANCE instance);

    HINSTANCE m_hInstance = nullptr;
    std::wstring m_lpCmdLine;  // the text after the program name and its blanks
    int m_ExitCode = 0;        // the process's exit code, set by start-up
};

namespace tarn {

// The one application object (null before it is constructed).
CWinApp* CurrentApplication();

}  // namespace tarn
