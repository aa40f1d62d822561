#include "tools/makecab/directive_file.h"

#include <windows.h>

#include <cwchar>

#include "support/unique_handle.h"

namespace tarn::makecab {
namespace {

constexpr DWORD kMaxDirectiveFileSize = 64 * 1024 * 1024;

std::wstring_view Trim(std::wstring_view text)
{
    const size_t first = text.find_first_not_of(L" \t\r");
    if (first == std::wstring_view::npos) {
        return std::wstring_view();
    }
    const size_t last = text.find_last_not_of(L" \t\r");
    return text.substr(first, last - first + 1);
}

bool EqualsNoCase(std::wstring_view a, std::wstring_view b)
{
    return a.size() == b.size() &&
           ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()),
                                  TRUE) == CSTR_EQUAL;
}

bool StartsWithNoCase(std::wstring_view text, std::wstring_view prefix)
{
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

std::wstring Decode(const std::string& bytes)
{
    UINT codePage = CP_ACP;
    size_t skip = 0;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        std::wstring text((bytes.size() - 2) / 2, L'\0');
        for (size_t i = 0; i < text.size(); ++i) {
            text[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[2 + 2 * i]) |
                                           (static_cast<unsigned char>(bytes[3 + 2 * i]) << 8));
        }
        return text;
    }
    if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        codePage = CP_UTF8;
        skip = 3;
    }
    const int length = static_cast<int>(bytes.size() - skip);
    if (length == 0) {
        return std::wstring();
    }
    const int needed = ::MultiByteToWideChar(codePage, 0, bytes.data() + skip, length, nullptr, 0);
    std::wstring text(static_cast<size_t>(needed > 0 ? needed : 0), L'\0');
    ::MultiByteToWideChar(codePage, 0, bytes.data() + skip, length, text.data(), needed);
    return text;
}

// The fields of a file line: double-quoted texts or words without blanks.
bool SplitFields(std::wstring_view line, std::vector<std::wstring>& fields, std::wstring& problem)
{
    size_t i = 0;
    while (i < line.size()) {
        if (line[i] == L' ' || line[i] == L'\t') {
            ++i;
            continue;
        }
        if (line[i] == L'"') {
            const size_t close = line.find(L'"', i + 1);
            if (close == std::wstring_view::npos) {
                problem = L"a double quote is not closed";
                return false;
            }
            fields.emplace_back(line.substr(i + 1, close - i - 1));
            i = close + 1;
            if (i < line.size() && line[i] != L' ' && line[i] != L'\t') {
                problem = L"text follows a closing double quote without a blank";
                return false;
            }
            continue;
        }
        const size_t end = line.find_first_of(L" \t\"", i);
        const size_t stop = end == std::wstring_view::npos ? line.size() : end;
        if (stop < line.size() && line[stop] == L'"') {
            problem = L"a double quote stands inside a word";
            return false;
        }
        fields.emplace_back(line.substr(i, stop - i));
        i = stop;
    }
    return true;
}

// A value after '=': one double-quoted text or the rest of the line.
bool UnquoteValue(std::wstring_view value, std::wstring& out, std::wstring& problem)
{
    value = Trim(value);
    if (value.empty() || value.front() != L'"') {
        if (value.find(L'"') != std::wstring_view::npos) {
            problem = L"a double quote stands inside the value";
            return false;
        }
        out.assign(value);
        return true;
    }
    const size_t close = value.find(L'"', 1);
    if (close == std::wstring_view::npos) {
        problem = L"a double quote is not closed";
        return false;
    }
    if (close + 1 != value.size()) {
        problem = L"text follows the closing double quote";
        return false;
    }
    out.assign(value.substr(1, close - 1));
    return true;
}

bool ParseSwitch(const std::wstring& value, bool& out)
{
    if (EqualsNoCase(value, L"on")) {
        out = true;
        return true;
    }
    if (EqualsNoCase(value, L"off")) {
        out = false;
        return true;
    }
    return false;
}

bool ParseSize(const std::wstring& value, uint64_t& out)
{
    if (value.empty() || value.size() > 12 || value.find_first_not_of(L"0123456789") != std::wstring::npos) {
        return false;
    }
    out = std::wcstoull(value.c_str(), nullptr, 10);
    return true;
}

// A name inside the cabinet: no empty, "." or ".." part, no drive colon, so
// no reader can be led outside its target folder.
bool IsSafeName(const std::wstring& name)
{
    if (name.empty() || name.find(L':') != std::wstring::npos) {
        return false;
    }
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find(L'\\', start);
        if (end == std::wstring::npos) {
            end = name.size();
        }
        const std::wstring_view part(name.data() + start, end - start);
        if (part.empty() || part == L"." || part == L"..") {
            return false;
        }
        start = end + 1;
    }
    return true;
}

std::wstring NormalizeFolder(std::wstring folder)
{
    for (wchar_t& c : folder) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    const size_t first = folder.find_first_not_of(L'\\');
    if (first == std::wstring::npos) {
        return std::wstring();
    }
    const size_t last = folder.find_last_not_of(L'\\');
    return folder.substr(first, last - first + 1);
}

class Parser {
public:
    explicit Parser(CabinetPlan& plan) : plan_(plan) {}

    // False with `problem` set when the line is not understood.
    bool Line(std::wstring_view line, int number, std::wstring& problem)
    {
        line = Trim(line);
        if (line.empty() || line.front() == L';') {
            return true;
        }
        if (line.front() == L'.') {
            return Command(line, problem);
        }
        return File(line, number, problem);
    }

    bool Finish(std::wstring& problem)
    {
        if (nameTemplate_.empty()) {
            problem = L"no .Set CabinetNameTemplate= names the cabinet";
            return false;
        }
        if (plan_.entries.empty()) {
            problem = L"no file is listed";
            return false;
        }
        const bool absolute = nameTemplate_.find(L':') != std::wstring::npos || nameTemplate_[0] == L'\\';
        if (absolute || directoryTemplate_.empty()) {
            plan_.cabinetPath = nameTemplate_;
        } else {
            plan_.cabinetPath = directoryTemplate_;
            if (plan_.cabinetPath.back() != L'\\') {
                plan_.cabinetPath += L'\\';
            }
            plan_.cabinetPath += nameTemplate_;
        }
        return true;
    }

private:
    bool Command(std::wstring_view line, std::wstring& problem)
    {
        if (StartsWithNoCase(line, L".OPTION") && (line.size() == 7 || line[7] == L' ' || line[7] == L'\t')) {
            if (!EqualsNoCase(Trim(line.substr(7)), L"EXPLICIT")) {
                problem = L"only .OPTION EXPLICIT is known";
                return false;
            }
            return true;
        }
        if (!StartsWithNoCase(line, L".Set") || line.size() == 4 || (line[4] != L' ' && line[4] != L'\t')) {
            problem = L"unknown command";
            return false;
        }
        const std::wstring_view assignment = Trim(line.substr(4));
        const size_t equals = assignment.find(L'=');
        if (equals == std::wstring_view::npos) {
            problem = L".Set without '='";
            return false;
        }
        const std::wstring_view name = Trim(assignment.substr(0, equals));
        std::wstring value;
        if (!UnquoteValue(assignment.substr(equals + 1), value, problem)) {
            return false;
        }
        return Set(name, value, problem);
    }

    bool Set(std::wstring_view name, const std::wstring& value, std::wstring& problem)
    {
        if (EqualsNoCase(name, L"DestinationDir")) {
            destinationDir_ = NormalizeFolder(value);
            return true;
        }
        // The cabinet's own settings hold for all of it: one cabinet, one kind
        // of compression.
        if (!plan_.entries.empty()) {
            problem = L"this setting must come before the first file";
            return false;
        }
        if (EqualsNoCase(name, L"DiskDirectoryTemplate")) {
            directoryTemplate_ = value;
        } else if (EqualsNoCase(name, L"CabinetNameTemplate")) {
            nameTemplate_ = value;
        } else if (EqualsNoCase(name, L"MaxDiskSize")) {
            if (!ParseSize(value, plan_.maxDiskSize)) {
                problem = L"MaxDiskSize must be a number of bytes";
                return false;
            }
        } else if (EqualsNoCase(name, L"Compress")) {
            if (!ParseSwitch(value, plan_.compress)) {
                problem = L"Compress must be on or off";
                return false;
            }
        } else if (EqualsNoCase(name, L"Cabinet")) {
            bool cabinet = true;
            if (!ParseSwitch(value, cabinet) || !cabinet) {
                problem = L"only Cabinet=on is supported";
                return false;
            }
        } else {
            problem = L"unknown variable";
            return false;
        }
        return true;
    }

    bool File(std::wstring_view line, int number, std::wstring& problem)
    {
        std::vector<std::wstring> fields;
        if (!SplitFields(line, fields, problem)) {
            return false;
        }
        if (fields.size() > 2 || fields[0].empty()) {
            problem = L"a file line holds the source path and at most a name inside the cabinet";
            return false;
        }
        std::wstring leaf;
        if (fields.size() == 2) {
            leaf = NormalizeFolder(fields[1]);
        } else {
            const size_t slash = fields[0].find_last_of(L"\\/:");
            leaf = slash == std::wstring::npos ? fields[0] : fields[0].substr(slash + 1);
        }
        CabinetEntry entry{fields[0], destinationDir_.empty() ? leaf : destinationDir_ + L"\\" + leaf, number};
        if (!IsSafeName(entry.name)) {
            problem = L"the name inside the cabinet is not a plain relative path: " + entry.name;
            return false;
        }
        plan_.entries.push_back(std::move(entry));
        return true;
    }

    CabinetPlan& plan_;
    std::wstring directoryTemplate_;
    std::wstring nameTemplate_;
    std::wstring destinationDir_;
};

}  // namespace

bool ReadDirectiveFile(const std::wstring& path, std::wstring& text, std::wstring& error)
{
    UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file || !::GetFileSizeEx(file.Get(), &size) || size.QuadPart > kMaxDirectiveFileSize) {
        error = L"cannot read the directive file " + path + L" (error " + std::to_wstring(::GetLastError()) + L")";
        return false;
    }
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!bytes.empty() && (!::ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
                           read != bytes.size())) {
        error = L"cannot read the directive file " + path + L" (error " + std::to_wstring(::GetLastError()) + L")";
        return false;
    }
    text = Decode(bytes);
    return true;
}

bool ParseDirectives(std::wstring_view text, CabinetPlan& plan, std::wstring& error)
{
    plan = CabinetPlan();
    Parser parser(plan);
    int number = 0;
    size_t start = 0;
    std::wstring problem;
    while (start < text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring_view::npos) {
            end = text.size();
        }
        ++number;
        const std::wstring_view line = text.substr(start, end - start);
        if (!parser.Line(line, number, problem)) {
            error = L"line " + std::to_wstring(number) + L": " + problem + L": " + std::wstring(Trim(line));
            return false;
        }
        start = end + 1;
    }
    if (!parser.Finish(problem)) {
        error = problem;
        return false;
    }
    return true;
}

}  // namespace tarn::makecab
