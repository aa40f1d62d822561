// fake_makecab.exe, copied as MakeCab.exe onto the search path of a test:
// a cabinet maker that misbehaves as TARN_FAKE_MAKECAB says.
//   truncate  writes a cabinet whose header promises more bytes than it has
//             to the directive file's CabinetNameTemplate, exits 0
//   fail      prints an error line and exits 3 without a cabinet

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <string>

int wmain(int argc, wchar_t** argv)
{
    char mode[32] = {};
    ::GetEnvironmentVariableA("TARN_FAKE_MAKECAB", mode, sizeof(mode));
    if (std::string(mode) == "fail" || argc != 3) {
        std::fprintf(stderr, "MakeCab: simulated failure of the cabinet maker\n");
        return 3;
    }
    std::ifstream directives(argv[2]);
    const std::string key = ".Set CabinetNameTemplate=\"";
    for (std::string line; std::getline(directives, line);) {
        if (line.rfind(key, 0) == 0) {
            const std::string path = line.substr(key.size(), line.find('"', key.size()) - key.size());
            std::string bytes(3000, '\0');
            bytes.replace(0, 4, "MSCF");
            bytes[8] = '\x40';  // the header says 0x9C40 (40,000) bytes
            bytes[9] = '\x9C';
            std::ofstream(path, std::ios::binary) << bytes;
            return 0;
        }
    }
    return 4;
}
