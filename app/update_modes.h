#pragma once
// The windowless download modes that the installer starts as background
// copies of the program ("DownloadFile=", "DownloadGridwellUpdate=",
// "DownloadCorvinUpdate=" with "ToFolder="), and the maker's two test aids:
// the test mode "TestFunc" and the test source "TestDownload". None of them
// reports to its starter, which only looks at the target folder afterwards.

#include <string>
#include <string_view>

// Single-file mode: fetches the file at `url` into `folder` unless the folder
// already holds the version that the server's file-info record describes.
// The file's record is stored beside it only once the file is verified, so
// a record in the folder always stands for a complete file. 1 when the file
// was fetched and verified; 0 when either argument is empty, the server has
// no record, the folder was current, or the fetch failed (then neither file
// nor record is left).
int DownloadFileToFolder(std::wstring_view url, std::wstring_view folder);

// Update mode: reads the update table at `tableUrl` (CSV with the columns
// "product" and "updateURL"), takes the first row of the product `kind`
// names (0 "Tarn Gridwell", 1 "Tarn Corvin"), fetches the update's
// description text into `folder` and the update file through the single-file
// mode. 0 when the table cannot be read, lacks a column or has no row for
// the product; otherwise the single-file mode's result.
int DownloadProductUpdate(std::wstring_view tableUrl, std::wstring_view folder, int kind);

// Test mode: fetches the two updater cabinets of the test server into the
// temporary folder and shows each resulting path in a message box.
void RunTestDownloads();

namespace tarn {

// The test server's root.
extern const wchar_t kTestServerRoot[];

// The test mode with its server root handed in.
void RunTestDownloadsFrom(std::wstring_view serverRoot);

// The single-file mode's test for a current folder: the server's record
// equals the local record byte for byte and the file it describes exists.
bool FolderHoldsVersion(const std::wstring& serverRecord, const std::wstring& localRecord,
                        const std::wstring& localFile);

// The product name an update kind selects in the update table; empty for
// kinds other than 0 and 1.
std::wstring_view UpdateProductName(int kind);

}  // namespace tarn
