// The files of a conversion run: the request "TempFile2.dat" that the front
// end writes, the header lines "Com.dat", and the converted spectrum file
// (".mca2") with 22 header lines and 1024 channel records.
#pragma once

#include "conversion.h"

#include "fixedio/fixedio.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tvconv {

inline constexpr int headerLineCount = 22;
inline constexpr std::size_t textColumns = 60;

// The conversion method, chosen by the optional line 110 of the request:
// no line 110, an empty one or "standard" selects the standard method;
// "unfold" the unfolding (unfold.h).
enum class ConversionMethod { standard, unfold };

// The method named by the text of line 110, compared without surrounding
// blanks and without regard to case; nullopt for any other word.
std::optional<ConversionMethod> methodFromWord(std::string_view word);

struct ConversionRequest {
    std::string resultName;            // line 1: first 60 bytes, trailing blanks dropped (Shift_JIS)
    std::filesystem::path resultPath;  // the same as a path of this platform
    std::string scattererName;         // line 4, as resultName
    std::filesystem::path scattererPath;
    std::int32_t voltage = 0;          // line 5, not used
    ConversionInput input;             // angle (2), length (3), width (6), counts (7-109)
    ConversionMethod method = ConversionMethod::standard;  // line 110, optional
};

// Reads the 109 lines of a request and the optional method line 110.
// Every line is read as a line of its own: an empty voltage line (tube
// voltage 0) reads as 0 and does not shift the later values.  Throws
// fixedio::Error naming the file and the line, also for an unknown method
// word on line 110.
ConversionRequest readConversionRequest(fixedio::LineReader& in);
ConversionRequest readConversionRequest(const std::filesystem::path& file);

// The 22 header lines, each cut at 60 bytes without splitting a double-byte
// character and filled up with blanks to 60.
std::vector<std::string> readResultHeader(const std::filesystem::path& file);
std::vector<std::string> readResultHeader(fixedio::LineReader& in);

// One channel record: channel (I4), blank, energy (F7.2), blank, count (I7).
std::string formatRecord(int channel, float energy, std::int32_t count);

// The whole converted spectrum file with CR LF line ends; the energy of
// channel i is i·W rounded to single precision.
std::string formatResult(const std::vector<std::string>& header, float width, const Spectrum& counts);

} // namespace tvconv
