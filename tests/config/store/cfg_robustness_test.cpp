// Bad and big input: garbage, NUL characters, broken headers, huge lines,
// many sections, and a few thousand generated and mutated files. The store
// must load each, keep its indexes consistent and write back what it reads.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "cfg_test_util.h"
#include "config/store/cfg_reader.h"
#include "config/store/cfg_syntax.h"

using tarn::test::ExpectConsistentIndexes;
using tarn::test::ReadBytes;
using tarn::test::Snapshot;
using tarn::test::Utf16Bytes;

namespace {

using Lines = std::vector<std::wstring>;

class CfgRobustnessTest : public tarn::test::CfgFileTest {
protected:
    // Loads the file, checks the indexes, saves it and loads it again: the
    // second store must hold what the first one held.
    void ExpectLoadsAndRoundTrips(const std::string& label)
    {
        Lines firstSnapshot;
        std::wstring firstText;
        TextFileType::Type loadedType = TextFileType::Undetermined;
        TextFileType::Type savedType = TextFileType::Undetermined;
        {
            CCfgReader store(file);
            ASSERT_EQ(store.IsInit(), 1) << label;
            ExpectConsistentIndexes(store);
            if (::testing::Test::HasFailure()) {
                FAIL() << label;
            }
            firstSnapshot = Snapshot(store);
            firstText = tarn::cfg::BuildSaveText(store.Get_m_Data());
            loadedType = store.Get_m_FileType();
            ASSERT_EQ(store.Save(1), 1) << label;
            savedType = store.Get_m_FileType();
        }
        CCfgReader reloaded(file);
        ASSERT_EQ(reloaded.IsInit(), 1) << label;
        EXPECT_EQ(reloaded.Get_m_FileType(), savedType) << label;
        // Files with a byte-order mark keep their encoding.
        if (loadedType == TextFileType::Unicode || loadedType == TextFileType::UnicodeBigEndian ||
            loadedType == TextFileType::Utf8) {
            EXPECT_EQ(savedType, loadedType) << label;
        }
        EXPECT_EQ(tarn::cfg::BuildSaveText(reloaded.Get_m_Data()), firstText) << label;
        EXPECT_EQ(Snapshot(reloaded), firstSnapshot) << label;
    }
};

TEST_F(CfgRobustnessTest, BrokenHeadersAndOddLinesLoad)
{
    struct Row {
        const char* name;
        std::string text;
        const wchar_t* section;
        const wchar_t* key;
        int found;
    };
    const Row rows[] = {
        {"unterminated header at the end", "[S]\r\nk=1\r\n[Open", L"Open", L"k", 0},
        {"unterminated header with entries", "[Open\r\nk=1\r\n", L"Open", L"k", 1},
        {"lone bracket", "[\r\nk=1\r\n", L"", L"k", 1},
        {"brackets only", "[[[[\r\n]]]]\r\nk=1\r\n", L"[[[", L"k", 1},
        {"closing bracket first", "]S[\r\nk=1\r\n", L"S", L"k", 0},
        {"equals signs only", "[S]\r\n====\r\n=\r\nk==\r\n", L"S", L"k", 1},
        {"NUL ends the text", std::string("[S]\r\na=1\r\nb=2\0c=3\r\n", 19), L"S", L"c", 0},
        {"NUL keeps what is before it", std::string("[S]\r\na=1\r\nb=2\0c=3\r\n", 19), L"S", L"b", 1},
        {"NUL in UTF-16", "\xFF\xFE" + Utf16Bytes(std::wstring(L"[S]\r\na=1\0b=2", 12), false), L"S", L"b", 0},
        {"only line breaks", "\r\r\n\n\r", L"S", L"k", 0},
        {"odd UTF-16 length", "\xFF\xFE" + Utf16Bytes(L"[S]\r\nk=1", false) + "\x41", L"S", L"k", 1},
        {"mark only", "\xEF\xBB\xBF", L"S", L"k", 0},
        {"invalid UTF-8", "\xEF\xBB\xBF[S]\r\nk=\xC3\x28\xFF\r\n", L"S", L"k", 1},
        {"REGEDIT4 text", "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\x]\r\n\"Name\"=\"v\"\r\n",
         L"HKEY_CURRENT_USER\\Software\\x", L"\"Name\"", 1},
    };
    for (const Row& row : rows) {
        Put(row.text);
        CCfgReader store(file);
        ASSERT_EQ(store.IsInit(), 1) << row.name;
        ExpectConsistentIndexes(store);
        std::wstring value;
        EXPECT_EQ(store.GetValue(value, row.section, row.key), row.found) << row.name;
        ExpectLoadsAndRoundTrips(row.name);
    }
}

TEST_F(CfgRobustnessTest, TenMegabyteLines)
{
    const std::string big(10 * 1024 * 1024, 'x');
    Put("[S]\r\nk=" + big + "\r\n" + big);
    CCfgReader store(file);
    ASSERT_EQ(store.IsInit(), 1);
    std::wstring value;
    ASSERT_EQ(store.GetValue(value, L"S", L"k"), 1);
    EXPECT_EQ(value.size(), big.size());
    ASSERT_EQ(store.Get_m_Data().size(), 3u);
    EXPECT_EQ(store.Get_m_Data()[2].size(), big.size());
    store.SetValue(L"S", L"k", L"short");
    EXPECT_EQ(store.Save(), 1);
    EXPECT_EQ(ReadBytes(file).size(), std::string("[S]\r\nk=short\r\n").size() + big.size() + 2);
}

TEST_F(CfgRobustnessTest, BinaryGarbageLoads)
{
    std::mt19937 random(20230517u);
    for (int round = 0; round < 40; ++round) {
        std::string bytes(1 + random() % 70000, '\0');
        for (char& byte : bytes) {
            byte = static_cast<char>(random());
        }
        if (round % 4 == 1) {
            bytes.insert(0, "\xFF\xFE");
        } else if (round % 4 == 2) {
            bytes.insert(0, "\xFE\xFF");
        } else if (round % 4 == 3) {
            bytes.insert(0, "\xEF\xBB\xBF");
        }
        Put(bytes);
        ExpectLoadsAndRoundTrips("garbage round " + std::to_string(round));
    }
}

// Twenty thousand sections and twenty thousand keys in one section, in
// shuffled order, all found again. (Speed figures: bench/cfg_load_bench.)
TEST_F(CfgRobustnessTest, ManySectionsAndKeys)
{
    const int count = 20000;
    std::vector<int> order(count);
    for (int i = 0; i < count; ++i) {
        order[i] = i;
    }
    std::shuffle(order.begin(), order.end(), std::mt19937(7u));
    std::string text;
    for (int i : order) {
        text += "[Section" + std::to_string(i) + "]\r\nkey=" + std::to_string(i) + "\r\n";
    }
    text += "[Big]\r\n";
    for (int i : order) {
        text += "Key" + std::to_string(i) + "=" + std::to_string(i) + "\r\n";
    }
    Put(text);
    CCfgReader store(file);
    ASSERT_EQ(store.IsInit(), 1);
    ASSERT_EQ(store.Get_m_KeyStrings().size(), static_cast<size_t>(count + 1));
    for (int i = 0; i < count; i += 7) {
        std::wstring value;
        ASSERT_EQ(store.GetValue(value, L"section" + std::to_wstring(i), L"KEY"), 1) << i;
        ASSERT_EQ(value, std::to_wstring(i));
        ASSERT_EQ(store.GetValue(value, L"big", L"key" + std::to_wstring(i)), 1) << i;
        ASSERT_EQ(value, std::to_wstring(i));
    }
    ExpectConsistentIndexes(store);
    // Changes in the middle shift tens of thousands of line numbers.
    EXPECT_EQ(store.SetValue(L"Section5", L"added", L"1"), 1);
    EXPECT_EQ(store.DeleteValue(L"Section9", L"key"), 1);
    ExpectConsistentIndexes(store);
}

// Generated and mutated settings texts, from a fixed seed.
TEST_F(CfgRobustnessTest, GeneratedAndMutatedInputsLoad)
{
    const char* tokens[] = {
        "[",  "]",  "=",    ";",   "/",   ":",    " ",     "\t",    "\r",  "\n",    "\r\n", "\r\n", "a",
        "B",  "k",  "Sec",  "[S]", "[s]", "[ T ", "k=v",   "K=w",   "x=",  "=y",    "\xE4", "\xDF", "\x80",
        "\0", "\"", "SimpleList=True", "simplelist=1", ";;k=1", "//x", "[S]\r\nk=1\r\n", "\r\n\r\n\r\n",
        "\xFF\xFE", "\xFE\xFF", "\xEF\xBB\xBF", "<?xml", "\xFF", "\xEF",
    };
    const std::string seed =
        "; settings\r\n[Settings]\r\nReady = 1\r\nUrl=http://x/?a=b\r\n\r\n[List]\r\nSimpleList=True\r\n"
        "one\r\ntwo\r\n[ Spaced Name ]\r\nk=\"quoted\"\r\nk=dup\r\n[Open\r\nz=1\r\n";
    std::mt19937 random(4711u);
    for (int round = 0; round < 4000; ++round) {
        std::string bytes;
        if (round % 2 == 0) {
            const size_t count = random() % 60;
            for (size_t i = 0; i < count; ++i) {
                const char* token = tokens[random() % std::size(tokens)];
                bytes.append(token, token[0] == '\0' ? 1 : std::char_traits<char>::length(token));
            }
        } else {
            bytes = seed;
            const size_t mutations = 1 + random() % 8;
            for (size_t i = 0; i < mutations && !bytes.empty(); ++i) {
                const size_t at = random() % bytes.size();
                switch (random() % 3) {
                case 0:
                    bytes[at] = static_cast<char>(random());
                    break;
                case 1:
                    bytes.erase(at, 1 + random() % 5);
                    break;
                default:
                    bytes.insert(at, 1, "[]=;\r\n \0x\xFF\xFE\xEF"[random() % 13]);
                    break;
                }
            }
        }
        // Every tenth input in each encoding with a mark, its bytes taken as
        // characters.
        if (round % 10 == 3 || round % 10 == 5 || round % 10 == 7) {
            std::wstring wide;
            for (const char byte : bytes) {
                wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(byte)));
            }
            if (round % 10 == 7) {
                std::string utf8 = "\xEF\xBB\xBF";
                for (const wchar_t c : wide) {
                    if (c < 0x80) {
                        utf8.push_back(static_cast<char>(c));
                    } else {
                        utf8.push_back(static_cast<char>(0xC0 | (c >> 6)));
                        utf8.push_back(static_cast<char>(0x80 | (c & 0x3F)));
                    }
                }
                bytes = utf8;
            } else {
                const bool bigEndian = round % 10 == 5;
                bytes = (bigEndian ? "\xFE\xFF" : "\xFF\xFE") + Utf16Bytes(wide, bigEndian);
            }
        }
        Put(bytes);
        ExpectLoadsAndRoundTrips("round " + std::to_string(round));
        if (HasFailure()) {
            break;
        }
    }
}

}  // namespace
