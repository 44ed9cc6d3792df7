// The exchange files that the dialogs hand to the console programs, built
// byte for byte (Shift_JIS texts, CR LF line ends), and their removal when
// the front end ends.
#pragma once

#include "appstate.h"
#include "spectrumfiles.h"

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tarvik {

// Fixed names in the working directory.
inline constexpr std::string_view kComTxt = "Com.txt";
inline constexpr std::string_view kTempFile = "TempFile.dat";
inline constexpr std::string_view kComDat = "Com.dat";
inline constexpr std::string_view kTempFile2 = "TempFile2.dat";
inline constexpr std::string_view kDatanameKat = "Dataname.kat";

// The word of the optional last line of TempFile.dat (line 109) and
// TempFile2.dat (line 110) that selects the unfolding method.  Without that
// line the console programs run their standard method.
inline constexpr std::string_view kUnfoldMethod = "unfold";

// A text of the windows cannot be written in Shift_JIS, or a file cannot
// be written.  The message is for the user.
class ExchangeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// UTF-8 text as Shift_JIS bytes; throws ExchangeError naming `what` (a text
// marked with TARVIK_TEXT in the context "ExchangeFiles").
std::string sjisOrThrow(std::string_view utf8, const char* what);

// Counts of channels 1..1024 with " 000000": 102 lines of ten fields and a
// line of four, each with CR LF.
std::string countBlock(const Counts& counts);

// Com.txt: the raw header lines, each followed by CR LF.
std::string comTxtContent(const std::vector<std::string>& rawHeaderLines);

// TempFile.dat from resultPath, commentLine1/2, tubeVoltage, kevPerChannel
// and counts of the state: 108 lines, and a 109th "unfold" when stripUnfold
// is set.
std::string tempFileContent(const AppState& state);

// Com.dat: the two comment boxes, then lines 3 to 22 of the stripping result.
std::string comDatContent(std::string_view comment1, std::string_view comment2,
                          const std::vector<std::string>& rawLines3to22);

// TempFile2.dat from resultPath, tubeVoltage, kevPerChannel and counts of the
// state and the conversion parameters: 109 lines, and a 110th "unfold" when
// convertUnfold is set.
std::string tempFile2Content(const AppState& state, double angleDegrees, double lengthCm,
                             std::string_view scattererFile);

// Creates or replaces the file with exactly these bytes; throws ExchangeError.
void writeFileBytes(const std::filesystem::path& file, std::string_view bytes);

// Deletes TempFile.dat, TempFile2.dat, Com.dat, Com.txt and Dataname.kat from
// the working directory, in this order, skipping any that is missing or
// cannot be deleted.
void removeExchangeFiles(const std::filesystem::path& workDir);

} // namespace tarvik
