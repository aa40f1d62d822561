// ZipFolder.exe "<folder>" "<zip>": the stand-in of the zip tool. Instead of
// a zip it writes at <zip> an inventory of the folder, one line per file
// below it: its path relative to the folder, a tab and its size (UTF-8).

#include <windows.h>

#include <string>

#include "../../helpers/utf8_text.h"

namespace {

using tarn::test::ToUtf8;

void Inventory(const std::wstring& root, const std::wstring& relative, std::wstring& out)
{
    WIN32_FIND_DATAW data{};
    HANDLE find = ::FindFirstFileW((root + L"\\" + relative + L"*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") {
            continue;
        }
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            Inventory(root, relative + name + L"\\", out);
        } else {
            const unsigned long long size =
                (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
            out += relative + name + L"\t" + std::to_wstring(size) + L"\n";
        }
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) {
        return 1;
    }
    std::wstring out;
    Inventory(argv[1], L"", out);
    HANDLE file = ::CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 2;
    }
    const std::string bytes = ToUtf8(out);
    DWORD written = 0;
    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
    return 0;
}
