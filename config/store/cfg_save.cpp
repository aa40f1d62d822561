// Saving a CCfgReader: the normalised text, the skipped write of an
// unchanged text, registry and drawing hand-over, and the retried write of a
// file that another program holds. An edit is taken as saved only after a
// successful write, so a failed save leaves it pending for the next one.

#include <windows.h>

#include <new>
#include <string>

#include "config/store/cfg_reader.h"
#include "config/store/cfg_registry.h"
#include "config/store/cfg_syntax.h"
#include "config/text/text_file.h"
#include "support/file_replace.h"
#include "support/file_system.h"
#include "support/poll_retry.h"
#include "support/trace.h"

namespace {

constexpr uint32_t kRetryIntervalMs = 100;

// The encoding a text is written in and its bytes: the file's own encoding,
// unless the readers would take those bytes for another one. Loading drops
// leading blanks and empty lines, so a file read as ANSI may come to start
// with "<?xml" (written as UTF-8 without mark, as the readers take it) or
// with the bytes of a byte-order mark, and a UTF-8 file read for its "<?xml"
// may lose it through edits: both are written as UTF-8 with mark, so that
// the text reads back as it was saved.
bool EncodeForReading(std::wstring_view text, TextFileType::Type& type, std::string& bytes)
{
    if (type == TextFileType::Undetermined) {
        type = TextFileType::Ansi;
    }
    if (!tarn::EncodeTextFile(text, type, bytes)) {
        return false;
    }
    const TextFileType::Type read = tarn::DetectTextFileType(bytes);
    // Encodings the readers never detect are read as ANSI; they stay as they are.
    if (read == type || (read == TextFileType::Ansi && type != TextFileType::Utf8NoBom)) {
        return true;
    }
    const bool singleByte = type == TextFileType::Ansi || type == TextFileType::Oem;
    type = singleByte && read == TextFileType::Utf8NoBom ? TextFileType::Utf8NoBom : TextFileType::Utf8;
    return tarn::EncodeTextFile(text, type, bytes);
}

// Repeats a write of the store's file while another program holds it, up to
// `timeoutMs`; a write that never succeeds leaves a trace line.
template <class Write>
bool WriteRetrying(const std::wstring& file, int64_t timeoutMs, const wchar_t* action, Write&& write)
{
    DWORD error = ERROR_SUCCESS;
    const bool written = tarn::RetryUntilTimeout(
        timeoutMs, kRetryIntervalMs,
        [&] {
            if (write()) {
                return true;
            }
            error = ::GetLastError();
            return false;
        },
        [&] { return FileExists(file.c_str()) != 0; });
    if (!written) {
        tarn::Trace(L"settings store %ls cannot be %ls within %lld ms (error %lu)", file.c_str(), action,
                    static_cast<long long>(timeoutMs), error);
    }
    return written;
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
        // Nothing but the byte-order mark stays, so the file keeps its encoding.
        return WriteFileText(text);
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
    if (m_File.find(L'\\') == std::wstring::npos) {
        return 0;
    }
    TextFileType::Type type = m_FileType;
    std::string bytes;
    if (!EncodeForReading(text, type, bytes)) {
        tarn::Trace(L"Cannot encode the text of %ls in encoding %d", m_File.c_str(), static_cast<int>(type));
        return 0;
    }
    if (!WriteRetrying(m_File, m_Timeout, L"saved", [&] { return tarn::WriteFileReplacing(m_File, bytes); })) {
        return 0;
    }
    m_FileType = type;
    return 1;
}
