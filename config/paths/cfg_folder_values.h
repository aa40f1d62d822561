#pragma once
// The values of the folder file ("Ordner.ini") hold folders written with path
// variables: the store hands them out expanded and stores them in their
// variable form. The conversion belongs to the path-variable layer; the store
// calls it through this one function.

#include <string>
#include <string_view>

namespace tarn {

// The folder-file value `value` expanded for reading (`toVariableForm` false)
// or turned into its variable form for storing (`toVariableForm` true).
std::wstring ConvertFolderFileValue(std::wstring_view value, bool toVariableForm);

}  // namespace tarn
