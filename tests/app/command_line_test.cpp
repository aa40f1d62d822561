#include "app/command_line.h"

#include <gtest/gtest.h>

using tarn::ChooseStartMode;
using tarn::CommandLineArguments;
using tarn::DownloadSettings;
using tarn::GetApplicationCommandLine;
using tarn::MatchModeWord;
using tarn::ScanDownloadKeywords;
using tarn::StartMode;
using tarn::UpdateKind;

namespace {

using Tokens = std::vector<std::wstring>;

struct SplitCase {
    const wchar_t* text;
    Tokens tokens;
    int result;
};

class SplitCommandLineTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitCommandLineTest, GivesTokensAndResult)
{
    const SplitCase& c = GetParam();
    Tokens tokens = {L"left over"};
    EXPECT_EQ(SplitCommandLine(tokens, c.text), c.result);
    EXPECT_EQ(tokens, c.tokens);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SplitCommandLineTest,
    ::testing::Values(
        SplitCase{L"", {}, 0},
        SplitCase{L"  \t \t ", {}, 0},
        SplitCase{L"PackQuick", {L"PackQuick"}, 1},
        SplitCase{L"a  b", {L"a", L"b"}, 1},
        // A tab does not end a plain token, but it is skipped between tokens.
        SplitCase{L"a\tb c", {L"a\tb", L"c"}, 1},
        SplitCase{L"\ta", {L"a"}, 1},
        // Switches end after their letters and digits; the rest is not skipped.
        SplitCase{L"/a=b", {L"/a", L"=b"}, 1},
        SplitCase{L"-x1 -y", {L"-x1", L"-y"}, 1},
        SplitCase{L"/\u00C4\u00F6\u00FC\u00E9x.y", {L"/\u00C4\u00F6\u00FC\u00E9x", L".y"}, 1},
        SplitCase{L"/\u00DFx", {L"/", L"\u00DFx"}, 1},  // sharp s is not among the switch letters
        SplitCase{L"-", {L"-"}, 1},
        // Quoted values join a keyword that ends with "=".
        SplitCase{L"DownloadFile=\"http://h/a b.txt\" ToFolder=\"C:\\x y\"",
                  {L"DownloadFile=http://h/a b.txt", L"ToFolder=C:\\x y"}, 1},
        SplitCase{L"\"a b\" c", {L"a b", L"c"}, 1},
        SplitCase{L"x \"\" y", {L"x", L"", L"y"}, 1},
        SplitCase{L"k=\"\"", {L"k="}, 1},
        SplitCase{L"a\"b c\"", {L"a", L"b c"}, 1},
        // No escapes inside quotes.
        SplitCase{L"\"a\\\" b", {L"a\\", L"b"}, 1},
        // An unterminated quote: the rest, mark included, is the last token.
        SplitCase{L"ToFolder=\"C:\\Some Folder", {L"ToFolder=", L"\"C:\\Some Folder"}, 0},
        SplitCase{L"\"", {L"\""}, 0}));

TEST(SplitCommandLine, NullTextMeansTheProgramsOwnCommandLine)
{
    Tokens own;
    Tokens explicitText;
    SplitCommandLine(own);
    SplitCommandLine(explicitText, GetApplicationCommandLine().c_str());
    EXPECT_EQ(own, explicitText);
}

struct ArgumentsCase {
    const wchar_t* full;
    const wchar_t* arguments;
};

class CommandLineArgumentsTest : public ::testing::TestWithParam<ArgumentsCase> {};

TEST_P(CommandLineArgumentsTest, SkipsProgramNameAndBlanks)
{
    EXPECT_EQ(CommandLineArguments(GetParam().full), GetParam().arguments);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CommandLineArgumentsTest,
    ::testing::Values(ArgumentsCase{L"prog.exe PackAll", L"PackAll"},
                      ArgumentsCase{L"\"C:\\A Dir\\prog.exe\"   PackQuick ", L"PackQuick "},
                      ArgumentsCase{L"\"C:\\A Dir\\prog.exe\"", L""},
                      ArgumentsCase{L"prog.exe", L""},
                      ArgumentsCase{L"prog.exe \t x\\\"y", L"x\\\"y"},
                      ArgumentsCase{L"\"C:\\A Dir\\prog.exe\"PackAll", L"PackAll"},
                      ArgumentsCase{L"C:\\A\"B C\"\\prog.exe PackAll", L"C\"\\prog.exe PackAll"},
                      ArgumentsCase{L"\"C:\\unclosed prog.exe PackAll", L""},
                      ArgumentsCase{L"", L""}));

struct ModeCase {
    const wchar_t* text;
    const wchar_t* mode;  // the name the log gives the chosen mode
    DownloadSettings download;
};

class StartModeTest : public ::testing::TestWithParam<ModeCase> {};

TEST_P(StartModeTest, ChoosesModeFromKeywordsThenWholeText)
{
    const ModeCase& c = GetParam();
    Tokens tokens;
    SplitCommandLine(tokens, c.text);
    const DownloadSettings download = ScanDownloadKeywords(tokens);
    EXPECT_EQ(download.value, c.download.value);
    EXPECT_EQ(download.targetFolder, c.download.targetFolder);
    EXPECT_EQ(download.updateKind, c.download.updateKind);
    EXPECT_EQ(tarn::StartModeName(ChooseStartMode(download, c.text)), c.mode);
}

DownloadSettings Download(const wchar_t* value, const wchar_t* folder, UpdateKind kind = UpdateKind::None)
{
    return DownloadSettings{value, folder, kind};
}

INSTANTIATE_TEST_SUITE_P(
    Table, StartModeTest,
    ::testing::Values(
        ModeCase{L"", L"installer", {}},
        ModeCase{L" \t ", L"installer", {}},
        ModeCase{L"TestFunc", L"TestFunc", {}},
        ModeCase{L"TestDownload", L"installer", {}},
        ModeCase{L"CreateDataPack", L"CreateDataPack", {}},
        ModeCase{L"MakeNullUpdate", L"MakeNullUpdate", {}},
        ModeCase{L"PackCorvinUpdate", L"PackCorvinUpdate", {}},
        ModeCase{L"PackUpdate", L"PackUpdate", {}},
        ModeCase{L"packoem", L"PackOEM", {}},
        ModeCase{L"PackAll", L"PackAll", {}},
        ModeCase{L"PackAll ", L"installer", {}},
        ModeCase{L"PackRVTTrainings", L"PackRVTTrainings", {}},
        ModeCase{L"CreateMemoryStickData", L"CreateMemoryStickData", {}},
        ModeCase{L"PackCorvin", L"PackCorvin", {}},
        ModeCase{L"PackGridwell", L"PackGridwell", {}},
        ModeCase{L"PackQuick", L"PackQuick", {}},
        ModeCase{L"packquick", L"PackQuick", {}},
        ModeCase{L"PackQuick ", L"installer", {}},
        ModeCase{L" PackQuick", L"installer", {}},
        ModeCase{L"PackQuick PackAll", L"installer", {}},
        ModeCase{L"verifyrelease N:\\CD_2023\\Download", L"VerifyRelease", {}},
        ModeCase{L"VerifyRelease", L"installer", {}},
        // Download keywords.
        ModeCase{L"DownloadFile=\"http://h/a b.txt\" ToFolder=\"C:\\x y\"", L"DownloadFile",
                 Download(L"http://h/a b.txt", L"C:\\x y")},
        ModeCase{L"downloadfile=x tofolder=y", L"DownloadFile", Download(L"x", L"y")},
        ModeCase{L"DOWNLOADFILE=x TOFOLDER=y", L"DownloadFile", Download(L"x", L"y")},
        ModeCase{L"DownloadCorvinUpdate=a DownloadFile=b", L"update download",
                 Download(L"b", L"", UpdateKind::Corvin)},
        ModeCase{L"DownloadGridwellUpdate=a ToFolder=C:\\t", L"update download",
                 Download(L"a", L"C:\\t", UpdateKind::Gridwell)},
        ModeCase{L"DownloadGridwellUpdate=a DownloadCorvinUpdate=b", L"update download",
                 Download(L"b", L"", UpdateKind::Corvin)},
        ModeCase{L"DownloadGridwellUpdate=", L"update download",
                 Download(L"", L"", UpdateKind::Gridwell)},
        ModeCase{L"ToFolder=a ToFolder=b DownloadFile=c", L"DownloadFile", Download(L"c", L"b")},
        // Incomplete or broken keywords fall back to the installer.
        ModeCase{L"DownloadFile=x", L"installer", Download(L"x", L"")},
        ModeCase{L"ToFolder=y", L"installer", Download(L"", L"y")},
        ModeCase{L"DownloadFile= ToFolder=y", L"installer", Download(L"", L"y")},
        ModeCase{L"DownloadFile=x ToFolder=\"C:\\unterminated", L"installer", Download(L"x", L"")},
        ModeCase{L"Download=x ToFolde=y", L"installer", {}},
        ModeCase{L"/DownloadFile=x ToFolder=y", L"installer", Download(L"", L"y")}));

struct SwitchCase {
    const wchar_t* text;
    bool quiet;
    bool passive;
    const wchar_t* logPath;
    const wchar_t* mode;
};

class InstallerSwitchesTest : public ::testing::TestWithParam<SwitchCase> {};

TEST_P(InstallerSwitchesTest, ScansSwitchesAndHelpOnlyForTheInstaller)
{
    const SwitchCase& c = GetParam();
    Tokens tokens;
    SplitCommandLine(tokens, c.text);
    const tarn::InstallerSwitches switches = tarn::ScanInstallerSwitches(tokens);
    EXPECT_EQ(switches.quiet, c.quiet);
    EXPECT_EQ(switches.passive, c.passive);
    EXPECT_EQ(switches.logPath, c.logPath);
    EXPECT_EQ(tarn::StartModeName(ChooseStartMode(ScanDownloadKeywords(tokens), c.text, switches)), c.mode);
}

INSTANTIATE_TEST_SUITE_P(
    Table, InstallerSwitchesTest,
    ::testing::Values(
        SwitchCase{L"/QUIET /log \"C:\\a b\\x.log\"", true, false, L"C:\\a b\\x.log", L"installer"},
        SwitchCase{L"-passive /Log C:\\x.log", false, true, L"C:\\x.log", L"installer"},
        SwitchCase{L"/?", false, false, L"", L"installer help"},
        SwitchCase{L"--help", false, false, L"", L"installer help"},
        SwitchCase{L"/quiet -h", true, false, L"", L"installer help"},
        SwitchCase{L"/log", false, false, L"", L"installer help"},
        // Mode words and download keywords are not switches.
        SwitchCase{L"PackAll", false, false, L"", L"PackAll"},
        SwitchCase{L"TestDownload", false, false, L"", L"installer"},
        SwitchCase{L"DownloadFile=\"http://h/-x\" ToFolder=\"C:\\-y\"", false, false, L"",
                   L"DownloadFile"}));

TEST(MatchModeWord, NullTextIsNoWordAndArgumentsReachTheMode)
{
    EXPECT_EQ(MatchModeWord(nullptr), nullptr);
    const tarn::StartChoice choice = ChooseStartMode({}, L"verifyrelease N:\\CD 2023\\Download");
    ASSERT_EQ(choice.mode, StartMode::Word);
    EXPECT_EQ(choice.argument, L"N:\\CD 2023\\Download");
}

}  // namespace
