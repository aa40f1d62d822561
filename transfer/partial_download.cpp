#include "transfer/partial_download.h"

#include "support/file_queries.h"
#include "support/trace.h"

namespace tarn {

namespace {

const wchar_t kDataSuffix[] = L".partial";
const wchar_t kStateSuffix[] = L".partial.state";
// A state holds a URL and a validator; anything larger is no state of ours.
constexpr DWORD kStateLimit = 16384;

// The state's text: the URL and the validator, each on a line of its own,
// as UTF-16 (the file is ours alone).
std::wstring StateText(const std::wstring& url, const std::wstring& validator)
{
    return url + L"\n" + validator + L"\n";
}

bool ReadState(const std::wstring& path, std::wstring& url, std::wstring& validator)
{
    const UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                              FILE_ATTRIBUTE_NORMAL, nullptr));
    std::wstring text(kStateLimit / sizeof(wchar_t) + 1, L'\0');
    DWORD read = 0;
    if (!file || !::ReadFile(file.Get(), text.data(), kStateLimit + sizeof(wchar_t), &read, nullptr) ||
        read > kStateLimit) {
        return false;
    }
    text.resize(read / sizeof(wchar_t));
    const size_t first = text.find(L'\n');
    const size_t second = first == std::wstring::npos ? first : text.find(L'\n', first + 1);
    if (second == std::wstring::npos || second + 1 != text.size()) {
        return false;
    }
    url = text.substr(0, first);
    validator = text.substr(first + 1, second - first - 1);
    return !url.empty() && !validator.empty();
}

bool WriteState(const std::wstring& path, const std::wstring& text)
{
    const UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                              FILE_ATTRIBUTE_NORMAL, nullptr));
    const auto size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    DWORD written = 0;
    return file && ::WriteFile(file.Get(), text.data(), size, &written, nullptr) && written == size;
}

}  // namespace

bool CutFileAt(HANDLE file, int64_t size)
{
    LARGE_INTEGER at{};
    at.QuadPart = size;
    LARGE_INTEGER end{};
    return ::SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && ::GetFileSizeEx(file, &end) &&
           (end.QuadPart == size || ::SetEndOfFile(file));
}

PartialDownload::PartialDownload(const std::wstring& destination)
    : data_(destination + kDataSuffix), state_(destination + kStateSuffix)
{
}

int64_t PartialDownload::Kept(const std::wstring& url, std::wstring& validator) const
{
    std::wstring keptUrl;
    if (!ReadState(state_, keptUrl, validator) || keptUrl != url) {
        validator.clear();
        return 0;
    }
    const int64_t size = GetFileSize64(data_.c_str());
    return size > 0 ? size : 0;
}

HANDLE PartialDownload::Open(int64_t offset, const std::wstring& url, const std::wstring& validator)
{
    file_.Reset(::CreateFileW(data_.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_) {
        return INVALID_HANDLE_VALUE;
    }
    if (!CutFileAt(file_.Get(), offset)) {
        const DWORD error = ::GetLastError();
        file_.Reset();
        ::SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    // Without a validator a later request could not tell whether the file
    // changed: then nothing is continued.
    if (validator.empty() || !WriteState(state_, StateText(url, validator))) {
        ::DeleteFileW(state_.c_str());
    }
    return file_.Get();
}

bool PartialDownload::Suspend()
{
    file_.Reset();
    std::wstring url;
    std::wstring validator;
    if (ReadState(state_, url, validator) && GetFileSize64(data_.c_str()) > 0) {
        return true;
    }
    Drop();
    return false;
}

void PartialDownload::Drop()
{
    file_.Reset();
    ::DeleteFileW(state_.c_str());
    ::DeleteFileW(data_.c_str());
}

bool PartialDownload::MoveTo(const std::wstring& destination)
{
    file_.Reset();
    if (!::MoveFileExW(data_.c_str(), destination.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        Trace(L"Download: cannot put %ls in the place of %ls (error %lu)", data_.c_str(), destination.c_str(),
              ::GetLastError());
        Drop();
        return false;
    }
    ::DeleteFileW(state_.c_str());
    return true;
}

}  // namespace tarn
