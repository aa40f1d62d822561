#pragma once
// Small semicolon-separated tables as spreadsheet programs export them: a
// header line of column names, then one line per row. Read once, queried by
// column name and row number; there is no writer.
//
// Syntax: fields are separated by ';'. A line that starts and ends with '"' is
// fully quoted: its outer quotes are dropped and only the three characters
// quote, semicolon, quote separate its fields, so they may hold ';'. When every
// field of a line is enclosed in quotes, one quote goes from each end of every
// field. A quote inside a field is kept; there is no doubled-quote escape.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "support/sorted_array.h"

// One row: its fields, one per column, in column order.
class CCsvLine : public std::vector<std::wstring> {
public:
    // Key columns for ordered tables: column numbers ended by a negative one.
    // Tables of this program are never ordered, so it stays null.
    const int* m_KeyColumns = nullptr;
};

class CCsvFile {
public:
    // Reads the table. An empty name, a missing or unreadable file, a file
    // whose extension starts with ".xls" (in any letter case), a header of more
    // than kMaxColumns columns and a table of more than kMaxCells fields give
    // an empty table: no columns, no rows.
    explicit CCsvFile(const wchar_t* fileName);
    virtual ~CCsvFile() = default;

    // The header position of the column, counted from 0; of several equally
    // named columns the last one. -1 for an empty name or one no column has.
    // Names are compared as the settings store compares them.
    int GetColumn(std::wstring_view name) const;

    // Tables beyond these sizes are not update tables but garbage; refusing
    // them keeps memory and time bounded.
    static constexpr size_t kMaxColumns = 16384;
    static constexpr size_t kMaxCells = size_t{1} << 20;

    std::wstring m_FileName;
    std::vector<std::wstring> m_Columns;       // column names in header order
    std::vector<std::wstring> m_SortedColumns; // column names in name order
    std::vector<uint64_t> m_ColumnNumbers;     // header position of each sorted name
    CSortedArray<CCsvLine> m_Lines;            // the rows in file order, header excluded
    // 1 when every line was uniformly quoted (all fields or none), else 0.
    int m_QuotingConsistent = 1;

private:
    void Load();
};
