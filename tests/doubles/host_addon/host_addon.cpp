// Test double of the host add-on module "TarnGridwell.dll": records each
// settings text it is handed, and lets the test read the record back.

#include <windows.h>

#include <string>

namespace {

int g_calls = 0;
std::wstring g_name;
std::wstring g_text;

}  // namespace

extern "C" __declspec(dllexport) int WriteConfigurationToDrawing(const wchar_t* name, const wchar_t* text)
{
    ++g_calls;
    g_name = name ? name : L"(null)";
    g_text = text ? text : L"(null)";
    return 7;
}

// Number of hand-overs so far, and the storage name and text of the last one.
extern "C" __declspec(dllexport) int TarnTestHandOverCount()
{
    return g_calls;
}

extern "C" __declspec(dllexport) const wchar_t* TarnTestLastName()
{
    return g_name.c_str();
}

extern "C" __declspec(dllexport) const wchar_t* TarnTestLastText()
{
    return g_text.c_str();
}
