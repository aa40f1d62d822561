// The whole download-and-install sequence through a view and a package
// source of the test's own: packages are the build's test cabinets, the
// update downloads and the setup are copies of record_start.exe (P2.cab
// brings the setup; P1.cab a tree with a Setup.exe that P2.cab replaces).

#include "app/install/install_sequence.h"

#include <windows.h>

#include <aclapi.h>

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/install/host_presence.h"
#include "app/install/install_data_folder.h"
#include "app/install/package_source.h"
#include "app/install/release_check.h"
#include "app/install/running_program.h"
#include "common/test_files.h"
#include "common/test_keys.h"
#include "common/test_registry.h"
#include "config/store/cfg_reader.h"
#include "support/message_box.h"
#include "support/sha256.h"
#include "support/unique_handle.h"
#include "transfer/cab_extract.h"

namespace {

using tarn::test::PathExists;
using tarn::test::ReadBytes;
using Lines = std::vector<std::wstring>;

const std::wstring kBase = L"http://test/gridwell/data/2023";

std::vector<std::wstring> g_boxes;
std::wstring g_lastBoxText;

int RecordBox(HWND, const std::wstring& text, const std::wstring& caption, UINT type)
{
    g_lastBoxText = text;
    g_boxes.push_back(caption + L"|" + std::to_wstring(type) + L"|" + text.substr(0, 20));
    g_lastBoxText = text;
    return IDOK;
}

class FixedHost : public tarn::HostPresence {
public:
    bool present = false;
    bool IsHostPresent() const override { return present; }
};

// Serves files of the test's "server" (URL to source file) into the
// temporary folder; a URL listed in `failures` fails that many more times.
class FolderSource : public tarn::PackageSource {
public:
    std::wstring temp;
    std::map<std::wstring, std::wstring> files;
    std::map<std::wstring, int> failures;
    std::map<std::wstring, int> fetches;
    std::set<std::wstring> givenUp;  // damaged beyond the bound in this run

    bool Fetch(const std::wstring& url, std::wstring& localPath, HWND) override
    {
        ++fetches[url];
        localPath = temp + url.substr(url.find_last_of(L'/')).replace(0, 1, L"\\");
        const auto file = files.find(url);
        if (file == files.end() || failures[url]-- > 0) {
            ::DeleteFileW(localPath.c_str());
            return false;
        }
        return ::CopyFileW(file->second.c_str(), localPath.c_str(), FALSE) != FALSE;
    }

    tarn::PackageFetch FetchPackage(const std::wstring& url, std::wstring& localPath, HWND bar,
                                    const tarn::ExpectedFile* pinned) override
    {
        if (givenUp.count(url) != 0) {
            ++fetches[url];
            return tarn::PackageFetch::GivenUp;
        }
        if (!Fetch(url, localPath, bar)) {
            return tarn::PackageFetch::Failed;
        }
        return pinned != nullptr ? tarn::KeepIfPinned(localPath, *pinned) : tarn::PackageFetch::Fetched;
    }

    bool IsCurrentCopy(const std::wstring& url, const std::wstring& localPath) override
    {
        const auto file = files.find(url);
        return file != files.end() && PathExists(localPath) && ReadBytes(localPath) == ReadBytes(file->second);
    }
};

class TestView : public tarn::InstallView {
public:
    std::wstring folder;
    Lines texts;
    std::wstring InstallDataFolder() const override { return folder; }
    void SetStatusText(const std::wstring& text) override { texts.push_back(text); }
    HWND ProgressBar() const override { return nullptr; }
};

// Count of "start" blocks in a record_start record file, after waiting a
// little for a start that is under way.
int Starts(const std::wstring& record, int atLeast)
{
    int count = 0;
    for (int wait = 0; wait < 100; ++wait) {
        const std::string text = ReadBytes(record);
        count = 0;
        for (size_t at = text.find("start\n"); at != std::string::npos; at = text.find("start\n", at + 1)) {
            ++count;
        }
        if (count >= atLeast) {
            break;
        }
        ::Sleep(50);
    }
    return count;
}

class InstallSequence : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_boxes.clear();
        previousHandler_ = tarn::SetMessageBoxHandler(&RecordBox);
        source_.temp = scratch_ / L"temp";
        ::CreateDirectoryW(source_.temp.c_str(), nullptr);
        ::CreateDirectoryW((scratch_ / L"program").c_str(), nullptr);
        program_ = scratch_ / L"program\\Tarn.exe";
        ASSERT_TRUE(::CopyFileW(tarn::test::HelperProgram(L"record_start.exe").c_str(), program_.c_str(), FALSE));

        const std::wstring leaf = scratch_.Path().substr(scratch_.Path().find_last_of(L'\\') + 1);
        view_.folder = L"C:\\Tarn_InstallData\\" + leaf;
        tarn::test::RemoveTree(view_.folder);
        ::DeleteFileW((view_.folder + L" DownloadStatus.txt").c_str());

        inputs_.profile.number = 0;
        inputs_.profile.baseUrl = kBase;
        inputs_.profile.productFolder = L"D:\\" + leaf + L"\\";
        inputs_.profile.downloadList = L"List.txt";
        inputs_.profile.settingsKey = L"Tarn_Gridwell_2023";
        inputs_.tempFolder = source_.temp;
        inputs_.programPath = program_;
        inputs_.starterFile = scratch_ / L"TarnInstallStarter.txt";
        inputs_.host = &host_;
        inputs_.source = &source_;
        inputs_.setupPause = 0;

        Publish(L"P1.cab", tarn::test::HelperProgram(L"cabinets\\tree_mszip.cab"));
        Publish(L"P2.cab", tarn::test::HelperProgram(L"setup_cabinet\\Setup.cab"));
        Publish(L"Evil.cab", tarn::test::HelperProgram(L"cabinets\\escape_deep.cab"));
        WriteList({L"P1.cab", L"..\\Evil.cab", L"abc", L"P2.cab", L"SetupUpdater_2023.cab", L""});
    }

    void TearDown() override
    {
        tarn::SetMessageBoxHandler(previousHandler_);
        tarn::test::RemoveTree(view_.folder);
        ::DeleteFileW((view_.folder + L" DownloadStatus.txt").c_str());
    }

    void Publish(const std::wstring& name, const std::wstring& file)
    {
        source_.files[kBase + L"/Downloads/" + name] = file;
    }

    void WriteList(const Lines& lines)
    {
        std::string text;
        for (const std::wstring& line : lines) {
            text += std::string(line.begin(), line.end()) + "\r\n";
        }
        ASSERT_TRUE(tarn::test::WriteBytes(scratch_ / L"List.txt", text));
        Publish(L"List.txt", scratch_ / L"List.txt");
    }

    int Run()
    {
        view_.texts.clear();
        source_.fetches.clear();
        result_ = tarn::RunInstallSequence(view_, inputs_);
        return result_.SetupStarted() ? 1 : 0;
    }

    std::wstring Status(const std::wstring& section, const std::wstring& name)
    {
        CCfgReader status(view_.folder + L" DownloadStatus.txt");
        std::wstring value;
        status.GetValue(value, section, kBase + L"/Downloads/" + name);
        return value;
    }

    int SetupStarts(int atLeast) { return Starts(view_.folder + L"\\Setup.started.txt", atLeast); }
    int Fetches(const std::wstring& name) { return source_.fetches[kBase + L"/Downloads/" + name]; }

    tarn::test::ScratchFolder scratch_;
    std::wstring program_;
    FolderSource source_;
    FixedHost host_;
    TestView view_;
    tarn::InstallInputs inputs_;
    tarn::InstallResult result_;
    tarn::MessageBoxHandler previousHandler_ = nullptr;
};

TEST_F(InstallSequence, FreshRunThenRerunThenChangedCopy)
{
    ASSERT_EQ(Run(), 1);
    EXPECT_EQ(view_.texts, (Lines{L"Das 1. Datenpaket von 2 wird heruntergeladen...",
                                  L"Das 1. Datenpaket von 2 wird entpackt...",
                                  L"Das 2. Datenpaket von 2 wird heruntergeladen...",
                                  L"Das 2. Datenpaket von 2 wird entpackt...", L"Downloads werden beendet...",
                                  L"Setup wird gestartet..."}));
    EXPECT_EQ(ReadBytes(view_.folder + L"\\data\\large_text.txt"),
              ReadBytes(tarn::test::HelperProgram(L"cabinets\\tree\\data\\large_text.txt")));
    EXPECT_EQ(Status(L"Downloads", L"P1.cab"), L"True");
    EXPECT_EQ(Status(L"Downloads", L"P2.cab"), L"True");
    EXPECT_EQ(Status(L"Downloads", L"SetupUpdater_2023.cab"), L"False");
    EXPECT_EQ(Status(L"Downloads", L"abc"), L"");
    EXPECT_EQ(Status(L"Downloads", L"..\\Evil.cab"), L"");
    EXPECT_EQ(Fetches(L"Evil.cab"), 0);
    EXPECT_EQ(Status(L"Unpacked", L"P2.cab"), L"True");
    EXPECT_TRUE(g_boxes.empty());
    EXPECT_EQ(SetupStarts(1), 1);
    std::wstring starter;
    CCfgReader(inputs_.starterFile).GetValue(starter, L"Setup", L"SetupStarter");
    EXPECT_EQ(starter, L"Tarn_Gridwell_2023");
    // The three update downloads, hidden, from the program's folder.
    const std::string children = ReadBytes(scratch_ / L"program\\Tarn.started.txt");
    EXPECT_EQ(Starts(scratch_ / L"program\\Tarn.started.txt", 3), 3) << children;
    EXPECT_NE(children.find("arguments=DownloadFile=\"" + std::string(kBase.begin(), kBase.end()) +
                            "/Downloads/RODOvoVuviri.cab\" ToFolder=\""),
              std::string::npos)
        << children;
    EXPECT_NE(children.find("show=0"), std::string::npos);

    // A rerun takes both verified copies; only the list is fetched. (A
    // setup still running holds its file, which the unpacking then cannot
    // replace: each run waits for the previous setup's end.)
    ::Sleep(1000);
    ASSERT_EQ(Run(), 1);
    EXPECT_EQ(Fetches(L"P1.cab") + Fetches(L"P2.cab"), 0);
    EXPECT_EQ(view_.texts[0], L"Das 1. Datenpaket von 2 wird entpackt...");

    // A changed copy and a missing one are fetched again, once each.
    EXPECT_EQ(SetupStarts(2), 2);
    ::Sleep(1000);
    ASSERT_TRUE(tarn::test::WriteBytes(source_.temp + L"\\P1.cab", "changed"));
    ASSERT_TRUE(::DeleteFileW((source_.temp + L"\\P2.cab").c_str()));
    ASSERT_EQ(Run(), 1);
    EXPECT_EQ(Fetches(L"P1.cab"), 1);
    EXPECT_EQ(Fetches(L"P2.cab"), 1);
    EXPECT_EQ(SetupStarts(3), 3);
}

TEST_F(InstallSequence, IncompleteDataStartsNoSetup)
{
    struct Case {
        const char* what;
        Lines list;
        std::map<std::wstring, int> failures;
        int expectedFetchesOfP1;
        tarn::InstallReason reason;
        const wchar_t* givenUp = nullptr;  // its server copy failed its record too often
    };
    Publish(L"P3.cab", tarn::test::HelperProgram(L"setup_cabinet\\Setup.cab"));
    const Case cases[] = {
        // A list without packages is no release: refused, which is said.
        {"no packages", {L"SetupUpdater_2023.cab"}, {}, 0, tarn::InstallReason::DamagedList},
        // Ten failed tries skip the package; the next one starts afresh.
        {"skipped", {L"P1.cab", L"P2.cab"}, {{kBase + L"/Downloads/P1.cab", 10}, {kBase + L"/Downloads/P2.cab", 9}}, 10,
         tarn::InstallReason::NoConnection},
        // A cabinet entry leading outside the folder: the package is not
        // unpacked. It still unpacks while the next package fails all its
        // tries, and its cause is the one said.
        {"hostile entry, then skipped", {L"Evil.cab", L"P1.cab"}, {{kBase + L"/Downloads/P1.cab", 10}}, 10,
         tarn::InstallReason::DamagedPackage},
        {"hostile entry", {L"Evil.cab", L"P1.cab"}, {}, 1, tarn::InstallReason::DamagedPackage},
        // No list this run, and no earlier run that completed.
        {"no list", {L"P1.cab"}, {{kBase + L"/Downloads/List.txt", 1}}, 0, tarn::InstallReason::NoConnection},
        // A fetched list that holds nothing is no list of zero packages.
        {"empty list", {}, {}, 0, tarn::InstallReason::DamagedList},
        // A package given up ends the run at once: no try more, no later package.
        {"given up", {L"P3.cab", L"P1.cab"}, {}, 0, tarn::InstallReason::DamagedPackage, L"P3.cab"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        g_boxes.clear();
        WriteList(c.list);
        source_.failures = c.failures;
        source_.givenUp.clear();
        if (c.givenUp != nullptr) {
            source_.givenUp.insert(kBase + L"/Downloads/" + c.givenUp);
        }
        EXPECT_EQ(Run(), 0);
        EXPECT_EQ(Fetches(L"P1.cab"), c.expectedFetchesOfP1);
        if (c.givenUp != nullptr) {
            EXPECT_EQ(Fetches(c.givenUp), 1);
            EXPECT_EQ(view_.texts.back(), L"Downloads werden beendet...");
            EXPECT_EQ(view_.texts.size(), 2u) << "nothing after the package given up";
        }
        EXPECT_EQ(g_boxes, (Lines{L"Tarnwerk AG|48|Der Download konnte "}));
        EXPECT_EQ(result_.reason, c.reason);
        EXPECT_NE(g_lastBoxText.find(L"\n\n" + tarn::InstallReasonText(c.reason) + L"\nProtokoll: "),
                  std::wstring::npos) << g_lastBoxText;
        EXPECT_EQ(SetupStarts(0), 0);
        EXPECT_FALSE(PathExists(inputs_.starterFile));
    }
    EXPECT_FALSE(PathExists(view_.folder + L"\\..\\tarn_escape_deep.txt"));
    EXPECT_FALSE(PathExists(L"C:\\tarn_escape_deep.txt"));

    // Once complete, a run without the list goes on to the setup.
    WriteList({L"P2.cab"});
    source_.failures.clear();
    source_.givenUp.clear();
    g_boxes.clear();
    ASSERT_EQ(Run(), 1);
    EXPECT_EQ(SetupStarts(1), 1);
    ::Sleep(1000);
    source_.failures[kBase + L"/Downloads/List.txt"] = 1;
    ASSERT_EQ(Run(), 1);
    EXPECT_TRUE(g_boxes.empty());
    EXPECT_EQ(SetupStarts(2), 2);
    // Offline with the built-in base URL, after a complete run whose base URL
    // came from the server product list: the update downloads still run, and
    // the setup starts.
    ::Sleep(1000);
    ::DeleteFileW((scratch_ / L"program\\Tarn.started.txt").c_str());
    inputs_.profile.baseUrl = L"http://built-in/gridwell/data/2023";
    ASSERT_EQ(Run(), 1);
    EXPECT_TRUE(g_boxes.empty());
    EXPECT_EQ(SetupStarts(3), 3);
    EXPECT_EQ(Starts(scratch_ / L"program\\Tarn.started.txt", 3), 3);
}

// The setup an earlier run started still runs: the unpacking cannot replace
// it, yet the package counts as unpacked, and online and offline runs say
// that it runs instead of warning or starting it twice.
TEST_F(InstallSequence, SetupStillRunningIsSaidAndNotCountedMissing)
{
    WriteList({L"P2.cab"});
    ASSERT_EQ(Run(), 1);
    std::wstring command = L"\"" + view_.folder + L"\\Setup.exe\" /sleep=30000";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    ASSERT_TRUE(::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                 &started));
    const tarn::UniqueKernelHandle process(started.hProcess), thread(started.hThread);
    ASSERT_EQ(SetupStarts(2), 2);
    for (const int listFailures : {0, 1}) {
        SCOPED_TRACE(listFailures);
        source_.failures[kBase + L"/Downloads/List.txt"] = listFailures;
        g_boxes.clear();
        EXPECT_EQ(Run(), 0);
        EXPECT_EQ(tarn::InstallExitCode(result_), 1618);
        EXPECT_EQ(g_boxes, (Lines{L"Tarnwerk AG|64|Das Setup des Produk"}));
        EXPECT_EQ(Status(L"Unpacked", L"P2.cab"), L"True");
    }
    ::TerminateProcess(process.Get(), 0);
    ::WaitForSingleObject(process.Get(), 10000);
    source_.failures[kBase + L"/Downloads/List.txt"] = 1;
    ASSERT_EQ(Run(), 1);
    EXPECT_EQ(SetupStarts(3), 3);
}

TEST(OnlyFileNotWritten, TheOneFileLeftAfterAFullPass)
{
    struct Case {
        tarn::CabExtractFailure failure;
        std::vector<int> done;  // of "A", "b\\Setup.exe", "C"
        bool expected;
    };
    constexpr tarn::CabExtractFailure Unwritten = tarn::CabExtractFailure::Unwritten;
    const Case cases[] = {
        {Unwritten, {1, 0, 1}, true},  {Unwritten, {1, 1, 1}, false}, {Unwritten, {0, 0, 1}, false},
        {Unwritten, {1, 1, 0}, false}, {tarn::CabExtractFailure::Damaged, {1, 0, 1}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.done) + (c.failure == Unwritten ? "" : " damaged"));
        CabExtractContext context;
        context.m_Extracted = {L"X\\A", L"X\\b\\Setup.exe", L"X\\C"};
        context.m_Done = c.done;
        context.m_Failure = c.failure;
        EXPECT_EQ(tarn::OnlyFileNotWritten(context, L"x\\B\\SETUP.EXE"), c.expected);
    }
}

TEST_F(InstallSequence, ProductRulesBeforeAnythingIsWritten)
{
    inputs_.profile.productFolder = L"DownloadNotReady";
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(g_boxes, (Lines{L"Tarnwerk AG|48|Der Download des Pro"}));
    inputs_.profile.productFolder.clear();
    inputs_.profile.downloadList.clear();
    EXPECT_EQ(Run(), 0);
    EXPECT_TRUE(source_.fetches.empty());
    EXPECT_FALSE(PathExists(view_.folder + L" DownloadStatus.txt"));
    EXPECT_FALSE(PathExists(scratch_ / L"program\\Tarn.started.txt"));
    EXPECT_EQ(SetupStarts(0), 0);

    // With the host present Gridwell handles the first package only.
    inputs_.profile.productFolder = L"D:\\x\\";
    inputs_.profile.downloadList = L"List.txt";
    host_.present = true;
    WriteList({L"P2.cab", L"P1.cab"});
    g_boxes.clear();
    ASSERT_EQ(Run(), 1);
    EXPECT_EQ(view_.texts[0], L"Das 1. Datenpaket von 1 wird heruntergeladen...");
    EXPECT_EQ(Fetches(L"P1.cab"), 0);
    EXPECT_EQ(Starts(scratch_ / L"program\\Tarn.started.txt", 2), 2);
    EXPECT_EQ(SetupStarts(1), 1);
}

// A release signed with test key A: the list's packages with their sizes
// and SHA-256, serial 100; the program is given key A (and key B).
TEST_F(InstallSequence, KeyedProgramInstallsOnlyWhatTheManifestSigned)
{
    const tarn::test::RegistrySandbox registry;
    ASSERT_TRUE(registry.Valid());
    inputs_.releaseKeys = {tarn::test::keys::kPublicB, tarn::test::keys::kPublicA};
    inputs_.releaseSerialKey = registry.Path();
    WriteList({L"P1.cab", L"P2.cab", L"SetupUpdater_2023.cab"});
    tarn::ReleaseManifest manifest;
    manifest.product = L"List.txt";
    manifest.serial = 100;
    for (const wchar_t* name : {L"P1.cab", L"P2.cab"}) {
        const std::string bytes = ReadBytes(source_.files[kBase + L"/Downloads/" + name]);
        manifest.packages.push_back({name, static_cast<int64_t>(bytes.size()), tarn::Sha256Hex(bytes.data(), bytes.size())});
    }
    const std::string good = tarn::test::SignWithKeyA(manifest, scratch_ / L"key.pem");
    ASSERT_FALSE(good.empty());
    manifest.packages.pop_back();
    const std::string withoutP2 = tarn::test::SignWithKeyA(manifest, scratch_ / L"key.pem");
    const std::wstring sigUrl = kBase + L"/Downloads/List.txt.sig";

    struct Case {
        const char* what;
        std::string sig;       // empty: none on the server
        const wchar_t* p2;     // what the server has as P2.cab
        uint64_t storedSerial;
        const wchar_t* reason; // empty: installed
        int p1Fetches;
    };
    const std::wstring setupCab = tarn::test::HelperProgram(L"setup_cabinet\\Setup.cab");
    const std::wstring otherCab = tarn::test::HelperProgram(L"cabinets\\tree_mszip.cab");
    const Case cases[] = {
        {"no signature", "", setupCab.c_str(), 0, L"Die Signatur der Produktdaten fehlt.", 0},
        {"signature damaged", std::string(good).replace(good.size() - 3, 1, good[good.size() - 3] == '0' ? "1" : "0"),
         setupCab.c_str(), 0, L"Die Signatur der Produktdaten ist ung\u00fcltig.", 0},
        {"listed package not signed", withoutP2, setupCab.c_str(), 0,
         L"Die Downloadliste stimmt nicht mit der signierten Liste \u00fcberein.", 0},
        {"older than accepted", good, setupCab.c_str(), 101,
         L"Die angebotenen Produktdaten sind \u00e4lter als die bereits installierten.", 0},
        {"package replaced", good, otherCab.c_str(), 0,
         L"Das Datenpaket P2.cab stimmt nicht mit der signierten Liste \u00fcberein.", 1},
        {"signed release", good, setupCab.c_str(), 100, L"", 1},
    };
    int setups = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        g_boxes.clear();
        g_lastBoxText.clear();
        tarn::test::RemoveTree(view_.folder);
        ::DeleteFileW((view_.folder + L" DownloadStatus.txt").c_str());
        ::DeleteFileW((source_.temp + L"\\P1.cab").c_str());
        ::DeleteFileW((source_.temp + L"\\P2.cab").c_str());
        source_.files.erase(sigUrl);
        if (!c.sig.empty()) {
            ASSERT_TRUE(tarn::test::WriteBytes(scratch_ / L"List.txt.sig", c.sig));
            source_.files[sigUrl] = scratch_ / L"List.txt.sig";
        }
        Publish(L"P2.cab", c.p2);
        ::RegDeleteValueW(registry.Key(), L"ReleaseSerial");
        if (c.storedSerial > 0) {
            ASSERT_TRUE(registry.Set(L"", L"ReleaseSerial", REG_QWORD, &c.storedSerial, sizeof(c.storedSerial)));
        }
        const int result = Run();
        EXPECT_EQ(Fetches(L"P1.cab"), c.p1Fetches);
        if (*c.reason == L'\0') {
            EXPECT_EQ(result, 1);
            EXPECT_TRUE(g_boxes.empty()) << g_lastBoxText;
            EXPECT_EQ(SetupStarts(++setups), setups);
            EXPECT_EQ(tarn::ReadAcceptedSerial(registry.Path()), 100u);
            continue;
        }
        EXPECT_EQ(result, 0);
        EXPECT_NE(g_lastBoxText.find(c.reason), std::wstring::npos) << g_lastBoxText;
        // Nothing of a refused release, nor of the refused package, was
        // unpacked; the package's copy is gone.
        if (c.p1Fetches == 0) {
            EXPECT_FALSE(PathExists(view_.folder + L"\\Setup.exe"));
        }
        EXPECT_FALSE(PathExists(source_.temp + L"\\P2.cab"));
        EXPECT_EQ(Status(L"Unpacked", L"P2.cab"), c.p1Fetches > 0 ? L"False" : L"");
        EXPECT_EQ(SetupStarts(setups), setups);
        EXPECT_EQ(tarn::ReadAcceptedSerial(registry.Path()), c.storedSerial);
    }
}

}  // namespace

namespace {

// Write-type rights that users must not hold on the installation data.
constexpr ACCESS_MASK kWriteRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES |
                                     FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                     GENERIC_ALL;

// The rights the folder's list grants to `sid` (allowed entries only).
ACCESS_MASK GrantedTo(PACL dacl, PSID sid)
{
    ACCESS_MASK granted = 0;
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
        ACE_HEADER* header = nullptr;
        if (::GetAce(dacl, i, reinterpret_cast<void**>(&header)) && header->AceType == ACCESS_ALLOWED_ACE_TYPE) {
            auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
            if (::EqualSid(&ace->SidStart, sid)) {
                granted |= ace->Mask;
            }
        }
    }
    return granted;
}

bool IsProtected(const std::wstring& path)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                                nullptr, &descriptor) != ERROR_SUCCESS) {
        return false;
    }
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ::GetSecurityDescriptorControl(descriptor, &control, &revision);
    ::LocalFree(descriptor);
    return (control & SE_DACL_PROTECTED) != 0;
}

// Whether Wine keeps security descriptors where the test's files lie (it
// needs extended attributes; without them it derives one from Unix modes).
bool KeepsSecurityDescriptors()
{
    tarn::test::ScratchFolder scratch;
    std::wstring probe = scratch / L"probe";
    ::CreateDirectoryW(probe.c_str(), nullptr);
    EXPLICIT_ACCESSW everyone{};
    ::BuildExplicitAccessWithNameW(&everyone, const_cast<wchar_t*>(L"EVERYONE"), GENERIC_READ, SET_ACCESS, 0);
    PACL acl = nullptr;
    ::SetEntriesInAclW(1, &everyone, nullptr, &acl);
    ::SetNamedSecurityInfoW(probe.data(), SE_FILE_OBJECT,
                            DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr, acl,
                            nullptr);
    ::LocalFree(acl);
    return IsProtected(probe);
}

// A folder that anyone made first, open to everyone, ends up writable by
// administrators and the system only, with users reading and running.
TEST(CreateInstallDataFolder, OnlyAdministratorsAndSystemWrite)
{
    EXPECT_EQ(tarn::CreateInstallDataFolder(L"C:\\Elsewhere\\Secured Product"), 0);
    if (!KeepsSecurityDescriptors()) {
        GTEST_SKIP() << "this Wine keeps no security descriptors of files: it stores none in extended "
                        "attributes and answers with one derived from the Unix mode bits";
    }
    ::CreateDirectoryW(L"C:\\Tarn_InstallData", nullptr);
    PACL open = nullptr;
    EXPLICIT_ACCESSW everyone{};
    ::BuildExplicitAccessWithNameW(&everyone, const_cast<wchar_t*>(L"EVERYONE"), GENERIC_ALL, SET_ACCESS,
                                   SUB_CONTAINERS_AND_OBJECTS_INHERIT);
    ASSERT_EQ(::SetEntriesInAclW(1, &everyone, nullptr, &open), ERROR_SUCCESS);
    std::wstring base = L"C:\\Tarn_InstallData";
    ASSERT_EQ(::SetNamedSecurityInfoW(base.data(), SE_FILE_OBJECT,
                                      DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                                      nullptr, open, nullptr),
              ERROR_SUCCESS);
    ::LocalFree(open);

    ASSERT_EQ(tarn::CreateInstallDataFolder(L"C:\\Tarn_InstallData\\Secured Product"), 1);
    EXPECT_TRUE(PathExists(L"C:\\Tarn_InstallData\\Secured Product"));

    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL dacl = nullptr;
    ASSERT_EQ(::GetNamedSecurityInfoW(base.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                      &dacl, nullptr, &descriptor),
              ERROR_SUCCESS);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ::GetSecurityDescriptorControl(descriptor, &control, &revision);
    BYTE users[SECURITY_MAX_SID_SIZE];
    BYTE world[SECURITY_MAX_SID_SIZE];
    BYTE admins[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(users);
    ::CreateWellKnownSid(WinBuiltinUsersSid, nullptr, users, &size);
    size = sizeof(world);
    ::CreateWellKnownSid(WinWorldSid, nullptr, world, &size);
    size = sizeof(admins);
    ::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &size);
    EXPECT_NE(control & SE_DACL_PROTECTED, 0);
    EXPECT_EQ(GrantedTo(dacl, world), 0u);
    EXPECT_EQ(GrantedTo(dacl, users) & kWriteRights, 0u);
    EXPECT_NE(GrantedTo(dacl, users) & FILE_EXECUTE, 0u);
    EXPECT_EQ(GrantedTo(dacl, admins) & FILE_ALL_ACCESS, FILE_ALL_ACCESS);
    ::LocalFree(descriptor);
    ::RemoveDirectoryW(L"C:\\Tarn_InstallData\\Secured Product");
}

}  // namespace
