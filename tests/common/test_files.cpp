#include "common/test_files.h"

#include "support/unique_handle.h"

namespace tarn::test {

namespace {

std::wstring TempPath()
{
    wchar_t buffer[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, buffer);
    std::wstring path(buffer, length);
    if (!path.empty() && path.back() == L'\\') {
        path.pop_back();
    }
    return path;
}

void CreateParents(const std::wstring& path)
{
    for (size_t i = 3; i < path.size(); ++i) {
        if (path[i] == L'\\') {
            ::CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
        }
    }
}

}  // namespace

ScratchFolder::ScratchFolder()
{
    static LONG counter = 0;
    for (int attempt = 0; attempt < 1000 && path_.empty(); ++attempt) {
        std::wstring candidate = TempPath() + L"\\tarn_test_" + std::to_wstring(::GetCurrentProcessId()) +
                                 L"_" + std::to_wstring(::InterlockedIncrement(&counter));
        if (::CreateDirectoryW(candidate.c_str(), nullptr)) {
            path_ = candidate;
        }
    }
}

ScratchFolder::~ScratchFolder()
{
    if (!path_.empty()) {
        RemoveTree(path_);
    }
}

bool WriteBytes(const std::wstring& path, const std::string& bytes)
{
    CreateParents(path);
    UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return false;
    }
    DWORD written = 0;
    return ::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

bool MakeSparseFile(const std::wstring& path, long long size)
{
    CreateParents(path);
    UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER end{};
    end.QuadPart = size;
    return file && ::SetFilePointerEx(file.Get(), end, nullptr, FILE_BEGIN) && ::SetEndOfFile(file.Get());
}

std::string ReadBytes(const std::wstring& path)
{
    UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return std::string();
    }
    std::string bytes;
    char buffer[65536];
    DWORD read = 0;
    while (::ReadFile(file.Get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        bytes.append(buffer, read);
    }
    return bytes;
}

bool PathExists(const std::wstring& path)
{
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

DWORD Attributes(const std::wstring& path)
{
    return ::GetFileAttributesW(path.c_str());
}

void RemoveTree(const std::wstring& path)
{
    WIN32_FIND_DATAW data{};
    {
        UniqueFindHandle find(::FindFirstFileW((path + L"\\*").c_str(), &data));
        if (find) {
            do {
                const std::wstring name = data.cFileName;
                if (name == L"." || name == L"..") {
                    continue;
                }
                const std::wstring child = path + L"\\" + name;
                if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    RemoveTree(child);
                } else {
                    ::SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                    ::DeleteFileW(child.c_str());
                }
            } while (::FindNextFileW(find.Get(), &data));
        }
    }
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::RemoveDirectoryW(path.c_str());
}

std::wstring HelperProgram(const std::wstring& name)
{
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    std::wstring path(buffer, length);
    return path.substr(0, path.find_last_of(L'\\') + 1) + name;
}

FileHolder::FileHolder(const std::wstring& path, DWORD holdMilliseconds)
{
    const std::wstring ready = path + L".holding";
    ::DeleteFileW(ready.c_str());
    std::wstring commandLine = L"\"" + HelperProgram(L"hold_file.exe") + L"\" \"" + path + L"\" " +
                               std::to_wstring(holdMilliseconds) + L" \"" + ready + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &process_)) {
        return;
    }
    for (int i = 0; i < 1000; ++i) {
        if (PathExists(ready)) {
            holding_ = true;
            break;
        }
        if (::WaitForSingleObject(process_.hProcess, 10) == WAIT_OBJECT_0) {
            break;
        }
    }
    ::DeleteFileW(ready.c_str());
}

FileHolder::~FileHolder()
{
    Release();
}

void FileHolder::Release()
{
    if (process_.hProcess) {
        ::TerminateProcess(process_.hProcess, 0);
        ::WaitForSingleObject(process_.hProcess, 10000);
        ::CloseHandle(process_.hProcess);
        ::CloseHandle(process_.hThread);
        process_ = PROCESS_INFORMATION{};
    }
    holding_ = false;
}

}  // namespace tarn::test
