#pragma once
// Fetching one file from the download server over HTTP, in three layers: one
// attempt, a bounded series of attempts, and passes with pauses between them.
// Every attempt looks up the file's file-info record on the server first, to
// size the progress bar and to verify the body.

#include <windows.h>

#include <string>
#include <string_view>

#include "transfer/file_info.h"

// One attempt. `destination` may be empty (the temporary folder), a folder
// (ending in a backslash or existing), a bare file name (inside the temporary
// folder) or a file path; on return it holds the resolved path. Returns 1 when
// the file is stored and verified; 0 on a failure that a later attempt may
// cure (also a record that could not be fetched or read: only a 404 or 410
// for the record means the file has none); -1 for an error page, an error
// status other than 408, 429 and 5xx, or an unwritable destination. Whatever
// failed, no file is left at the destination: not a partial one, nor one that
// failed its record's size or checksum. A body that its record verifies is
// written beside the destination first (see FetchPackage) and continued by a
// later attempt when it breaks off. The destination is held without write
// sharing for the whole attempt, so a second writer fails instead of
// rewriting it. Redirects are followed up to 10 times, to http and https
// only and never from https to http. The progress bar, cancel flag and retry
// flag may each be null.
int HttpGetFileOnce(std::wstring_view url, std::wstring& destination, HWND progressBar = nullptr,
                    int* cancelFlag = nullptr, int* retryFlag = nullptr);

// Up to `attempts` attempts (0 or less means 10). 1 at the first attempt that
// succeeds; 0 at once after an error page, a record that is not to be had
// or a body that failed its record too often in this run, or after the last
// failed attempt. Failed attempts are followed by growing waits, unless they
// kept bytes that the next attempt continues with a range request.
int HttpGetFile(std::wstring_view url, std::wstring& destination, HWND progressBar, int* cancelFlag,
                int* retryFlag, int attempts);

// Up to 30 passes of HttpGetFile with 10 attempts each. Another pass follows
// only when a pass asked for one (a stall, a failed open, a truncated body),
// after a 2-second pause in which the cancel flag ends everything with 0.
int HttpGetFileRetrying(std::wstring_view url, std::wstring& destination, HWND progressBar = nullptr,
                        int* cancelFlag = nullptr);

// 1 when `path` names no file, or a file of at most 10,240 bytes that is empty
// or holds "<html" in any letter case (an error page instead of the file);
// else 0. An empty path gives 0.
int IsErrorPage(const wchar_t* path);

namespace tarn {

// What a series of attempts came to.
enum class FetchOutcome {
    Stored,   // stored and verified
    Failed,   // every attempt failed (or the record was not to be had)
    Refused,  // an error page or status, an unwritable destination or no possible proof ended the series
    Missing,  // the server answered 404 or 410
    GivenUp,  // whole bodies failed their record kMaxDamagedFetches times in this run
    Mismatch, // the body or its record differs from the signed manifest
    DiskFull, // the destination's volume is full: only room can help
};

// How many whole bodies of one URL may fail their record in one run (one
// process) before the URL is given up for it.
constexpr int kMaxDamagedFetches = 3;

// A series of `attempts` attempts (0 or less means 10) that looks up no
// record: the body is verified against `expected` (nothing to verify when it
// is empty). The destination as for HttpGetFileOnce.
FetchOutcome FetchVerified(std::wstring_view url, std::wstring& destination, const ExpectedFile& expected,
                           int attempts, int* retryFlag = nullptr);

// The same into a file that the caller holds open for reading and writing
// without write sharing (`path` names it in traces): each attempt empties it
// and writes it from its start, and a failed series leaves it empty.
FetchOutcome FetchIntoHeldFile(std::wstring_view url, HANDLE file, const std::wstring& path,
                               const ExpectedFile& expected, int attempts);

// An installer package into `destination` (as for HttpGetFileOnce): the
// passes of HttpGetFileRetrying, but each attempt requires the package's
// record whatever its name, and the outcome tells why nothing was stored.
// An interrupted body is continued with a range request by the next
// attempt, or by the next run from the partial download it leaves beside
// the destination. With `pinned` (a signed manifest's size and SHA-256, see
// PinToManifest) each attempt's record must agree with it and the body must
// match it; a difference ends everything at once with Mismatch (traced), for
// no retry can cure it.
FetchOutcome FetchPackage(std::wstring_view url, std::wstring& destination, HWND progressBar, int* cancelFlag,
                          const ExpectedFile* pinned = nullptr);

// The record lookup that each attempt makes before opening its URL
// (LookUpFileInfo). Replaced by tests; null restores it. Returns the
// previous lookup.
using FileInfoLookup = ExpectedFile (*)(std::wstring_view url, RecordNeed need);
FileInfoLookup SetFileInfoLookup(FileInfoLookup lookup);

// Resolves an attempt's destination for a file name (see HttpGetFileOnce),
// creating the folders it needs.
std::wstring ResolveDownloadDestination(std::wstring_view destination, std::wstring_view fileName);

}  // namespace tarn
