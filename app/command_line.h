#pragma once
// The program's command line: its tokens, the download keywords found in
// them, and the mode that the whole text selects.

#include <string>
#include <string_view>
#include <vector>

// Splits a command-line text into tokens; `tokens` is emptied first. Blanks
// and tabs separate tokens; "-x" and "/x" switches end after their letters and
// digits; a quoted text is one token, joined to a preceding token that ends
// with "=". A null text means the program's own command line. Returns 1 when
// a token was produced; 0 for no tokens or an unterminated quote (whose rest
// becomes the last token).
int SplitCommandLine(std::vector<std::wstring>& tokens, const wchar_t* text = nullptr);

namespace tarn {

// The text after the program name and the blanks that follow it, from a full
// command line as GetCommandLineW gives it.
std::wstring_view CommandLineArguments(std::wstring_view fullCommandLine);

// The program's own command-line text (see CommandLineArguments).
const std::wstring& GetApplicationCommandLine();

// Update kinds of the download keywords.
enum class UpdateKind { None = -1, Gridwell = 0, Corvin = 1 };

struct DownloadSettings {
    std::wstring value;         // "DownloadFile=" or an update keyword's value
    std::wstring targetFolder;  // "ToFolder=" value
    UpdateKind updateKind = UpdateKind::None;
};

// Scans the tokens for "DownloadGridwellUpdate=", "DownloadCorvinUpdate=",
// "DownloadFile=" and "ToFolder=" (any letter case); the last token wins.
DownloadSettings ScanDownloadKeywords(const std::vector<std::wstring>& tokens);

// The installer's switches (any letter case): "/quiet", "/passive",
// "/log <path>" (the path may be quoted); any other token that starts with
// '/' or '-' ("/?", "-h", "--help") asks for the list of switches.
struct InstallerSwitches {
    bool quiet = false;    // no window, no message box
    bool passive = false;  // the dialog with its progress, no message box
    bool help = false;
    std::wstring logPath;  // the log also goes there
};

InstallerSwitches ScanInstallerSwitches(const std::vector<std::wstring>& tokens);

// The text of the help box: the switches and the exit codes.
std::wstring InstallerSwitchesHelp();

// The build and test modes, each chosen by its word: the whole command-line
// text (compared without regard to case, nothing trimmed), or the word, a
// blank and an argument for a mode that takes one.
struct ModeWord {
    std::wstring_view word;
    bool takesArgument;
    // Runs the mode with the text after the word and its blank; returns the
    // process's exit code.
    int (*run)(const std::wstring& argument);
};

// The word the whole text selects, or null (a null text selects none).
// Checked in table order.
const ModeWord* MatchModeWord(const wchar_t* commandLineText);

enum class StartMode {
    UpdateDownload,      // an update keyword was given
    SingleFileDownload,  // "DownloadFile=" and "ToFolder=" were given
    Word,                // a build or test mode's word
    Installer,           // anything else
    InstallerHelp,       // the installer asked for its switches
};

struct StartChoice {
    StartMode mode = StartMode::Installer;
    const ModeWord* word = nullptr;  // for StartMode::Word
    std::wstring argument;           // the text after a word that takes one
};

// The complete choice of start-up: download keywords first, then mode words;
// an installer whose switches ask for help shows them instead.
StartChoice ChooseStartMode(const DownloadSettings& download, const wchar_t* commandLineText,
                            const InstallerSwitches& switches = {});

// The mode's name for the log ("installer", "DownloadFile", "PackAll", ...).
std::wstring StartModeName(const StartChoice& choice);

}  // namespace tarn
