#include "transfer/download_url.h"

namespace tarn {

bool SplitUrl(std::wstring_view url, UrlParts& parts)
{
    parts = UrlParts();
    const size_t separator = url.find_last_of(L"/\\");
    if (separator == std::wstring_view::npos) {
        return false;
    }
    parts.base = url.substr(0, separator);
    parts.name = url.substr(separator + 1);
    const size_t dot = parts.name.find_last_of(L'.');
    parts.stem = parts.name.substr(0, dot);
    if (dot != std::wstring::npos) {
        parts.extension = parts.name.substr(dot);
    }
    return true;
}

std::wstring FileInfoNameFor(std::wstring_view path)
{
    const size_t separator = path.find_last_of(L"/\\");
    const size_t nameStart = separator == std::wstring_view::npos ? 0 : separator + 1;
    const size_t dot = path.find_last_of(L'.');
    if (dot == std::wstring_view::npos || dot < nameStart) {
        return std::wstring();
    }
    return FileInfoNameForStem(path.substr(0, dot));
}

std::wstring FileInfoNameForStem(std::wstring_view stem)
{
    return std::wstring(stem) + kFileInfoSuffix;
}

}  // namespace tarn
