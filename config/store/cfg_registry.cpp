// The settings store's registry and drawing back-ends (see cfg_registry.h).
//
// A key tree becomes sections: "\" for the configured key, the relative path
// for each subkey ("Sub", "Sub\Deeper"), one entry per value ("RegDefaultValue"
// for the unnamed one, "_ArMember_" entries for the strings of a multi-string,
// lower-case hexadecimal text for binary data), with each value's type
// recorded. Saving writes every entry back with its recorded type, creating
// keys as needed and deleting nothing. Values whose names or keys the line
// syntax cannot carry (an '=' or a leading '[' in a value name, a ']' in a key
// name, blanks at either end, a name like a member of a multi-string beside
// it, "SimpleList" with a yes) are left out of the store, so a save can never
// write them under another name or with other data.

#include "config/store/cfg_registry.h"

#include <windows.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <set>

#include "config/store/cfg_reader.h"
#include "config/store/cfg_syntax.h"
#include "config/store/drawing_handover.h"
#include "config/store/regedit_text.h"
#include "support/hex_digit.h"
#include "support/name_compare.h"
#include "support/registry.h"
#include "support/text_format.h"
#include "support/trace.h"
#include "support/unique_handle.h"

namespace tarn {

bool IsRegistryPath(std::wstring_view name)
{
    static constexpr std::wstring_view kRoots[] = {
        L"HKEY_CURRENT_USER\\", L"HKEY_CLASSES_ROOT\\", L"HKEY_LOCAL_MACHINE\\",
        L"HKEY_USERS\\",        L"HKEY_CURRENT_CONFIG\\",
    };
    for (const std::wstring_view root : kRoots) {
        if (StartsWithNoCase(name, root)) {
            return true;
        }
    }
    return false;
}

}  // namespace tarn

namespace {

constexpr int kSixtyFourBitView = 0x100;
constexpr wchar_t kDefaultValueName[] = L"RegDefaultValue";
constexpr std::wstring_view kArrayMember = L"_ArMember_";
constexpr wchar_t kConfiguredKeySection[] = L"\\";

struct NoCaseLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const { return tarn::CompareNoCase(a, b) < 0; }
};
using NameSet = std::set<std::wstring, NoCaseLess>;

bool HasBlankEnds(std::wstring_view text)
{
    return tarn::cfg::Strip(text).size() != text.size();
}

// A value name that an entry line carries unchanged.
bool IsStorableValueName(std::wstring_view name)
{
    return !name.empty() && name.find(L'=') == std::wstring_view::npos && !HasBlankEnds(name) &&
           !tarn::cfg::IsCommentLine(name) && !tarn::cfg::IsHeaderLine(name) &&
           !tarn::EqualsNoCase(name, kDefaultValueName);
}

// A subkey path that a section header carries unchanged.
bool IsStorableSection(std::wstring_view path)
{
    return !path.empty() && path.find(L']') == std::wstring_view::npos && !HasBlankEnds(path);
}

std::wstring HexText(const std::vector<BYTE>& data)
{
    static constexpr wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring text;
    text.reserve(data.size() * 2);
    for (const BYTE byte : data) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

// Two hexadecimal digits per byte; nothing for any other text.
std::optional<std::vector<BYTE>> BytesFromHex(std::wstring_view text)
{
    if (text.size() % 2 != 0) {
        return std::nullopt;
    }
    std::vector<BYTE> bytes;
    bytes.reserve(text.size() / 2);
    for (size_t i = 0; i < text.size(); i += 2) {
        const int high = tarn::HexDigitValue(text[i]);
        const int low = tarn::HexDigitValue(text[i + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<BYTE>(high * 16 + low));
    }
    return bytes;
}

// The strings of REG_MULTI_SZ data, up to the empty string that ends them.
std::vector<std::wstring> MultiStrings(const std::vector<BYTE>& data)
{
    std::wstring all(data.size() / sizeof(wchar_t), L'\0');
    memcpy(all.data(), data.data(), all.size() * sizeof(wchar_t));
    std::vector<std::wstring> strings;
    for (size_t start = 0; start < all.size();) {
        const size_t end = std::min(all.find(L'\0', start), all.size());
        if (end == start) {
            break;
        }
        strings.push_back(all.substr(start, end - start));
        start = end + 1;
    }
    return strings;
}

// The C library's base-10 reading, saturated at the given limits.
int64_t ParseDecimal(const std::wstring& text, int64_t lowest, int64_t highest)
{
    const long long parsed = std::wcstoll(text.c_str(), nullptr, 10);
    return parsed < lowest ? lowest : parsed > highest ? highest : parsed;
}

std::wstring ArrayMemberName(std::wstring_view name, size_t index)
{
    return std::wstring(name) + std::wstring(kArrayMember) + std::to_wstring(index);
}

// The array name of a member name ("Files" of "Files_ArMember_2"); empty for
// any other name.
std::wstring_view ArrayNameOfMember(std::wstring_view name)
{
    const size_t member = name.rfind(kArrayMember);
    const size_t digits = member == std::wstring_view::npos ? member : member + kArrayMember.size();
    if (member == std::wstring_view::npos || member == 0 || digits == name.size() ||
        name.find_first_not_of(L"0123456789", digits) != std::wstring_view::npos) {
        return std::wstring_view();
    }
    return name.substr(0, member);
}

// The entries one registry value gives: name and text each; none for types the
// store does not hold.
std::vector<std::pair<std::wstring, std::wstring>> ValueEntries(const std::wstring& name, DWORD type,
                                                                const std::vector<BYTE>& data)
{
    std::vector<std::pair<std::wstring, std::wstring>> entries;
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
        entries.emplace_back(name, tarn::RegistryString(data));
        break;
    case REG_BINARY:
        entries.emplace_back(name, HexText(data));
        break;
    case REG_DWORD:
        if (data.size() >= sizeof(int32_t)) {
            int32_t number = 0;
            memcpy(&number, data.data(), sizeof(number));
            entries.emplace_back(name, tarn::FormatText(L"%d", number));
        }
        break;
    case REG_QWORD:
        if (data.size() >= sizeof(int64_t)) {
            int64_t number = 0;
            memcpy(&number, data.data(), sizeof(number));
            entries.emplace_back(name, tarn::FormatText(L"%lld", static_cast<long long>(number)));
        }
        break;
    case REG_MULTI_SZ: {
        const std::vector<std::wstring> strings = MultiStrings(data);
        for (size_t i = 0; i < strings.size(); ++i) {
            entries.emplace_back(i == 0 ? name : ArrayMemberName(name, i), strings[i]);
        }
        break;
    }
    default:
        break;
    }
    return entries;
}

// Appends the entries of one key's values, recording each value's type in the
// store under `section`.
void ReadRegistryValues(HKEY key, const std::wstring& section, std::vector<std::wstring>& lines, CCfgReader& store)
{
    std::vector<tarn::RegistryValue> values;
    for (DWORD index = 0;; ++index) {
        tarn::RegistryValue value;
        const LSTATUS status = tarn::EnumRegistryValue(key, index, value);
        if (status == ERROR_MORE_DATA) {
            continue;
        }
        if (status != ERROR_SUCCESS) {
            break;
        }
        values.push_back(std::move(value));
    }
    // A value named like a member of a multi-string ("Multi_ArMember_1" beside
    // "Multi") is left out: the store would read it as that member, or a save
    // would join it into the multi-string.
    NameSet multiStrings;
    for (const tarn::RegistryValue& value : values) {
        if (value.type == REG_MULTI_SZ) {
            multiStrings.insert(value.name.empty() ? std::wstring(kDefaultValueName) : value.name);
        }
    }

    for (const tarn::RegistryValue& value : values) {
        std::wstring name = value.name;
        if (name.empty()) {
            name = kDefaultValueName;
        } else if (!IsStorableValueName(name) || multiStrings.count(std::wstring(ArrayNameOfMember(name))) != 0) {
            continue;
        }
        const auto entries = ValueEntries(name, value.type, value.data);
        // An unnamed value without data is the key's unset default.
        if (value.name.empty() && (entries.empty() || entries.front().second.empty())) {
            continue;
        }
        // A "SimpleList" entry that reads as yes would switch the store into
        // simple-list mode and be rewritten to 0, which a save writes back.
        const auto switchesMode = [](const auto& entry) {
            return tarn::cfg::IsSimpleListSwitch(entry.first, tarn::cfg::Strip(entry.second));
        };
        if (std::any_of(entries.begin(), entries.end(), switchesMode)) {
            continue;
        }
        for (const auto& [entryName, text] : entries) {
            lines.push_back(entryName + L"=" + text);
        }
        if (!entries.empty()) {
            store.SetValueType(section, name, value.type);
        }
    }
}

// Appends one key's section and entries, then those of its subkeys (depth
// first) down to the deepest level a registry tree can have, which ends a
// symbolic link that leads back up. `depth` counts levels below the
// configured key.
void ReadRegistryKey(HKEY key, const std::wstring& relativePath, int depth, std::vector<std::wstring>& lines,
                     CCfgReader& store, int is64)
{
    const std::wstring section = relativePath.empty() ? kConfiguredKeySection : relativePath;
    if (!lines.empty()) {
        lines.emplace_back();
    }
    lines.push_back(L"[" + section + L"]");
    ReadRegistryValues(key, section, lines, store);
    if (depth >= tarn::kMaxRegistryDepth) {
        return;
    }

    std::vector<std::wstring> subkeys;
    tarn::EnumRegistrySubkeys(key, subkeys);
    for (const std::wstring& subkey : subkeys) {
        const std::wstring childPath = relativePath.empty() ? subkey : relativePath + L"\\" + subkey;
        if (!IsStorableSection(childPath)) {
            continue;
        }
        tarn::UniqueRegKey child(OpenRegistryKey(key, subkey.c_str(), 0, is64));
        if (child) {
            ReadRegistryKey(child.Get(), childPath, depth + 1, lines, store, is64);
        }
    }
}

// Opens or creates a key for saving: full access, failing that write access.
HKEY OpenForSaving(HKEY parent, const wchar_t* path, int is64)
{
    HKEY key = OpenRegistryKey(parent, path, 1, is64, KEY_ALL_ACCESS);
    return key ? key : OpenRegistryKey(parent, path, 1, is64, KEY_WRITE);
}

// What one entry writes: a type and the data in SetRegistryValue's units.
struct ValueToWrite {
    DWORD type = REG_SZ;
    std::vector<BYTE> bytes;           // binary, DWORD and QWORD data
    std::wstring text;                 // string data; multi-strings with their terminators
    std::vector<std::wstring> strings; // the strings of a multi-string
};

// True when the registry holds the value already as the store would write it:
// then writing is skipped, which leaves what the line model cannot hold (blanks
// around a text, data after a terminator) as it was.
bool AlreadyStored(HKEY key, const wchar_t* name, const ValueToWrite& value)
{
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    if (tarn::QueryRegistryValue(key, name, type, data) != ERROR_SUCCESS || type != value.type) {
        return false;
    }
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
        return tarn::cfg::Strip(tarn::RegistryString(data)) == value.text;
    case REG_MULTI_SZ: {
        std::vector<std::wstring> strings = MultiStrings(data);
        for (std::wstring& string : strings) {
            string = std::wstring(tarn::cfg::Strip(string));
        }
        return strings == value.strings;
    }
    default:
        return data == value.bytes;
    }
}

// The first entry of each name, which is the one the store reads; later
// entries of a name are not written.
using FirstEntries = std::map<std::wstring, size_t, NoCaseLess>;

FirstEntries FindFirstEntries(const std::vector<std::wstring>& keys, size_t count)
{
    FirstEntries first;
    for (size_t i = 0; i < count; ++i) {
        first.emplace(keys[i], i);
    }
    return first;
}

// A number of the recorded width in the registry's byte order.
template <class Number>
std::vector<BYTE> NumberBytes(Number number)
{
    std::vector<BYTE> bytes(sizeof(number));
    memcpy(bytes.data(), &number, sizeof(number));
    return bytes;
}

// What an entry's text writes under the type recorded for it; nothing when
// writing would lose stored data (binary data given as other than hexadecimal
// text). A multi-string's further strings are the entries "<name>_ArMember_1",
// "_2", ... among `values`, up to the first one missing.
std::optional<ValueToWrite> ValueForEntry(const std::wstring& name, const std::wstring& text, uint64_t recorded,
                                          const std::vector<std::wstring>& values, const FirstEntries& first)
{
    ValueToWrite value;
    // An empty text is written as an empty string, except where the recorded
    // type holds an empty value itself: a round trip must not turn another
    // program's empty binary, expandable or multi-string value into a plain
    // string.
    const bool emptyKeepsType = recorded == REG_BINARY || recorded == REG_EXPAND_SZ || recorded == REG_MULTI_SZ;
    if (text.empty() && !emptyKeepsType) {
        value.type = REG_SZ;
    } else if (recorded == REG_DWORD) {
        value.type = REG_DWORD;
        value.bytes = NumberBytes(static_cast<int32_t>(ParseDecimal(text, INT32_MIN, INT32_MAX)));
    } else if (recorded == REG_QWORD) {
        value.type = REG_QWORD;
        value.bytes = NumberBytes(ParseDecimal(text, LLONG_MIN, LLONG_MAX));
    } else if (recorded == REG_BINARY) {
        std::optional<std::vector<BYTE>> bytes = BytesFromHex(text);
        if (!bytes) {
            return std::nullopt;
        }
        value.type = REG_BINARY;
        value.bytes = std::move(*bytes);
    } else if (recorded == REG_MULTI_SZ) {
        value.type = REG_MULTI_SZ;
        value.strings.push_back(text);
        for (size_t index = 1;; ++index) {
            const auto member = first.find(ArrayMemberName(name, index));
            if (member == first.end()) {
                break;
            }
            value.strings.push_back(values[member->second]);
        }
        for (const std::wstring& element : value.strings) {
            value.text += element;
            value.text += L'\0';
        }
        value.text += L'\0';
    } else {
        value.type = recorded == REG_EXPAND_SZ ? REG_EXPAND_SZ : REG_SZ;
    }
    if (value.type == REG_SZ || value.type == REG_EXPAND_SZ) {
        value.text = text;
    }
    return value;
}

// Writes one value unless the registry holds it already as it would be
// written; true when it is stored.
bool WriteValue(HKEY key, const wchar_t* valueName, const ValueToWrite& value)
{
    if (AlreadyStored(key, valueName, value)) {
        return true;
    }
    LSTATUS status;
    if (value.type == REG_MULTI_SZ) {
        if (value.text.size() > MAXDWORD / sizeof(wchar_t)) {
            return false;
        }
        status = SetRegistryValue(key, valueName, REG_MULTI_SZ, value.text.data(),
                                  static_cast<DWORD>(value.text.size()));
    } else if (value.type == REG_SZ || value.type == REG_EXPAND_SZ) {
        status = SetRegistryValue(key, valueName, value.type, value.text.c_str(), 0);
    } else {
        status = SetRegistryValue(key, valueName, value.type, value.bytes.data(),
                                  static_cast<DWORD>(value.bytes.size()));
    }
    if (status != ERROR_SUCCESS) {
        tarn::Trace(L"Registry value \"%ls\" cannot be written (error %ld)", valueName ? valueName : L"",
                    static_cast<long>(status));
    }
    return status == ERROR_SUCCESS;
}

// Writes one section's entries into its key; true when every write succeeded.
bool WriteRegistryKey(HKEY configuredKey, const std::wstring& section, const std::vector<std::wstring>& keys,
                      const std::vector<std::wstring>& values, const CCfgReader& store, int is64)
{
    tarn::UniqueRegKey opened;
    HKEY key = configuredKey;
    if (section.empty() || section.front() != L'\\') {
        opened.Reset(OpenForSaving(configuredKey, section.c_str(), is64));
        key = opened.Get();
    }
    if (key == nullptr) {
        tarn::Trace(L"Registry key %ls cannot be opened for saving (error %lu)", section.c_str(), ::GetLastError());
        return false;
    }
    const size_t count = std::min(keys.size(), values.size());
    const FirstEntries first = FindFirstEntries(keys, count);
    bool ok = true;
    for (size_t i = 0; i < count; ++i) {
        const std::wstring& name = keys[i];
        if (name.empty() || first.at(name) != i) {
            continue;
        }
        // A member of a multi-string is written with the multi-string.
        const std::wstring_view arrayName = ArrayNameOfMember(name);
        if (!arrayName.empty() && store.GetValueType(section, arrayName) == REG_MULTI_SZ) {
            continue;
        }
        const std::optional<ValueToWrite> value =
            ValueForEntry(name, values[i], store.GetValueType(section, name), values, first);
        if (!value) {
            continue;  // not hexadecimal: writing anything would lose the stored bytes
        }
        const wchar_t* valueName = tarn::EqualsNoCase(name, kDefaultValueName) ? nullptr : name.c_str();
        ok = WriteValue(key, valueName, *value) && ok;
    }
    return ok;
}

// The root and key path of a store's registry path; null for a bare root,
// whose values a store never reads or writes.
HKEY StoreKeyPath(const std::wstring& file, std::wstring& keyPath)
{
    std::wstring rootName;
    HKEY root = SplitRegistryPath(file.c_str(), rootName, keyPath);
    return keyPath.empty() ? nullptr : root;
}

}  // namespace

int CCfgReader::LoadFromRegistry()
{
    std::wstring keyPath;
    HKEY root = StoreKeyPath(m_File, keyPath);
    if (root == nullptr) {
        return 0;
    }
    const int is64 = (m_IsRegistry & kSixtyFourBitView) ? 1 : 0;
    tarn::UniqueRegKey key(OpenRegistryKey(root, keyPath.c_str(), 0, is64));
    if (!key) {
        return 0;
    }
    ReadRegistryKey(key.Get(), std::wstring(), 0, m_Data, *this, is64);
    return 1;
}

int CCfgReader::SaveToRegistry()
{
    std::wstring keyPath;
    HKEY root = StoreKeyPath(m_File, keyPath);
    if (root == nullptr) {
        return 0;
    }
    const int is64 = (m_IsRegistry & kSixtyFourBitView) ? 1 : 0;
    tarn::UniqueRegKey key(OpenForSaving(root, keyPath.c_str(), is64));
    if (!key) {
        tarn::Trace(L"settings store %ls: the registry key cannot be opened for saving (error %lu)", m_File.c_str(),
                    ::GetLastError());
        return 0;
    }
    // Every section is tried; one that fails makes the whole save fail, so
    // the edit stays pending for the next save.
    bool allWritten = !m_KeyStrings.empty();
    const std::vector<std::wstring> sections = m_KeyStrings;
    for (const std::wstring& section : sections) {
        std::vector<std::wstring> keys;
        std::vector<std::wstring> values;
        GetSection(keys, values, section, 0);
        if (!WriteRegistryKey(key.Get(), section, keys, values, *this, is64)) {
            // The failed open or write traced its status above.
            tarn::Trace(L"Cannot write section [%ls] of %ls to the registry", section.c_str(), m_File.c_str());
            allWritten = false;
        }
    }
    return allWritten ? 1 : 0;
}

std::wstring CCfgReader::ConvertRegeditText(std::wstring_view text)
{
    return tarn::ConvertRegeditText(text);
}

int CCfgReader::WriteToDrawing()
{
    return tarn::HandOverToDrawing(m_File, m_Data);
}
