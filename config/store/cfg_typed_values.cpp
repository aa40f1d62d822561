// Typed values of CCfgReader: integers (saturating 32-bit decimal), yes/no
// values ("True"/"False") and arrays (key, key_ArMember_1, ...), all built on
// GetValue, SetValue and DeleteValue.

#include <climits>
#include <cstdlib>

#include "config/store/cfg_reader.h"
#include "support/name_compare.h"

namespace {

// The text typed getters pass as default, to tell an absent entry apart.
constexpr wchar_t kNull[] = L"_Null";

// The C library's base-10 reading (leading white space and sign accepted,
// stops at the first non-digit, 0 without digits), saturated at the 32-bit limits.
int32_t ParseInt32(const std::wstring& text)
{
    const long long parsed = std::wcstoll(text.c_str(), nullptr, 10);
    if (parsed > INT32_MAX) {
        return INT32_MAX;
    }
    if (parsed < INT32_MIN) {
        return INT32_MIN;
    }
    return static_cast<int32_t>(parsed);
}

std::wstring ArrayKey(std::wstring_view key, size_t index)
{
    std::wstring name(key);
    if (index > 0) {
        name += L"_ArMember_";
        name += std::to_wstring(index);
    }
    return name;
}

}  // namespace

int CCfgReader::GetInt64Value(int64_t& value, tarn::TextArg section, tarn::TextArg key,
                              int64_t defaultValue, int yesNo)
{
    if (yesNo && defaultValue != 1) {
        defaultValue = 0;
    }
    std::wstring text;
    if (GetValue(text, section, key, kNull) != 1) {
        value = defaultValue;
        return 0;
    }
    if (text.empty() || text == kNull) {
        value = defaultValue;
    } else if (!yesNo) {
        value = ParseInt32(text);
    } else if (tarn::EqualsNoCase(text, L"True")) {
        value = 1;
    } else if (tarn::EqualsNoCase(text, L"False")) {
        value = 0;
    } else {
        value = ParseInt32(text) != 0 ? 1 : 0;
    }
    return 1;
}

int CCfgReader::GetIntValue(int& value, tarn::TextArg section, tarn::TextArg key, int defaultValue,
                            int yesNo)
{
    int64_t wide = 0;
    const int result = GetInt64Value(wide, section, key, defaultValue, yesNo);
    value = static_cast<int>(wide);  // always within 32 bits: parsed values saturate
    return result;
}

int CCfgReader::SetIntValue(tarn::TextArg section, tarn::TextArg key, int64_t value, int yesNo)
{
    if (yesNo) {
        return SetValue(section, key, value != 0 ? L"True" : L"False");
    }
    // The low 32 bits, read as signed: 3978502362 is stored as -316464934.
    const int32_t low = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(value)));
    return SetValue(section, key, std::to_wstring(low));
}

int CCfgReader::IsBoolValue(const std::wstring& text, int* value)
{
    int parsed = -1;
    if (text == L"1" || tarn::EqualsNoCase(text, L"True")) {
        parsed = 1;
    } else if (text == L"0" || tarn::EqualsNoCase(text, L"False")) {
        parsed = 0;
    }
    if (value) {
        *value = parsed;
    }
    return parsed == -1 ? 0 : 1;
}

int CCfgReader::GetBoolValue(tarn::TextArg section, tarn::TextArg key, int defaultValue, int writeDefault)
{
    if (section.empty() || key.empty()) {
        return defaultValue;
    }
    std::wstring text;
    GetValue(text, section, key);
    int parsed = -1;
    if (IsBoolValue(text, &parsed)) {
        return parsed;
    }
    if (writeDefault == 1) {
        SetValue(section, key, defaultValue != 0 ? L"True" : L"False");
    }
    return defaultValue;
}

int CCfgReader::GetArrayValue(std::vector<std::wstring>& values, tarn::TextArg section, tarn::TextArg key)
{
    values.clear();
    std::wstring value;
    while (GetValue(value, section, ArrayKey(key, values.size())) == 1) {
        values.push_back(std::move(value));
    }
    return values.empty() ? 0 : 1;
}

int CCfgReader::SetArrayValue(tarn::TextArg section, tarn::TextArg key,
                              const std::vector<std::wstring>& values)
{
    // Surplus elements of a longer stored array go first; only this store's
    // own entries can be deleted, so the central store is not asked.
    const size_t s = FindSection(section);
    if (s != kNotFound) {
        for (size_t i = values.size(); FindKey(s, ArrayKey(key, i)) != kNotFound; ++i) {
            DeleteValue(section, ArrayKey(key, i));
        }
    }
    int written = 0;
    // Last to first: each new key enters right under the header, so the
    // elements end up in order.
    for (size_t i = values.size(); i-- > 0;) {
        if (SetValue(section, ArrayKey(key, i), values[i]) == 1) {
            written = 1;
        }
    }
    return written;
}
