#include "transfer/http_download.h"

#include <wininet.h>

#include <commctrl.h>

#include <cstdint>
#include <exception>

#include "config/text/text_file.h"
#include "support/file_queries.h"
#include "support/file_system.h"
#include "support/name_compare.h"
#include "support/unique_handle.h"
#include "support/win_inet.h"
#include "transfer/download_stream.h"
#include "transfer/download_url.h"

namespace {

const wchar_t kUserAgent[] = L"Tarnix HTTP Downloader";
const wchar_t kRecordSuffix[] = L".fileinfo.txt";
constexpr int kDefaultAttempts = 10;
constexpr int kPasses = 30;
// Larger answers are taken for the file even when they look like HTML.
constexpr int kErrorPageLimit = 10240;

wchar_t FoldAscii(wchar_t c)
{
    return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + (L'a' - L'A')) : c;
}

// "<html" in any letter case anywhere in the text, zeros included.
bool ContainsHtmlTag(std::wstring_view text)
{
    static const std::wstring_view kTag = L"<html";
    for (size_t i = 0; i + kTag.size() <= text.size(); ++i) {
        size_t j = 0;
        while (j < kTag.size() && FoldAscii(text[i + j]) == kTag[j]) {
            ++j;
        }
        if (j == kTag.size()) {
            return true;
        }
    }
    return false;
}

tarn::FileInfoLookup g_fileInfoLookup = &tarn::LookUpFileInfo;

enum class Attempt {
    Stored,            // 1
    Failed,            // 0, nothing left at the destination
    ChecksumMismatch,  // 0, the file is left for the next attempt
    Refused,           // -1: an error page or an unwritable destination; no file is left
};

int AttemptResult(Attempt attempt)
{
    switch (attempt) {
    case Attempt::Stored:
        return 1;
    case Attempt::Refused:
        return -1;
    default:
        return 0;
    }
}

class InternetBody : public tarn::BodySource {
public:
    explicit InternetBody(HINTERNET request) : request_(request) {}
    bool Read(void* buffer, DWORD size, DWORD& read) override
    {
        read = 0;
        return tarn::GetWinInet().InternetReadFile(request_, buffer, size, &read) != FALSE;
    }

private:
    HINTERNET request_;
};

void DeleteFileIfPresent(const std::wstring& path)
{
    if (!path.empty()) {
        ::DeleteFileW(path.c_str());
    }
}

bool IsHttpScheme(INTERNET_SCHEME scheme)
{
    return scheme == INTERNET_SCHEME_HTTP || scheme == INTERNET_SCHEME_HTTPS;
}

// An opened GET request and the connection it belongs to.
struct OpenedUrl {
    tarn::UniqueInternetHandle connection;
    tarn::UniqueInternetHandle request;
};

enum class OpenResult { Opened, Failed, NotHttp };

// Opens `url` for a GET request, always from the server: never from the
// cache, and nothing written into it. The receive time-out equals the stall
// deadline: without one a stalled server blocks a read for good, and the
// stall rules could never act.
OpenResult OpenUrl(HINTERNET session, const std::wstring& url, DWORD receiveTimeout, OpenedUrl& opened)
{
    URL_COMPONENTSW parts{};
    parts.dwStructSize = sizeof(parts);
    parts.dwSchemeLength = 1;
    parts.dwHostNameLength = 1;
    parts.dwUserNameLength = 1;
    parts.dwPasswordLength = 1;
    parts.dwUrlPathLength = 1;
    parts.dwExtraInfoLength = 1;
    if (!tarn::GetWinInet().InternetCrackUrlW(url.c_str(), 0, 0, &parts)) {
        return OpenResult::Failed;
    }
    if (!IsHttpScheme(parts.nScheme)) {
        return OpenResult::NotHttp;
    }
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    const std::wstring user(parts.lpszUserName ? parts.lpszUserName : L"", parts.dwUserNameLength);
    const std::wstring password(parts.lpszPassword ? parts.lpszPassword : L"", parts.dwPasswordLength);
    std::wstring object(parts.lpszUrlPath ? parts.lpszUrlPath : L"", parts.dwUrlPathLength);
    if (parts.lpszExtraInfo != nullptr) {
        object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    }
    if (object.empty()) {
        object = L"/";
    }

    opened.connection.Reset(tarn::GetWinInet().InternetConnectW(session, host.c_str(), parts.nPort,
                                               user.empty() ? nullptr : user.c_str(),
                                               password.empty() ? nullptr : password.c_str(),
                                               INTERNET_SERVICE_HTTP, 0, 0));
    if (!opened.connection) {
        return OpenResult::Failed;
    }
    DWORD flags = INTERNET_FLAG_TRANSFER_ASCII | INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
    if (parts.nScheme == INTERNET_SCHEME_HTTPS) {
        flags |= INTERNET_FLAG_SECURE;
    }
    opened.request.Reset(tarn::GetWinInet().HttpOpenRequestW(opened.connection.Get(), L"GET", object.c_str(), nullptr, nullptr,
                                            nullptr, flags, 0));
    if (!opened.request) {
        return OpenResult::Failed;
    }
    tarn::GetWinInet().InternetSetOptionW(opened.request.Get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &receiveTimeout,
                         sizeof(receiveTimeout));
    if (!tarn::GetWinInet().HttpSendRequestW(opened.request.Get(), nullptr, 0, nullptr, 0)) {
        return OpenResult::Failed;
    }
    return OpenResult::Opened;
}

DWORD QueryStatus(HINTERNET request)
{
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!tarn::GetWinInet().HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr)) {
        return 0;
    }
    return status;
}

// The Content-Length header, -1 when there is none or it is no plain number.
// Read as text: not every WinInet answers the 64-bit number form.
int64_t QueryContentLength(HINTERNET request)
{
    wchar_t text[32] = {};
    DWORD size = sizeof(text);
    if (!tarn::GetWinInet().HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr) || text[0] == L'\0') {
        return -1;
    }
    int64_t length = 0;
    for (const wchar_t* c = text; *c != L'\0'; ++c) {
        if (*c < L'0' || *c > L'9' || length > (INT64_MAX - 9) / 10) {
            return -1;
        }
        length = length * 10 + (*c - L'0');
    }
    return length;
}

// Opens the destination for writing, shared for reading and writing, in
// place of any file there. A file that is not there yet is made new rather
// than through a replacement: replacing truncates, and ext4 writes a file
// truncated to nothing out to disk when it is closed (a fifth of a second
// for 512 MiB under Wine), where a new file is written out in its own time.
tarn::UniqueFileHandle CreateDestination(const std::wstring& path)
{
    tarn::UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                              nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file && ::GetLastError() == ERROR_FILE_EXISTS) {
        file.Reset(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    return file;
}

// Only ".txt" files (download lists, records themselves) are fetched without
// a record; the record is named after the URL's last segment.
tarn::ExpectedFile LookUpExpectedFile(std::wstring_view url, const tarn::UrlParts& parts)
{
    if (url.size() <= 14 || parts.extension.empty() || tarn::EqualsNoCase(parts.extension, L".txt")) {
        return tarn::ExpectedFile();
    }
    return g_fileInfoLookup(url);
}

Attempt StreamIntoFile(const std::wstring& url, const std::wstring& destination,
                       const tarn::ExpectedFile& expected, HWND progressBar, int* cancelFlag, int* retryFlag)
{
    const tarn::DownloadTiming& timing = tarn::GetDownloadTiming();
    const tarn::UniqueInternetHandle session(
        tarn::GetWinInet().InternetOpenW(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));

    const int64_t expectedSize = expected.size > 0 ? expected.size : tarn::kDefaultExpectedSize;
    if (progressBar != nullptr) {
        ::SendMessageW(progressBar, PBM_SETRANGE, 0, MAKELPARAM(0, tarn::kProgressRange));
        ::SendMessageW(progressBar, PBM_SETPOS, 0, 0);
        ::SendMessageW(progressBar, PBM_SETSTEP, 1, 0);
    }

    OpenedUrl opened;
    const OpenResult open = session ? OpenUrl(session.Get(), url, timing.stallDeadline, opened)
                                    : OpenResult::Failed;
    if (open == OpenResult::NotHttp) {
        return Attempt::Failed;
    }
    if (open == OpenResult::Failed) {
        // A missing record must never ask for a later pass of its file.
        if (retryFlag != nullptr && !tarn::EndsWithNoCase(url, kRecordSuffix)) {
            *retryFlag = 1;
        }
        DeleteFileIfPresent(destination);
        return Attempt::Failed;
    }

    // The server's answer to a missing file: an error page whatever its size.
    if (QueryStatus(opened.request.Get()) >= 400) {
        DeleteFileIfPresent(destination);
        if (retryFlag != nullptr) {
            *retryFlag = 0;
        }
        return Attempt::Refused;
    }

    tarn::UniqueFileHandle file = CreateDestination(destination);
    if (!file) {
        if (retryFlag != nullptr) {
            *retryFlag = 0;
        }
        return Attempt::Refused;
    }

    InternetBody body(opened.request.Get());
    tarn::TransferResult transfer;
    uint32_t checksum = 0;
    {
        tarn::BackgroundFileSink sink(file.Get());
        transfer = tarn::TransferBody(body, sink, QueryContentLength(opened.request.Get()), expectedSize,
                                      progressBar, cancelFlag, retryFlag, timing);
        checksum = sink.Checksum();
    }
    opened.request.Reset();
    opened.connection.Reset();
    file.Reset();

    if (transfer.end == tarn::TransferEnd::WriteFailed) {
        DeleteFileIfPresent(destination);
        if (retryFlag != nullptr) {
            *retryFlag = 0;
        }
        return Attempt::Refused;
    }
    if (transfer.end != tarn::TransferEnd::Complete) {
        DeleteFileIfPresent(destination);
        return Attempt::Failed;
    }
    if (IsErrorPage(destination.c_str())) {
        DeleteFileIfPresent(destination);
        if (retryFlag != nullptr) {
            *retryFlag = 0;
        }
        return Attempt::Refused;
    }
    // The file was made or emptied by this attempt and written in order from
    // its start, so the checksum of the bytes written is the file's checksum
    // (GetFileCrc) without a second pass over the file.
    if (expected.checksum != 0 && checksum != expected.checksum) {
        return Attempt::ChecksumMismatch;
    }
    return Attempt::Stored;
}

Attempt GetFileOnce(std::wstring_view url, std::wstring& destination, HWND progressBar, int* cancelFlag,
                    int* retryFlag)
{
    tarn::UrlParts parts;
    if (url.empty() || !tarn::SplitUrl(url, parts) || parts.name.empty()) {
        return Attempt::Failed;
    }
    destination = tarn::ResolveDownloadDestination(destination, parts.name);
    try {
        const tarn::ExpectedFile expected = LookUpExpectedFile(url, parts);
        return StreamIntoFile(std::wstring(url), destination, expected, progressBar, cancelFlag, retryFlag);
    } catch (const std::exception&) {
        // Out of memory inside the transfer: every handle is closed by now.
        DeleteFileIfPresent(destination);
        return Attempt::Failed;
    }
}

}  // namespace

namespace tarn {

FileInfoLookup SetFileInfoLookup(FileInfoLookup lookup)
{
    const FileInfoLookup previous = g_fileInfoLookup;
    g_fileInfoLookup = lookup != nullptr ? lookup : &tarn::LookUpFileInfo;
    return previous;
}

std::wstring ResolveDownloadDestination(std::wstring_view destination, std::wstring_view fileName)
{
    if (destination.empty()) {
        return GetTempFolder() + L"\\" + std::wstring(fileName);
    }
    std::wstring path(destination);
    if (path.back() == L'\\') {
        path.pop_back();
        CreateFolderPath(path.c_str());
        return path + L"\\" + std::wstring(fileName);
    }
    int isFolder = 0;
    if (FileExists(path.c_str(), &isFolder) && isFolder) {
        return path + L"\\" + std::wstring(fileName);
    }
    if (path.find(L'\\') == std::wstring::npos) {
        return GetTempFolder() + L"\\" + path;
    }
    CreateFolderOfFile(path.c_str());
    return path;
}

}  // namespace tarn

int HttpGetFileOnce(std::wstring_view url, std::wstring& destination, HWND progressBar, int* cancelFlag,
                    int* retryFlag)
{
    return AttemptResult(GetFileOnce(url, destination, progressBar, cancelFlag, retryFlag));
}

int HttpGetFile(std::wstring_view url, std::wstring& destination, HWND progressBar, int* cancelFlag,
                int* retryFlag, int attempts)
{
    if (attempts <= 0) {
        attempts = kDefaultAttempts;
    }
    Attempt last = Attempt::Failed;
    for (int i = 0; i < attempts; ++i) {
        last = GetFileOnce(url, destination, progressBar, cancelFlag, retryFlag);
        if (last == Attempt::Stored) {
            return 1;
        }
        if (last == Attempt::Refused) {
            return 0;
        }
    }
    // A file that failed its checksum must never pass for a downloaded one.
    if (last == Attempt::ChecksumMismatch) {
        DeleteFileIfPresent(destination);
    }
    return 0;
}

int HttpGetFileRetrying(std::wstring_view url, std::wstring& destination, HWND progressBar, int* cancelFlag)
{
    const tarn::DownloadTiming& timing = tarn::GetDownloadTiming();
    for (int pass = 0; pass < kPasses; ++pass) {
        int retry = -1;
        const int result = HttpGetFile(url, destination, progressBar, cancelFlag, &retry, kDefaultAttempts);
        if (retry != 1) {
            return result;
        }
        const DWORD look = timing.cancelLook > 0 ? timing.cancelLook : 1;
        for (DWORD waited = 0; waited < timing.passPause; waited += look) {
            if (cancelFlag != nullptr && *cancelFlag == 1) {
                return 0;
            }
            timing.sleep(look);
        }
    }
    return 0;
}

int IsErrorPage(const wchar_t* path)
{
    if (path == nullptr || path[0] == L'\0') {
        return 0;
    }
    if (!FileExists(path)) {
        return 1;
    }
    const int64_t size = tarn::GetFileSize64(path);
    if (size > kErrorPageLimit) {
        return 0;
    }
    if (size == 0) {
        return 1;
    }
    std::wstring text;
    uint32_t length = 0;
    TextFileType::Type type = TextFileType::Undetermined;
    ReadBuffer(path, text, nullptr, &length, type);
    return ContainsHtmlTag(text) ? 1 : 0;
}
