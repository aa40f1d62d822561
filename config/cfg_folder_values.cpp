// The path-variable layer completes this conversion (its ExpandValue); until
// it is linked in, folder-file values pass through unchanged.

#include "config/cfg_folder_values.h"

namespace tarn {

std::wstring ConvertFolderFileValue(std::wstring_view value, bool /*toVariableForm*/)
{
    return std::wstring(value);
}

}  // namespace tarn
