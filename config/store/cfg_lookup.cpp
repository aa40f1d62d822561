// Lookups and changes of CCfgReader: GetValue, GetSection, SetValue and
// DeleteValue over the sorted indexes, with the central store answering
// what this store lacks.

#include <algorithm>

#include "config/paths/cfg_folder_values.h"
#include "config/store/cfg_reader.h"
#include "config/store/cfg_syntax.h"
#include "support/name_compare.h"

namespace {

// A line break splits the line; a zero character ends the whole text when
// the file is read, so every line behind it would be lost.
bool HoldsLineEnd(std::wstring_view text)
{
    return text.find_first_of(std::wstring_view(L"\r\n\0", 3)) != std::wstring_view::npos;
}

// Text that a settings line cannot carry: it would come back as other
// sections, keys or lines after the next load. A key that starts with '['
// (once stripped) would come back as a section header taking over the
// entries below it.
bool IsStorable(std::wstring_view section, std::wstring_view key, std::wstring_view value)
{
    const std::wstring_view strippedKey = tarn::cfg::Strip(key);
    return !HoldsLineEnd(section) && !HoldsLineEnd(key) && !HoldsLineEnd(value) &&
           section.find(L']') == std::wstring_view::npos && key.find(L'=') == std::wstring_view::npos &&
           !tarn::cfg::IsHeaderLine(strippedKey);
}

bool IsCommentedKey(std::wstring_view key)
{
    return key.starts_with(L";;") || key.starts_with(L"//");
}

}  // namespace

int CCfgReader::GetValue(std::wstring& value, tarn::TextArg section, tarn::TextArg key,
                         const wchar_t* defaultValue)
{
    value = defaultValue ? defaultValue : L"";
    const size_t s = FindSection(section);
    if (s == kNotFound) {
        return m_Central ? m_Central->GetValue(value, section, key, defaultValue) : 0;
    }
    const size_t k = FindKey(s, key);
    if (k == kNotFound) {
        if (m_Central) {
            return m_Central->GetValue(value, section, key, defaultValue);
        }
        return defaultValue ? 1 : 0;
    }
    std::wstring_view entryKey;
    std::wstring_view entryValue;
    tarn::cfg::SplitEntry(m_Data[static_cast<size_t>(m_VariablesSortedIndexArrays[s][k])], entryKey, entryValue);
    value = IsFolderFile() ? tarn::ConvertFolderFileValue(entryValue, false) : std::wstring(entryValue);
    return 1;
}

int CCfgReader::GetSection(std::vector<std::wstring>& keys, std::vector<std::wstring>& values,
                           tarn::TextArg section, int includeCentral)
{
    const size_t s = FindSection(section);
    if (s == kNotFound) {
        return m_Central && includeCentral == 1 ? m_Central->GetSection(keys, values, section, includeCentral) : 0;
    }
    const bool folderFile = IsFolderFile();
    for (const uint64_t line : m_VariablesIndexArrays[s]) {
        std::wstring_view key;
        std::wstring_view value;
        tarn::cfg::SplitEntry(m_Data[static_cast<size_t>(line)], key, value);
        keys.emplace_back(key);
        values.push_back(folderFile ? tarn::ConvertFolderFileValue(value, false) : std::wstring(value));
    }
    if (m_Central && includeCentral == 1) {
        m_Central->GetSection(keys, values, section, includeCentral);
    }
    return 1;
}

int CCfgReader::SetValue(tarn::TextArg section, tarn::TextArg key, tarn::TextArg value)
{
    if (section.empty() || key.empty() || !IsStorable(section, key, value)) {
        return 0;
    }
    if (IsCommentedKey(key) && SetCommentedValue(section, key, value)) {
        return 1;
    }
    // Any other key that starts like a comment would be written as one and
    // vanish on the next load.
    if (tarn::cfg::IsCommentLine(tarn::cfg::Strip(key))) {
        return 0;
    }
    const std::wstring stored =
        IsFolderFile() ? tarn::ConvertFolderFileValue(value, true) : std::wstring(value);
    std::wstring current;
    if (GetValue(current, section, key) == 1 && current == stored) {
        return 1;
    }

    size_t line = 0;
    size_t s = FindSection(section);
    if (s == kNotFound) {
        if (!m_Data.empty() && !m_Data.back().empty()) {
            m_Data.emplace_back();
        }
        const uint64_t header = m_Data.size();
        m_Data.push_back(L"[" + std::wstring(section) + L"]");
        s = AddSection(std::wstring(section), header);
        line = m_Data.size();
        m_Data.push_back(std::wstring(key) + L"=");
        m_VariablesStringArrays[s].emplace_back(key);
        m_VariablesSortedIndexArrays[s].push_back(line);
        m_VariablesIndexArrays[s].push_back(line);
    } else if (const size_t k = FindKey(s, key); k != kNotFound) {
        line = static_cast<size_t>(m_VariablesSortedIndexArrays[s][k]);
    } else {
        // New keys go directly under the header, ahead of the section's other entries.
        line = static_cast<size_t>(m_KeySortedIndex[s]) + 1;
        InsertLine(line, std::wstring(key) + L"=");
        const size_t at = tarn::LowerBoundNoCase(m_VariablesStringArrays[s], key);
        m_VariablesStringArrays[s].emplace(m_VariablesStringArrays[s].begin() + static_cast<std::ptrdiff_t>(at), key);
        m_VariablesSortedIndexArrays[s].insert(
            m_VariablesSortedIndexArrays[s].begin() + static_cast<std::ptrdiff_t>(at), line);
        m_VariablesIndexArrays[s].insert(m_VariablesIndexArrays[s].begin(), line);
    }
    ReplaceEntryValue(line, stored);
    m_HasChanged = 1;
    return 1;
}

int CCfgReader::DeleteValue(tarn::TextArg section, tarn::TextArg key)
{
    if (section.empty()) {
        return 0;
    }
    const size_t s = FindSection(section);
    if (s == kNotFound) {
        return 1;
    }
    const size_t k = FindKey(s, key);
    if (k == kNotFound) {
        return 1;
    }
    const uint64_t line = m_VariablesSortedIndexArrays[s][k];
    m_VariablesStringArrays[s].erase(m_VariablesStringArrays[s].begin() + static_cast<std::ptrdiff_t>(k));
    m_VariablesSortedIndexArrays[s].erase(m_VariablesSortedIndexArrays[s].begin() + static_cast<std::ptrdiff_t>(k));
    std::vector<uint64_t>& fileOrder = m_VariablesIndexArrays[s];
    // The file-order lines ascend: new keys enter right under the header, ahead of all others.
    const auto at = std::lower_bound(fileOrder.begin(), fileOrder.end(), line);
    if (at != fileOrder.end() && *at == line) {
        fileOrder.erase(at);
    }
    RemoveLine(static_cast<size_t>(line));
    m_HasChanged = 1;
    return 1;
}

void CCfgReader::ReplaceEntryValue(size_t line, std::wstring_view value)
{
    std::wstring& text = m_Data[line];
    const size_t equals = text.find(L'=');
    text.resize(equals + 1);
    text += value;
}

bool CCfgReader::SetCommentedValue(std::wstring_view section, std::wstring_view key, std::wstring_view value)
{
    const std::wstring header = L"[" + std::wstring(section) + L"]";
    const auto headerLine = std::find_if(m_Data.begin(), m_Data.end(), [&](const std::wstring& line) {
        return line.size() == header.size() && tarn::EqualsNoCase(line, header);
    });
    if (headerLine == m_Data.end()) {
        return false;
    }
    const std::wstring prefix = std::wstring(key) + L"=";
    for (auto line = headerLine + 1; line != m_Data.end(); ++line) {
        if (line->empty()) {
            continue;
        }
        if (tarn::cfg::IsHeaderLine(*line)) {
            break;
        }
        if (tarn::StartsWithNoCase(*line, prefix)) {
            std::wstring replaced = prefix + std::wstring(value);
            if (replaced != *line) {
                *line = std::move(replaced);
                m_HasChanged = 1;
            }
            return true;
        }
    }
    return false;
}
