#include "support/debug_output.h"

#include <gtest/gtest.h>

#include <vector>

#include "common/test_files.h"

using tarn::test::HelperProgram;
using tarn::test::ReadBytes;
using tarn::test::ScratchFolder;

namespace {

// Real window lookups, counted.
class CountingSender : public tarn::DebugSender {
public:
    int lookups = 0;

protected:
    HWND FindViewer() override
    {
        ++lookups;
        return tarn::DebugSender::FindViewer();
    }
};

TEST(DebugSenderTest, WithoutViewerThousandSendsLookOnce)
{
    ASSERT_EQ(::FindWindowW(nullptr, tarn::kDebugWindowTitle), nullptr) << "a viewer is running";
    CountingSender sender;
    for (int i = 0; i < 1000; ++i) {
        sender.Send(L"nobody reads this");
    }
    EXPECT_EQ(sender.lookups, 1);
}

// The scripted sender's clock: it reads what the test set.
ULONGLONG g_now = 0;
ULONGLONG ScriptedNow()
{
    return g_now;
}

// A sender on a clock of the test's own, with a viewer that exists when the
// test says so and a buffer in the test's memory.
class ScriptedSender : public tarn::DebugSender {
public:
    bool viewerRunning = false;
    bool bufferAvailable = true;
    int lookups = 0;
    int bufferRequests = 0;
    std::vector<std::wstring> delivered;
    std::vector<wchar_t> memory = std::vector<wchar_t>(tarn::kDebugCapacity, L'#');
    tarn::DebugBuffer buffer;

    ScriptedSender() : tarn::DebugSender(tarn::Clock{&ScriptedNow})
    {
        g_now = 0;
        buffer.text = memory.data();
    }

protected:
    const HWND kViewer = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x1234));

    HWND FindViewer() override
    {
        ++lookups;
        return viewerRunning ? kViewer : nullptr;
    }
    bool IsViewer(HWND window) override { return viewerRunning && window == kViewer; }
    tarn::DebugBuffer* Buffer() override
    {
        ++bufferRequests;
        return bufferAvailable ? &buffer : nullptr;
    }
    void Notify(HWND viewer) override
    {
        EXPECT_EQ(viewer, kViewer);
        delivered.emplace_back(memory.data());
    }
    int WaitForReader(DWORD timeout) override
    {
        EXPECT_EQ(timeout, 100u);
        memory[0] = L'\0';
        return 1;
    }
};

TEST(DebugSenderTest, TextsAreTrimmedOfLineFeedsAndCut)
{
    ScriptedSender sender;
    sender.viewerRunning = true;
    const std::wstring longText(20000, L'x');
    sender.Send(L"\n\nfirst\n");
    sender.Send(L"second\r\n");
    sender.Send(L"\n\n\n");
    sender.Send(nullptr);
    sender.Send(L"in\nside\r");
    sender.Send(longText.c_str());
    const std::vector<std::wstring> expected = {
        L"first", L"second\r", L"", L"", L"in\nside\r", std::wstring(16383, L'x'),
    };
    EXPECT_EQ(sender.delivered, expected);
    EXPECT_EQ(sender.lookups, 1);
}

TEST(DebugSenderTest, AViewerIsFoundAtTheNextTwoMinuteMark)
{
    ScriptedSender sender;
    g_now = 5000;
    sender.Send(L"lost: no viewer");
    EXPECT_EQ(sender.lookups, 1);

    sender.viewerRunning = true;  // started 30 s after the failed lookup
    for (DWORD at : {35000u, 90000u, 124999u}) {
        g_now = at;
        sender.Send(L"lost: not looked for yet");
    }
    EXPECT_TRUE(sender.delivered.empty());
    EXPECT_EQ(sender.lookups, 1);

    g_now = 125000;
    sender.Send(L"delivered");
    EXPECT_EQ(sender.lookups, 2);
    EXPECT_EQ(sender.delivered, std::vector<std::wstring>{L"delivered"});

    // A vanished viewer is noticed at the following check.
    sender.viewerRunning = false;
    g_now = 200000;
    sender.Send(L"sent to the stale window");
    EXPECT_EQ(sender.delivered.size(), 2u);
    g_now = 245000;
    sender.Send(L"lost again");
    EXPECT_EQ(sender.lookups, 3);
    EXPECT_EQ(sender.delivered.size(), 2u);
}

TEST(DebugSenderTest, TheCheckSurvivesTheTickCounterWrapping)
{
    ScriptedSender sender;
    g_now = 0xFFFFFFFFFFFFFF00u;
    sender.Send(L"first look");
    g_now = 1000;  // wrapped, 1,256 ms later
    sender.Send(L"within the interval");
    EXPECT_EQ(sender.lookups, 1);
    g_now = 0xFFFFFFFFFFFFFF00u + tarn::kDebugViewerCheckInterval;
    sender.Send(L"next look");
    EXPECT_EQ(sender.lookups, 2);
}

TEST(DebugSenderTest, AMissingSectionIsTriedAgainAtTheNextCheckOnly)
{
    ScriptedSender sender;
    sender.viewerRunning = true;
    sender.bufferAvailable = false;
    for (int i = 0; i < 50; ++i) {
        sender.Send(L"dropped");
    }
    EXPECT_EQ(sender.bufferRequests, 1);
    EXPECT_TRUE(sender.delivered.empty());

    sender.bufferAvailable = true;
    g_now = 60000;
    sender.Send(L"still dropped");
    EXPECT_EQ(sender.bufferRequests, 1);
    g_now = tarn::kDebugViewerCheckInterval;
    sender.Send(L"delivered");
    sender.Send(L"and kept");
    EXPECT_EQ(sender.bufferRequests, 2);
    EXPECT_EQ(sender.delivered, (std::vector<std::wstring>{L"delivered", L"and kept"}));
}

TEST(DebugBufferTest, SectionHasTheFixedLayout)
{
    tarn::DebugBuffer* buffer = GetDebugBuffer();
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(buffer, GetDebugBuffer());
    EXPECT_EQ(buffer->capacity, 16384u);
    EXPECT_EQ(buffer->name, L"$$Tarnix_DebugOutputData$$");

    // A second mapping of the same name sees what the process wrote.
    tarn::UniqueKernelHandle mapping(::OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, L"$$Tarnix_DebugOutputData$$"));
    ASSERT_TRUE(mapping);
    tarn::UniqueMappedView view(::MapViewOfFile(mapping.Get(), FILE_MAP_ALL_ACCESS, 0, 0, 32776));
    ASSERT_TRUE(view);
    const auto* bytes = static_cast<const unsigned char*>(view.Get());
    uint64_t capacity = 0;
    memcpy(&capacity, bytes, sizeof(capacity));
    EXPECT_EQ(capacity, 16384u);
    buffer->text[0] = L'A';
    buffer->text[16383] = L'\0';
    EXPECT_EQ(reinterpret_cast<const wchar_t*>(bytes + 8)[0], L'A');

    // Nobody takes the text: the wait ends at its time-out.
    EXPECT_EQ(WaitForDebugReader(20), 0);
    reinterpret_cast<wchar_t*>(static_cast<unsigned char*>(view.Get()) + 8)[0] = L'\0';
    EXPECT_EQ(WaitForDebugReader(0), 1);
}

// The real viewer, started in the same Wine prefix, receives what is sent.
class DebugViewerTest : public ::testing::Test {
protected:
    ScratchFolder scratch;
    std::wstring output = scratch / L"received.txt";
    PROCESS_INFORMATION process{};

    void SetUp() override
    {
        ASSERT_EQ(::FindWindowW(nullptr, tarn::kDebugWindowTitle), nullptr) << "a viewer is running";
        std::wstring commandLine = L"\"" + HelperProgram(L"debugview.exe") + L"\" \"" + output + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        ASSERT_TRUE(::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                     &startup, &process));
        for (int i = 0; i < 3000 && ::FindWindowW(nullptr, tarn::kDebugWindowTitle) == nullptr; ++i) {
            if (::WaitForSingleObject(process.hProcess, 10) == WAIT_OBJECT_0) {
                // Wine creates windows only with an X display; scripts/test.sh
                // starts Xvfb when DISPLAY is unset.
                DWORD exitCode = 0;
                ::GetExitCodeProcess(process.hProcess, &exitCode);
                if (exitCode == 4 && ::GetEnvironmentVariableW(L"DISPLAY", nullptr, 0) == 0) {
                    GTEST_SKIP() << "the viewer needs a display: set DISPLAY or run scripts/test.sh";
                }
                FAIL() << "the viewer ended with " << exitCode;
            }
        }
        ASSERT_NE(::FindWindowW(nullptr, tarn::kDebugWindowTitle), nullptr);
    }

    void TearDown() override
    {
        if (process.hProcess == nullptr) {
            return;
        }
        if (HWND viewer = ::FindWindowW(nullptr, tarn::kDebugWindowTitle)) {
            ::PostMessageW(viewer, WM_CLOSE, 0, 0);
        }
        if (::WaitForSingleObject(process.hProcess, 30000) != WAIT_OBJECT_0) {
            ::TerminateProcess(process.hProcess, 1);
        }
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
    }

    // The sender waits 100 ms at most; a busy machine may need longer, and the
    // next text must not overwrite one the viewer has not taken yet.
    static bool TakenByViewer()
    {
        for (int i = 0; i < 1000; ++i) {
            if (GetDebugBuffer()->text[0] == L'\0') {
                return true;
            }
            ::Sleep(10);
        }
        return false;
    }
};

TEST_F(DebugViewerTest, ViewerReceivesTrimmedTexts)
{
    tarn::DebugSender sender;
    const std::wstring longText = L"\n" + std::wstring(20000, L'y');
    const wchar_t* texts[] = {L"\n\nfirst\n", L"second\r\n", L"dritte Zeile \u00e4\u00f6\u00fc", longText.c_str()};
    for (const wchar_t* text : texts) {
        sender.Send(text);
        ASSERT_TRUE(TakenByViewer());
    }
    // The process-wide channel reaches the same viewer (once it looks again:
    // earlier tests of this program sent while no viewer ran).
    tarn::RecheckDebugViewerForTest();
    SendDebugText(L"through SendDebugText\n");
    ASSERT_TRUE(TakenByViewer());

    const std::string expected = "first\nsecond\r\ndritte Zeile \xc3\xa4\xc3\xb6\xc3\xbc\n" + std::string(16383, 'y') +
                                 "\nthrough SendDebugText\n";
    std::string received;
    for (int i = 0; i < 3000 && received.size() < expected.size(); ++i) {
        received = ReadBytes(output);
        ::Sleep(10);
    }
    EXPECT_EQ(received, expected);
}

}  // namespace
