#include "config/store/drawing_handover.h"

#include <gtest/gtest.h>

#include "common/test_files.h"
#include "config/store/cfg_reader.h"
#include "support/unique_handle.h"

using tarn::test::HelperProgram;
using tarn::test::PathExists;
using tarn::test::ReadBytes;
using tarn::test::ScratchFolder;

namespace {

TEST(DrawingHandOverTest, TextStopsAtTheFirstComment)
{
    EXPECT_EQ(tarn::DrawingText({L"[Settings]", L"", L"A=1", L"", L"[More]", L"B=2"}),
              L"[Settings]\r\nA=1\r\n[More]\r\nB=2\r\n");
    EXPECT_EQ(tarn::DrawingText({L"[S]", L"A=1", L"; end", L"B=2"}), L"[S]\r\nA=1\r\n");
    EXPECT_EQ(tarn::DrawingText({L"[S]", L"// end", L"B=2"}), L"[S]\r\n");
    EXPECT_EQ(tarn::DrawingText({L":label", L"B=2"}), L":label\r\nB=2\r\n");
    EXPECT_EQ(tarn::DrawingText({}), L"");
}

TEST(DrawingHandOverTest, StorageNameIsTheUpperCaseFileName)
{
    struct Row {
        const wchar_t* file;
        const wchar_t* name;
    };
    const Row rows[] = {
        {L"C:\\Folder.cfg\\Settings.cfg", L"SETTINGS"},
        {L"C:\\x\\Layers.DAT", L"LAYERS"},
        {L"C:\\x\\a.b.ini", L"A.B"},
        {L"C:\\x\\notes.txt.bak", L"NOTES.TXT.BAK"},
        {L"C:\\x\\Stra\u00dfen.def", L"STRA\u00dfEN"},
        {L"C:\\x\\.txt", L""},
        {L"plain", L"PLAIN"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "file " << row.file);
        EXPECT_EQ(tarn::DrawingStorageName(row.file), row.name);
    }
}

using HandOverCount = int (*)();
using LastText = const wchar_t* (*)();

// The host module is found only when it is loaded already, and looked for once.
TEST(DrawingHandOverTest, HostModuleIsFoundOnlyAmongLoadedModules)
{
    ScratchFolder scratch;
    const std::wstring file = scratch / L"Settings.cfg";
    ASSERT_EQ(::GetModuleHandleW(L"TarnGridwell.dll"), nullptr);
    tarn::ForgetDrawingEntryPoint();
    {
        CCfgReader store(file);
        store.SetSaveToDrawing(1);
        store.SetValue(L"Settings", L"Ready", L"1");
        EXPECT_EQ(store.Save(), 1);
    }
    EXPECT_TRUE(PathExists(file)) << "the file is written without the host";
    EXPECT_EQ(::GetModuleHandleW(L"TarnGridwell.dll"), nullptr) << "nothing is loaded for the hand-over";

    tarn::UniqueModule host(::LoadLibraryW(HelperProgram(L"doubles\\TarnGridwell.dll").c_str()));
    ASSERT_TRUE(host);
    auto count = reinterpret_cast<HandOverCount>(reinterpret_cast<void*>(::GetProcAddress(host.Get(), "TarnTestHandOverCount")));
    auto lastName = reinterpret_cast<LastText>(reinterpret_cast<void*>(::GetProcAddress(host.Get(), "TarnTestLastName")));
    auto lastText = reinterpret_cast<LastText>(reinterpret_cast<void*>(::GetProcAddress(host.Get(), "TarnTestLastText")));
    ASSERT_TRUE(count && lastName && lastText);

    // Known to be absent for the rest of the process.
    EXPECT_EQ(tarn::HandOverToDrawing(file, {L"[S]"}), 0);
    EXPECT_EQ(count(), 0);

    tarn::ForgetDrawingEntryPoint();
    EXPECT_EQ(tarn::HandOverToDrawing(L"", {L"[S]"}), 0);
    EXPECT_EQ(tarn::HandOverToDrawing(file, {L"[S]", L"A=1"}), 7);
    EXPECT_EQ(count(), 1);
    {
        CCfgReader store(file);
        store.SetSaveToDrawing(1);
        store.SetValue(L"Settings", L"Ready", L"0");
        store.SetValue(L"Later", L"Note", L"x");
        store.Get_m_Data().push_back(L";;Note=x");  // the text handed over ends before it
        EXPECT_EQ(store.Save(), 1);
    }
    EXPECT_EQ(count(), 2);
    EXPECT_STREQ(lastName(), L"SETTINGS");
    EXPECT_STREQ(lastText(), L"[Settings]\r\nReady=0\r\n[Later]\r\nNote=x\r\n");
    EXPECT_EQ(ReadBytes(file), "[Settings]\r\nReady=0\r\n\r\n[Later]\r\nNote=x\r\n;;Note=x\r\n");
    tarn::ForgetDrawingEntryPoint();
}

}  // namespace
