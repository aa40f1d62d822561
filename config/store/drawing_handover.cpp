#include "config/store/drawing_handover.h"

#include <windows.h>

#include <mutex>

#include "support/name_compare.h"
#include "support/proc_address.h"

namespace tarn {

namespace {

using WriteConfigurationFunction = int (*)(const wchar_t* name, const wchar_t* text);

struct EntryPoint {
    std::mutex mutex;
    bool resolved = false;
    WriteConfigurationFunction function = nullptr;
};

EntryPoint& TheEntryPoint()
{
    static EntryPoint entryPoint;
    return entryPoint;
}

WriteConfigurationFunction Resolve()
{
    HMODULE host = ::GetModuleHandleW(L"TarnGridwell.dll");
    if (host == nullptr) {
        host = ::GetModuleHandleW(L"TarnApi.dll");
    }
    if (host == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<WriteConfigurationFunction>(
        reinterpret_cast<void*>(GetProcAddressLogged(host, "WriteConfigurationToDrawing")));
}

}  // namespace

std::wstring DrawingText(const std::vector<std::wstring>& lines)
{
    std::wstring text;
    for (const std::wstring& line : lines) {
        if (!line.empty() && (line.front() == L';' || line.front() == L'/')) {
            break;
        }
        if (!line.empty()) {
            text += line;
            text += L"\r\n";
        }
    }
    return text;
}

std::wstring DrawingStorageName(std::wstring_view file)
{
    const size_t slash = file.find_last_of(L"\\/");
    std::wstring name(slash == std::wstring_view::npos ? file : file.substr(slash + 1));
    for (const wchar_t* extension : {L".dat", L".def", L".cfg", L".ini", L".txt"}) {
        if (EndsWithNoCase(name, extension)) {
            name.resize(name.size() - 4);
            break;
        }
    }
    if (!name.empty()) {
        ::CharUpperBuffW(name.data(), static_cast<DWORD>(name.size()));
    }
    return name;
}

int HandOverToDrawing(std::wstring_view file, const std::vector<std::wstring>& lines)
{
    EntryPoint& entryPoint = TheEntryPoint();
    WriteConfigurationFunction function = nullptr;
    {
        std::lock_guard<std::mutex> lock(entryPoint.mutex);
        if (!entryPoint.resolved) {
            entryPoint.function = Resolve();
            entryPoint.resolved = true;
        }
        function = entryPoint.function;
    }
    if (function == nullptr || file.empty()) {
        return 0;
    }
    const std::wstring name = DrawingStorageName(file);
    const std::wstring text = DrawingText(lines);
    return function(name.c_str(), text.c_str());
}

void ForgetDrawingEntryPoint()
{
    EntryPoint& entryPoint = TheEntryPoint();
    std::lock_guard<std::mutex> lock(entryPoint.mutex);
    entryPoint.resolved = false;
    entryPoint.function = nullptr;
}

}  // namespace tarn
