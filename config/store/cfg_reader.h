#pragma once
// CCfgReader, the settings store: one object per settings file or registry
// key. It loads the whole text when constructed, answers lookups from sorted
// in-memory indexes, edits its line list in place and writes the whole text
// back on Save or, when changed, on destruction.
//
// The line list m_Data is the truth. Every index refers to it by line number
// and follows it on each insert and delete:
//   m_KeyStrings        section names, sorted (tarn::CompareNoCase)
//   m_KeySortedIndex    header line of each section, parallel to m_KeyStrings
//   m_KeyIndex          header lines in file order
//   m_Variables...[s]   per section s (parallel to m_KeyStrings): the keys in
//                       key order, their entry lines in key order, and the
//                       entry lines in file order.
// Equal keys keep file order among themselves, so the first one in the file
// is the one found, read, changed and deleted.
//
// The exported members take a null section, key, value or file name as an
// empty text.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "config/text/text_file.h"
#include "support/export.h"
#include "support/text_arg.h"

class CCfgReader {
public:
    // An uninitialised store without a file.
    TARN_EXPORT CCfgReader();
    // Binds the store to `file` (a path or a registry path) and loads it.
    // `registryFlags` may hold 0x100: use the 64-bit registry view.
    TARN_EXPORT explicit CCfgReader(tarn::TextArg file, int registryFlags = 0);
    // Saves pending changes (Save without force), then deletes the central store.
    TARN_EXPORT virtual ~CCfgReader();
    CCfgReader(const CCfgReader&) = delete;
    CCfgReader& operator=(const CCfgReader&) = delete;

    // Binds the store to `file` (empty: keep the current name) and reads it:
    // a missing file in an existing folder gives an empty store, a name without
    // a backslash fails, a file held by another program is retried every
    // 100 ms up to m_Timeout. Returns m_IsInit.
    TARN_EXPORT int Load(tarn::TextArg file = std::wstring_view());
    // Empties lines, indexes and registry types; m_IsInit, m_ReadOnly,
    // m_IsRegistry and m_HasChanged become 0, m_Timeout 5000.
    TARN_EXPORT void Reset();
    // Deletes the central store, then Reset.
    TARN_EXPORT void Delete();
    TARN_EXPORT int IsInit() const { return m_IsInit; }
    TARN_EXPORT int IsLocked() const { return m_IsLocked; }
    // Sets the open time-out in milliseconds; returns the previous one (its
    // low 32 bits, sign-extended).
    TARN_EXPORT int64_t SetTimeout(int64_t milliseconds);
    // The characters of `text`, or null when it is empty.
    TARN_EXPORT static const wchar_t* Str(const std::wstring& text);

    // The value of the first entry `key` in `section`. Sets `value` to
    // `defaultValue` (or empty) first. Result 1 when found; for a missing key
    // of an existing section 1 only when a default was given; 0 for a missing
    // section. The central store answers what this store lacks.
    TARN_EXPORT int GetValue(std::wstring& value, tarn::TextArg section, tarn::TextArg key,
                             const wchar_t* defaultValue = nullptr);
    // Appends the keys and values of every entry of `section` in file order
    // (then the central store's, with `includeCentral` 1). 0 when the section
    // is missing everywhere asked.
    TARN_EXPORT int GetSection(std::vector<std::wstring>& keys, std::vector<std::wstring>& values,
                               tarn::TextArg section, int includeCentral = 1);
    // Creates or changes an entry; a new key goes directly under its section
    // header, a new section to the end. 1 also when the value is unchanged;
    // 0 for an empty section or key, and for text that cannot be stored in a
    // line (a line break or zero anywhere, ']' in the section, '=' in the
    // key, a key starting with '[', ';', '/' or ':' other than the ";;" and
    // "//" keys of an existing commented entry).
    TARN_EXPORT int SetValue(tarn::TextArg section, tarn::TextArg key, tarn::TextArg value);
    // Removes the first entry `key` of `section`. 1 also when there is none;
    // 0 for an empty section.
    TARN_EXPORT int DeleteValue(tarn::TextArg section, tarn::TextArg key);
    // Writes the lines back in the encoding they were read in. Without
    // `force` an unchanged text is not written. 1 on success; 0 for an
    // uninitialised store or when the file stays unwritable for m_Timeout,
    // in which case the change stays pending (m_HasChanged 1).
    TARN_EXPORT int Save(int force = 0);

    // The entry as a 32-bit integer (saturating decimal), or with `yesNo` as
    // 0/1 ("True"/"False", numbers nonzero/zero). An absent, empty or "_Null"
    // value gives `defaultValue`. 1 when the section exists, else 0.
    TARN_EXPORT int GetIntValue(int& value, tarn::TextArg section, tarn::TextArg key,
                                int defaultValue = 0, int yesNo = 0);
    TARN_EXPORT int GetInt64Value(int64_t& value, tarn::TextArg section, tarn::TextArg key,
                                  int64_t defaultValue = 0, int yesNo = 0);
    // Writes the low 32 bits of `value` as signed decimal, or with `yesNo`
    // "True"/"False". SetValue's result.
    TARN_EXPORT int SetIntValue(tarn::TextArg section, tarn::TextArg key, int64_t value, int yesNo = 0);
    // The entry's yes/no value, or `defaultValue` when it is missing or no
    // yes/no text; then with `writeDefault` 1 the default is stored as
    // "True"/"False". Empty section or key: the default, nothing read.
    TARN_EXPORT int GetBoolValue(tarn::TextArg section, tarn::TextArg key, int defaultValue = 0,
                                 int writeDefault = 0);
    // 1 for "True"/"1" (*value 1) and "False"/"0" (*value 0), letter case
    // ignored; otherwise 0 and *value -1.
    TARN_EXPORT static int IsBoolValue(const std::wstring& text, int* value = nullptr);
    // Empties `values` and reads key, key_ArMember_1, key_ArMember_2, ... up to
    // the first missing one. 1 when at least one element exists.
    TARN_EXPORT int GetArrayValue(std::vector<std::wstring>& values, tarn::TextArg section,
                                  tarn::TextArg key);
    // Deletes the stored elements from index values.size() on, then writes the
    // elements last to first (so they stand in order under the header). 1
    // when any element was written.
    TARN_EXPORT int SetArrayValue(tarn::TextArg section, tarn::TextArg key,
                                  const std::vector<std::wstring>& values);

    // Attaches a central store that answers lookups this store cannot; this
    // store owns it. The previous one is deleted (with the flag: only when
    // `deleteOld` is 1; otherwise its owner is the caller again). Attaching
    // the store to itself is refused. Returns 1, 0 when refused.
    TARN_EXPORT int SetCentral(CCfgReader* central);
    TARN_EXPORT int SetCentral(CCfgReader* central, int deleteOld);
    // Set m_ReadOnly (stored only), m_IsRegistry (0x100: 64-bit view on the
    // next save) and m_IsSavedInDrawing; each returns the previous value.
    TARN_EXPORT int SetReadOnly(int readOnly);
    TARN_EXPORT int SetRegistryType(int flags);
    TARN_EXPORT int SetSaveToDrawing(int saveToDrawing);

    // Registry value type recorded for `name` in `section`; 1 (REG_SZ) when
    // none is recorded. SetValueType records or replaces it.
    uint64_t GetValueType(std::wstring_view section, std::wstring_view name) const;
    void SetValueType(std::wstring_view section, std::wstring_view name, uint64_t type);

    // Expands the path variables of `path` (ExpandPathVariables, mode 0).
    // Empty path: empty outputs and 0. A path without '%' is the expanded path
    // as it is, the variable form untouched, and 1.
    TARN_EXPORT static int GetPathWithoutVars(std::wstring& variableForm, std::wstring& expandedPath,
                                              const wchar_t* path, int mode = 0);

    // Points `keys` at the sorted section names; 0 for an uninitialised store.
    TARN_EXPORT int GetSortedKeyArray(std::vector<std::wstring>*& keys);
    TARN_EXPORT std::vector<std::wstring>& GetDataArray() { return m_Data; }
    TARN_EXPORT std::vector<std::wstring>& Get_m_Data() { return m_Data; }
    TARN_EXPORT TextFileType::Type& Get_m_FileType() { return m_FileType; }
    TARN_EXPORT std::vector<uint64_t>& Get_m_KeySortedIndex() { return m_KeySortedIndex; }
    TARN_EXPORT std::vector<uint64_t>& Get_m_KeyIndex() { return m_KeyIndex; }
    TARN_EXPORT std::vector<std::wstring>& Get_m_KeyStrings() { return m_KeyStrings; }
    TARN_EXPORT std::vector<std::vector<uint64_t>>& Get_m_VariablesSortedIndexArrays()
    {
        return m_VariablesSortedIndexArrays;
    }
    TARN_EXPORT std::vector<std::vector<uint64_t>>& Get_m_VariablesIndexArrays() { return m_VariablesIndexArrays; }
    TARN_EXPORT std::vector<std::vector<std::wstring>>& Get_m_VariablesStringArrays()
    {
        return m_VariablesStringArrays;
    }
    TARN_EXPORT std::vector<std::wstring>& Get_m_TypesIndex() { return m_TypesIndex; }
    TARN_EXPORT std::vector<uint64_t>& Get_m_Types() { return m_Types; }
    TARN_EXPORT int& Get_m_IsInit() { return m_IsInit; }
    TARN_EXPORT int& Get_m_ReadOnly() { return m_ReadOnly; }
    TARN_EXPORT int& Get_m_IsRegistry() { return m_IsRegistry; }
    TARN_EXPORT int& Get_m_HasChanged() { return m_HasChanged; }
    TARN_EXPORT int& Get_m_IsSavedInDrawing() { return m_IsSavedInDrawing; }
    TARN_EXPORT std::wstring& Get_m_File() { return m_File; }
    TARN_EXPORT int64_t& Get_m_Timeout() { return m_Timeout; }
    TARN_EXPORT std::wstring& Get_m_Original() { return m_Original; }
    TARN_EXPORT CCfgReader* Get_m_Central() { return m_Central.get(); }
    TARN_EXPORT int& Get_m_IsLocked() { return m_IsLocked; }
    TARN_EXPORT int& Get_m_HasVarPath() { return m_HasVarPath; }

private:
    static constexpr size_t kNotFound = static_cast<size_t>(-1);

    // Position of `section` in m_KeyStrings, or kNotFound.
    size_t FindSection(std::wstring_view section) const;
    // Position of the first `key` in the sorted keys of section `s`, or kNotFound.
    size_t FindKey(size_t s, std::wstring_view key) const;
    // Inserts a section at its sorted place with its header line; returns its position.
    size_t AddSection(const std::wstring& name, uint64_t headerLine);
    // Inserts or removes one line of m_Data and shifts every stored line number behind it.
    void InsertLine(size_t at, std::wstring line);
    void RemoveLine(size_t at);
    // Builds every index from m_Data in one pass (simple-list rewriting included).
    void IndexLines();
    // The file rules of Load: missing file, retried open, decoding, parsing.
    int LoadFile();
    // Splits a decoded text into m_Data and indexes it.
    void ParseText(std::wstring_view text);
    // Save after the initialisation check: builds, compares and writes the text.
    int SaveText(int force);
    // Writes `text` in m_FileType's encoding in place of the file, retrying
    // while the file is held; a text the readers would take for another
    // encoding is written as UTF-8 (m_FileType follows). The old file stays
    // whole when the write fails.
    int WriteFileText(const std::wstring& text);
    // Replaces the text after the first '=' of an entry line.
    void ReplaceEntryValue(size_t line, std::wstring_view value);
    // The commented-entry path of SetValue (keys starting ";;" or "//").
    bool SetCommentedValue(std::wstring_view section, std::wstring_view key, std::wstring_view value);
    // 1 when m_File is the folder file whose values hold path variables.
    bool IsFolderFile();

    // Registry and drawing back-ends (config/store/cfg_registry.cpp). A store
    // whose name is a registry path (tarn::IsRegistryPath, by the name alone)
    // keeps its content in a registry key tree instead of a file.
    //
    // From Load, for a registry path: appends the key tree's lines (headers and
    // entries, settings-file syntax) to the empty m_Data, may record value
    // types with SetValueType, and returns 1 when the key could be opened.
    // Load then sets m_IsInit, m_IsRegistry (1, or 0x101 with the 64-bit view
    // flag), m_Original and the indexes. 0: Load gives an initialised, empty
    // store, as for a missing file, and reads no file of that name.
    int LoadFromRegistry();
    // From Save, for a registry path, once the text is known to differ (or the
    // save is forced): writes the sections (GetSection without central,
    // GetValueType) to the key; 1 when at least one section was written. Save
    // then takes the text as saved; m_HasChanged is left as it is.
    int SaveToRegistry();
    // From Load, for a file text starting with "REGEDIT4" (any letter case):
    // the settings-file text to parse instead.
    static std::wstring ConvertRegeditText(std::wstring_view text);
    // From Save before writing, when m_IsSavedInDrawing is 1: hands the text to
    // the host application; its result (0 when absent) is not used, the file is
    // written in any case.
    int WriteToDrawing();

    TextFileType::Type m_FileType = TextFileType::Ansi;
    std::vector<std::wstring> m_Data;
    std::vector<uint64_t> m_KeySortedIndex;
    std::vector<uint64_t> m_KeyIndex;
    std::vector<std::wstring> m_KeyStrings;
    std::vector<std::vector<uint64_t>> m_VariablesSortedIndexArrays;
    std::vector<std::vector<uint64_t>> m_VariablesIndexArrays;
    std::vector<std::vector<std::wstring>> m_VariablesStringArrays;
    std::vector<std::wstring> m_TypesIndex;
    std::vector<uint64_t> m_Types;
    int m_IsInit = 0;
    int m_ReadOnly = 0;
    int m_IsRegistry = 0;
    int m_HasChanged = 0;
    int m_IsSavedInDrawing = 0;
    std::wstring m_File;
    int64_t m_Timeout = 5000;
    std::wstring m_Original;
    std::unique_ptr<CCfgReader> m_Central;
    int m_IsLocked = 0;
    int m_HasVarPath = -1;
};
