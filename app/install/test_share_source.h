#pragma once
// The maker's test share: with the command line "TestDownload" the installer
// takes each file from this folder when it is there, and downloads it
// otherwise.

#include <string>
#include <string_view>

namespace tarn {

class PackageSource;

// The test share's folder.
extern const wchar_t kTestDownloadShare[];

// Copies the file named by the URL's last segment from `shareFolder` into the
// temporary folder. 1 with `destination` set to the copy; otherwise 0 and
// `destination` empty (a URL without '/', no such file, a failed copy). The
// name is the URL's last segment, so no URL names a file outside the share.
int CopyFromTestShare(std::wstring_view url, std::wstring& destination, std::wstring_view shareFolder);

// The test share first, then the download server.
PackageSource& TestSharePackageSource();

}  // namespace tarn
