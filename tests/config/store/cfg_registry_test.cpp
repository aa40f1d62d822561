// The settings store on registry keys, in a sandbox key of the test's own.

#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "common/test_files.h"
#include "common/test_registry.h"
#include "config/store/cfg_reader.h"
#include "support/registry.h"

using tarn::test::RegistrySandbox;
using tarn::test::ScratchFolder;
using tarn::test::WriteBytes;

namespace {

std::vector<BYTE> Bytes(const void* data, size_t size)
{
    const auto* bytes = static_cast<const BYTE*>(data);
    return std::vector<BYTE>(bytes, bytes + size);
}

std::vector<BYTE> TextBytes(const std::wstring& text)
{
    return Bytes(text.c_str(), (text.size() + 1) * sizeof(wchar_t));
}

// Every value of a key: name -> type and data.
std::map<std::wstring, std::pair<DWORD, std::vector<BYTE>>> AllValues(HKEY root, const std::wstring& keyPath)
{
    std::map<std::wstring, std::pair<DWORD, std::vector<BYTE>>> values;
    tarn::UniqueRegKey key(OpenRegistryKey(root, keyPath.c_str()));
    tarn::RegistryValue value;
    for (DWORD index = 0; key && tarn::EnumRegistryValue(key.Get(), index, value) == ERROR_SUCCESS; ++index) {
        values[value.name] = {value.type, value.data};
    }
    return values;
}

std::vector<std::wstring> Subkeys(const std::wstring& path)
{
    std::vector<std::wstring> subkeys;
    ListRegistrySubkeys(path.c_str(), subkeys, 1);
    return subkeys;
}

class CfgRegistryTest : public ::testing::Test {
protected:
    RegistrySandbox sandbox;

    void SetUp() override { ASSERT_TRUE(sandbox.Valid()); }

    std::wstring Get(CCfgReader& store, const wchar_t* section, const wchar_t* key)
    {
        std::wstring value = L"(default)";
        store.GetValue(value, section, key);
        return value;
    }

    // Loads the sandbox into a store, changes the value "Other" of its key and
    // saves, so that every other value goes through a load and save.
    void RoundTripWithAChange()
    {
        CCfgReader store(sandbox.Path());
        ASSERT_EQ(store.IsInit(), 1);
        EXPECT_EQ(store.SetValue(L"\\", L"Other", L"changed"), 1);
        EXPECT_EQ(store.Save(), 1);
    }

    // The values of the sandbox key or of a subkey, without "Other".
    std::map<std::wstring, std::pair<DWORD, std::vector<BYTE>>> ValuesBesidesOther(const std::wstring& subkey = L"")
    {
        auto values = AllValues(HKEY_CURRENT_USER, sandbox.KeyPath() + (subkey.empty() ? L"" : L"\\" + subkey));
        values.erase(L"Other");
        return values;
    }

    // Fills the sandbox with one value of each kind the store knows.
    void FillTree()
    {
        const DWORD allOnes = 0xFFFFFFFFu;
        const BYTE binary[] = {0x00, 0xAB, 0x10};
        const int64_t big = -(int64_t{1} << 40);
        // Created in name order: Wine enumerates values sorted, Windows in the
        // order they were made.
        ASSERT_TRUE(sandbox.SetText(L"", nullptr, L"Default"));
        ASSERT_TRUE(sandbox.SetText(L"", L"Expand", L"%TEMP%\\x", REG_EXPAND_SZ));
        ASSERT_TRUE(sandbox.SetText(L"", L"Name", L"Value"));
        ASSERT_TRUE(sandbox.Set(L"Sub", L"Dword", REG_DWORD, &allOnes, sizeof(allOnes)));
        ASSERT_TRUE(sandbox.Set(L"Sub", L"Multi", REG_MULTI_SZ, L"one\0two\0", 18));
        ASSERT_TRUE(sandbox.Set(L"Sub", L"Q", REG_QWORD, &big, sizeof(big)));
        ASSERT_TRUE(sandbox.Set(L"Sub\\Deeper", L"Bin", REG_BINARY, binary, sizeof(binary)));
        ASSERT_TRUE(sandbox.SetText(L"Tail", L"Text", L"t"));
    }
};

TEST_F(CfgRegistryTest, KeyTreeBecomesSections)
{
    FillTree();
    CCfgReader store(sandbox.Path());
    EXPECT_EQ(store.IsInit(), 1);
    EXPECT_EQ(store.Get_m_IsRegistry(), 1);
    const std::vector<std::wstring> expected = {
        L"[\\]",
        L"RegDefaultValue=Default",
        L"Expand=%TEMP%\\x",
        L"Name=Value",
        L"",
        L"[Sub]",
        L"Dword=-1",
        L"Multi=one",
        L"Multi_ArMember_1=two",
        L"Q=-1099511627776",
        L"",
        L"[Sub\\Deeper]",
        L"Bin=00ab10",
        L"",
        L"[Tail]",
        L"Text=t",
    };
    EXPECT_EQ(store.GetDataArray(), expected);
    EXPECT_EQ(Get(store, L"\\", L"regdefaultvalue"), L"Default");
    EXPECT_EQ(Get(store, L"sub\\deeper", L"Bin"), L"00ab10");
    std::vector<std::wstring> multi;
    EXPECT_EQ(store.GetArrayValue(multi, L"Sub", L"Multi"), 1);
    EXPECT_EQ(multi, (std::vector<std::wstring>{L"one", L"two"}));

    struct Row {
        const wchar_t* section;
        const wchar_t* name;
        uint64_t type;
    };
    const Row types[] = {
        {L"\\", L"Name", REG_SZ},      {L"\\", L"RegDefaultValue", REG_SZ}, {L"\\", L"Expand", REG_EXPAND_SZ},
        {L"Sub", L"Dword", REG_DWORD}, {L"Sub", L"Multi", REG_MULTI_SZ},    {L"Sub", L"Q", REG_QWORD},
        {L"Sub\\Deeper", L"Bin", REG_BINARY},
    };
    for (const Row& row : types) {
        EXPECT_EQ(store.GetValueType(row.section, row.name), row.type) << row.section << L" " << row.name;
    }
    // Loading changes nothing, so nothing is saved.
    EXPECT_EQ(store.Get_m_HasChanged(), 0);
}

TEST_F(CfgRegistryTest, SavingWritesRecordedTypesAndDeletesNothing)
{
    FillTree();
    const auto before = AllValues(HKEY_CURRENT_USER, sandbox.KeyPath() + L"\\Sub");
    {
        CCfgReader store(sandbox.Path());
        ASSERT_EQ(store.IsInit(), 1);
        EXPECT_EQ(store.SetValue(L"\\", L"RegDefaultValue", L"changed default"), 1);
        EXPECT_EQ(store.DeleteValue(L"\\", L"Name"), 1);
        EXPECT_EQ(store.SetValue(L"\\", L"Expand", L"%TMP%\\y"), 1);
        EXPECT_EQ(store.SetValue(L"Sub\\Deeper", L"Bin", L"CAFE"), 1);
        EXPECT_EQ(store.SetValue(L"New\\Key", L"Added", L"text"), 1);
        EXPECT_EQ(store.SetValue(L"Sub", L"Multi_ArMember_1", L"zwei"), 1);
        EXPECT_EQ(store.SetValue(L"Sub", L"Multi_ArMember_2", L"drei"), 1);
        EXPECT_EQ(store.Save(), 1);
        EXPECT_EQ(store.Get_m_HasChanged(), 1) << "a registry save leaves the flag";
    }
    DWORD type = 0;
    std::vector<BYTE> data;
    ASSERT_TRUE(sandbox.Get(L"", nullptr, type, data));
    EXPECT_EQ(type, DWORD{REG_SZ});
    EXPECT_EQ(data, TextBytes(L"changed default"));
    ASSERT_TRUE(sandbox.Get(L"", L"Name", type, data)) << "deleted from the store, kept in the registry";
    EXPECT_EQ(data, TextBytes(L"Value"));
    ASSERT_TRUE(sandbox.Get(L"", L"Expand", type, data));
    EXPECT_EQ(type, DWORD{REG_EXPAND_SZ});
    EXPECT_EQ(data, TextBytes(L"%TMP%\\y"));
    ASSERT_TRUE(sandbox.Get(L"Sub\\Deeper", L"Bin", type, data));
    EXPECT_EQ(type, DWORD{REG_BINARY});
    EXPECT_EQ(data, (std::vector<BYTE>{0xCA, 0xFE}));
    ASSERT_TRUE(sandbox.Get(L"New\\Key", L"Added", type, data));
    EXPECT_EQ(type, DWORD{REG_SZ});
    // The multi-string keeps its type, its members joined again, and no
    // member becomes a value of its own.
    ASSERT_TRUE(sandbox.Get(L"Sub", L"Multi", type, data));
    EXPECT_EQ(type, DWORD{REG_MULTI_SZ});
    EXPECT_EQ(data, Bytes(L"one\0zwei\0drei\0", 30));
    auto after = AllValues(HKEY_CURRENT_USER, sandbox.KeyPath() + L"\\Sub");
    EXPECT_EQ(after.count(L"Multi_ArMember_1"), 0u);
    after.erase(L"Multi");
    auto unchanged = before;
    unchanged.erase(L"Multi");
    EXPECT_EQ(after, unchanged) << "the DWORD and QWORD values keep type and data";
}

TEST_F(CfgRegistryTest, NumbersAreWrittenWithTheirTypes)
{
    const DWORD zero = 0;
    const int64_t zero64 = 0;
    ASSERT_TRUE(sandbox.Set(L"", L"Dword", REG_DWORD, &zero, sizeof(zero)));
    ASSERT_TRUE(sandbox.Set(L"", L"Q", REG_QWORD, &zero64, sizeof(zero64)));
    ASSERT_TRUE(sandbox.Set(L"", L"Bin", REG_BINARY, "\x01", 1));
    {
        CCfgReader store(sandbox.Path());
        store.SetValue(L"\\", L"Dword", L"-1");
        store.SetValue(L"\\", L"Q", L"-5000000000");
        store.SetValue(L"\\", L"Bin", L"not hexadecimal");
        EXPECT_EQ(store.Save(), 1);
    }
    DWORD type = 0;
    std::vector<BYTE> data;
    ASSERT_TRUE(sandbox.Get(L"", L"Dword", type, data));
    EXPECT_EQ(type, DWORD{REG_DWORD});
    EXPECT_EQ(data, (std::vector<BYTE>{0xFF, 0xFF, 0xFF, 0xFF}));
    ASSERT_TRUE(sandbox.Get(L"", L"Q", type, data));
    EXPECT_EQ(type, DWORD{REG_QWORD});
    int64_t q = 0;
    ASSERT_EQ(data.size(), sizeof(q));
    memcpy(&q, data.data(), sizeof(q));
    EXPECT_EQ(q, -5000000000LL);
    // Text that is no hexadecimal data is not written over the bytes.
    ASSERT_TRUE(sandbox.Get(L"", L"Bin", type, data));
    EXPECT_EQ(type, DWORD{REG_BINARY});
    EXPECT_EQ(data, (std::vector<BYTE>{0x01}));
}

TEST_F(CfgRegistryTest, RoundTripLeavesWhatTheStoreCannotHold)
{
    const std::wstring trailing = std::wstring(L"visible\0hidden", 14);
    const DWORD bigEndian = 0x01020304;
    ASSERT_TRUE(sandbox.SetText(L"", L"Spaced", L"  padded  "));
    ASSERT_TRUE(sandbox.Set(L"", L"AfterZero", REG_SZ, trailing.c_str(), 30));
    ASSERT_TRUE(sandbox.SetText(L"", L"a=b", L"equals in the name"));
    ASSERT_TRUE(sandbox.SetText(L"", L"[bracket", L"looks like a header"));
    ASSERT_TRUE(sandbox.SetText(L"", L";comment", L"looks like a comment"));
    ASSERT_TRUE(sandbox.SetText(L"", L" blank", L"blank before the name"));
    ASSERT_TRUE(sandbox.SetText(L"", L"RegDefaultValue", L"named like the unnamed value"));
    ASSERT_TRUE(sandbox.Set(L"", L"Multi", REG_MULTI_SZ, L"x\0y\0", 10));
    ASSERT_TRUE(sandbox.SetText(L"", L"Multi_ArMember_1", L"named like a member"));
    ASSERT_TRUE(sandbox.Set(L"", L"BigEndian", REG_DWORD_BIG_ENDIAN, &bigEndian, sizeof(bigEndian)));
    ASSERT_TRUE(sandbox.Set(L"", L"None", REG_NONE, "\x05", 1));
    ASSERT_TRUE(sandbox.SetText(L"odd]key", L"Inside", L"a key name with a bracket"));
    ASSERT_TRUE(sandbox.SetText(L"Normal", L"Inside", L"normal"));
    const auto rootBefore = AllValues(HKEY_CURRENT_USER, sandbox.KeyPath());
    const auto subkeysBefore = Subkeys(sandbox.Path());
    {
        CCfgReader store(sandbox.Path());
        ASSERT_EQ(store.IsInit(), 1);
        EXPECT_EQ(Get(store, L"\\", L"Spaced"), L"padded");
        EXPECT_EQ(Get(store, L"\\", L"AfterZero"), L"visible");
        EXPECT_EQ(Get(store, L"\\", L"Multi_ArMember_1"), L"y");
        std::wstring value;
        EXPECT_EQ(store.GetValue(value, L"odd", L"Inside"), 0);
        EXPECT_EQ(store.GetValue(value, L"odd]key", L"Inside"), 0);
        EXPECT_EQ(store.SetValue(L"Normal", L"Inside", L"changed"), 1);
        EXPECT_EQ(store.Save(1), 1);
    }
    EXPECT_EQ(AllValues(HKEY_CURRENT_USER, sandbox.KeyPath()), rootBefore);
    EXPECT_EQ(Subkeys(sandbox.Path()), subkeysBefore);
    DWORD type = 0;
    std::vector<BYTE> data;
    ASSERT_TRUE(sandbox.Get(L"Normal", L"Inside", type, data));
    EXPECT_EQ(data, TextBytes(L"changed"));
}

TEST_F(CfgRegistryTest, EmptyAndBlankValuesKeepTheirTypes)
{
    ASSERT_TRUE(sandbox.Set(L"", L"EmptyBinary", REG_BINARY, nullptr, 0));
    ASSERT_TRUE(sandbox.SetText(L"", L"EmptyExpand", L"", REG_EXPAND_SZ));
    ASSERT_TRUE(sandbox.SetText(L"", L"BlankExpand", L"  ", REG_EXPAND_SZ));
    ASSERT_TRUE(sandbox.Set(L"", L"BlankFirst", REG_MULTI_SZ, L" \0two\0", 14));
    ASSERT_TRUE(sandbox.Set(L"", L"BlankOnly", REG_MULTI_SZ, L" \0", 6));
    const auto before = ValuesBesidesOther();
    RoundTripWithAChange();
    EXPECT_EQ(ValuesBesidesOther(), before) << "an empty binary, expandable or multi-string value keeps its type";
}

TEST_F(CfgRegistryTest, AValueNamedLikeTheNextMemberOfAMultiStringStaysApart)
{
    ASSERT_TRUE(sandbox.Set(L"", L"Multi", REG_MULTI_SZ, L"only\0", 12));
    ASSERT_TRUE(sandbox.SetText(L"", L"Multi_ArMember_1", L"a value of its own"));
    const auto before = ValuesBesidesOther();
    RoundTripWithAChange();
    EXPECT_EQ(ValuesBesidesOther(), before) << "the multi-string does not take in the other value";
}

TEST_F(CfgRegistryTest, AValueNamedSimpleListKeepsItsData)
{
    const DWORD one = 1;
    ASSERT_TRUE(sandbox.SetText(L"", L"SimpleList", L"True"));
    ASSERT_TRUE(sandbox.Set(L"Sub", L"simplelist", REG_DWORD, &one, sizeof(one)));
    ASSERT_TRUE(sandbox.SetText(L"Sub", L"After", L"a"));
    const auto rootBefore = ValuesBesidesOther();
    const auto subBefore = ValuesBesidesOther(L"Sub");
    RoundTripWithAChange();
    EXPECT_EQ(ValuesBesidesOther(), rootBefore);
    EXPECT_EQ(ValuesBesidesOther(L"Sub"), subBefore);
}

// A symbolic link leading back to the configured key makes the tree endless;
// it is read down to the deepest level a registry tree can have.
TEST_F(CfgRegistryTest, ALinkBackToTheKeyEndsAtTheDeepestLevel)
{
    ASSERT_TRUE(sandbox.SetText(L"", L"Name", L"Value"));
    tarn::test::RegistryLink loop(sandbox.Key(), L"Loop", sandbox.Key());
    ASSERT_TRUE(loop.Valid());
    const auto before = AllValues(HKEY_CURRENT_USER, sandbox.KeyPath());
    {
        CCfgReader store(sandbox.Path());
        ASSERT_EQ(store.IsInit(), 1);
        std::vector<std::wstring>* sections = nullptr;
        ASSERT_EQ(store.GetSortedKeyArray(sections), 1);
        EXPECT_EQ(sections->size(), 1u + 512u);
        std::wstring deepest = L"Loop";
        for (int level = 2; level <= 512; ++level) {
            deepest += L"\\Loop";
        }
        EXPECT_EQ(Get(store, deepest.c_str(), L"Name"), L"Value");
        std::wstring value;
        EXPECT_EQ(store.GetValue(value, (deepest + L"\\Loop").c_str(), L"Name"), 0) << "no deeper section";
        EXPECT_EQ(store.Save(1), 1);
    }
    EXPECT_EQ(AllValues(HKEY_CURRENT_USER, sandbox.KeyPath()), before);
}

TEST_F(CfgRegistryTest, LargeValuesLoadWholeAndSurviveASave)
{
    const std::wstring text(200000, L'z');
    std::vector<BYTE> binary(50000);
    for (size_t i = 0; i < binary.size(); ++i) {
        binary[i] = static_cast<BYTE>(i * 7);
    }
    ASSERT_TRUE(sandbox.SetText(L"", L"LongText", text));
    ASSERT_TRUE(sandbox.Set(L"", L"LongBinary", REG_BINARY, binary.data(), static_cast<DWORD>(binary.size())));
    const std::wstring longName(16383, L'n');
    ASSERT_TRUE(sandbox.SetText(L"", longName.c_str(), L"long name"));
    {
        CCfgReader store(sandbox.Path());
        EXPECT_EQ(Get(store, L"\\", L"LongText"), text);
        EXPECT_EQ(Get(store, L"\\", L"LongBinary").size(), binary.size() * 2);
        EXPECT_EQ(Get(store, L"\\", longName.c_str()), L"long name");
        store.SetValue(L"\\", L"Other", L"x");
        EXPECT_EQ(store.Save(), 1);
    }
    DWORD type = 0;
    std::vector<BYTE> data;
    ASSERT_TRUE(sandbox.Get(L"", L"LongBinary", type, data));
    EXPECT_EQ(data, binary);
    ASSERT_TRUE(sandbox.Get(L"", L"LongText", type, data));
    EXPECT_EQ(data, TextBytes(text));
}

TEST_F(CfgRegistryTest, AMissingKeyIsAnEmptyStoreThatSavingCreates)
{
    const std::wstring path = sandbox.Path() + L"\\Not\\There";
    {
        CCfgReader store(path);
        EXPECT_EQ(store.IsInit(), 1);
        EXPECT_TRUE(store.GetDataArray().empty());
        EXPECT_EQ(store.SetValue(L"\\", L"Created", L"yes"), 1);
        EXPECT_EQ(store.SetValue(L"Child", L"Also", L"yes"), 1);
    }
    std::wstring text;
    EXPECT_EQ(GetRegistryText(text, path.c_str(), L"Created"), 1);
    EXPECT_EQ(text, L"yes");
    EXPECT_EQ(GetRegistryText(text, (path + L"\\Child").c_str(), L"Also"), 1);
}

// A registry path is never read as a file name relative to the current
// folder: a planted file would otherwise end up in the registry at the next save.
TEST_F(CfgRegistryTest, AMissingKeyNeverReadsAFileOfTheSameName)
{
    ScratchFolder scratch;
    const std::wstring relative = sandbox.Path() + L"\\Missing";
    ASSERT_TRUE(WriteBytes(scratch / relative, "[\\]\r\nPlanted=1\r\n[Planted Key]\r\nA=1\r\n"));
    wchar_t previous[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(::SetCurrentDirectoryW(scratch.Path().c_str()));
    {
        CCfgReader store(relative);
        ::SetCurrentDirectoryW(previous);
        EXPECT_EQ(store.IsInit(), 1);
        EXPECT_TRUE(store.GetDataArray().empty());
        EXPECT_EQ(store.SetValue(L"\\", L"Own", L"x"), 1);
        EXPECT_EQ(store.Save(), 1);
    }
    std::wstring text;
    EXPECT_EQ(GetRegistryText(text, relative.c_str(), L"Own"), 1);
    EXPECT_EQ(GetRegistryText(text, relative.c_str(), L"Planted"), 0);
    EXPECT_TRUE(Subkeys(relative).empty());
}


TEST_F(CfgRegistryTest, NamesThatAreNoRegistryPathsAreFileNames)
{
    for (const wchar_t* name : {L"HKEY_NOWHERE\\x", L"HKLM\\Software\\x", L"HKEY_CURRENT_USERx\\Software"}) {
        SCOPED_TRACE(testing::Message() << "name " << name);
        CCfgReader store(name);
        EXPECT_EQ(store.Get_m_IsRegistry(), 0);
        EXPECT_TRUE(store.GetDataArray().empty());
    }
    CCfgReader bare(L"HKEY_CURRENT_USER");
    EXPECT_EQ(bare.IsInit(), 0) << "no backslash: never loaded";
}

TEST_F(CfgRegistryTest, RootKeysAreNeverWritten)
{
    const wchar_t* name = L"TarnRootValueThatMustNotExist";
    CCfgReader store(L"HKEY_CURRENT_USER\\");
    store.SetValue(L"\\", name, L"x");
    EXPECT_EQ(store.Save(1), 0);
    tarn::UniqueRegKey root(OpenRegistryKey(HKEY_CURRENT_USER, L""));
    std::wstring text;
    EXPECT_EQ(ReadRegistryText(root.Get(), name, text), 0);
    store.Get_m_HasChanged() = 0;
}

TEST_F(CfgRegistryTest, AKeyThatCannotBeCreatedKeepsTheChangePending)
{
    // Key names are limited to 255 characters: first the configured key, then
    // only a subkey beside a section that is written well.
    const std::wstring tooLong(300, L'k');
    ASSERT_TRUE(sandbox.SetText(L"", L"Name", L"old"));
    struct Row {
        std::wstring store;
        std::wstring section;
    };
    const Row rows[] = {{sandbox.Path() + L"\\" + tooLong, L"\\"}, {sandbox.Path(), tooLong}};
    for (const Row& row : rows) {
        CCfgReader store(row.store);
        EXPECT_EQ(store.IsInit(), 1);
        store.SetValue(L"\\", L"Name", L"new");
        store.SetValue(row.section, L"Name", L"x");
        EXPECT_EQ(store.Save(), 0) << row.section.size();
        EXPECT_EQ(store.Get_m_HasChanged(), 1);
        EXPECT_EQ(store.Save(), 0) << "a failed save is tried again";
        store.Get_m_HasChanged() = 0;
    }
}

TEST(CfgRegistryViewTest, MachineKeysInThe64BitView)
{
    RegistrySandbox sandbox(HKEY_LOCAL_MACHINE, true);
    ASSERT_TRUE(sandbox.Valid());
    ASSERT_TRUE(sandbox.SetText(L"Sub", L"Before", L"b"));
    {
        CCfgReader store(sandbox.Path(), 0x100);
        EXPECT_EQ(store.Get_m_IsRegistry(), 0x101);
        std::wstring value;
        EXPECT_EQ(store.GetValue(value, L"Sub", L"Before"), 1);
        EXPECT_EQ(value, L"b");
        store.SetValue(L"Sub", L"After", L"a");
        EXPECT_EQ(store.Save(), 1);
    }
    std::wstring text;
    EXPECT_EQ(GetRegistryText(text, (sandbox.Path() + L"\\Sub").c_str(), L"After", 1), 1);
    EXPECT_EQ(text, L"a");
}

}  // namespace
