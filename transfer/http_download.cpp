#include "transfer/http_download.h"

#include <wininet.h>

#include <cstdint>
#include <exception>
#include <map>
#include <mutex>

#include "support/file_queries.h"
#include "support/file_system.h"
#include "support/folder_removal.h"
#include "support/name_compare.h"
#include "support/path_text.h"
#include "support/trace.h"
#include "support/unique_handle.h"
#include "support/win_inet.h"
#include "transfer/download_stream.h"
#include "transfer/download_url.h"
#include "transfer/http_request.h"
#include "transfer/partial_download.h"
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
    Stored,     // 1
    Failed,     // 0: a later attempt may succeed
    Postponed,  // 0: the record is not to be had now; a later pass may find it
    Damaged,    // 0: the whole body came and failed its record
    Refused,    // -1: an error page or status, or an unwritable destination
    Missing,    // -1: the server answered 404 or 410
    GivenUp,    // -1: the body failed its record too often in this run
    Mismatch,   // -1: the body or its record differs from the signed manifest
    DiskFull,   // -1: the destination's volume is full
};

int AttemptResult(Attempt attempt)
{
    switch (attempt) {
    case Attempt::Stored:
        return 1;
    case Attempt::Refused:
    case Attempt::Missing:
    case Attempt::GivenUp:
    case Attempt::Mismatch:
    case Attempt::DiskFull:
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

// How many whole bodies of each URL failed their record in this run. A
// server copy that is damaged stays damaged: after kMaxDamagedFetches
// bodies the URL is given up for the run.
class DamagedBodies {
public:
    int Count(const std::wstring& url)
    {
        const std::lock_guard<std::mutex> guard(lock_);
        const auto found = counts_.find(url);
        return found == counts_.end() ? 0 : found->second;
    }
    int Add(const std::wstring& url)
    {
        const std::lock_guard<std::mutex> guard(lock_);
        return ++counts_[url];
    }

private:
    std::mutex lock_;
    std::map<std::wstring, int> counts_;
};

DamagedBodies& Damaged()
{
    static DamagedBodies bodies;
    return bodies;
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

// Empties a file held by the caller and puts its pointer at the start.
bool EmptyFile(HANDLE file)
{
    return tarn::CutFileAt(file, 0);
}

// Where an attempt stores the body.
class DownloadTarget {
public:
    virtual ~DownloadTarget() = default;
    // The bytes an earlier attempt kept for `url` that a range request may
    // continue, with their validator; 0 when there are none.
    virtual int64_t Kept(const std::wstring& /*url*/, std::wstring& /*validator*/) { return 0; }
    // The file, ready for the body's bytes from `offset` on (0: emptied),
    // as coming from `url` in an answer with `validator`; invalid when it
    // cannot be had (GetLastError tells why).
    virtual HANDLE Open(int64_t offset, const std::wstring& url, const std::wstring& validator) = 0;
    // After a failure: nothing of the body stays.
    virtual void Discard() = 0;
    // After a failure that a later attempt may cure: the bytes that can be
    // continued stay (true), nothing else.
    virtual bool Suspend()
    {
        Discard();
        return false;
    }
    // After verification: the file is released in its place; false when
    // that fails (nothing stays then).
    virtual bool Keep() { return true; }
    virtual const std::wstring& Path() const = 0;
};

// A file path. The file is made by the attempt and held without write
// sharing until the attempt ends, so that a second writer cannot rewrite it
// under this one. A file that is not there yet is made new rather than
// through a replacement: replacing truncates, and ext4 writes a file
// truncated to nothing out to disk when it is closed (a fifth of a second for
// 512 MiB under Wine), where a new file is written out in its own time.
// A body that can be verified against a record is written as a partial
// download beside the path instead, continued by later attempts and runs,
// and put in the path's place once verified.
class PathTarget : public DownloadTarget {
public:
    explicit PathTarget(const std::wstring& path) : path_(path), partial_(path) {}
    void AllowResume() { resumable_ = true; }
    int64_t Kept(const std::wstring& url, std::wstring& validator) override
    {
        return resumable_ ? partial_.Kept(url, validator) : 0;
    }
    HANDLE Open(int64_t offset, const std::wstring& url, const std::wstring& validator) override
    {
        if (resumable_) {
            return partial_.Open(offset, url, validator);
        }
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
        if (resumable_) {
            partial_.Drop();
        }
        tarn::DeleteFileIfPresent(path_);
    }
    bool Suspend() override
    {
        file_.Reset();
        tarn::DeleteFileIfPresent(path_);
        return resumable_ && partial_.Suspend();
    }
    bool Keep() override
    {
        file_.Reset();
        return !resumable_ || partial_.MoveTo(path_);
    }
    const std::wstring& Path() const override { return resumable_ ? partial_.DataPath() : path_; }

private:
    std::wstring path_;
    tarn::PartialDownload partial_;
    tarn::UniqueFileHandle file_;
    bool resumable_ = false;
};

// A file that the caller holds; it is emptied for each attempt.
class HeldTarget : public DownloadTarget {
public:
    HeldTarget(HANDLE file, const std::wstring& path) : file_(file), path_(path) {}
    HANDLE Open(int64_t, const std::wstring&, const std::wstring&) override
    {
        return EmptyFile(file_) ? file_ : INVALID_HANDLE_VALUE;
    }
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

// The caller's progress bar and flags for one attempt.
struct AttemptFlags {
    HWND progressBar = nullptr;
    int* cancelFlag = nullptr;
    int* retryFlag = nullptr;
};

// A target that cannot take the body ends the series; a full volume says so
// itself, since the last error does not outlive the request's handles.
Attempt UnwritableTarget(DWORD error)
{
    return tarn::IsDiskFullError(error) ? Attempt::DiskFull : Attempt::Refused;
}

// Streams the answer of an opened request into the target from `offset`
// on and checks the whole body. `atOnce` tells whether bytes were kept for
// a later attempt to continue (which may then follow at once).
Attempt StoreBody(const std::wstring& requested, const tarn::OpenedUrl& opened, DownloadTarget& target,
                  const tarn::ExpectedFile& expected, int64_t offset, const AttemptFlags& flags, bool& atOnce)
{
    const std::wstring& url = opened.url;
    const HANDLE file = target.Open(offset, requested, tarn::QueryValidator(opened.request.Get()));
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        tarn::Trace(L"Download: cannot write %ls for %ls (error %lu)", target.Path().c_str(), url.c_str(), error);
        // Another run writes this file: a later pass may find it free.
        SetRetryFlag(flags.retryFlag, error == ERROR_SHARING_VIOLATION ? 1 : 0);
        return error == ERROR_SHARING_VIOLATION ? Attempt::Failed : UnwritableTarget(error);
    }
    // The kept bytes are read back once, so that the digest covers what the
    // file really holds, not what an earlier attempt or run meant to write.
    tarn::BodyDigest digest(!expected.sha256.empty());
    LARGE_INTEGER at{};
    at.QuadPart = offset;
    if (offset > 0 && (!digest.UpdateFromFile(file, offset) || !::SetFilePointerEx(file, at, nullptr, FILE_BEGIN))) {
        tarn::Trace(L"Download: cannot read the %lld bytes kept in %ls (error %lu)", static_cast<long long>(offset),
                    target.Path().c_str(), ::GetLastError());
        target.Discard();
        return Attempt::Failed;
    }

    const tarn::DownloadTiming& timing = tarn::GetDownloadTiming();
    const int64_t expectedSize = expected.size > 0 ? expected.size : tarn::kDefaultExpectedSize;
    InternetBody body(opened.request.Get());
    tarn::TransferResult transfer;
    DWORD writeError = NO_ERROR;
    {
        tarn::BackgroundFileSink sink(file, digest);
        transfer = tarn::TransferBody(body, sink, tarn::QueryContentLength(opened.request.Get()), expectedSize,
                                      flags.progressBar, flags.cancelFlag, flags.retryFlag, timing, offset);
        digest = sink.Digest();
        writeError = sink.Error();
    }
    const int64_t total = offset + transfer.bytes;

    if (transfer.end == tarn::TransferEnd::WriteFailed) {
        tarn::Trace(L"Download: writing %ls failed (error %lu)", target.Path().c_str(), writeError);
        target.Discard();
        SetRetryFlag(flags.retryFlag, 0);
        return UnwritableTarget(writeError);
    }
    if (transfer.end != tarn::TransferEnd::Complete) {
        tarn::Trace(L"Download: attempt for %ls failed after %lld bytes (from byte %lld) and %d stalls: %ls "
                    L"(read error %lu)",
                    url.c_str(), static_cast<long long>(transfer.bytes), static_cast<long long>(offset),
                    transfer.stalls, DescribeEnd(transfer.end), body.Error());
        if (transfer.end == tarn::TransferEnd::Cancelled) {
            target.Discard();
        } else {
            atOnce = target.Suspend() && transfer.bytes > 0;
        }
        return Attempt::Failed;
    }
    if (IsErrorPageHead(file, total)) {
        tarn::Trace(L"Download: %ls answered with an error page", url.c_str());
        target.Discard();
        SetRetryFlag(flags.retryFlag, 0);
        return Attempt::Refused;
    }
    // A record's size settles a body cut without a length and an error page
    // alike, whatever its checksum says.
    if (expected.size > 0 && total != expected.size) {
        tarn::Trace(L"Download: %ls sent %lld bytes, its record says %lld", url.c_str(),
                    static_cast<long long>(total), static_cast<long long>(expected.size));
        target.Discard();
        return Attempt::Damaged;
    }
    // The digest covers the file from its start: the kept bytes as read
    // back, then each byte written in order.
    if (expected.checksum != 0 && digest.Crc() != expected.checksum) {
        tarn::Trace(L"Download: checksum mismatch for %ls: %ld, its record says %ld", url.c_str(),
                    static_cast<long>(static_cast<int32_t>(digest.Crc())),
                    static_cast<long>(static_cast<int32_t>(expected.checksum)));
        target.Discard();
        return Attempt::Damaged;
    }
    if (!expected.sha256.empty()) {
        const std::string sha256 = digest.FinishSha256Hex();
        if (sha256 != expected.sha256) {
            tarn::Trace(L"Download: SHA-256 mismatch for %ls: %ls, %ls says %ls", url.c_str(),
                        std::wstring(sha256.begin(), sha256.end()).c_str(),
                        expected.pinned ? L"the signed manifest" : L"its record",
                        std::wstring(expected.sha256.begin(), expected.sha256.end()).c_str());
            target.Discard();
            return expected.pinned ? Attempt::Mismatch : Attempt::Damaged;
        }
    }
    return target.Keep() ? Attempt::Stored : Attempt::Failed;
}

// Statuses that a later request may not meet again.
bool IsPassingFailure(DWORD status)
{
    return status == 408 || status == 429 || status >= 500;
}

// One attempt against the record `expected`.
Attempt RunAttempt(const std::wstring& url, DownloadTarget& target, const tarn::ExpectedFile& expected,
                   const AttemptFlags& flags, bool& atOnce)
{
    if (expected.unverifiable) {
        // Nothing could ever prove this body: no later attempt either.
        SetRetryFlag(flags.retryFlag, 0);
        target.Discard();
        return Attempt::Refused;
    }
    if (expected.unavailable) {
        // Never an unverified success: the body waits for its record, unless
        // the record cannot be stored here at all.
        SetRetryFlag(flags.retryFlag, expected.notStorable ? 0 : 1);
        if (expected.notStorable) {
            target.Discard();
            return Attempt::Refused;
        }
        target.Suspend();
        return Attempt::Postponed;
    }
    const tarn::DownloadTiming& timing = tarn::GetDownloadTiming();
    const tarn::UniqueInternetHandle session(
        tarn::GetWinInet().InternetOpenW(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    tarn::DownloadProgressBar(flags.progressBar).Start();

    std::wstring validator;
    int64_t offset = target.Kept(url, validator);
    if (expected.size > 0 && offset >= expected.size) {
        offset = 0;  // all there and still unverified: no range can mend it
    }
    tarn::OpenedUrl opened;
    auto open = [&] {
        return session ? tarn::OpenUrl(session.Get(), url, timing.stallDeadline, opened,
                                       offset > 0 ? tarn::RangeHeaders(offset, validator) : std::wstring())
                       : tarn::OpenResult::Failed;
    };
    tarn::OpenResult result = open();
    if (result == tarn::OpenResult::Opened && offset > 0 && opened.status == HTTP_STATUS_PARTIAL_CONTENT &&
        (tarn::QueryRangeStart(opened.request.Get()) != offset ||
         tarn::QueryValidator(opened.request.Get()) != validator)) {
        tarn::Trace(L"Download: %ls answered another range or a changed file for bytes from %lld; starting again "
                    L"from zero",
                    opened.url.c_str(), static_cast<long long>(offset));
        offset = 0;
        result = open();
    } else if (result == tarn::OpenResult::Opened && offset > 0 && opened.status == HTTP_STATUS_OK) {
        tarn::Trace(L"Download: %ls sent the whole file for bytes from %lld; starting again from zero",
                    opened.url.c_str(), static_cast<long long>(offset));
        offset = 0;
    }
    switch (result) {
    case tarn::OpenResult::Opened:
        break;
    case tarn::OpenResult::Failed:
        // A missing record must never ask for a later pass of its file.
        if (!tarn::EndsWithNoCase(url, tarn::FileInfoNameForStem(L""))) {
            SetRetryFlag(flags.retryFlag, 1);
        }
        // Where no server answered, none is burdened by asking again at
        // once; the passes' pauses are the wait.
        atOnce = tarn::IsUnanswered(opened.error);
        target.Suspend();
        return Attempt::Failed;
    case tarn::OpenResult::BadRedirect:
        target.Discard();
        return Attempt::Failed;
    case tarn::OpenResult::ProxyLoginMissing:
        // No later attempt of this run gets further; a later run may resume.
        target.Suspend();
        SetRetryFlag(flags.retryFlag, 0);
        return Attempt::Refused;
    default:
        return Attempt::Failed;
    }
    if (opened.status == HTTP_STATUS_NOT_FOUND || opened.status == HTTP_STATUS_GONE) {
        tarn::Trace(L"Download: %ls answered HTTP %lu: the server has no such file", opened.url.c_str(),
                    opened.status);
        target.Discard();
        SetRetryFlag(flags.retryFlag, 0);
        return Attempt::Missing;
    }
    if (IsPassingFailure(opened.status)) {
        tarn::Trace(L"Download: %ls answered HTTP %lu; asked again later", opened.url.c_str(), opened.status);
        target.Suspend();
        SetRetryFlag(flags.retryFlag, 1);
        return Attempt::Failed;
    }
    if (opened.status >= 400) {
        tarn::Trace(L"Download: %ls answered HTTP %lu", opened.url.c_str(), opened.status);
        target.Discard();
        SetRetryFlag(flags.retryFlag, 0);
        return Attempt::Refused;
    }
    // Nothing but the whole file, or the asked-for rest of it, will do.
    if (opened.status != HTTP_STATUS_OK && !(opened.status == HTTP_STATUS_PARTIAL_CONTENT && offset > 0)) {
        tarn::Trace(L"Download: %ls answered HTTP %lu instead of the file", opened.url.c_str(), opened.status);
        target.Discard();
        return Attempt::Failed;
    }
    return StoreBody(url, opened, target, expected, offset, flags, atOnce);
}

// How an attempt learns what the body must be: from the server's record
// (looked up anew by each attempt), or from the caller.
struct Verification {
    bool lookUp = true;
    tarn::RecordNeed need = tarn::RecordNeed::Optional;
    tarn::ExpectedFile expected;
    const tarn::ExpectedFile* pinned = nullptr;  // a signed manifest's size and SHA-256
};

// Files in general: only ".txt" files (download lists, records themselves)
// and short URLs are fetched without a record. A required record is looked
// up whatever the name.
tarn::ExpectedFile LookUpExpectedFile(std::wstring_view url, const tarn::UrlParts& parts, tarn::RecordNeed need)
{
    if (need == tarn::RecordNeed::Optional &&
        (url.size() <= 14 || parts.extension.empty() || tarn::EqualsNoCase(parts.extension, L".txt"))) {
        return tarn::ExpectedFile();
    }
    return g_fileInfoLookup(url, need);
}

Attempt GetFileOnce(std::wstring_view url, std::wstring& destination, const Verification& verification,
                    const AttemptFlags& flags, bool& atOnce)
{
    tarn::UrlParts parts;
    if (url.empty() || !tarn::SplitUrl(url, parts) || parts.name.empty()) {
        return Attempt::Failed;
    }
    destination = tarn::ResolveDownloadDestination(destination, parts.name);
    PathTarget target(destination);
    try {
        tarn::ExpectedFile expected =
            verification.lookUp ? LookUpExpectedFile(url, parts, verification.need) : verification.expected;
        if (verification.pinned != nullptr && !expected.unavailable &&
            !tarn::PinToManifest(expected, *verification.pinned)) {
            tarn::Trace(L"Download: the record of %ls contradicts the signed manifest", std::wstring(url).c_str());
            target.Discard();
            return Attempt::Mismatch;
        }
        // Only a body that its record can verify as a whole is continued.
        if (expected.checksum != 0 || !expected.sha256.empty()) {
            target.AllowResume();
        }
        return RunAttempt(std::wstring(url), target, expected, flags, atOnce);
    } catch (const std::exception&) {
        // Out of memory inside the transfer: every handle is closed by now.
        target.Discard();
        return Attempt::Failed;
    }
}

// Runs up to `attempts` attempts (0 or less means 10) through `attempt`;
// the first success or refusal ends the series, and so does a record that
// is not to be had (a later pass asks again). Each attempt gets a retry flag
// of its own, handed on to the caller's when the attempt set it: a reason
// for a later pass found by one attempt must not cut the next one short,
// which may continue where the first stopped. Between failed attempts the
// series backs off.
template <class OneAttempt>
tarn::FetchOutcome RunSeries(std::wstring_view url, int attempts, int* retryFlag, OneAttempt attempt)
{
    if (attempts <= 0) {
        attempts = kDefaultAttempts;
    }
    const std::wstring key(url);
    tarn::RetryBackoff backoff(tarn::GetDownloadTiming());
    for (int i = 1; i <= attempts; ++i) {
        if (Damaged().Count(key) >= tarn::kMaxDamagedFetches) {
            tarn::Trace(L"Download: %ls failed its record %d times in this run; given up", key.c_str(),
                        tarn::kMaxDamagedFetches);
            SetRetryFlag(retryFlag, 0);
            return tarn::FetchOutcome::GivenUp;
        }
        constexpr int kUntouched = -2;
        int flag = kUntouched;
        bool atOnce = false;
        const Attempt result = attempt(retryFlag != nullptr ? &flag : nullptr, atOnce);
        if (flag != kUntouched) {
            SetRetryFlag(retryFlag, flag);
        }
        switch (result) {
        case Attempt::Stored:
            return tarn::FetchOutcome::Stored;
        case Attempt::Refused:
            return tarn::FetchOutcome::Refused;
        case Attempt::Missing:
            return tarn::FetchOutcome::Missing;
        case Attempt::Postponed:
            return tarn::FetchOutcome::Failed;
        case Attempt::Damaged:
            Damaged().Add(key);
            break;
        case Attempt::Mismatch:
            return tarn::FetchOutcome::Mismatch;
        case Attempt::DiskFull:
            return tarn::FetchOutcome::DiskFull;
        default:
            break;
        }
        if (i < attempts) {
            backoff.AfterFailure(atOnce);
        }
    }
    if (attempts > 1) {
        tarn::Trace(L"Download: %ls failed in all %d attempts", key.c_str(), attempts);
    }
    return tarn::FetchOutcome::Failed;
}

// Up to 30 passes of `series` (given the pass's retry flag); another pass
// follows only when a pass failed and asked for one, after a pause in which
// the cancel flag ends everything.
template <class Series>
tarn::FetchOutcome RunPasses(int* cancelFlag, Series series)
{
    const tarn::DownloadTiming& timing = tarn::GetDownloadTiming();
    for (int pass = 0; pass < kPasses; ++pass) {
        int retry = -1;
        const tarn::FetchOutcome outcome = series(&retry);
        // A flag that an earlier attempt set asks for no pass after success.
        if (retry != 1 || outcome == tarn::FetchOutcome::Stored || outcome == tarn::FetchOutcome::Mismatch) {
            return outcome;
        }
        const DWORD look = timing.cancelLook > 0 ? timing.cancelLook : 1;
        for (DWORD waited = 0; waited < timing.passPause; waited += look) {
            if (cancelFlag != nullptr && *cancelFlag == 1) {
                return tarn::FetchOutcome::Failed;
            }
            timing.clock.sleep(look);
        }
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
    const Verification verification{false, RecordNeed::Optional, expected};
    return RunSeries(url, attempts, retryFlag, [&](int* flag, bool& atOnce) {
        return GetFileOnce(url, destination, verification, AttemptFlags{nullptr, nullptr, flag}, atOnce);
    });
}

FetchOutcome FetchIntoHeldFile(std::wstring_view url, HANDLE file, const std::wstring& path,
                               const ExpectedFile& expected, int attempts)
{
    HeldTarget target(file, path);
    const std::wstring fullUrl(url);
    return RunSeries(url, attempts, nullptr, [&](int*, bool& atOnce) {
        try {
            return RunAttempt(fullUrl, target, expected, AttemptFlags(), atOnce);
        } catch (const std::exception&) {
            target.Discard();
            return Attempt::Failed;
        }
    });
}

FetchOutcome FetchPackage(std::wstring_view url, std::wstring& destination, HWND progressBar, int* cancelFlag,
                          const ExpectedFile* pinned)
{
    const Verification verification{true, RecordNeed::Required, ExpectedFile(), pinned};
    return RunPasses(cancelFlag, [&](int* retry) {
        return RunSeries(url, kDefaultAttempts, retry, [&](int* flag, bool& atOnce) {
            return GetFileOnce(url, destination, verification, AttemptFlags{progressBar, cancelFlag, flag},
                               atOnce);
        });
    });
}

}  // namespace tarn

int HttpGetFileOnce(std::wstring_view url, std::wstring& destination, HWND progressBar, int* cancelFlag,
                    int* retryFlag)
{
    bool atOnce = false;
    return AttemptResult(GetFileOnce(url, destination, Verification(),
                                     AttemptFlags{progressBar, cancelFlag, retryFlag}, atOnce));
}

int HttpGetFile(std::wstring_view url, std::wstring& destination, HWND progressBar, int* cancelFlag,
                int* retryFlag, int attempts)
{
    const tarn::FetchOutcome outcome = RunSeries(url, attempts, retryFlag, [&](int* flag, bool& atOnce) {
        return GetFileOnce(url, destination, Verification(), AttemptFlags{progressBar, cancelFlag, flag},
                           atOnce);
    });
    return outcome == tarn::FetchOutcome::Stored ? 1 : 0;
}

int HttpGetFileRetrying(std::wstring_view url, std::wstring& destination, HWND progressBar, int* cancelFlag)
{
    const tarn::FetchOutcome outcome = RunPasses(cancelFlag, [&](int* retry) {
        return HttpGetFile(url, destination, progressBar, cancelFlag, retry, kDefaultAttempts) == 1
                   ? tarn::FetchOutcome::Stored
                   : tarn::FetchOutcome::Failed;
    });
    return outcome == tarn::FetchOutcome::Stored ? 1 : 0;
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
