// Loading a CCfgReader: registry or file, the retried open of a file that
// another program holds, decoding with detection and parsing into lines.

#include <windows.h>

#include <new>

#include "config/store/cfg_reader.h"
#include "config/store/cfg_registry.h"
#include "config/store/cfg_syntax.h"
#include "config/text/text_file.h"
#include "support/file_system.h"
#include "support/name_compare.h"
#include "support/poll_retry.h"
#include "support/trace.h"

namespace {

constexpr uint32_t kRetryIntervalMs = 100;
constexpr int kSixtyFourBitView = 0x100;

}  // namespace

int CCfgReader::Load(tarn::TextArg file)
{
    if (!file.empty()) {
        m_File = file;
    }
    if (m_File.empty()) {
        return 0;
    }
    const int registryFlags = m_IsRegistry;
    Reset();
    m_IsRegistry = registryFlags;
    m_FileType = TextFileType::Ansi;
    m_HasVarPath = -1;

    try {
        if (tarn::IsRegistryPath(m_File)) {
            if (LoadFromRegistry() == 1) {
                m_IsInit = 1;
                m_IsRegistry = 1 | (registryFlags & kSixtyFourBitView);
                m_Original = tarn::cfg::BuildSaveText(m_Data);
                IndexLines();
                return m_IsInit;
            }
            // A key that cannot be opened is a missing file, never a file of
            // that name in the current folder.
            m_Data.clear();
            m_IsInit = 1;
            return m_IsInit;
        }
        m_IsInit = LoadFile();
    } catch (const std::bad_alloc&) {
        // A text too big for memory leaves an uninitialised store, never a half-built one.
        Reset();
        m_IsRegistry = registryFlags;
    }
    return m_IsInit;
}

int CCfgReader::LoadFile()
{
    // Relative names are never loaded or saved.
    if (m_File.find(L'\\') == std::wstring::npos) {
        return 0;
    }
    if (!FileExists(m_File.c_str())) {
        return 1;  // an empty store; the first save creates the file
    }
    std::wstring text;
    TextFileType::Type type = TextFileType::Ansi;
    DWORD error = ERROR_SUCCESS;
    const bool read = tarn::RetryUntilTimeout(
        m_Timeout, kRetryIntervalMs,
        [&] {
            if (ReadBuffer(m_File.c_str(), text, nullptr, nullptr, type) != 0) {
                return true;
            }
            error = ::GetLastError();
            return false;
        },
        // The reader reports Ansi when it could not open the file (typically
        // another program holds it); anything else is no reason to wait.
        [&] { return type == TextFileType::Ansi && FileExists(m_File.c_str()); });
    if (!read) {
        // An empty file opens and then fails to read: that is an empty store.
        if (type == TextFileType::Undetermined && GetFileSizeByName(m_File.c_str()) == 0) {
            return 1;
        }
        tarn::Trace(L"settings store %ls cannot be read within %lld ms (error %lu)", m_File.c_str(),
                    static_cast<long long>(m_Timeout), error);
        return 0;
    }
    m_FileType = type;
    if (tarn::StartsWithNoCase(text, L"REGEDIT4")) {
        text = ConvertRegeditText(text);
    }
    ParseText(text);
    return 1;
}

void CCfgReader::ParseText(std::wstring_view text)
{
    std::vector<std::wstring> lines;
    ReadArrayFromBuffer(text.data(), lines, static_cast<int64_t>(text.size()));
    m_Data.clear();
    m_Data.reserve(lines.size());
    for (const std::wstring& line : lines) {
        const std::wstring_view stripped = tarn::cfg::Strip(line);
        m_Data.emplace_back(stripped);
    }
    m_Original = tarn::cfg::BuildSaveText(m_Data);
    IndexLines();
}
