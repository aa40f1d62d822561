// The folder file's values go through the path-variable layer's ExpandValue.

#include "config/paths/cfg_folder_values.h"

#include "config/paths/path_variables.h"

namespace tarn {

std::wstring ConvertFolderFileValue(std::wstring_view value, bool toVariableForm)
{
    std::wstring converted(value);
    ExpandValue(converted, toVariableForm ? 1 : 0);
    return converted;
}

}  // namespace tarn
