// Loading settings files and looking entries up; changes and their effect on
// the line list and the indexes.

#include "config/store/cfg_reader.h"

#include <gtest/gtest.h>

#include "cfg_test_util.h"

using tarn::test::ExpectConsistentIndexes;
using tarn::test::ReadBytes;

namespace {

using Lines = std::vector<std::wstring>;

using CfgReaderTest = tarn::test::CfgFileTest;

struct Lookup {
    const wchar_t* section;
    const wchar_t* key;
    int result;  // of GetValue without default
    const wchar_t* value;
};

void ExpectLookups(CCfgReader& store, std::initializer_list<Lookup> lookups, const char* name = "")
{
    for (const Lookup& lookup : lookups) {
        std::wstring value = L"stale";
        EXPECT_EQ(store.GetValue(value, lookup.section, lookup.key), lookup.result)
            << name << ": " << lookup.section << "/" << lookup.key;
        EXPECT_EQ(value, lookup.value) << name << ": " << lookup.section << "/" << lookup.key;
    }
}

TEST_F(CfgReaderTest, FileSyntaxAnswersLookups)
{
    struct Row {
        const char* name;
        std::string text;
        std::initializer_list<Lookup> lookups;
    };
    const Row rows[] = {
        {"comment and spaces",
         "[Settings]\r\nReady = 1\r\n; Ready=0\r\n",
         {{L"settings", L"READY", 1, L"1"}, {L"Settings", L"; Ready", 0, L""}}},
        {"value holding equals signs and quotes",
         "[S]\r\nFormula=a=b\r\nQuoted=\"x y\"\r\n  Indented\t=\t v \r\n",
         {{L"S", L"Formula", 1, L"a=b"}, {L"S", L"Quoted", 1, L"\"x y\""}, {L"S", L"Indented", 1, L"v"}}},
        {"headers with spaces and without bracket",
         "[ My Section ]\r\na=1\r\n[Open\r\nb=2\r\n",
         {{L"My Section", L"a", 1, L"1"}, {L"my section", L"A", 1, L"1"}, {L"Open", L"b", 1, L"2"}}},
        {"duplicate keys: the first wins",
         "[S]\r\nk=first\r\nK=second\r\nk=third\r\n",
         {{L"S", L"k", 1, L"first"}}},
        {"entries before the first section are not found",
         "k=orphan\r\n[S]\r\nk=inside\r\n",
         {{L"S", L"k", 1, L"inside"}, {L"", L"k", 0, L""}}},
        {"comment kinds and lines without equals sign",
         "[S]\r\n/k=1\r\n:k=2\r\n;k=3\r\nplain line\r\n=empty key\r\n",
         {{L"S", L"k", 0, L""}, {L"S", L"plain line", 0, L""}, {L"S", L"", 0, L""}}},
        {"mixed line breaks",
         "[S]\ra=1\nb=2\r\nc=3",
         {{L"S", L"a", 1, L"1"}, {L"S", L"b", 1, L"2"}, {L"S", L"c", 1, L"3"}}},
        {"umlauts compared without case",
         "[\xC4rger]\r\n\xD6l=\xFC\r\n",
         {{L"\u00E4rger", L"\u00F6L", 1, L"\u00FC"}}},
        {"a repeated header adds to the first section",
         "[S]\r\na=1\r\n[T]\r\nt=1\r\n[s]\r\nb=2\r\na=shadowed\r\n",
         {{L"S", L"a", 1, L"1"}, {L"S", L"b", 1, L"2"}, {L"T", L"t", 1, L"1"}}},
    };
    for (const Row& row : rows) {
        Put(row.text);
        CCfgReader store(file);
        ASSERT_EQ(store.IsInit(), 1) << row.name;
        ExpectLookups(store, row.lookups, row.name);
        ExpectConsistentIndexes(store);
    }
}

TEST_F(CfgReaderTest, GetValueReportsMissingKeysAndSectionsWithTheDefault)
{
    Put("[S]\r\nk=v\r\n");
    CCfgReader store(file);
    struct Row {
        const wchar_t* section;
        const wchar_t* key;
        const wchar_t* defaultValue;
        int result;
        const wchar_t* value;
    };
    const Row rows[] = {
        {L"S", L"k", L"d", 1, L"v"},
        {L"S", L"missing", L"d", 1, L"d"},
        {L"S", L"missing", nullptr, 0, L""},
        {L"Missing", L"k", L"d", 0, L"d"},
        {L"Missing", L"k", nullptr, 0, L""},
    };
    for (const Row& row : rows) {
        std::wstring value = L"stale";
        EXPECT_EQ(store.GetValue(value, row.section, row.key, row.defaultValue), row.result)
            << row.section << "/" << row.key;
        EXPECT_EQ(value, row.value);
    }
}

TEST_F(CfgReaderTest, GetSectionAppendsEntriesInFileOrder)
{
    Put("[S]\r\nb=2\r\na=1\r\n; c=3\r\nb=dup\r\n[T]\r\nx=1\r\n");
    CCfgReader store(file);
    Lines keys{L"kept"};
    Lines values{L"kept"};
    EXPECT_EQ(store.GetSection(keys, values, L"s"), 1);
    EXPECT_EQ(keys, (Lines{L"kept", L"b", L"a", L"b"}));
    EXPECT_EQ(values, (Lines{L"kept", L"2", L"1", L"dup"}));
    EXPECT_EQ(store.GetSection(keys, values, L"Missing"), 0);
}

TEST_F(CfgReaderTest, SimpleListTurnsPlainLinesIntoNumberedEntries)
{
    Put("[Files]\r\nSimpleList=True\r\nalpha\r\n\r\n; note\r\nbeta\r\nkey=value\r\n"
        "[Next]\r\ngamma\r\n");
    CCfgReader store(file);
    ExpectLookups(store, {{L"Files", L"SimpleList", 1, L"0"},
                          {L"Files", L"00001", 1, L"alpha"},
                          {L"Files", L"00004", 1, L"beta"},
                          {L"Files", L"key", 1, L"value"},
                          {L"Next", L"00001", 1, L"gamma"}});
    EXPECT_EQ(store.Get_m_Data()[1], L"SimpleList=0");
    EXPECT_EQ(store.Get_m_Data()[2], L"00001=alpha");
    ExpectConsistentIndexes(store);

    // The rewritten lines count as loaded: saving without changes writes nothing.
    const std::string before = ReadBytes(file);
    EXPECT_EQ(store.Save(), 1);
    EXPECT_EQ(ReadBytes(file), before);
}

TEST_F(CfgReaderTest, SimpleListNeedsTrueOrOne)
{
    struct Row {
        const char* marker;
        int listed;
    };
    const Row rows[] = {{"SimpleList=TRUE", 1}, {"simplelist=1", 1}, {"SimpleList=0", 0},
                        {"SimpleList=yes", 0},  {"SimpleLists=1", 0}};
    for (const Row& row : rows) {
        Put(std::string("[S]\r\n") + row.marker + "\r\nalpha\r\n");
        CCfgReader store(file);
        std::wstring value;
        EXPECT_EQ(store.GetValue(value, L"S", L"00001"), row.listed) << row.marker;
    }
}

TEST_F(CfgReaderTest, NewKeysGoUnderTheHeaderAndNewSectionsToTheEnd)
{
    Put("[A]\r\nold=1\r\n[B]\r\nb=1\r\n");
    CCfgReader store(file);
    EXPECT_EQ(store.SetValue(L"A", L"new", L"2"), 1);
    EXPECT_EQ(store.SetValue(L"C", L"c", L"3"), 1);
    EXPECT_EQ(store.Get_m_Data(), (Lines{L"[A]", L"new=2", L"old=1", L"[B]", L"b=1", L"", L"[C]", L"c=3"}));
    ExpectConsistentIndexes(store);
    ExpectLookups(store, {{L"A", L"old", 1, L"1"}, {L"B", L"b", 1, L"1"}, {L"c", L"C", 1, L"3"}});
}

TEST_F(CfgReaderTest, SetValueChangesOnlyTheFirstDuplicateAndKeepsTheKeyAsWritten)
{
    Put("[S]\r\nKey =one\r\nkey=two\r\n");
    CCfgReader store(file);
    EXPECT_EQ(store.SetValue(L"s", L"KEY", L"new"), 1);
    EXPECT_EQ(store.Get_m_Data(), (Lines{L"[S]", L"Key =new", L"key=two"}));
    EXPECT_EQ(store.Get_m_HasChanged(), 1);
}

TEST_F(CfgReaderTest, DeleteValueUncoversTheNextDuplicate)
{
    Put("[S]\r\na=1\r\nk=first\r\nb=2\r\nk=second\r\nk=third\r\n[T]\r\nt=1\r\n");
    CCfgReader store(file);
    EXPECT_EQ(store.DeleteValue(L"S", L"k"), 1);
    ExpectLookups(store, {{L"S", L"k", 1, L"second"}, {L"T", L"t", 1, L"1"}});
    EXPECT_EQ(store.DeleteValue(L"S", L"k"), 1);
    ExpectLookups(store, {{L"S", L"k", 1, L"third"}});
    ExpectConsistentIndexes(store);
    EXPECT_EQ(store.Get_m_Data(), (Lines{L"[S]", L"a=1", L"b=2", L"k=third", L"[T]", L"t=1"}));
}

TEST_F(CfgReaderTest, ChangesRefuseWhatALineCannotHold)
{
    Put("[S]\r\nk=v\r\n");
    CCfgReader store(file);
    struct Row {
        const wchar_t* section;
        const wchar_t* key;
        const wchar_t* value;
        int result;
    };
    const Row rows[] = {
        {L"S", L"k", L"plain", 1},
        {L"S", L"k", nullptr, 1},
        {L"", L"k", L"v", 0},
        {L"S", L"", L"v", 0},
        {L"S", L"k", L"two\r\n[Injected]", 0},
        {L"S", L"k", L"lf\nonly", 0},
        {L"S\r\nX", L"k", L"v", 0},
        {L"S]", L"k", L"v", 0},
        {L"S", L"a=b", L"v", 0},
        {L"S", L"k\n", L"v", 0},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(store.SetValue(row.section, row.key, row.value), row.result) << row.section << "/" << row.key;
    }
    EXPECT_EQ(store.Get_m_Data(), (Lines{L"[S]", L"k="}));
    EXPECT_EQ(store.DeleteValue(L"", L"k"), 0);
    EXPECT_EQ(store.DeleteValue(L"Missing", L"k"), 1);
    EXPECT_EQ(store.DeleteValue(L"S", L"missing"), 1);
}

// A change that a line cannot carry must not come back after a reload as
// something else: a zero character ends the text when the file is read (and
// with it every line behind it), a key starting with '[' is read as a header
// that takes over the entries below it.
TEST_F(CfgReaderTest, ChangesComeBackAfterReloadAsTheStoreHeldThem)
{
    struct Row {
        const char* name;
        std::wstring section;
        std::wstring key;
        std::wstring value;
    };
    const Row rows[] = {
        {"zero in a value", L"S", L"k", std::wstring(L"x\0y", 3)},
        {"zero in a key", L"S", std::wstring(L"k\0x", 3), L"v"},
        {"zero in a new section", std::wstring(L"A\0x", 3), L"k", L"v"},
        {"key starting with a bracket", L"S", L"[x", L"v"},
        {"key starting with a blank and a bracket", L"S", L" [x", L"v"},
        {"key starting like a comment", L"S", L";x", L"v"},
        {"key starting with a slash", L"S", L"/x", L"v"},
        {"key starting with a blank and a colon", L"S", L" :x", L"v"},
        {"commented key without its commented entry", L"T", L";;x", L"v"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Put("[S]\r\na=1\r\n\r\n[T]\r\nt=1\r\n");
        Lines held;
        {
            CCfgReader store(file);
            store.SetValue(row.section, row.key, row.value);
            held = tarn::test::Snapshot(store);
            EXPECT_EQ(store.Save(), 1);
        }
        CCfgReader reloaded(file);
        ExpectLookups(reloaded, {{L"S", L"a", 1, L"1"}, {L"T", L"t", 1, L"1"}}, row.name);
        EXPECT_EQ(tarn::test::Snapshot(reloaded), held);
    }
}

// Host add-ons call the exported members with null for "none": each null
// text counts as empty, nothing crashes and nothing changes.
TEST_F(CfgReaderTest, NullTextsCountAsEmpty)
{
    const wchar_t* const null = nullptr;
    CCfgReader unbound(null);
    EXPECT_EQ(unbound.IsInit(), 0);
    EXPECT_EQ(unbound.Load(null), 0);

    Put("[S]\r\nk=v\r\n");
    CCfgReader store(file);
    std::wstring value;
    std::vector<std::wstring> keys;
    std::vector<std::wstring> values;
    std::vector<std::wstring> array;
    int number = 7;
    int64_t number64 = 7;
    EXPECT_EQ(store.GetValue(value, null, L"k"), 0);
    EXPECT_EQ(store.GetValue(value, L"S", null, L"d"), 1);
    EXPECT_EQ(value, L"d");
    EXPECT_EQ(store.GetSection(keys, values, null), 0);
    EXPECT_EQ(store.SetValue(null, L"k", L"x"), 0);
    EXPECT_EQ(store.SetValue(L"S", null, L"x"), 0);
    EXPECT_EQ(store.DeleteValue(null, L"k"), 0);
    EXPECT_EQ(store.DeleteValue(L"S", null), 1);
    EXPECT_EQ(store.GetIntValue(number, null, null, 3), 0);
    EXPECT_EQ(store.GetInt64Value(number64, L"S", null, 4), 1);
    EXPECT_EQ(number64, 4);
    EXPECT_EQ(store.SetIntValue(null, L"k", 1), 0);
    EXPECT_EQ(store.GetBoolValue(null, L"k", 1, 1), 1);
    EXPECT_EQ(store.GetArrayValue(array, L"S", null), 0);
    EXPECT_EQ(store.SetArrayValue(null, L"k", {L"a"}), 0);
    EXPECT_EQ(store.Get_m_HasChanged(), 0);
    EXPECT_EQ(store.SetValue(L"S", L"k", null), 1);
    EXPECT_EQ(store.Get_m_Data(), (Lines{L"[S]", L"k="}));
}

TEST_F(CfgReaderTest, CommentedEntriesAreChangedInPlace)
{
    Put("[Other]\r\n;;Mode=x\r\n[S]\r\n\r\n;;Mode=old\r\n//Path=a\r\n[T]\r\n;;Late=1\r\n");
    CCfgReader store(file);
    EXPECT_EQ(store.SetValue(L"s", L";;mode", L"new"), 1);
    EXPECT_EQ(store.SetValue(L"S", L"//Path", L"a"), 1);
    EXPECT_EQ(store.Get_m_HasChanged(), 1);
    EXPECT_EQ(store.Get_m_Data()[4], L";;mode=new");
    EXPECT_EQ(store.Get_m_Data()[5], L"//Path=a");
    EXPECT_EQ(store.Get_m_Data()[1], L";;Mode=x");

    // Not within the section: refused, as a new line would be a comment.
    EXPECT_EQ(store.SetValue(L"S", L";;Late", L"2"), 0);
    EXPECT_EQ(store.Get_m_Data()[3], L"");
    EXPECT_EQ(store.Get_m_Data().back(), L";;Late=1");
}

TEST_F(CfgReaderTest, CommentedEntryWithTheSameTextChangesNothing)
{
    Put("[S]\r\n;;Mode=old\r\n");
    CCfgReader store(file);
    EXPECT_EQ(store.SetValue(L"S", L";;Mode", L"old"), 1);
    EXPECT_EQ(store.Get_m_HasChanged(), 0);
}

TEST_F(CfgReaderTest, NamesWithoutBackslashAreNeverLoaded)
{
    CCfgReader relative(L"settings.cfg");
    EXPECT_EQ(relative.IsInit(), 0);
    EXPECT_EQ(relative.SetValue(L"S", L"k", L"v"), 1);  // lines are still added
    EXPECT_EQ(relative.Save(1), 0);

    CCfgReader unnamed;
    EXPECT_EQ(unnamed.Load(), 0);
    EXPECT_EQ(unnamed.IsInit(), 0);
}

TEST_F(CfgReaderTest, ResetAndDeleteEmptyTheStore)
{
    Put("[S]\r\nk=v\r\n");
    CCfgReader store(file);
    store.SetValueType(L"S", L"k", 4);
    store.SetReadOnly(1);
    store.SetTimeout(10);
    store.Reset();
    EXPECT_EQ(store.IsInit(), 0);
    EXPECT_EQ(store.Get_m_ReadOnly(), 0);
    EXPECT_EQ(store.Get_m_Timeout(), 5000);
    EXPECT_TRUE(store.Get_m_Data().empty());
    EXPECT_TRUE(store.Get_m_KeyStrings().empty());
    EXPECT_TRUE(store.Get_m_TypesIndex().empty());
    std::wstring value;
    EXPECT_EQ(store.GetValue(value, L"S", L"k"), 0);
    std::vector<std::wstring>* names = nullptr;
    EXPECT_EQ(store.GetSortedKeyArray(names), 0);
    EXPECT_EQ(names, nullptr);
}

TEST_F(CfgReaderTest, SetTimeoutReturnsThePreviousLow32BitsSignExtended)
{
    CCfgReader store;
    EXPECT_EQ(store.SetTimeout(0x100000007LL), 5000);
    EXPECT_EQ(store.SetTimeout(0xFFFFFFFFLL), 7);
    EXPECT_EQ(store.SetTimeout(1), -1);
}

// Random changes against a simple model of what the store must hold: every
// index stays consistent and a saved and reloaded store holds the same.
TEST_F(CfgReaderTest, RandomChangesKeepIndexesAndSurviveReload)
{
    struct ModelEntry {
        std::wstring key;
        std::wstring value;
    };
    struct ModelSection {
        std::wstring name;
        std::vector<ModelEntry> entries;  // file order
    };
    const wchar_t* sectionNames[] = {L"Alpha", L"beta", L"Gamma", L"delta", L"Epsilon"};
    const wchar_t* keyNames[] = {L"a", L"B", L"c", L"Dd", L"e", L"f", L"G", L"h"};
    auto lower = [](std::wstring text) {
        for (wchar_t& c : text) {
            c = static_cast<wchar_t>(towlower(c));
        }
        return text;
    };
    auto spell = [&](const wchar_t* name, unsigned bits) {
        std::wstring text = name;
        for (size_t i = 0; i < text.size(); ++i) {
            if (bits & (1u << i)) {
                text[i] = static_cast<wchar_t>(towupper(text[i]));
            }
        }
        return text;
    };

    Put("; header comment\r\n[Alpha]\r\na=1\r\nA=dup\r\n\r\n[beta]\r\nc=3\r\n");
    std::vector<ModelSection> model = {{L"Alpha", {{L"a", L"1"}, {L"A", L"dup"}}}, {L"beta", {{L"c", L"3"}}}};
    auto findSection = [&](const std::wstring& name) {
        for (size_t i = 0; i < model.size(); ++i) {
            if (lower(model[i].name) == lower(name)) {
                return i;
            }
        }
        return model.size();
    };

    CCfgReader store(file);
    unsigned seed = 12345;
    auto next = [&seed](unsigned range) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % range;
    };
    for (int step = 0; step < 1500; ++step) {
        const std::wstring section = spell(sectionNames[next(5)], next(64));
        const std::wstring key = spell(keyNames[next(8)], next(4));
        const size_t s = findSection(section);
        if (next(3) == 0) {
            ASSERT_EQ(store.DeleteValue(section, key), 1);
            if (s < model.size()) {
                auto& entries = model[s].entries;
                for (auto it = entries.begin(); it != entries.end(); ++it) {
                    if (lower(it->key) == lower(key)) {
                        entries.erase(it);
                        break;
                    }
                }
            }
        } else {
            const std::wstring value = std::to_wstring(next(1000));
            ASSERT_EQ(store.SetValue(section, key, value), 1);
            if (s == model.size()) {
                model.push_back({section, {{key, value}}});
            } else {
                auto& entries = model[s].entries;
                auto it = std::find_if(entries.begin(), entries.end(),
                                       [&](const ModelEntry& e) { return lower(e.key) == lower(key); });
                if (it != entries.end()) {
                    it->value = value;
                } else {
                    entries.insert(entries.begin(), {key, value});
                }
            }
        }
        if (step % 100 == 0) {
            ExpectConsistentIndexes(store);
        }
    }
    ExpectConsistentIndexes(store);

    auto expectModel = [&](CCfgReader& checked) {
        for (const ModelSection& section : model) {
            Lines keys;
            Lines values;
            ASSERT_EQ(checked.GetSection(keys, values, section.name), 1);
            ASSERT_EQ(keys.size(), section.entries.size()) << section.name.c_str();
            for (size_t i = 0; i < keys.size(); ++i) {
                EXPECT_EQ(lower(keys[i]), lower(section.entries[i].key));
                EXPECT_EQ(values[i], section.entries[i].value);
            }
        }
    };
    expectModel(store);
    ASSERT_EQ(store.Save(), 1);
    CCfgReader reloaded(file);
    ExpectConsistentIndexes(reloaded);
    expectModel(reloaded);
    EXPECT_EQ(tarn::test::Snapshot(reloaded), tarn::test::Snapshot(store));
}

}  // namespace
