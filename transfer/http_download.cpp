#include "transfer/http_download.h"

#include <wininet.h>

#include <cstdint>
#include <exception>

#include "support/file_queries.h"
#include "support/file_system.h"
#include "support/name_compare.h"
#include "support/path_text.h"
#include "support/trace.h"
#include "support/unique_handle.h"
#include "support/win_inet.h"
#include "transfer/download_stream.h"
#include "transfer/download_url.h"
#include "transfer/http_request.h"
#include "transfer/progress_bar.h"

namespace {

const wchar_t kUserAgent[] = L"Tarnix HTTP Downloader";
constexpr int kDefaultAttempts = 10;
constexpr int kPasses = 30;
constexpr int kMaxRedirects = 10;
// Larger answers are taken for the file even when they look like HTML.
constexpr DWORD kErrorPageLimit = 10240;

wchar_t FoldAscii(wchar_t c)
{
    return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + (L'a' - L'A')) : c;
}

// "<html" in any letter case anywhere in the text as the text-file reader
// decodes it: UTF-16 after its byte-order mark, else byte by byte (the tag is
// ASCII, and ASCII is the same in the ANSI code page and in UTF-8). Zeros do
// not end the search.
bool ContainsHtmlTag(const unsigned char* bytes, size_t size)
{
    static const char kTag[] = "<html";
    constexpr size_t kTagLength = sizeof(kTag) - 1;
    size_t unit = 1;
    size_t low = 0;  // the byte of a unit that holds an ASCII character
    if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        unit = 2;
    } else if (size >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
        unit = 2;
        low = 1;
    }
    const size_t start = unit == 2 ? 2 : 0;
    auto at = [&](size_t index) {
        const size_t offset = start + index * unit;
        const wchar_t c = unit == 1 ? bytes[offset]
                                    : static_cast<wchar_t>(bytes[offset + low] | (bytes[offset + 1 - low] << 8));
        return FoldAscii(c);
    };
    const size_t units = (size - start) / unit;
    for (size_t i = 0; i + kTagLength <= units; ++i) {
        size_t j = 0;
        while (j < kTagLength && at(i + j) == static_cast<wchar_t>(kTag[j])) {
            ++j;
        }
        if (j == kTagLength) {
            return true;
        }
    }
    return false;
}

// The error-page rule on a file's first bytes: an empty file, or one of at
// most 10,240 bytes that holds "<html". `size` is the whole file's size.
bool IsErrorPageHead(HANDLE file, int64_t size)
{
    if (size > static_cast<int64_t>(kErrorPageLimit)) {
        return false;
    }
    if (size <= 0) {
        return true;
    }
    unsigned char head[kErrorPageLimit];
    OVERLAPPED at{};
    DWORD read = 0;
    if (!::ReadFile(file, head, static_cast<DWORD>(size), &read, &at)) {
        return false;
    }
    return ContainsHtmlTag(head, read);
}

tarn::FileInfoLookup g_fileInfoLookup = &tarn::LookUpFileInfo;

enum class Attempt {
    Stored,   // 1
    Failed,   // 0
    Refused,  // -1: an error page or an unwritable destination
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

void SetRetryFlag(int* retryFlag, int value)
{
    if (retryFlag != nullptr) {
        *retryFlag = value;
    }
}

class InternetBody : public tarn::BodySource {
public:
    explicit InternetBody(HINTERNET request) : request_(request) {}
    bool Read(void* buffer, DWORD size, DWORD& read) override
    {
        read = 0;
        if (tarn::GetWinInet().InternetReadFile(request_, buffer, size, &read)) {
            return true;
        }
        error_ = ::GetLastError();
        read = 0;  // what came with the failure is not counted
        return false;
    }
    // Only a time-out means a live connection that has nothing to deliver
    // yet. Anything else (a reset, a connection closed in the middle of a
    // chunk, a socket that is gone) fails every later read at once.
    bool ConnectionLost() const override { return error_ != ERROR_INTERNET_TIMEOUT && error_ != WSAETIMEDOUT; }
    DWORD Error() const { return error_; }

private:
    HINTERNET request_;
    DWORD error_ = NO_ERROR;
};

void DeleteFileIfPresent(const std::wstring& path)
{
    if (!path.empty()) {
        ::DeleteFileW(path.c_str());
    }
}

// Empties a file held by the caller and puts its pointer at the start.
bool EmptyFile(HANDLE file)
{
    LARGE_INTEGER start{};
    return ::SetFilePointerEx(file, start, nullptr, FILE_BEGIN) && ::SetEndOfFile(file);
}

// Where an attempt stores the body.
class DownloadTarget {
public:
    virtual ~DownloadTarget() = default;
    // The file, empty and ready for writing from its start; invalid when it
    // cannot be had (GetLastError tells why).
    virtual HANDLE Open() = 0;
    // After a failure: nothing of this attempt stays.
    virtual void Discard() = 0;
    // After success: the file is released.
    virtual void Keep() {}
    virtual const std::wstring& Path() const = 0;
};

// A file path. The file is made by the attempt and held without write
// sharing until the attempt ends, so that a second writer cannot rewrite it
// under this one. A file that is not there yet is made new rather than
// through a replacement: replacing truncates, and ext4 writes a file
// truncated to nothing out to disk when it is closed (a fifth of a second for
// 512 MiB under Wine), where a new file is written out in its own time.
class PathTarget : public DownloadTarget {
public:
    explicit PathTarget(const std::wstring& path) : path_(path) {}
    HANDLE Open() override
    {
        file_.Reset(::CreateFileW(path_.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file_ && ::GetLastError() == ERROR_FILE_EXISTS) {
            file_.Reset(::CreateFileW(path_.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        }
        return file_.Get();
    }
    // A writer that took the file in the meantime holds it without delete
    // sharing: the deletion then fails and leaves that writer's file alone.
    void Discard() override
    {
        file_.Reset();
        DeleteFileIfPresent(path_);
    }
    void Keep() override { file_.Reset(); }
    const std::wstring& Path() const override { return path_; }

private:
    std::wstring path_;
    tarn::UniqueFileHandle file_;
};

// A file that the caller holds; it is emptied for each attempt.
class HeldTarget : public DownloadTarget {
public:
    HeldTarget(HANDLE file, const std::wstring& path) : file_(file), path_(path) {}
    HANDLE Open() override { return EmptyFile(file_) ? file_ : INVALID_HANDLE_VALUE; }
    void Discard() override { EmptyFile(file_); }
    const std::wstring& Path() const override { return path_; }

private:
    HANDLE file_;
    std::wstring path_;
};

const wchar_t* DescribeEnd(tarn::TransferEnd end)
{
    switch (end) {
    case tarn::TransferEnd::Cancelled:
        return L"cancelled";
    case tarn::TransferEnd::Stalled:
        return L"the server sent nothing until the stall deadline";
    case tarn::TransferEnd::RetryFlagged:
        return L"an earlier attempt asked for a later pass";
    case tarn::TransferEnd::Truncated:
        return L"the body ended short or the connection was lost";
    default:
        return L"";
    }
}

// Streams the answer of an opened request into the target and checks it.
Attempt StoreBody(const tarn::OpenedUrl& opened, DownloadTarget& target, const tarn::ExpectedFile& expected,
                  HWND progressBar, int* cancelFlag, int* retryFlag)
{
    const std::wstring& url = opened.url;
    const HANDLE file = target.Open();
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        tarn::Trace(L"Download: cannot write %ls for %ls (error %lu)", target.Path().c_str(), url.c_str(), error);
        // Another run writes this file: a later pass may find it free.
        SetRetryFlag(retryFlag, error == ERROR_SHARING_VIOLATION ? 1 : 0);
        return error == ERROR_SHARING_VIOLATION ? Attempt::Failed : Attempt::Refused;
    }

    const tarn::DownloadTiming& timing = tarn::GetDownloadTiming();
    const int64_t expectedSize = expected.size > 0 ? expected.size : tarn::kDefaultExpectedSize;
    InternetBody body(opened.request.Get());
    tarn::TransferResult transfer;
    uint32_t checksum = 0;
    {
        tarn::BackgroundFileSink sink(file);
        transfer = tarn::TransferBody(body, sink, tarn::QueryContentLength(opened.request.Get()), expectedSize,
                                      progressBar, cancelFlag, retryFlag, timing);
        checksum = sink.Checksum();
    }

    if (transfer.end == tarn::TransferEnd::WriteFailed) {
        tarn::Trace(L"Download: writing %ls failed (error %lu)", target.Path().c_str(), ::GetLastError());
        target.Discard();
        SetRetryFlag(retryFlag, 0);
        return Attempt::Refused;
    }
    if (transfer.end != tarn::TransferEnd::Complete) {
        tarn::Trace(L"Download: attempt for %ls failed after %lld bytes and %d stalls: %ls (read error %lu)",
                    url.c_str(), static_cast<long long>(transfer.bytes), transfer.stalls, DescribeEnd(transfer.end),
                    body.Error());
        target.Discard();
        return Attempt::Failed;
    }
    if (IsErrorPageHead(file, transfer.bytes)) {
        tarn::Trace(L"Download: %ls answered with an error page", url.c_str());
        target.Discard();
        SetRetryFlag(retryFlag, 0);
        return Attempt::Refused;
    }
    // A record's size settles a 206 answer, a body cut without a length and
    // an error page alike, whatever its checksum says.
    if (expected.size > 0 && transfer.bytes != expected.size) {
        tarn::Trace(L"Download: %ls sent %lld bytes, its record says %lld", url.c_str(),
                    static_cast<long long>(transfer.bytes), static_cast<long long>(expected.size));
        target.Discard();
        return Attempt::Failed;
    }
    // The file was emptied by this attempt and written in order from its
    // start, so the checksum of the bytes written is the file's checksum
    // (GetFileCrc) without a second pass over the file.
    if (expected.checksum != 0 && checksum != expected.checksum) {
        tarn::Trace(L"Download: checksum mismatch for %ls: %ld, its record says %ld", url.c_str(),
                    static_cast<long>(static_cast<int32_t>(checksum)),
                    static_cast<long>(static_cast<int32_t>(expected.checksum)));
        target.Discard();
        return Attempt::Failed;
    }
    target.Keep();
    return Attempt::Stored;
}

// One attempt against the record `expected`.
Attempt RunAttempt(const std::wstring& url, DownloadTarget& target, const tarn::ExpectedFile& expected,
                   HWND progressBar, int* cancelFlag, int* retryFlag)
{
    if (expected.unavailable) {
        // Never an unverified success: the body waits for its record, unless
        // the record cannot be stored here at all.
        SetRetryFlag(retryFlag, expected.notStorable ? 0 : 1);
        target.Discard();
        return expected.notStorable ? Attempt::Refused : Attempt::Failed;
    }
    const tarn::DownloadTiming& timing = tarn::GetDownloadTiming();
    const tarn::UniqueInternetHandle session(
        tarn::GetWinInet().InternetOpenW(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    tarn::DownloadProgressBar(progressBar).Start();

    tarn::OpenedUrl opened;
    const tarn::OpenResult open = session ? tarn::OpenUrl(session.Get(), url, timing.stallDeadline, opened)
                                          : tarn::OpenResult::Failed;
    switch (open) {
    case tarn::OpenResult::Opened:
        break;
    case tarn::OpenResult::Failed:
        // A missing record must never ask for a later pass of its file.
        if (!tarn::EndsWithNoCase(url, tarn::FileInfoNameForStem(L""))) {
            SetRetryFlag(retryFlag, 1);
        }
        target.Discard();
        return Attempt::Failed;
    case tarn::OpenResult::BadRedirect:
        target.Discard();
        return Attempt::Failed;
    case tarn::OpenResult::ProxyLoginMissing:
        // No later attempt of this run gets further.
        target.Discard();
        SetRetryFlag(retryFlag, 0);
        return Attempt::Refused;
    default:
        return Attempt::Failed;
    }
    // The server's answer to a missing file: an error page whatever its size.
    if (opened.status >= 400) {
        tarn::Trace(L"Download: %ls answered HTTP %lu", opened.url.c_str(), opened.status);
        target.Discard();
        SetRetryFlag(retryFlag, 0);
        return Attempt::Refused;
    }
    // Nothing but the whole file will do; no range was asked for.
    if (opened.status != HTTP_STATUS_OK) {
        tarn::Trace(L"Download: %ls answered HTTP %lu instead of the file", opened.url.c_str(), opened.status);
        target.Discard();
        return Attempt::Failed;
    }
    return StoreBody(opened, target, expected, progressBar, cancelFlag, retryFlag);
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

// How an attempt learns what the body must be: from the server's record
// (looked up anew by each attempt), or from the caller.
struct Verification {
    bool lookUp = true;
    tarn::ExpectedFile expected;
};

Attempt GetFileOnce(std::wstring_view url, std::wstring& destination, const Verification& verification,
                    HWND progressBar, int* cancelFlag, int* retryFlag)
{
    tarn::UrlParts parts;
    if (url.empty() || !tarn::SplitUrl(url, parts) || parts.name.empty()) {
        return Attempt::Failed;
    }
    destination = tarn::ResolveDownloadDestination(destination, parts.name);
    PathTarget target(destination);
    try {
        const tarn::ExpectedFile expected =
            verification.lookUp ? LookUpExpectedFile(url, parts) : verification.expected;
        return RunAttempt(std::wstring(url), target, expected, progressBar, cancelFlag, retryFlag);
    } catch (const std::exception&) {
        // Out of memory inside the transfer: every handle is closed by now.
        target.Discard();
        return Attempt::Failed;
    }
}

// Runs up to `attempts` attempts through `attempt`; the first success or
// refusal ends the series.
template <class OneAttempt>
tarn::FetchOutcome RunSeries(std::wstring_view url, int attempts, OneAttempt attempt)
{
    if (attempts <= 0) {
        attempts = kDefaultAttempts;
    }
    for (int i = 1; i <= attempts; ++i) {
        switch (attempt()) {
        case Attempt::Stored:
            return tarn::FetchOutcome::Stored;
        case Attempt::Refused:
            return tarn::FetchOutcome::Refused;
        default:
            break;
        }
    }
    if (attempts > 1) {
        tarn::Trace(L"Download: %ls failed in all %d attempts", std::wstring(url).c_str(), attempts);
    }
    return tarn::FetchOutcome::Failed;
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

FetchOutcome FetchVerified(std::wstring_view url, std::wstring& destination, const ExpectedFile& expected,
                           int attempts, int* retryFlag)
{
    const Verification verification{false, expected};
    return RunSeries(url, attempts,
                     [&] { return GetFileOnce(url, destination, verification, nullptr, nullptr, retryFlag); });
}

FetchOutcome FetchIntoHeldFile(std::wstring_view url, HANDLE file, const std::wstring& path,
                               const ExpectedFile& expected, int attempts)
{
    HeldTarget target(file, path);
    const std::wstring fullUrl(url);
    return RunSeries(url, attempts, [&] {
        try {
            return RunAttempt(fullUrl, target, expected, nullptr, nullptr, nullptr);
        } catch (const std::exception&) {
            target.Discard();
            return Attempt::Failed;
        }
    });
}

}  // namespace tarn

int HttpGetFileOnce(std::wstring_view url, std::wstring& destination, HWND progressBar, int* cancelFlag,
                    int* retryFlag)
{
    return AttemptResult(GetFileOnce(url, destination, Verification(), progressBar, cancelFlag, retryFlag));
}

int HttpGetFile(std::wstring_view url, std::wstring& destination, HWND progressBar, int* cancelFlag,
                int* retryFlag, int attempts)
{
    const tarn::FetchOutcome outcome = RunSeries(url, attempts, [&] {
        return GetFileOnce(url, destination, Verification(), progressBar, cancelFlag, retryFlag);
    });
    return outcome == tarn::FetchOutcome::Stored ? 1 : 0;
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
            timing.clock.sleep(look);
        }
    }
    return 0;
}

int IsErrorPage(const wchar_t* path)
{
    if (tarn::IsEmptyText(path)) {
        return 0;
    }
    if (!FileExists(path)) {
        return 1;
    }
    const tarn::UniqueFileHandle file(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    // An unreadable file reads as no page: its first bytes are not known.
    return IsErrorPageHead(file.Get(), tarn::GetFileSize64(path)) ? 1 : 0;
}
