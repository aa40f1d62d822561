#pragma once
// Files and folders for tests: a scratch folder that removes itself, byte
// reading and writing, and the helper programs beside the test programs.

#include <windows.h>

#include <string>
#include <vector>

namespace tarn::test {

// A fresh folder below the temporary folder, removed with its contents by the
// destructor. Built on plain Win32 calls, not on the helpers under test.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::wstring& Path() const { return path_; }
    // Path() + "\" + relative.
    std::wstring operator/(const std::wstring& relative) const { return path_ + L"\\" + relative; }

private:
    std::wstring path_;
};

// Writes bytes to a file, creating its folders; returns false on failure.
bool WriteBytes(const std::wstring& path, const std::string& bytes);
// A file of `size` bytes (zeros) that occupies no space on the host: the
// end is set without writing. False on failure.
bool MakeSparseFile(const std::wstring& path, long long size);
// The whole file; empty when it cannot be read.
std::string ReadBytes(const std::wstring& path);
bool PathExists(const std::wstring& path);
DWORD Attributes(const std::wstring& path);
// Removes a folder tree with plain Win32 calls; read-only files included.
void RemoveTree(const std::wstring& path);

// Full path of a helper program built beside the test programs.
std::wstring HelperProgram(const std::wstring& name);

// A helper process holding a file open without sharing until it is ended.
class FileHolder {
public:
    // Starts hold_file.exe on `path` and waits until it holds the file.
    explicit FileHolder(const std::wstring& path, DWORD holdMilliseconds = 60000);
    ~FileHolder();
    FileHolder(const FileHolder&) = delete;
    FileHolder& operator=(const FileHolder&) = delete;

    bool Holding() const { return holding_; }
    // Ends the helper and waits for it; the file is free afterwards.
    void Release();

private:
    PROCESS_INFORMATION process_{};
    bool holding_ = false;
};

}  // namespace tarn::test
