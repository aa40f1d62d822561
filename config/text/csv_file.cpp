#include "config/text/csv_file.h"

#include <algorithm>

#include "config/text/text_file.h"
#include "support/name_compare.h"

namespace {

bool IsFullyQuoted(std::wstring_view line)
{
    return line.size() >= 2 && line.front() == L'"' && line.back() == L'"';
}

// Splits a line into at most `limit` fields; surplus fields are not made.
void SplitFields(std::wstring_view line, size_t limit, std::vector<std::wstring>& fields)
{
    fields.clear();
    std::wstring_view separator = L";";
    if (IsFullyQuoted(line)) {
        line = line.substr(1, line.size() - 2);
        separator = L"\";\"";
    }
    size_t start = 0;
    while (fields.size() < limit) {
        const size_t end = line.find(separator, start);
        if (end == std::wstring_view::npos) {
            fields.emplace_back(line.substr(start));
            return;
        }
        fields.emplace_back(line.substr(start, end - start));
        start = end + separator.size();
    }
}

bool IsEnclosed(const std::wstring& field)
{
    return field.size() >= 2 && field.front() == L'"' && field.back() == L'"';
}

// When every field is enclosed in quotes, removes one quote at each end of
// each. Returns false when only some fields were enclosed (nothing changes).
bool RemoveUniformQuotes(std::vector<std::wstring>& fields)
{
    const auto enclosed = static_cast<size_t>(std::count_if(fields.begin(), fields.end(), IsEnclosed));
    if (enclosed == 0) {
        return true;
    }
    if (enclosed < fields.size()) {
        return false;
    }
    for (std::wstring& field : fields) {
        field = field.substr(1, field.size() - 2);
    }
    return true;
}

std::wstring StripBlanks(std::wstring_view text)
{
    const size_t first = text.find_first_not_of(L" \t");
    if (first == std::wstring_view::npos) {
        return std::wstring();
    }
    const size_t last = text.find_last_not_of(L" \t");
    return std::wstring(text.substr(first, last - first + 1));
}

// Spreadsheet files are binary; only exported text is read. The extension is
// taken from the last '.' of the file name itself, not of a folder above it.
bool HasSpreadsheetExtension(const std::wstring& fileName)
{
    const size_t dot = fileName.rfind(L'.');
    const size_t separator = fileName.find_last_of(L"\\/");
    if (dot == std::wstring::npos || (separator != std::wstring::npos && dot < separator)) {
        return false;
    }
    return tarn::StartsWithNoCase(std::wstring_view(fileName).substr(dot), L".xls");
}

bool AllEmpty(const std::vector<std::wstring>& fields)
{
    return std::all_of(fields.begin(), fields.end(), [](const std::wstring& field) { return field.empty(); });
}

}  // namespace

CCsvFile::CCsvFile(const wchar_t* fileName) : m_FileName(fileName ? fileName : L"")
{
    Load();
}

int CCsvFile::GetColumn(std::wstring_view name) const
{
    if (name.empty()) {
        return -1;
    }
    bool found = false;
    const size_t index = tarn::LowerBoundNoCase(m_SortedColumns, name, &found);
    return found ? static_cast<int>(m_ColumnNumbers[index]) : -1;
}

void CCsvFile::Load()
{
    if (m_FileName.empty() || HasSpreadsheetExtension(m_FileName)) {
        return;
    }
    std::vector<std::wstring> lines;
    if (!ReadArray(m_FileName.c_str(), lines) || lines.empty()) {
        return;
    }

    std::vector<std::wstring> header;
    SplitFields(lines[0], kMaxColumns + 1, header);
    if (header.size() > kMaxColumns) {
        return;
    }
    for (std::wstring& name : header) {
        name = StripBlanks(name);
    }
    bool consistent = RemoveUniformQuotes(header);
    const size_t columns = header.size();

    CSortedArray<CCsvLine> rows;
    for (size_t i = 1; i < lines.size(); ++i) {
        CCsvLine row;
        SplitFields(lines[i], columns, row);
        row.resize(columns);
        if (AllEmpty(row)) {
            continue;
        }
        if ((rows.GetSize() + 1) * columns > kMaxCells) {
            return;
        }
        consistent = RemoveUniformQuotes(row) && consistent;
        rows.Add(std::move(row));
    }

    // Name order, and of equal names the later column first, so that the
    // lookup (which finds the first of equal names) gives the later column.
    // The quotes are already gone, so both arrays hold the same names.
    std::vector<size_t> order(columns);
    for (size_t k = 0; k < columns; ++k) {
        order[k] = columns - 1 - k;
    }
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return tarn::CompareNoCase(header[a], header[b]) < 0; });
    m_SortedColumns.reserve(columns);
    m_ColumnNumbers.reserve(columns);
    for (size_t index : order) {
        m_SortedColumns.push_back(header[index]);
        m_ColumnNumbers.push_back(index);
    }
    m_Columns = std::move(header);
    m_Lines = std::move(rows);
    m_QuotingConsistent = consistent ? 1 : 0;
}
