#include "transfer/cab_extract.h"

#include <windows.h>

#include <algorithm>

#include "support/file_system.h"
#include "support/path_text.h"
#include "support/text_format.h"
#include "support/trace.h"
#include "transfer/cab_extract_paths.h"
#include "transfer/cab_targets.h"

namespace tarn {

const wchar_t* CabExtractFailureName(CabExtractFailure failure)
{
    switch (failure) {
    case CabExtractFailure::None: return L"none";
    case CabExtractFailure::Missing: return L"missing";
    case CabExtractFailure::Damaged: return L"damaged";
    case CabExtractFailure::Refused: return L"hostile entry";
    case CabExtractFailure::DiskFull: return L"disk full";
    case CabExtractFailure::Unwritten: return L"not written";
    }
    return L"unknown";
}

}  // namespace tarn

namespace {

constexpr int kMaxDefaultFolders = 999;

// "<temp>\Tarn-Cab_<n>" for the first n from 1 that names nothing; empty
// when all are taken.
std::wstring ChooseDefaultTargetFolder()
{
    const std::wstring temp = GetTempFolder();
    if (temp.empty()) {
        return std::wstring();
    }
    for (int n = 1; n <= kMaxDefaultFolders; ++n) {
        const std::wstring folder = tarn::FormatText(L"%ls\\Tarn-Cab_%d", temp.c_str(), n);
        int isFolder = 0;
        if (!FileExists(folder.c_str(), &isFolder)) {
            return folder;
        }
    }
    return std::wstring();
}

// Runs the extraction the context's method asks for. The own reader takes
// what it reads; a cabinet it cannot open or decode goes to the setup
// library, unless the own reader alone was asked for.
bool RunExtraction(CabExtractContext& context)
{
    tarn::CabTargets targets(context);
    if (context.m_Method != tarn::CabExtractMethod::SetupLibrary) {
        const tarn::OwnReaderOutcome outcome = tarn::ExtractWithOwnReader(context, targets);
        if (outcome != tarn::OwnReaderOutcome::NotReadable) {
            return outcome == tarn::OwnReaderOutcome::Extracted;
        }
        if (context.m_Method == tarn::CabExtractMethod::OwnReader) {
            return false;
        }
    }
    return tarn::ExtractWithSetupLibrary(context, targets);
}

}  // namespace

int ExtractCabinet(CabExtractContext& context, const wchar_t* cabinetPath)
{
    context.m_Failure = tarn::CabExtractFailure::None;
    if (tarn::IsEmptyText(cabinetPath) || !FileExists(cabinetPath)) {
        tarn::Trace(L"Extract: no cabinet at %ls", cabinetPath != nullptr ? cabinetPath : L"");
        context.m_Failure = tarn::CabExtractFailure::Missing;
        return 0;
    }
    if (context.m_TargetFolder.empty()) {
        context.m_TargetFolder = ChooseDefaultTargetFolder();
        if (context.m_TargetFolder.empty()) {
            tarn::Trace(L"Extract: no free folder in the temporary folder for %ls", cabinetPath);
            return 0;
        }
    }
    if (context.m_TargetFolder.back() != L'\\') {
        context.m_TargetFolder += L'\\';
    }
    context.m_CabinetPath = cabinetPath;
    context.m_Extracted.clear();
    context.m_Done.clear();

    const bool extracted = RunExtraction(context);
    const bool allDone = std::find(context.m_Done.begin(), context.m_Done.end(), 0) == context.m_Done.end();
    if (extracted && allDone) {
        return 1;
    }
    // Damage and refused names were noted where they were met.
    tarn::NoteExtractFailure(context, tarn::CabExtractFailure::Unwritten);
    tarn::Trace(L"Extract: %ls not completely extracted into %ls: %ls", cabinetPath, context.m_TargetFolder.c_str(),
                tarn::CabExtractFailureName(context.m_Failure));
    return 0;
}

int ExtractCabinetTo(CabExtractContext& context, const wchar_t* cabinetPath, const wchar_t* targetFolder)
{
    context.m_TargetFolder = targetFolder ? targetFolder : L"";
    context.m_Extracted.clear();
    context.m_Done.clear();
    return ExtractCabinet(context, cabinetPath);
}

int ExtractCabinetToList(const wchar_t* cabinetPath, const wchar_t* targetFolder,
                         std::vector<std::wstring>& fileList, tarn::CabExtractMethod method)
{
    fileList.clear();
    CabExtractContext context;
    context.m_Method = method;
    const int result = ExtractCabinetTo(context, cabinetPath, targetFolder);
    if (result) {
        fileList = std::move(context.m_Extracted);
    }
    return result;
}
