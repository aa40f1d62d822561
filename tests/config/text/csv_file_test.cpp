#include "config/text/csv_file.h"

#include <gtest/gtest.h>

#include <utility>

#include "common/test_files.h"

using tarn::test::ScratchFolder;
using tarn::test::WriteBytes;

namespace {

using Fields = std::vector<std::wstring>;

std::vector<Fields> Rows(const CCsvFile& table)
{
    std::vector<Fields> rows;
    for (const CCsvLine& line : table.m_Lines) {
        rows.emplace_back(line.begin(), line.end());
        EXPECT_EQ(line.m_KeyColumns, nullptr);
    }
    return rows;
}

TEST(CsvFileTest, ReadsTables)
{
    struct Row {
        const char* name;
        std::wstring fileName;
        std::string bytes;
        Fields columns;
        std::vector<Fields> rows;
        int consistent;
        std::vector<std::pair<std::wstring, int>> lookups;
    };
    const Row rows[] = {
        {"update table", L"AutoUpdateInfo.csv",
         "product;updateURL\r\nTarn Gridwell;Gridwell_Update.cab\r\n",
         {L"product", L"updateURL"},
         {{L"Tarn Gridwell", L"Gridwell_Update.cab"}},
         1,
         {{L"UPDATEURL", 1}, {L"Product", 0}, {L"updateurl ", -1}, {L"missing", -1}, {L"", -1}}},
        {"fully quoted lines", L"q.csv",
         "\"product\";\"updateURL\"\r\n\"Tarn Corvin\";\"c.cab\"\r\n",
         {L"product", L"updateURL"},
         {{L"Tarn Corvin", L"c.cab"}},
         1,
         {{L"updateURL", 1}}},
        {"a fully quoted field keeps its ';'", L"semi.csv",
         "a;b\n\"x\";\"y;z\"\n",
         {L"a", L"b"},
         {{L"x", L"y;z"}},
         1,
         {}},
        {"ragged rows are padded and cut", L"ragged.csv",
         "a;b;c\n1\n1;2;3;4;5\n;;x;y\n",
         {L"a", L"b", L"c"},
         {{L"1", L"", L""}, {L"1", L"2", L"3"}, {L"", L"", L"x"}},
         1,
         {{L"c", 2}}},
        {"empty rows and rows of only ';' are dropped", L"empty.csv",
         "a;b\r\n\r\n;\r\n;;;;\r\nv;w\r\n\r\n",
         {L"a", L"b"},
         {{L"v", L"w"}},
         1,
         {}},
        {"a surplus field alone makes no row", L"surplus.csv",
         "a;b\n;;x\n",
         {L"a", L"b"},
         {},
         1,
         {}},
        {"header names are stripped, row fields are not", L"blanks.csv",
         " \tname \t; value\r\n x ; y \r\n",
         {L"name", L"value"},
         {{L" x ", L" y "}},
         1,
         {{L"value", 1}}},
        {"stripped header fields lose uniform quotes", L"hq.csv",
         " \"a\" ;\t\"b\"\n1;2\n",
         {L"a", L"b"},
         {{L"1", L"2"}},
         1,
         {{L"a", 0}, {L"\"a\"", -1}}},
        {"double quotes inside fully quoted fields", L"dq.csv",
         "a;b\n\"\"x\"\";\"\"y\"\"\n",
         {L"a", L"b"},
         {{L"x", L"y"}},
         1,
         {}},
        {"partly quoted rows keep their quotes", L"partly.csv",
         "a;b\n\"x\";y\nsay \"hi\";2\n",
         {L"a", L"b"},
         {{L"\"x\"", L"y"}, {L"say \"hi\"", L"2"}},
         0,
         {}},
        {"an empty quoted field is not empty before unquoting", L"eq.csv",
         "a;b\n\"\";\"\"\nx;\"\"\n",
         {L"a", L"b"},
         {{L"x", L"\"\""}},
         0,
         {}},
        {"a lone quote is a field", L"lone.csv",
         "a;b\n\"\n",
         {L"a", L"b"},
         {{L"\"", L""}},
         1,
         {}},
        {"duplicate columns: the later one is found", L"dup.csv",
         "id;name;ID;x\n1;2;3;4\n",
         {L"id", L"name", L"ID", L"x"},
         {{L"1", L"2", L"3", L"4"}},
         1,
         {{L"id", 2}, {L"Id", 2}, {L"name", 1}, {L"x", 3}}},
        {"names compare without regard to case", L"umlaut.csv",
         "\xC4pfel;Birnen\n1;2\n",
         {L"\u00C4pfel", L"Birnen"},
         {{L"1", L"2"}},
         1,
         {{L"\u00E4PFEL", 0}, {L"birnen", 1}}},
        {"header only", L"header.csv", "a;b\r\n", {L"a", L"b"}, {}, 1, {{L"b", 1}}},
        {"an empty header line is one nameless column", L"nameless.csv", "\nx\n", {L""}, {{L"x"}}, 1, {{L"", -1}}},
        {"an empty file has no columns", L"zero.csv", "", {}, {}, 1, {{L"a", -1}}},
        {"xlsx is refused", L"table.xlsx", "a;b\n1;2\n", {}, {}, 1, {{L"a", -1}}},
        {"XLS in capitals is refused", L"TABLE.XLS", "a;b\n1;2\n", {}, {}, 1, {}},
        {"xlsm is refused", L"t.xlsm", "a;b\n1;2\n", {}, {}, 1, {}},
        {"only the last extension counts", L"t.xls.csv", "a\n1\n", {L"a"}, {{L"1"}}, 1, {}},
        {"a folder's extension does not count", L"d.xls\\table", "a\n1\n", {L"a"}, {{L"1"}}, 1, {}},
        {"UTF-8 with mark", L"utf8.csv", "\xEF\xBB\xBFName;Wert\n\xC3\xA4;\xE2\x82\xAC\n", {L"Name", L"Wert"},
         {{L"\u00E4", L"\u20AC"}}, 1, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ScratchFolder scratch;
        const std::wstring path = scratch / row.fileName;
        ASSERT_TRUE(WriteBytes(path, row.bytes));
        const CCsvFile table(path.c_str());
        EXPECT_EQ(table.m_FileName, path);
        EXPECT_EQ(table.m_Columns, row.columns);
        EXPECT_EQ(table.m_SortedColumns.size(), row.columns.size());
        EXPECT_EQ(table.m_ColumnNumbers.size(), row.columns.size());
        EXPECT_EQ(Rows(table), row.rows);
        EXPECT_EQ(table.m_QuotingConsistent, row.consistent);
        for (const auto& [name, column] : row.lookups) {
            EXPECT_EQ(table.GetColumn(name), column) << "column " << testing::PrintToString(name);
        }
        // Every column can be found: the last of its name.
        for (size_t i = 0; i < table.m_Columns.size(); ++i) {
            const int found = table.GetColumn(table.m_Columns[i]);
            if (!table.m_Columns[i].empty()) {
                ASSERT_GE(found, static_cast<int>(i));
                EXPECT_EQ(table.GetColumn(table.m_Columns[static_cast<size_t>(found)]), found);
            }
        }
    }
}

TEST(CsvFileTest, UnreadableNamesGiveAnEmptyTable)
{
    ScratchFolder scratch;
    const std::wstring missing = scratch / L"missing.csv";
    for (const wchar_t* name : {static_cast<const wchar_t*>(nullptr), L"", missing.c_str(), scratch.Path().c_str()}) {
        const CCsvFile table(name);
        EXPECT_TRUE(table.m_Columns.empty());
        EXPECT_TRUE(table.m_SortedColumns.empty());
        EXPECT_TRUE(table.m_Lines.IsEmpty());
        EXPECT_EQ(table.GetColumn(L"a"), -1);
    }
}

TEST(CsvFileTest, OversizedTablesAreRefused)
{
    ScratchFolder scratch;
    const std::wstring path = scratch / L"big.csv";
    struct Row {
        const char* name;
        std::string bytes;
        size_t columns;
    };
    std::string manyRows = std::string(999, ';') + "x\n";
    for (int i = 0; i < 1100; ++i) {
        manyRows += "1\n";
    }
    const Row rows[] = {
        {"the most columns", std::string(CCsvFile::kMaxColumns - 1, ';') + "\n1\n", CCsvFile::kMaxColumns},
        {"one column too many", std::string(CCsvFile::kMaxColumns, ';') + "\n1\n", 0},
        {"too many fields in all", manyRows, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(WriteBytes(path, row.bytes));
        const CCsvFile table(path.c_str());
        EXPECT_EQ(table.m_Columns.size(), row.columns);
        EXPECT_EQ(table.m_Lines.GetSize(), row.columns ? 1u : 0u);
    }
}

}  // namespace
