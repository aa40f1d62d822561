#pragma once
// Unpacking a cabinet file into a folder with the setup library
// (SetupIterateCabinetW), creating the sub-folders its entries name, and
// telling whether every file the cabinet announced was really extracted.

#include <string>
#include <string_view>
#include <vector>

// One extraction. The caller sets m_TargetFolder (empty: a fresh folder
// "Tarn-Cab_<n>" in the temporary folder is chosen); the extraction fills
// the rest.
struct CabExtractContext {
    std::wstring m_CabinetPath;
    std::wstring m_TargetFolder;  // ends with a backslash once prepared
    // Full target paths of the announced files, sorted and unique without
    // regard to case (tarn::CompareNoCase).
    std::vector<std::wstring> m_Extracted;
    // One flag per entry of m_Extracted: 1 once the file was extracted
    // without error, 0 while it was only announced (or was refused).
    std::vector<int> m_Done;
};

// Extracts `cabinetPath` into the context's target folder. 1 when the
// cabinet was iterated without error and every announced file was
// extracted; 0 for a missing cabinet, a damaged one, or any entry that was
// refused (a name leading outside the target folder, a target path of 260
// characters or more) or failed. Extracted files stay in place on failure.
int ExtractCabinet(CabExtractContext& context, const wchar_t* cabinetPath);

// Sets the target folder, empties the extracted list and extracts; the
// result is that of ExtractCabinet.
int ExtractCabinetTo(CabExtractContext& context, const wchar_t* cabinetPath, const wchar_t* targetFolder);

// Extracts with a fresh context. `fileList` is emptied and receives the
// sorted full paths of the extracted files only when the result is 1.
int ExtractCabinetToList(const wchar_t* cabinetPath, const wchar_t* targetFolder,
                         std::vector<std::wstring>& fileList);

namespace tarn {

// A cabinet entry's name with slashes turned into backslashes and its one
// leading backslash dropped: the path below the folder it is unpacked into.
std::wstring NormalEntryName(std::wstring name);

}  // namespace tarn
