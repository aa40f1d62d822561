// Saving a CCfgReader: the normalised text, the skipped write of an
// unchanged text, registry and drawing hand-over, and the retried write of a
// file that another program holds. An edit is taken as saved only after a
// successful write, so a failed save leaves it pending for the next one.

#include <windows.h>

#include <climits>
#include <new>

#include "config/store/cfg_reader.h"
#include "config/store/cfg_registry.h"
#include "config/store/cfg_syntax.h"
#include "config/text/text_file.h"
#include "support/file_system.h"
#include "support/poll_retry.h"

namespace {

constexpr uint32_t kRetryIntervalMs = 100;

// The encoding a text is written in: the one its file was read in, except
// that every reader takes a file without mark that starts with "<?xml" for
// UTF-8. A file read as ANSI comes to start so when loading strips the blanks
// or empty lines before its declaration; it is then written as UTF-8, so that
// its text reads back as it was.
TextFileType::Type TypeToWrite(std::wstring_view text, TextFileType::Type type)
{
    const bool singleByte =
        type == TextFileType::Undetermined || type == TextFileType::Ansi || type == TextFileType::Oem;
    return singleByte && tarn::StartsWithXmlDeclaration(text) ? TextFileType::Utf8NoBom : type;
}

}  // namespace

int CCfgReader::Save(int force)
{
    if (!m_IsInit) {
        return 0;
    }
    try {
        return SaveText(force);
    } catch (const std::bad_alloc&) {
        return 0;  // nothing was taken as saved: the change stays pending
    }
}

int CCfgReader::SaveText(int force)
{
    const std::wstring text = tarn::cfg::BuildSaveText(m_Data);
    const bool registry = tarn::IsRegistryPath(m_File);
    if (text.empty() && !registry) {
        return TruncateFile();
    }
    if (!force && text == m_Original) {
        return 1;
    }
    if (m_IsSavedInDrawing == 1) {
        WriteToDrawing();
    }
    if (registry) {
        const int saved = SaveToRegistry();
        if (saved) {
            m_Original = text;
        }
        return saved;
    }
    if (!WriteFileText(text)) {
        return 0;
    }
    m_Original = text;
    m_HasChanged = 0;
    return 1;
}

int CCfgReader::WriteFileText(const std::wstring& text)
{
    if (m_File.find(L'\\') == std::wstring::npos || text.size() > UINT32_MAX) {
        return 0;
    }
    TextFileType::Type type = TypeToWrite(text, m_FileType);
    const bool written = tarn::RetryUntilTimeout(
        m_Timeout, kRetryIntervalMs,
        [&] { return WriteBuffer(m_File.c_str(), text.c_str(), static_cast<uint32_t>(text.size()), type) != 0; },
        [&] { return FileExists(m_File.c_str()) != 0; });
    if (!written) {
        return 0;
    }
    m_FileType = type;
    return 1;
}

int CCfgReader::TruncateFile()
{
    if (m_File.find(L'\\') == std::wstring::npos) {
        return 0;
    }
    const bool written = tarn::RetryUntilTimeout(
        m_Timeout, kRetryIntervalMs, [&] { return WriteBuffer(m_File.c_str(), L"", 0) != 0; },
        [&] { return FileExists(m_File.c_str()) != 0; });
    return written ? 1 : 0;
}
