// MakeCab.exe: makes one cabinet as a directive file describes it, for
// systems that have no cabinet maker of their own.
//
//   MakeCab.exe /f <directive file>
//
// The directive file's syntax is described in directive_file.h. Exit code 0
// when the cabinet is complete; otherwise 1 (2 for a bad command line), a
// message on the error output that names the directive line at fault, and
// no cabinet.

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <string>
#include <thread>

#include "tools/makecab/cabinet_writer.h"
#include "tools/makecab/directive_file.h"

namespace {

void Print(FILE* stream, const std::wstring& text)
{
    // The console shows UTF-8 best on every code page; redirected output
    // gets the same bytes.
    const int length = static_cast<int>(text.size());
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, utf8.data(), bytes, nullptr, nullptr);
    std::fputs(utf8.c_str(), stream);
    std::fputs("\n", stream);
    std::fflush(stream);
}

int Run(int argc, wchar_t** argv)
{
    if (argc != 3 || (std::wstring(argv[1]) != L"/f" && std::wstring(argv[1]) != L"/F" &&
                      std::wstring(argv[1]) != L"-f")) {
        Print(stderr, L"usage: MakeCab.exe /f <directive file>");
        return 2;
    }
    const std::wstring directivePath = argv[2];
    std::wstring text;
    std::wstring error;
    tarn::makecab::CabinetPlan plan;
    if (!tarn::makecab::ReadDirectiveFile(directivePath, text, error) ||
        !tarn::makecab::ParseDirectives(text, plan, error)) {
        Print(stderr, L"MakeCab: " + directivePath + L": " + error);
        return 1;
    }
    const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
    tarn::makecab::PackFigures figures;
    if (!tarn::makecab::WriteCabinet(plan, threads, figures, error)) {
        Print(stderr, L"MakeCab: " + directivePath + L": " + error + L"; no cabinet was made");
        return 1;
    }
    Print(stdout, L"MakeCab: " + plan.cabinetPath + L": " + std::to_wstring(figures.files) + L" files, " +
                      std::to_wstring(figures.unpackedBytes) + L" bytes in " + std::to_wstring(figures.cabinetBytes) +
                      L" bytes" + (plan.compress ? L" (MSZIP)" : L" (stored)"));
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "MakeCab: %s; no cabinet was made\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "MakeCab: unexpected failure; no cabinet was made\n");
    }
    return 1;
}
