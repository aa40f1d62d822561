// file_records.exe <file>...
// Writes the file-info record beside each file with the program's own
// writer (WriteFileInfo), for the install benchmark's package set: the
// records' checksums are what the installer verifies.

#include <cstdio>

#include "transfer/file_info.h"

int wmain(int argc, wchar_t** argv)
{
    int failed = 0;
    for (int i = 1; i < argc; ++i) {
        if (!WriteFileInfo(argv[i])) {
            std::fwprintf(stderr, L"no record written for %ls\n", argv[i]);
            failed = 1;
        }
    }
    return failed;
}
