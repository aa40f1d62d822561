#pragma once
// How the download list and the data packages reach the temporary folder,
// and how a copy already there is checked against the server. The sequence
// asks this interface only; tests hand in a source of their own.

#include <windows.h>

#include <string>

#include "transfer/http_download.h"

namespace tarn {

class PackageSource {
public:
    virtual ~PackageSource() = default;

    // Fetches `url` into the temporary folder under its own name. True only
    // when the fetch reported success and the file is there; `localPath`
    // then names it (it may be set on failure too).
    virtual bool Fetch(const std::wstring& url, std::wstring& localPath, HWND progressBar) = 0;

    // True when the file at `localPath` is the one the server's current
    // record for `url` describes (size and checksum). A missing file, a
    // missing record or any difference gives false.
    virtual bool IsCurrentCopy(const std::wstring& url, const std::wstring& localPath) = 0;

    // Fetch for a package that a signed manifest pins (size and SHA-256, see
    // PinToManifest): Mismatch, with no file left, when the package or its
    // record differs from it. This form fetches, then reads the file once
    // more; the server's source checks the body while it is written.
    virtual FetchOutcome FetchPinned(const std::wstring& url, std::wstring& localPath, HWND progressBar,
                                     const ExpectedFile& pinned);
};

// True when the file at `path` has the size and SHA-256 that `pinned` gives.
bool MatchesPinnedFile(const std::wstring& path, const ExpectedFile& pinned);

// Stored when the file matches `pinned`; else Mismatch, traced, and the
// file deleted.
FetchOutcome KeepIfPinned(const std::wstring& path, const ExpectedFile& pinned);
// The program's source: the download server over HTTP with all its passes.
PackageSource& ServerPackageSource();

}  // namespace tarn
