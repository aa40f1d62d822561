#pragma once
// Identifiers of the program's resources, shared by the .rc file and the code.

#define IDR_MAINFRAME 128

// The installer dialog and its controls.
#define IDD_TARN_GRIDWELL_20XX_DIALOG 102
#define IDC_STATUS_TEXT 1000
#define IDC_PROGRESS 1001
#define IDC_BACKGROUND 1002
