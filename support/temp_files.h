#pragma once
// The temporary folder, free temporary file names, and temporary work folders
// that remove themselves.

#include <string>

// The user's temporary folder without its trailing backslash.
std::wstring GetTempFolder();

// A file name "<folder>\_Tarn_Temp_File<ext>" or "..._(n)<ext>" that is free
// (absent or deletable), created empty when `create` is nonzero. An empty
// extension means ".dwg"; an empty folder means "<temp>\_Tarn_Temp"; a
// relative folder lies below the temporary folder. Empty when none is found.
std::wstring GetUniqueTempFile(const wchar_t* folder, const wchar_t* extension, int create);
std::wstring GetUniqueTempFile(const wchar_t* extension, int create);

// A new, empty folder below the temporary folder, named after the local time
// and the tick count, removed with everything in it when the object goes.
struct UniqueTempFolder {
    UniqueTempFolder();
    ~UniqueTempFolder();
    UniqueTempFolder(const UniqueTempFolder&) = delete;
    UniqueTempFolder& operator=(const UniqueTempFolder&) = delete;

    int m_Remove = 1;        // 0 keeps the folder at destruction
    std::wstring m_Folder;   // the folder; empty when none could be created
    std::wstring m_TempBase; // the temporary folder it lies in
};
