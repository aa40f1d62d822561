// Registry value types recorded per entry: m_TypesIndex holds
// section "\::" name, sorted; m_Types the type at the same place.

#include "config/store/cfg_reader.h"
#include "support/name_compare.h"

namespace {

constexpr uint64_t kStringType = 1;  // REG_SZ: the type of every unrecorded name

std::wstring TypeKey(std::wstring_view section, std::wstring_view name)
{
    std::wstring key(section);
    key += L"\\::";
    key += name;
    return key;
}

}  // namespace

uint64_t CCfgReader::GetValueType(std::wstring_view section, std::wstring_view name) const
{
    bool found = false;
    const size_t at = tarn::LowerBoundNoCase(m_TypesIndex, TypeKey(section, name), &found);
    return found ? m_Types[at] : kStringType;
}

void CCfgReader::SetValueType(std::wstring_view section, std::wstring_view name, uint64_t type)
{
    const std::wstring key = TypeKey(section, name);
    bool found = false;
    const size_t at = tarn::LowerBoundNoCase(m_TypesIndex, key, &found);
    if (found) {
        m_Types[at] = type;
        return;
    }
    m_TypesIndex.insert(m_TypesIndex.begin() + static_cast<std::ptrdiff_t>(at), key);
    m_Types.insert(m_Types.begin() + static_cast<std::ptrdiff_t>(at), type);
}
