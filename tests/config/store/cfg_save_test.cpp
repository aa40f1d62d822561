// Saving settings files: normalised text, skipped writes, encodings kept,
// and files that another process holds while the store loads or saves.

#include <gtest/gtest.h>

#include <thread>

#include "cfg_test_util.h"
#include "config/store/cfg_reader.h"
#include "support/temp_files.h"
#include "support/trace.h"
#include "support/unique_handle.h"

using tarn::test::FileHolder;
using tarn::test::PathExists;
using tarn::test::ReadBytes;
using tarn::test::Utf16Bytes;

namespace {

using Lines = std::vector<std::wstring>;

using CfgSaveTest = tarn::test::CfgFileTest;

// Sends the trace lines of one test to a log of its own and reads them back.
struct TraceLog {
    const std::wstring path = GetTempFolder() + L"\\cfg_save_test.log";
    TraceLog()
    {
        ::DeleteFileW(path.c_str());
        tarn::SetTraceLogForTest(path, 1u << 20);
    }
    ~TraceLog()
    {
        tarn::SetTraceLogForTest(L"", 0);
        ::DeleteFileW(path.c_str());
    }
    // True when a line holds both texts (ASCII).
    bool Holds(const std::wstring& first, const std::string& second) const
    {
        const std::string text = ReadBytes(path);
        return text.find(std::string(first.begin(), first.end())) != std::string::npos &&
               text.find(second) != std::string::npos;
    }
};

TEST_F(CfgSaveTest, UnchangedTextIsNotWrittenUnlessForced)
{
    const std::string untidy = "\r\n\r\n[S]\r\nk = v\r\n\r\n\r\n\r\n[T]\r\nt=1\r\n\r\n";
    Put(untidy);
    {
        CCfgReader store(file);
        EXPECT_EQ(store.Save(), 1);
        EXPECT_EQ(ReadBytes(file), untidy);
        EXPECT_EQ(store.SetValue(L"S", L"k", L"v"), 1);  // same value: no change
        EXPECT_EQ(store.Get_m_HasChanged(), 0);
    }
    EXPECT_EQ(ReadBytes(file), untidy) << "the destructor wrote an unchanged store";
    {
        CCfgReader store(file);
        EXPECT_EQ(store.Save(1), 1);
    }
    EXPECT_EQ(ReadBytes(file), "[S]\r\nk = v\r\n\r\n[T]\r\nt=1\r\n");
}

TEST_F(CfgSaveTest, FirstWritingSaveNormalisesEmptyLinesAndHeaders)
{
    Put("\r\n[ S \r\n\r\n\r\nk=v\r\n\r\n");
    {
        CCfgReader store(file);
        EXPECT_EQ(store.Save(), 1);  // the header was rewritten: the text differs
    }
    EXPECT_EQ(ReadBytes(file), "[S]\r\n\r\nk=v\r\n");
}

TEST_F(CfgSaveTest, ChangedStoreSavesItselfOnDestruction)
{
    Put("[S]\r\nk=v\r\n");
    {
        CCfgReader store(file);
        store.SetValue(L"S", L"k", L"w");
        store.SetValue(L"New", L"n", L"1");
    }
    EXPECT_EQ(ReadBytes(file), "[S]\r\nk=w\r\n\r\n[New]\r\nn=1\r\n");
}

TEST_F(CfgSaveTest, MissingFileGivesAnEmptyStoreThatSavesAsAnsi)
{
    const std::wstring fresh = scratch / L"fresh.cfg";
    CCfgReader store(fresh);
    EXPECT_EQ(store.IsInit(), 1);
    EXPECT_TRUE(store.Get_m_Data().empty());
    EXPECT_FALSE(PathExists(fresh));
    store.SetValue(L"S", L"Name", L"Gr\u00FC\u00DFe");
    EXPECT_EQ(store.Save(), 1);
    EXPECT_EQ(ReadBytes(fresh), "[S]\r\nName=Gr\xFC\xDF" "e\r\n");
    EXPECT_EQ(store.Get_m_HasChanged(), 0);
}

// An empty text leaves the file empty, but for the byte-order mark that
// keeps its encoding.
TEST_F(CfgSaveTest, EmptyTextTruncatesTheFile)
{
    struct Row {
        std::string bytes;
        std::string saved;
        TextFileType::Type type;
    };
    const Row rows[] = {
        {"\r\n\r\n", "", TextFileType::Ansi},
        {"\xFF\xFE" + Utf16Bytes(L"\r\n \r\n", false), "\xFF\xFE", TextFileType::Unicode},
        {"\xFE\xFF" + Utf16Bytes(L"\r\n", true), "\xFE\xFF", TextFileType::UnicodeBigEndian},
        {"\xEF\xBB\xBF\t\r\n", "\xEF\xBB\xBF", TextFileType::Utf8},
    };
    for (const Row& row : rows) {
        Put(row.bytes);
        {
            CCfgReader store(file);
            EXPECT_EQ(store.IsInit(), 1);
            EXPECT_EQ(store.Save(), 1);
        }
        EXPECT_EQ(ReadBytes(file), row.saved);
        CCfgReader reloaded(file);
        EXPECT_EQ(reloaded.Get_m_FileType(), row.type);
    }

    const std::wstring missing = scratch / L"new_empty.cfg";
    CCfgReader created(missing);
    EXPECT_EQ(created.Save(), 1);
    EXPECT_TRUE(PathExists(missing));
}

TEST_F(CfgSaveTest, EmptyFileLoadsAsAnEmptyStore)
{
    Put("");
    CCfgReader store(file);
    EXPECT_EQ(store.IsInit(), 1);
    EXPECT_TRUE(store.Get_m_Data().empty());
    EXPECT_EQ(store.Get_m_FileType(), TextFileType::Ansi);
}

TEST_F(CfgSaveTest, FileInMissingFolderFailsToSaveAndKeepsTheEdit)
{
    const std::wstring nowhere = scratch / L"no\\such\\folder\\x.cfg";
    CCfgReader store(nowhere);
    EXPECT_EQ(store.IsInit(), 1);
    store.SetValue(L"S", L"k", L"v");
    EXPECT_EQ(store.Save(), 0);
    EXPECT_EQ(store.Get_m_HasChanged(), 1);
    EXPECT_EQ(store.Get_m_Original(), L"");
    store.Get_m_HasChanged() = 0;  // nothing left to try at destruction
}

// Every encoding the store reads back keeps its form through a change.
TEST_F(CfgSaveTest, RoundTripsKeepTheEncoding)
{
    const std::wstring text = L"[Gr\u00FC\u00DFe]\r\nName=\u00C4pfel \u20AC\r\nOther=1\r\n";
    struct Row {
        const char* name;
        std::string bytes;
        TextFileType::Type type;
        std::string mark;
    };
    const Row rows[] = {
        {"ANSI", "[Gr\xFC\xDF" "e]\r\nName=\xC4pfel \x80\r\nOther=1\r\n", TextFileType::Ansi, ""},
        {"UTF-16 LE", "\xFF\xFE" + Utf16Bytes(text, false), TextFileType::Unicode, "\xFF\xFE"},
        {"UTF-16 BE", "\xFE\xFF" + Utf16Bytes(text, true), TextFileType::UnicodeBigEndian, "\xFE\xFF"},
        {"UTF-8 with mark",
         "\xEF\xBB\xBF[Gr\xC3\xBC\xC3\x9F" "e]\r\nName=\xC3\x84pfel \xE2\x82\xAC\r\nOther=1\r\n", TextFileType::Utf8,
         "\xEF\xBB\xBF"},
        {"UTF-8 by XML declaration",
         "<?xml version=\"1.0\"?>\r\n[Gr\xC3\xBC\xC3\x9F" "e]\r\nName=\xC3\x84pfel \xE2\x82\xAC\r\nOther=1\r\n",
         TextFileType::Utf8NoBom, "<?xml"},
    };
    for (const Row& row : rows) {
        Put(row.bytes);
        {
            CCfgReader store(file);
            ASSERT_EQ(store.IsInit(), 1) << row.name;
            EXPECT_EQ(store.Get_m_FileType(), row.type) << row.name;
            std::wstring value;
            EXPECT_EQ(store.GetValue(value, L"GR\u00DC\u00DFE", L"name"), 1) << row.name;
            EXPECT_EQ(value, L"\u00C4pfel \u20AC") << row.name;
            store.SetValue(L"Gr\u00FC\u00DFe", L"Name", L"\u00D6l \u20AC");
            store.SetValue(L"Neu", L"Wert", L"\u00FC");
            EXPECT_EQ(store.Save(), 1) << row.name;
        }
        const std::string saved = ReadBytes(file);
        EXPECT_EQ(saved.substr(0, row.mark.size()), row.mark) << row.name;
        CCfgReader reloaded(file);
        EXPECT_EQ(reloaded.Get_m_FileType(), row.type) << row.name;
        std::wstring value;
        EXPECT_EQ(reloaded.GetValue(value, L"Gr\u00FC\u00DFe", L"Name"), 1);
        EXPECT_EQ(value, L"\u00D6l \u20AC") << row.name;
        EXPECT_EQ(reloaded.GetValue(value, L"Gr\u00FC\u00DFe", L"Other"), 1);
        EXPECT_EQ(value, L"1") << row.name;
        EXPECT_EQ(reloaded.GetValue(value, L"Neu", L"Wert"), 1);
        EXPECT_EQ(value, L"\u00FC") << row.name;
    }
}

// An ANSI file that starts with "<?xml" only after the blanks or empty lines
// that the store strips would be read back as UTF-8 if it were written as
// ANSI: its text must come back as it was.
TEST_F(CfgSaveTest, TextThatComesToStartWithXmlReadsBackUnchanged)
{
    struct Row {
        const char* name;
        std::string bytes;
        std::string saved;
        TextFileType::Type savedType;
    };
    const std::string rest = "[S]\r\nName=\xC4pfel\r\n";
    const std::string restUtf8 = "[S]\r\nName=\xC3\x84pfel\r\n";
    const Row rows[] = {
        {"leading blanks", "  <?xml version=\"1.0\"?>\r\n" + rest, "<?xml version=\"1.0\"?>\r\n" + restUtf8,
         TextFileType::Utf8NoBom},
        {"leading tab, capitals", "\t<?XML x\r\n" + rest, "<?XML x\r\n" + restUtf8, TextFileType::Utf8NoBom},
        {"leading empty lines", "\r\n\r\n<?xml?>\r\n" + rest, "<?xml?>\r\n" + restUtf8, TextFileType::Utf8NoBom},
        {"a blank inside the declaration stays ANSI", "  <? xml\r\n" + rest, "<? xml\r\n" + rest,
         TextFileType::Ansi},
        // The same for the bytes of a byte-order mark: UTF-8 with its mark.
        {"UTF-16 mark after an empty line", "\r\n\xFF\xFE\r\n" + rest,
         "\xEF\xBB\xBF\xC3\xBF\xC3\xBE\r\n" + restUtf8, TextFileType::Utf8},
        {"big-endian mark after blanks", " \xFE\xFF;x\r\n" + rest, "\xEF\xBB\xBF\xC3\xBE\xC3\xBF;x\r\n" + restUtf8,
         TextFileType::Utf8},
        {"UTF-8 mark after a tab", "\t\xEF\xBB\xBF;c\r\n" + rest,
         "\xEF\xBB\xBF\xC3\xAF\xC2\xBB\xC2\xBF;c\r\n" + restUtf8, TextFileType::Utf8},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Put(row.bytes);
        {
            CCfgReader store(file);
            ASSERT_EQ(store.Get_m_FileType(), TextFileType::Ansi);
            EXPECT_EQ(store.Save(1), 1);
            EXPECT_EQ(store.Get_m_FileType(), row.savedType);
        }
        EXPECT_EQ(ReadBytes(file), row.saved);
        CCfgReader reloaded(file);
        std::wstring value;
        EXPECT_EQ(reloaded.GetValue(value, L"S", L"Name"), 1);
        EXPECT_EQ(value, L"\u00C4pfel");
        EXPECT_EQ(reloaded.Get_m_FileType(), row.savedType);
    }
}

TEST_F(CfgSaveTest, Utf16FileIsWrittenBackByteExact)
{
    const std::wstring text = L"[S]\r\nk=v\r\n";
    Put("\xFF\xFE" + Utf16Bytes(text, false));
    {
        CCfgReader store(file);
        store.SetValue(L"S", L"k", L"w");
    }
    EXPECT_EQ(ReadBytes(file), "\xFF\xFE" + Utf16Bytes(L"[S]\r\nk=w\r\n", false));
}

// The store waits for a file that another process holds without sharing.
class CfgHeldFileTest : public CfgSaveTest {
protected:
    void SetUp() override { Put("[S]\r\nk=old\r\n"); }
};

TEST_F(CfgHeldFileTest, SaveSucceedsOnceTheHolderLetsGo)
{
    CCfgReader store(file);
    store.SetTimeout(30000);
    store.SetValue(L"S", L"k", L"new");
    FileHolder holder(file);
    ASSERT_TRUE(holder.Holding());
    std::thread release([&holder] {
        ::Sleep(700);
        holder.Release();
    });
    const int saved = store.Save();
    release.join();
    EXPECT_EQ(saved, 1);
    EXPECT_EQ(store.Get_m_HasChanged(), 0);
    EXPECT_EQ(ReadBytes(file), "[S]\r\nk=new\r\n");
}

// Another program that has the file open with every sharing allowed, or
// with reading and writing allowed, does not stop a save; a hidden file
// stays hidden.
TEST_F(CfgHeldFileTest, SaveSucceedsBesideSharingHolders)
{
    struct Row {
        const char* name;
        DWORD sharing;
        DWORD attributes;
    };
    const Row rows[] = {
        {"every sharing", FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_ATTRIBUTE_NORMAL},
        {"reading and writing", FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_ATTRIBUTE_NORMAL},
        {"nobody, hidden file", 0, FILE_ATTRIBUTE_HIDDEN},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Put("[S]\r\nk=old value\r\n");
        ASSERT_TRUE(::SetFileAttributesW(file.c_str(), row.attributes));
        {
            CCfgReader store(file);
            store.SetTimeout(300);
            store.SetValue(L"S", L"k", L"new");
            tarn::UniqueFileHandle holder;
            if (row.sharing != 0) {
                holder.Reset(::CreateFileW(file.c_str(), GENERIC_READ, row.sharing, nullptr, OPEN_EXISTING,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
                ASSERT_TRUE(holder);
            }
            EXPECT_EQ(store.Save(), 1);
        }
        EXPECT_EQ(ReadBytes(file), "[S]\r\nk=new\r\n");
        EXPECT_EQ(::GetFileAttributesW(file.c_str()) & FILE_ATTRIBUTE_HIDDEN, row.attributes & FILE_ATTRIBUTE_HIDDEN);
        ::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
}

TEST_F(CfgHeldFileTest, FailedSaveKeepsTheEditForTheDestructor)
{
    {
        CCfgReader store(file);
        store.SetTimeout(300);
        store.SetValue(L"S", L"k", L"new");
        const std::wstring originalBefore = store.Get_m_Original();
        FileHolder holder(file);
        ASSERT_TRUE(holder.Holding());
        const TraceLog log;
        EXPECT_EQ(store.Save(), 0);
        EXPECT_TRUE(log.Holds(file, "cannot be saved within 300 ms (error 32)")) << ReadBytes(log.path);
        EXPECT_EQ(store.Get_m_HasChanged(), 1);
        EXPECT_EQ(store.Get_m_Original(), originalBefore);
        EXPECT_EQ(store.Save(), 0) << "a second try while held";
        holder.Release();
        // The store goes out of scope with its change pending and saves it.
    }
    EXPECT_EQ(ReadBytes(file), "[S]\r\nk=new\r\n");
}

TEST_F(CfgHeldFileTest, LoadWaitsForTheHolder)
{
    FileHolder holder(file);
    ASSERT_TRUE(holder.Holding());
    std::thread release([&holder] {
        ::Sleep(700);
        holder.Release();
    });
    CCfgReader store(file);  // default time-out, 5000 ms
    release.join();
    EXPECT_EQ(store.IsInit(), 1);
    std::wstring value;
    EXPECT_EQ(store.GetValue(value, L"S", L"k"), 1);
    EXPECT_EQ(value, L"old");
}

TEST_F(CfgHeldFileTest, LoadGivesUpAfterTheTimeout)
{
    FileHolder holder(file);
    ASSERT_TRUE(holder.Holding());
    const TraceLog log;
    CCfgReader store(file);
    EXPECT_EQ(store.IsInit(), 0);
    EXPECT_TRUE(log.Holds(file, "cannot be read within 5000 ms (error 32)")) << ReadBytes(log.path);
    EXPECT_EQ(store.Save(1), 0);
}

}  // namespace
