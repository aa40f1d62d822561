#pragma once
// The products' folders: installation folders from the machine's registry,
// per-user application-data and configuration folders with their registry
// and environment fall-backs, and folder values of the folder file.
//
// The exported functions write into a caller's buffer of at least 260
// (MAX_PATH) characters, or, without one, into a buffer of the function that
// the next call overwrites; they return that buffer. An empty string means
// not found; so does a folder too long for the buffer.

#include <string>

#include "support/export.h"

// Installation folder of the main product (2023, or of a year) and of the
// second product of a year: "InstallDir" of the product's machine key
// ("InstallDir_FQ" in the Flinto edition), else the key's unnamed value.
TARN_EXPORT wchar_t* GetCentralAppDir(wchar_t* buffer = nullptr);
TARN_EXPORT wchar_t* GetCentralAppDir(wchar_t* buffer, int year);
TARN_EXPORT wchar_t* GetCentralRAppDir(wchar_t* buffer, int year);

// Per-user application-data folder of the main and the second product (2023,
// or of a year): "AppData" of the product's machine key, environment
// references expanded; else below the AppData environment folder.
TARN_EXPORT wchar_t* GetLocalAppDir(wchar_t* buffer = nullptr);
TARN_EXPORT wchar_t* GetLocalAppDir(wchar_t* buffer, int year);
TARN_EXPORT wchar_t* GetLocalRAppDir(wchar_t* buffer = nullptr);
TARN_EXPORT wchar_t* GetLocalRAppDir(wchar_t* buffer, int year);

// Per-user configuration folder of the main and the second product, ending
// with '\': the environment variable "TarnGridwell_2023_CFG_L"
// ("TarnCorvin_2023_CFG_L"), the user's "Config" ("ConfigR") value (also put
// into that variable), the user key's unnamed value and "Config\", the
// machine's "AppData" and "Config\", the application-data folder and
// "Tarnix\Tarn Gridwell 2023\Config\", and last the program folder and
// "Config\".
TARN_EXPORT wchar_t* GetLocalConfigDir(wchar_t* buffer = nullptr);
TARN_EXPORT wchar_t* GetLocalRConfigDir(wchar_t* buffer = nullptr);

// A folder value of the folder file "Ordner.ini" in the per-user
// configuration folder, section "Ordner": through the outside module
// "CfgR.dll" when one exists beside the program, in its subfolder "Data_x64"
// or in the main product's installation folder (loaded by that full path
// only), otherwise read with the settings store, expanded as the folder
// file's values are. Empty for an empty name or when nothing is found.
TARN_EXPORT wchar_t* GetDirValue(const wchar_t* name, wchar_t* buffer = nullptr);

namespace tarn {

// The per-user data folder of the main product of a year: "AppData" (or
// "AppData_" and the edition suffix) of "Software\Tarnix\Tarn Gridwell <year>"
// ("Tarn Vertix" up to 2016), from the user's key and then the machine's,
// environment references expanded; else the AppData shell folder followed by
// "\Tarnix\Tarn Gridwell <year>".
std::wstring GetUserAppDataDir(int year);

// The same folders as the exported functions above, without length limit.
std::wstring CentralAppDir(int year, bool secondProduct = false);
std::wstring LocalAppDir(int year);
std::wstring LocalRAppDir(int year);
std::wstring LocalConfigDir(bool secondProduct);
// The two shared configuration folders of the main product.
enum class SharedConfig { Cfg, Central };
std::wstring SharedConfigDir(SharedConfig which);
std::wstring DirValue(const wchar_t* name);

// The shared configuration folders of the main product, ending with '\':
// the environment variable "TarnGridwell_2023_CFG" ("TarnGridwell_2023_CFG_C"),
// else the machine key's value "ConfigCfg" ("Config"), else the per-user
// configuration folder; the folder found is put into the variable.
TARN_EXPORT wchar_t* GetSharedConfigDir(wchar_t* buffer = nullptr);
TARN_EXPORT wchar_t* GetCentralConfigDir(wchar_t* buffer = nullptr);

}  // namespace tarn
