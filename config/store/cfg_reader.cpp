// CCfgReader's life cycle and state: construction, destruction, Reset and
// Delete, the central store and the flags.

#include "config/store/cfg_reader.h"

#include <cstdint>

#include "support/name_compare.h"
#include "support/path_text.h"

namespace {

constexpr int64_t kDefaultTimeout = 5000;

}  // namespace

CCfgReader::CCfgReader() = default;

CCfgReader::CCfgReader(tarn::TextArg file, int registryFlags)
    : m_IsRegistry(registryFlags)
{
    Load(file);
}

CCfgReader::~CCfgReader()
{
    if (m_HasChanged == 1) {
        Save(0);
    }
    Reset();
    // m_Central goes with the object; its own destructor saves its changes.
}

void CCfgReader::Reset()
{
    m_Data.clear();
    m_KeySortedIndex.clear();
    m_KeyIndex.clear();
    m_KeyStrings.clear();
    m_VariablesSortedIndexArrays.clear();
    m_VariablesIndexArrays.clear();
    m_VariablesStringArrays.clear();
    m_TypesIndex.clear();
    m_Types.clear();
    m_IsInit = 0;
    m_ReadOnly = 0;
    m_IsRegistry = 0;
    m_HasChanged = 0;
    m_Timeout = kDefaultTimeout;
    m_Original.clear();
}

void CCfgReader::Delete()
{
    m_Central.reset();
    Reset();
}

int64_t CCfgReader::SetTimeout(int64_t milliseconds)
{
    const int64_t previous = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(m_Timeout)));
    m_Timeout = milliseconds;
    return previous;
}

const wchar_t* CCfgReader::Str(const std::wstring& text)
{
    return text.empty() ? nullptr : text.c_str();
}

int CCfgReader::SetCentral(CCfgReader* central)
{
    return SetCentral(central, 1);
}

int CCfgReader::SetCentral(CCfgReader* central, int deleteOld)
{
    if (central == this) {
        return 0;
    }
    if (central == m_Central.get()) {
        return 1;  // already attached: deleting "the old one" would delete the new one
    }
    if (deleteOld != 1) {
        (void)m_Central.release();  // the caller owns the old store again
    }
    m_Central.reset(central);
    return 1;
}

int CCfgReader::SetReadOnly(int readOnly)
{
    const int previous = m_ReadOnly;
    m_ReadOnly = readOnly;
    return previous;
}

int CCfgReader::SetRegistryType(int flags)
{
    const int previous = m_IsRegistry;
    m_IsRegistry = flags;
    return previous;
}

int CCfgReader::SetSaveToDrawing(int saveToDrawing)
{
    const int previous = m_IsSavedInDrawing;
    m_IsSavedInDrawing = saveToDrawing;
    return previous;
}

int CCfgReader::GetSortedKeyArray(std::vector<std::wstring>*& keys)
{
    if (!m_IsInit) {
        return 0;
    }
    keys = &m_KeyStrings;
    return 1;
}

bool CCfgReader::IsFolderFile()
{
    if (m_HasVarPath == -1) {
        m_HasVarPath = tarn::EqualsNoCase(tarn::FileNameOf(m_File), L"Ordner.ini") ? 1 : 0;
    }
    return m_HasVarPath == 1;
}
