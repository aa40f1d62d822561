#pragma once
// The build machines' packing modes, each selected by its mode word. A mode
// works on the fixed folders of build_folders.h, shows a message only when
// something failed (naming what), and publishes nothing of a failed run:
// no download list, no starter copy, no zip. Each returns 1 when it did
// all its work, else 0 (the process then exits with 1).

#include <string>

namespace tarn {

// "PackGridwell", "PackQuick" (`quick`: the QX carriers of an earlier run
// are listed, not made) and the second half of "PackAll".
int PackGridwell(bool quick);
// "PackOEM" and the first half of "PackAll": the QX package's cabinets.
int PackQxPackage();
// "PackAll": the QX cabinets, then, when they were all made, Gridwell.
int PackAll();
// "MakeNullUpdate": the full-data updater cabinet.
int MakeNullUpdate();
// "PackCorvinUpdate": the updater cabinet of the update program's build.
int PackCorvinUpdate();
// "PackCorvin": the Corvin data packages.
int PackCorvin();
// "PackRVTTrainings": the video-training packages.
int PackRvtTrainings();
// "CreateMemoryStickData": the memory-stick folders.
int CreateMemoryStickData();
// "CreateDataPack": both products unpacked as the installer leaves them,
// zipped and published.
int CreateDataPack();
// "VerifyRelease <folder or URL>": checks a published release (its lists,
// cabinets, records and starters, and in a program built with release keys
// the signed manifests); one line per problem in the log and, from a
// console, on standard output. 1 when everything holds.
int VerifyRelease(const std::wstring& target);

// The process's exit code for a mode's result: 0 when it did all its work, else 1.
inline int ModeExitCode(int result)
{
    return result == 1 ? 0 : 1;
}

}  // namespace tarn
