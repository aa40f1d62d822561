// extract_cabinet.exe <cabinet> <target folder>
// Unpacks a cabinet with the program's own extraction (SetupAPI) for tests
// that compare it with other readers. Exit code 0 when the extraction
// reported success, 1 otherwise.

#include <cstdio>
#include <string>
#include <vector>

#include "transfer/cab_extract.h"

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) {
        std::fwprintf(stderr, L"usage: extract_cabinet <cabinet> <target folder>\n");
        return 2;
    }
    std::vector<std::wstring> files;
    const int result = ExtractCabinetToList(argv[1], argv[2], files);
    std::printf("result=%d files=%zu\n", result, files.size());
    return result == 1 ? 0 : 1;
}
