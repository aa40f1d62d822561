#pragma once
// Unpacking a cabinet file into a folder, creating the sub-folders its
// entries name, and telling whether every file the cabinet announced was
// really extracted. Stored and MSZIP cabinets are read by an own reader
// (decoding on the calling thread, files written by two more); others go to
// the setup library (SetupIterateCabinetW). Both keep the same rules.

#include <string>
#include <string_view>
#include <vector>

namespace tarn {

// Which way an extraction runs; tests and benchmarks choose, callers keep
// the default.
enum class CabExtractMethod {
    Automatic,     // the own reader where it reads the cabinet, else the setup library
    OwnReader,     // the own reader only: other cabinets fail
    SetupLibrary,  // the setup library only
};

// Why an extraction failed: the first cause met.
enum class CabExtractFailure {
    None,
    Missing,   // no cabinet at the path
    Damaged,   // not a cabinet, or its data does not decode or check
    Refused,   // an entry's name leads outside the target folder, names a device or is too long
    DiskFull,  // a file could not be written for lack of room
    Unwritten, // a file could not be created or written for another cause
};

// Its name for trace lines ("damaged", "disk full", ...).
const wchar_t* CabExtractFailureName(CabExtractFailure failure);

}  // namespace tarn

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
    tarn::CabExtractMethod m_Method = tarn::CabExtractMethod::Automatic;
    // Set by a failed extraction (the first cause it met).
    tarn::CabExtractFailure m_Failure = tarn::CabExtractFailure::None;
};

namespace tarn {

// Notes `failure` unless the context already has a cause.
inline void NoteExtractFailure(CabExtractContext& context, CabExtractFailure failure)
{
    if (context.m_Failure == CabExtractFailure::None) {
        context.m_Failure = failure;
    }
}

}  // namespace tarn

// Extracts `cabinetPath` into the context's target folder. 1 when the
// cabinet was iterated without error and every announced file was
// extracted; 0 for a missing cabinet, a damaged one, or any entry that was
// refused (a name leading outside the target folder, a target path of 260
// characters or more) or failed. Extracted files stay in place on failure.
int ExtractCabinet(CabExtractContext& context, const wchar_t* cabinetPath);

// Sets the target folder, empties the extracted list and extracts; the
// result is that of ExtractCabinet.
int ExtractCabinetTo(CabExtractContext& context, const wchar_t* cabinetPath, const wchar_t* targetFolder);

// Extracts with a fresh context (of the given method). `fileList` is
// emptied and receives the sorted full paths of the extracted files only
// when the result is 1.
int ExtractCabinetToList(const wchar_t* cabinetPath, const wchar_t* targetFolder,
                         std::vector<std::wstring>& fileList,
                         tarn::CabExtractMethod method = tarn::CabExtractMethod::Automatic);
