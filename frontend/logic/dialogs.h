// What the stripping dialog (Form4), the conversion dialog (Form3) and the
// settings window (Form7) do, apart from their widgets: the file clicks, the
// checks of the "GO" buttons in their fixed order with their messages, the
// exchange files and the start of the console program.
#pragma once

#include "appstate.h"
#include "launcher.h"
#include "spectrumfiles.h"

#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace tarvik {

// The message boxes of the windows.
enum class BoxKind {
    Warning,   // exclamation-mark icon, OK
    Plain,     // no icon, OK
    Question,  // no icon, Yes and No
};

struct Notice {
    BoxKind kind;
    std::string text;  // UTF-8
};

// How a GO handler talks to the user; the windows show message boxes, tests
// record and answer.
class UserPrompt {
public:
    virtual ~UserPrompt() = default;
    virtual void tell(const Notice& notice) = 0;
    // true for Yes
    virtual bool askYesNo(const Notice& question) = 0;
};

enum class GoOutcome {
    Refused,   // a message was shown; the dialog stays open
    Declined,  // No to the overwrite question: the result name is emptied
    Started,   // exchange files written, program started: back to the menu
};

// A UTF-8 path text as a file-system path.
std::filesystem::path pathFromUtf8(const std::string& utf8);
// The folder, a separator and the file name (UTF-8).
std::string joinPath(const std::string& folder, const std::string& fileName);

// The counts of channels 1..1024 handed to a console program: each must fit
// the 7 columns of its field (0 to 999999 once rounded).
std::optional<Notice> checkCounts(const Counts& counts);

// ---------------- stripping dialog ----------------

// The state of Form4's controls when a button is pressed.
struct StripEntries {
    std::string folder;        // Dir1, UTF-8
    std::string selectedFile;  // File1's selection, empty when none
    std::string text1, text2;  // comments
    std::string text3;         // tube voltage, kV
    std::string text4;         // result name
    std::string text5;         // keV per channel
    std::string text6;         // first line of the spectrum data
    bool unfold = false;       // Check1: the unfolding method
};

struct StripClick {
    std::vector<std::string> lines;  // "0001 : ..." for List1
    std::string proposedName;        // for Text4
    std::optional<Notice> error;     // the file could not be read
};
// A click on a file of File1: dataFilePath, the numbered lines, the name.
StripClick stripFileClicked(AppState& state, const std::string& folder, const std::string& fileName);

// The checks of "補正 GO" in their order: the five of the dialog, then the
// values tvstrip cannot work with and the data folder.  Empty when all pass.
std::optional<Notice> checkStripEntries(const StripEntries& e, const std::filesystem::path& workDir);

// The checks of checkStripEntries that concern the entries alone (all but
// the data folder), in the same order.
std::optional<Notice> checkStripValues(const StripEntries& e);

// What "補正 GO" takes into the state from the entries: the comments ("-- No
// comment --" for an empty one), the voltage, the keV per channel and the
// result path.
void takeStripEntries(AppState& state, const StripEntries& e);

// The two exchange files of a stripping run, byte for byte.
struct StripExchange {
    std::string comTxt;
    std::string tempFile;
};
// Reads the selected measured file for the state set by takeStripEntries and
// builds Com.txt and TempFile.dat in memory.  A file that cannot be read, a
// count out of range or a text without Shift_JIS form comes back as the
// message the dialog shows.
std::variant<StripExchange, Notice> buildStripExchange(AppState& state, const StripEntries& e);
// The same for a measured spectrum already read (its header lines and
// counts): the count check, then the two files.
std::variant<StripExchange, Notice> stripExchangeFor(AppState& state, const MeasuredSpectrum& m);

// The whole "補正 GO": checks, AppState, overwrite question, Com.txt and
// TempFile.dat, start of tvstrip.
GoOutcome stripGo(AppState& state, const StripEntries& e, const std::filesystem::path& workDir,
                  UserPrompt& prompt, ProgramLauncher& launcher);

// ---------------- conversion dialog ----------------

struct ConvertEntries {
    std::string folder;
    std::string selectedFile;
    std::string text1, text2;  // comments for the result
    std::string text3;         // tube voltage shown (not used by GO)
    std::string text4;         // result name
    std::string text5;         // scattering angle, degrees
    std::string text6;         // self-attenuation length, mm
    bool carbon = true;        // Option1 "Carbon", else Option2 "PMMA"
    bool unfold = false;       // Check1: the unfolding method
};

struct ConvertClick {
    std::vector<std::string> listItems;  // for List1
    std::string text1, text2, text3;     // comments and tube voltage
    std::string proposedName;            // for Text4
    std::optional<Notice> error;
};
ConvertClick convertFileClicked(AppState& state, const std::string& folder, const std::string& fileName);
// The same for the file's head already read.
ConvertClick convertClickFor(AppState& state, const ResultPreview& preview, const std::string& fileName);

std::optional<Notice> checkConvertEntries(const ConvertEntries& e, const std::filesystem::path& workDir);

// The checks of checkConvertEntries but the data folder, in the same order.
std::optional<Notice> checkConvertValues(const ConvertEntries& e);

// The two exchange files of a conversion run, byte for byte.
struct ConvertExchange {
    std::string comDat;
    std::string tempFile2;
};
// Sets the result path, reads the selected result file and builds Com.dat
// and TempFile2.dat in memory; a refusal comes back as the dialog's message.
std::variant<ConvertExchange, Notice> buildConvertExchange(AppState& state, const ConvertEntries& e);
// The same for a result file already read.
std::variant<ConvertExchange, Notice> convertExchangeFor(AppState& state, const ConvertEntries& e,
                                                        const ResultSpectrum& s);

// The whole "変換 Go": checks, Com.dat and TempFile2.dat, start of tvconv.
GoOutcome convertGo(AppState& state, const ConvertEntries& e, const std::filesystem::path& workDir,
                    UserPrompt& prompt, ProgramLauncher& launcher);

// ---------------- settings window ----------------

// "OK" of Form7: the three names must be given.
std::optional<Notice> checkSettingsEntries(const std::string& text1, const std::string& text2,
                                           const std::string& text3);

} // namespace tarvik
