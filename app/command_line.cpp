#include "app/command_line.h"

#include "app/mode_words.h"

#include <windows.h>

#include "support/name_compare.h"

namespace {

bool IsBlankOrTab(wchar_t c)
{
    return c == L' ' || c == L'\t';
}

// Letters and digits that continue a "-x" or "/x" switch.
bool IsSwitchCharacter(wchar_t c)
{
    if ((c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9')) {
        return true;
    }
    switch (c) {
    case 0x00C0: case 0x00C4: case 0x00C8: case 0x00C9: case 0x00D6: case 0x00DC:
    case 0x00E0: case 0x00E4: case 0x00E8: case 0x00E9: case 0x00F6: case 0x00FC:
        return true;
    default:
        return false;
    }
}

bool EndsWithEquals(const std::vector<std::wstring>& tokens)
{
    return !tokens.empty() && !tokens.back().empty() && tokens.back().back() == L'=';
}

}  // namespace

int SplitCommandLine(std::vector<std::wstring>& tokens, const wchar_t* text)
{
    tokens.clear();
    const std::wstring_view line = text ? std::wstring_view(text) : tarn::GetApplicationCommandLine();
    size_t pos = 0;
    for (;;) {
        while (pos < line.size() && IsBlankOrTab(line[pos])) {
            ++pos;
        }
        if (pos >= line.size()) {
            return tokens.empty() ? 0 : 1;
        }
        const wchar_t c = line[pos];
        if (c == L'-' || c == L'/') {
            size_t end = pos + 1;
            while (end < line.size() && IsSwitchCharacter(line[end])) {
                ++end;
            }
            tokens.emplace_back(line.substr(pos, end - pos));
            if (end >= line.size()) {
                return 1;
            }
            pos = end;
        } else if (c == L'"') {
            const size_t close = line.find(L'"', pos + 1);
            if (close == std::wstring_view::npos) {
                tokens.emplace_back(line.substr(pos));
                return 0;
            }
            const std::wstring_view content = line.substr(pos + 1, close - pos - 1);
            if (EndsWithEquals(tokens)) {
                tokens.back().append(content);
            } else {
                tokens.emplace_back(content);
            }
            pos = close + 1;
        } else {
            size_t end = pos;
            while (end < line.size() && line[end] != L' ' && line[end] != L'"') {
                ++end;
            }
            tokens.emplace_back(line.substr(pos, end - pos));
            pos = end;
        }
    }
}

namespace tarn {

std::wstring_view CommandLineArguments(std::wstring_view full)
{
    // As the C runtime reads it: a quoted program name ends at its closing
    // quotation mark, blank or not behind it; an unquoted one at the first
    // blank or tab, quotation marks inside it being part of the name.
    size_t pos = 0;
    if (!full.empty() && full.front() == L'"') {
        const size_t closing = full.find(L'"', 1);
        pos = closing == std::wstring_view::npos ? full.size() : closing + 1;
    } else {
        while (pos < full.size() && !IsBlankOrTab(full[pos])) {
            ++pos;
        }
    }
    while (pos < full.size() && IsBlankOrTab(full[pos])) {
        ++pos;
    }
    return full.substr(pos);
}

const std::wstring& GetApplicationCommandLine()
{
    static const std::wstring arguments(CommandLineArguments(::GetCommandLineW()));
    return arguments;
}

DownloadSettings ScanDownloadKeywords(const std::vector<std::wstring>& tokens)
{
    struct Keyword {
        std::wstring_view word;
        UpdateKind kind;   // None: the update kind stays as it is
        bool isFolder;
    };
    static const Keyword kKeywords[] = {
        {L"DownloadGridwellUpdate=", UpdateKind::Gridwell, false},
        {L"DownloadCorvinUpdate=", UpdateKind::Corvin, false},
        {L"DownloadFile=", UpdateKind::None, false},
        {L"ToFolder=", UpdateKind::None, true},
    };
    DownloadSettings settings;
    for (const std::wstring& token : tokens) {
        for (const Keyword& keyword : kKeywords) {
            if (!tarn::StartsWithNoCase(token, keyword.word)) {
                continue;
            }
            std::wstring rest = token.substr(keyword.word.size());
            if (keyword.isFolder) {
                settings.targetFolder = std::move(rest);
            } else {
                settings.value = std::move(rest);
                if (keyword.kind != UpdateKind::None) {
                    settings.updateKind = keyword.kind;
                }
            }
            break;
        }
    }
    return settings;
}

const ModeWord* MatchModeWord(const wchar_t* commandLineText)
{
    if (commandLineText == nullptr) {
        return nullptr;
    }
    const std::wstring_view text = commandLineText;
    for (const ModeWord& entry : ModeWords()) {
        // A word that takes an argument is followed by a blank and a text.
        const bool matches = entry.takesArgument ? text.size() > entry.word.size() + 1 &&
                                                       text[entry.word.size()] == L' ' &&
                                                       StartsWithNoCase(text, entry.word)
                                                 : EqualsNoCase(text, entry.word);
        if (matches) {
            return &entry;
        }
    }
    return nullptr;
}

StartChoice ChooseStartMode(const DownloadSettings& download, const wchar_t* commandLineText,
                            const InstallerSwitches& switches)
{
    StartChoice choice;
    if (download.updateKind != UpdateKind::None) {
        choice.mode = StartMode::UpdateDownload;
    } else if (!download.value.empty() && !download.targetFolder.empty()) {
        choice.mode = StartMode::SingleFileDownload;
    } else if ((choice.word = MatchModeWord(commandLineText)) != nullptr) {
        choice.mode = StartMode::Word;
        if (choice.word->takesArgument) {
            choice.argument = std::wstring(commandLineText).substr(choice.word->word.size() + 1);
        }
    } else if (switches.help) {
        choice.mode = StartMode::InstallerHelp;
    }
    return choice;
}

InstallerSwitches ScanInstallerSwitches(const std::vector<std::wstring>& tokens)
{
    InstallerSwitches switches;
    for (size_t i = 0; i < tokens.size(); ++i) {
        const std::wstring& token = tokens[i];
        if (token.empty() || (token[0] != L'/' && token[0] != L'-')) {
            continue;
        }
        const std::wstring_view name = std::wstring_view(token).substr(1);
        if (EqualsNoCase(name, L"quiet")) {
            switches.quiet = true;
        } else if (EqualsNoCase(name, L"passive")) {
            switches.passive = true;
        } else if (EqualsNoCase(name, L"log") && i + 1 < tokens.size()) {
            switches.logPath = tokens[++i];
        } else {
            switches.help = true;
        }
    }
    return switches;
}

std::wstring InstallerSwitchesHelp()
{
    return L"Aufruf: <Programm> [/quiet | /passive] [/log \"<Datei>\"]\n\n"
           L"/quiet\tohne Fenster und ohne Meldungen; das Ergebnis steht im Exit-Code und im Protokoll\n"
           L"/passive\tnur der Fortschritt, ohne Meldungen\n"
           L"/log \"<Datei>\"\tschreibt das Protokoll auch in diese Datei\n"
           L"/?\tzeigt diese Hilfe\n\n"
           L"Exit-Codes: 0 Setup gestartet, 1602 abgebrochen, 1603 unvollst\u00e4ndig oder nicht freigegeben, "
           L"1618 ein anderer Installationsstarter oder das Setup des Produkts l\u00e4uft";
}

std::wstring StartModeName(const StartChoice& choice)
{
    switch (choice.mode) {
    case StartMode::UpdateDownload: return L"update download";
    case StartMode::SingleFileDownload: return L"DownloadFile";
    case StartMode::Word: return std::wstring(choice.word->word);
    case StartMode::Installer: return L"installer";
    case StartMode::InstallerHelp: return L"installer help";
    }
    return L"installer";
}

}  // namespace tarn
