// Typed values, arrays, the central store, registry value types and the
// registry-path rule.

#include <gtest/gtest.h>

#include "cfg_test_util.h"
#include "config/store/cfg_reader.h"
#include "config/store/cfg_registry.h"

using tarn::test::ExpectConsistentIndexes;
using tarn::test::ReadBytes;
using tarn::test::WriteBytes;

namespace {

using Lines = std::vector<std::wstring>;

class CfgTypedTest : public tarn::test::CfgFileTest {
protected:
    // A store over a file holding section S with one entry k=`value`.
    std::unique_ptr<CCfgReader> StoreWith(const std::string& value)
    {
        EXPECT_TRUE(WriteBytes(file, "[S]\r\nk=" + value + "\r\n"));
        return std::make_unique<CCfgReader>(file);
    }
};

TEST_F(CfgTypedTest, IntegersParseLikeTheCLibraryAndSaturate)
{
    struct Row {
        const char* text;
        int expected;
    };
    const Row rows[] = {
        {"42", 42},
        {"-17", -17},
        {"+8", 8},
        {"0012", 12},
        {"12abc", 12},
        {"abc", 0},
        {"3000000000", 2147483647},
        {"-3000000000", -2147483647 - 1},
        {"99999999999999999999999", 2147483647},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"0x10", 0},
        {"_Null", 99},
        {"_NULL", 0},
        {"", 99},
    };
    for (const Row& row : rows) {
        auto store = StoreWith(row.text);
        int value = -1;
        EXPECT_EQ(store->GetIntValue(value, L"S", L"k", 99), 1) << row.text;
        EXPECT_EQ(value, row.expected) << row.text;
        int64_t wide = -1;
        EXPECT_EQ(store->GetInt64Value(wide, L"S", L"k", 99), 1) << row.text;
        EXPECT_EQ(wide, row.expected) << row.text;
    }
}

TEST_F(CfgTypedTest, IntegerDefaultsForMissingEntries)
{
    auto store = StoreWith("1");
    int value = 0;
    EXPECT_EQ(store->GetIntValue(value, L"S", L"missing", 7), 1);
    EXPECT_EQ(value, 7);
    EXPECT_EQ(store->GetIntValue(value, L"Missing", L"k", 8), 0);
    EXPECT_EQ(value, 8);
}

TEST_F(CfgTypedTest, YesNoReadingAcceptsWordsAndNumbers)
{
    struct Row {
        const char* text;
        int defaultValue;
        int expected;
    };
    const Row rows[] = {
        {"TRUE", 0, 1},  {"true", 0, 1},   {"False", 1, 0}, {"FALSE", 1, 0}, {"1", 0, 1},
        {"0", 1, 0},     {"5", 0, 1},      {"-2", 0, 1},    {"yes", 1, 0},   {"no", 1, 0},
        {"_Null", 1, 1}, {"_Null", 0, 0},  {"_Null", 5, 0}, {"", 1, 1},
    };
    for (const Row& row : rows) {
        auto store = StoreWith(row.text);
        int value = -1;
        EXPECT_EQ(store->GetIntValue(value, L"S", L"k", row.defaultValue, 1), 1) << row.text;
        EXPECT_EQ(value, row.expected) << row.text << " default " << row.defaultValue;
    }
}

TEST_F(CfgTypedTest, SetIntValueWritesTheLowWordSigned)
{
    struct Row {
        int64_t value;
        int yesNo;
        const wchar_t* text;
        int readBack;
    };
    const Row rows[] = {
        {3978502362LL, 0, L"-316464934", -316464934},
        {-5, 0, L"-5", -5},
        {0x100000002LL, 0, L"2", 2},
        {2147483648LL, 0, L"-2147483648", -2147483647 - 1},
        {7, 1, L"True", 1},
        {-1, 1, L"True", 1},
        {0, 1, L"False", 0},
    };
    for (const Row& row : rows) {
        auto store = StoreWith("x");
        EXPECT_EQ(store->SetIntValue(L"S", L"k", row.value, row.yesNo), 1);
        std::wstring text;
        store->GetValue(text, L"S", L"k");
        EXPECT_EQ(text, row.text) << row.value;
        int value = 0;
        store->GetIntValue(value, L"S", L"k", 0, row.yesNo);
        EXPECT_EQ(value, row.readBack) << row.value;
    }
}

TEST(CfgBoolTest, IsBoolValueKnowsTheFourSpellings)
{
    struct Row {
        const wchar_t* text;
        int result;
        int value;
    };
    const Row rows[] = {
        {L"True", 1, 1}, {L"tRUE", 1, 1}, {L"1", 1, 1},  {L"False", 1, 0}, {L"FALSE", 1, 0}, {L"0", 1, 0},
        {L"", 0, -1},    {L"yes", 0, -1}, {L"2", 0, -1}, {L"01", 0, -1},   {L" 1", 0, -1},   {L"Truth", 0, -1},
    };
    for (const Row& row : rows) {
        int value = 42;
        EXPECT_EQ(CCfgReader::IsBoolValue(row.text, &value), row.result) << row.text;
        EXPECT_EQ(value, row.value) << row.text;
    }
    EXPECT_EQ(CCfgReader::IsBoolValue(L"True"), 1);
}

TEST_F(CfgTypedTest, GetBoolValueFallsBackToTheDefaultAndCanWriteIt)
{
    struct Row {
        const char* text;       // entry k; nullptr: no entry
        int defaultValue;
        int writeDefault;
        int expected;
        const wchar_t* stored;  // afterwards; nullptr: still none
    };
    const Row rows[] = {
        {"True", 0, 1, 1, L"True"},
        {"0", 1, 1, 0, L"0"},
        {"maybe", 1, 0, 1, L"maybe"},
        {"maybe", 1, 1, 1, L"True"},
        {"maybe", 0, 1, 0, L"False"},
        {"", 1, 1, 1, L"True"},
        {nullptr, 0, 0, 0, nullptr},
        {nullptr, 1, 1, 1, L"True"},
    };
    for (const Row& row : rows) {
        ASSERT_TRUE(WriteBytes(file, row.text ? std::string("[S]\r\nk=") + row.text + "\r\n" : "[S]\r\n"));
        CCfgReader store(file);
        EXPECT_EQ(store.GetBoolValue(L"S", L"k", row.defaultValue, row.writeDefault), row.expected)
            << (row.text ? row.text : "(none)");
        std::wstring stored;
        EXPECT_EQ(store.GetValue(stored, L"S", L"k"), row.stored ? 1 : 0);
        if (row.stored) {
            EXPECT_EQ(stored, row.stored);
        }
    }
    CCfgReader store(file);
    EXPECT_EQ(store.GetBoolValue(L"", L"k", 1, 1), 1);
    EXPECT_EQ(store.GetBoolValue(L"S", L"", 0, 1), 0);
    EXPECT_EQ(store.Get_m_HasChanged(), 0);
}

TEST_F(CfgTypedTest, ArraysAreWrittenInOrderAndShrink)
{
    auto store = StoreWith("x");
    EXPECT_EQ(store->SetArrayValue(L"Lists", L"Files", {L"a.txt", L"b.txt", L"c.txt"}), 1);
    EXPECT_EQ(store->Get_m_Data(), (Lines{L"[S]", L"k=x", L"", L"[Lists]", L"Files=a.txt",
                                          L"Files_ArMember_1=b.txt", L"Files_ArMember_2=c.txt"}));
    Lines values{L"stale"};
    EXPECT_EQ(store->GetArrayValue(values, L"Lists", L"files"), 1);
    EXPECT_EQ(values, (Lines{L"a.txt", L"b.txt", L"c.txt"}));

    EXPECT_EQ(store->SetArrayValue(L"Lists", L"Files", {L"only"}), 1);
    EXPECT_EQ(store->GetArrayValue(values, L"Lists", L"Files"), 1);
    EXPECT_EQ(values, Lines{L"only"});
    ExpectConsistentIndexes(*store);

    EXPECT_EQ(store->SetArrayValue(L"Lists", L"Files", {}), 0);
    EXPECT_EQ(store->GetArrayValue(values, L"Lists", L"Files"), 0);
    EXPECT_TRUE(values.empty());
    EXPECT_EQ(store->Get_m_Data(), (Lines{L"[S]", L"k=x", L"", L"[Lists]"}));
}

TEST_F(CfgTypedTest, ArraysEndAtTheFirstGap)
{
    auto store = StoreWith("x");
    ASSERT_TRUE(WriteBytes(file, "[S]\r\nF=0\r\nF_ArMember_1=\r\nF_ArMember_2=2\r\nF_ArMember_4=4\r\n"
                                 "F_ArMember_01=no\r\n"));
    store = std::make_unique<CCfgReader>(file);
    Lines values;
    EXPECT_EQ(store->GetArrayValue(values, L"S", L"F"), 1);
    EXPECT_EQ(values, (Lines{L"0", L"", L"2"}));
    // Shrinking to one deletes 1 and 2 but leaves what lies behind the gap.
    store->SetArrayValue(L"S", L"F", {L"z"});
    std::wstring value;
    EXPECT_EQ(store->GetValue(value, L"S", L"F_ArMember_2"), 0);
    EXPECT_EQ(store->GetValue(value, L"S", L"F_ArMember_4"), 1);
}

TEST_F(CfgTypedTest, CentralStoreAnswersWhatTheLocalOneLacks)
{
    ASSERT_TRUE(WriteBytes(scratch / L"central.cfg", "[Shared]\r\ncolor=blue\r\nsize=3\r\n[S]\r\nk=central\r\nc=1\r\n"));
    auto store = StoreWith("local");
    store->SetCentral(new CCfgReader(scratch / L"central.cfg"));
    std::wstring value;
    EXPECT_EQ(store->GetValue(value, L"Shared", L"color"), 1);
    EXPECT_EQ(value, L"blue");
    EXPECT_EQ(store->GetValue(value, L"S", L"k"), 1);
    EXPECT_EQ(value, L"local");
    EXPECT_EQ(store->GetValue(value, L"S", L"c"), 1);
    EXPECT_EQ(value, L"1");
    EXPECT_EQ(store->GetValue(value, L"S", L"missing", L"d"), 1);
    EXPECT_EQ(value, L"d");
    EXPECT_EQ(store->GetValue(value, L"Nowhere", L"x", L"d"), 0);
    int size = 0;
    EXPECT_EQ(store->GetIntValue(size, L"Shared", L"size"), 1);
    EXPECT_EQ(size, 3);

    Lines keys;
    Lines values;
    EXPECT_EQ(store->GetSection(keys, values, L"S"), 1);
    EXPECT_EQ(keys, (Lines{L"k", L"k", L"c"}));
    keys.clear();
    values.clear();
    EXPECT_EQ(store->GetSection(keys, values, L"S", 0), 1);
    EXPECT_EQ(keys, Lines{L"k"});
    EXPECT_EQ(store->GetSection(keys, values, L"Shared", 0), 0);

    // A value equal to the central one is not written locally.
    EXPECT_EQ(store->SetValue(L"Shared", L"color", L"blue"), 1);
    EXPECT_EQ(store->Get_m_HasChanged(), 0);
}

TEST_F(CfgTypedTest, TheLocalStoreOwnsItsCentralStore)
{
    // A central store with a pending change saves it when it is destroyed:
    // its file shows whether and when that happened.
    const std::wstring first = scratch / L"first.cfg";
    const std::wstring second = scratch / L"second.cfg";
    auto changed = [](const std::wstring& path) {
        auto central = new CCfgReader(path);
        central->SetValue(L"S", L"k", L"saved");
        return central;
    };
    auto store = StoreWith("x");
    CCfgReader* firstCentral = changed(first);
    EXPECT_EQ(store->SetCentral(firstCentral), 1);
    EXPECT_EQ(store->SetCentral(firstCentral), 1) << "attaching it again must not delete it";
    EXPECT_EQ(store->Get_m_Central(), firstCentral);
    EXPECT_EQ(ReadBytes(first), "");

    CCfgReader* secondCentral = changed(second);
    EXPECT_EQ(store->SetCentral(secondCentral), 1);
    EXPECT_EQ(ReadBytes(first), "[S]\r\nk=saved\r\n") << "the replaced central store was not deleted";

    CCfgReader* thirdCentral = changed(scratch / L"third.cfg");
    EXPECT_EQ(store->SetCentral(thirdCentral, 0), 1);
    EXPECT_EQ(ReadBytes(second), "") << "kept by the caller";
    delete secondCentral;
    EXPECT_EQ(ReadBytes(second), "[S]\r\nk=saved\r\n");

    EXPECT_EQ(store->SetCentral(store.get()), 0);
    EXPECT_EQ(store->Get_m_Central(), thirdCentral);
    store->Delete();
    EXPECT_EQ(store->Get_m_Central(), nullptr);
    EXPECT_EQ(ReadBytes(scratch / L"third.cfg"), "[S]\r\nk=saved\r\n");
}

TEST_F(CfgTypedTest, FlagSettersReturnThePreviousValue)
{
    CCfgReader store;
    EXPECT_EQ(store.SetReadOnly(1), 0);
    EXPECT_EQ(store.SetReadOnly(0), 1);
    EXPECT_EQ(store.SetRegistryType(0x100), 0);
    EXPECT_EQ(store.SetRegistryType(0), 0x100);
    EXPECT_EQ(store.SetSaveToDrawing(1), 0);
    EXPECT_EQ(store.SetSaveToDrawing(0), 1);
}

TEST(CfgValueTypeTest, TypesAreRecordedPerSectionAndName)
{
    CCfgReader store;
    EXPECT_EQ(store.GetValueType(L"S", L"v"), 1u);
    store.SetValueType(L"S", L"v", 4);
    store.SetValueType(L"S\\Sub", L"v", 3);
    store.SetValueType(L"s", L"V", 11);
    EXPECT_EQ(store.GetValueType(L"S", L"v"), 11u);
    EXPECT_EQ(store.GetValueType(L"S\\sub", L"V"), 3u);
    EXPECT_EQ(store.GetValueType(L"S", L"w"), 1u);
    EXPECT_EQ(store.Get_m_TypesIndex().size(), 2u);
    EXPECT_EQ(store.Get_m_Types().size(), 2u);
}

TEST(CfgRegistryPathTest, OnlyTheFiveRootsFollowedByABackslash)
{
    struct Row {
        const wchar_t* name;
        bool registry;
    };
    const Row rows[] = {
        {L"HKEY_CURRENT_USER\\Software\\Tarnix", true},
        {L"hkey_local_machine\\Software", true},
        {L"HKEY_CLASSES_ROOT\\x", true},
        {L"HKEY_USERS\\.DEFAULT", true},
        {L"HKEY_CURRENT_CONFIG\\", true},
        {L"HKEY_CURRENT_USER", false},
        {L"HKEY_NOWHERE\\x", false},
        {L"HKEY_USERSX\\x", false},
        {L"HKEY_\\x", false},
        {L"HKCU\\Software", false},
        {L"C:\\HKEY_CURRENT_USER\\x", false},
        {L"", false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(tarn::IsRegistryPath(row.name), row.registry) << row.name;
    }
}

TEST_F(CfgTypedTest, UnknownHkeyNameIsAFileName)
{
    ASSERT_TRUE(::CreateDirectoryW((scratch / L"HKEY_NOWHERE").c_str(), nullptr));
    wchar_t previous[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(::SetCurrentDirectoryW(scratch.Path().c_str()));
    {
        CCfgReader store(L"HKEY_NOWHERE\\x.cfg");
        EXPECT_EQ(store.IsInit(), 1);
        EXPECT_EQ(store.Get_m_IsRegistry(), 0);
        store.SetValue(L"S", L"k", L"v");
        EXPECT_EQ(store.Save(), 1);
    }
    ::SetCurrentDirectoryW(previous);
    EXPECT_EQ(ReadBytes(scratch / L"HKEY_NOWHERE\\x.cfg"), "[S]\r\nk=v\r\n");
}

}  // namespace
