#include <windows.h>

#include <string>

#include "config/text/text_file.h"
#include "packing/release_check.h"
#include "packing/release_modes.h"
#include "support/file_system.h"
#include "support/name_compare.h"
#include "support/trace.h"
#include "transfer/download_url.h"
#include "transfer/http_download.h"
#include "transfer/release_manifest.h"

namespace {

const int kAttempts = 3;

// One line on standard output when the program was started from a console
// or with its output redirected; nothing otherwise.
void PrintLine(const std::wstring& line)
{
    HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if ((out == nullptr || out == INVALID_HANDLE_VALUE) && ::AttachConsole(ATTACH_PARENT_PROCESS)) {
        out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    }
    if (out == nullptr || out == INVALID_HANDLE_VALUE) {
        return;
    }
    const std::wstring text = line + L"\r\n";
    DWORD written = 0;
    DWORD mode = 0;
    if (::GetConsoleMode(out, &mode)) {
        ::WriteConsoleW(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    const int size = static_cast<int>(text.size());
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, utf8.data(), bytes, nullptr, nullptr);
    ::WriteFile(out, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

bool IsUrl(const std::wstring& target)
{
    return tarn::StartsWithNoCase(target, L"http://") || tarn::StartsWithNoCase(target, L"https://");
}

// Fetches `name` from the release at `base` into `folder` as it is (the
// checks judge it). False when the server has no such file.
bool Fetch(const std::wstring& base, const std::wstring& folder, const std::wstring& name)
{
    std::wstring destination = folder + L"\\" + name;
    return tarn::FetchVerified(base + L"/" + name, destination, tarn::ExpectedFile{}, kAttempts) ==
           tarn::FetchOutcome::Stored;
}

// Fetches what the checks read of a served release: the lists, what they
// name with the records, and the starters.
void FetchRelease(const std::wstring& base, const std::wstring& folder)
{
    for (const tarn::ReleaseKind& kind : tarn::ReleaseKinds()) {
        if (!Fetch(base, folder, kind.list)) {
            continue;
        }
        Fetch(base, folder, std::wstring(kind.list) + L".sig");
        std::vector<std::wstring> entries;
        ReadArray((folder + L"\\" + kind.list).c_str(), entries);
        for (const std::wstring& entry : entries) {
            if (!entry.empty() && entry.find_first_of(L"\\/:?#%") == std::wstring::npos) {
                Fetch(base, folder, entry);
                Fetch(base, folder, tarn::FileInfoNameFor(entry));
            }
        }
        for (const wchar_t* starter : kind.starters) {
            Fetch(base, folder, starter);
        }
    }
}

// `text` with the fetched folder's paths named by their URLs.
std::wstring AsUrl(std::wstring text, const std::wstring& folder, const std::wstring& base)
{
    for (size_t at = text.find(folder); at != std::wstring::npos; at = text.find(folder, at)) {
        text.replace(at, folder.size(), base);
        size_t end = at + base.size();
        for (; end < text.size() && text[end] != L' '; ++end) {
            if (text[end] == L'\\') {
                text[end] = L'/';
            }
        }
        at = end;
    }
    return text;
}

}  // namespace

namespace tarn {

int VerifyRelease(const std::wstring& target)
{
    std::wstring where = target;
    while (!where.empty() && (where.back() == L' ' || where.back() == L'"' || where.back() == L'\\' ||
                              where.back() == L'/')) {
        where.pop_back();
    }
    while (!where.empty() && (where.front() == L' ' || where.front() == L'"')) {
        where.erase(0, 1);
    }
    UniqueTempFolder fetched;
    ReleaseView view{std::wstring(), where};
    if (IsUrl(where)) {
        if (fetched.m_Folder.empty()) {
            PrintLine(L"VerifyRelease: no temporary folder for the fetched release");
            return 0;
        }
        FetchRelease(where, fetched.m_Folder);
        view.live = fetched.m_Folder;
    }
    PackingFailures failed;
    CheckRelease(view, {}, failed);
    const std::vector<std::string> keys = BuiltInReleaseKeys();
    if (!keys.empty()) {
        CheckReleaseSignatures(view, keys, failed);
    }
    for (PackingFailure& problem : failed) {
        if (view.live != where) {
            problem.path = AsUrl(problem.path, view.live, where);
            problem.cause = AsUrl(problem.cause, view.live, where);
        }
        Trace(L"VerifyRelease: %ls: %ls", problem.path.c_str(), problem.cause.c_str());
        PrintLine(problem.path + L": " + problem.cause);
    }
    if (failed.empty()) {
        Trace(L"VerifyRelease: %ls holds", where.c_str());
        PrintLine(where + L": the release holds");
    }
    return failed.empty() ? 1 : 0;
}

}  // namespace tarn
