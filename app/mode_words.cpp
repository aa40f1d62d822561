#include "app/mode_words.h"

#include "app/update_modes.h"
#include "packing/release_modes.h"

namespace tarn {
namespace {

// The packing modes exit with 0 when they did all their work, else 1.
template <int (*Mode)()>
int Packing(const std::wstring&)
{
    return ModeExitCode(Mode());
}

int PackGridwellMode(const std::wstring&)
{
    return ModeExitCode(PackGridwell(false));
}

// "PackQuick" packs only the main package anew.
int PackQuickMode(const std::wstring&)
{
    return ModeExitCode(PackGridwell(true));
}

int VerifyReleaseMode(const std::wstring& target)
{
    return ModeExitCode(VerifyRelease(target));
}

int TestFuncMode(const std::wstring&)
{
    ::RunTestDownloads();
    return 0;
}

// Reads the product profile (as every mode word does) and ends.
int PackUpdateMode(const std::wstring&)
{
    return 0;
}

const ModeWord kModeWords[] = {
    {L"TestFunc", false, TestFuncMode},
    {L"CreateDataPack", false, Packing<CreateDataPack>},
    {L"MakeNullUpdate", false, Packing<MakeNullUpdate>},
    {L"PackCorvinUpdate", false, Packing<PackCorvinUpdate>},
    {L"PackUpdate", false, PackUpdateMode},
    {L"PackOEM", false, Packing<PackQxPackage>},
    {L"PackAll", false, Packing<PackAll>},
    {L"PackRVTTrainings", false, Packing<PackRvtTrainings>},
    {L"CreateMemoryStickData", false, Packing<CreateMemoryStickData>},
    {L"PackCorvin", false, Packing<PackCorvin>},
    {L"PackGridwell", false, PackGridwellMode},
    {L"PackQuick", false, PackQuickMode},
    // Followed by a blank and a download folder or its URL.
    {L"VerifyRelease", true, VerifyReleaseMode},
};

}  // namespace

std::span<const ModeWord> ModeWords()
{
    return kModeWords;
}

}  // namespace tarn
