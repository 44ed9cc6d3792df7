// A spectrum written as the stripping dialog's measured ".csv", so that the
// dialogs, the display and the stripping program take it as they take the
// analyser's own files: 31 header lines (at most 60 bytes each, ASCII or
// Shift_JIS, no commas) that keep what the source file said (format, start,
// live and real time, calibration, pulse processor), then 1024 records
// "channel,energy,count" from line 32, CR LF line ends.
#pragma once

#include "spectrum.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace formats {

inline constexpr std::size_t kDialogChannels = 1024;
inline constexpr int kDialogHeaderLines = 31;
inline constexpr std::size_t kDialogLineBytes = 60;
// The largest count the stripping dialog passes on (7 columns).
inline constexpr std::uint64_t kDialogMaxCount = 999999;

// A spectrum that cannot be written in the dialog's layout; the message
// says why and what to do.
class ImportError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct MeasuredCsvOptions {
    // Share the counts onto 1024 channels of this many keV from 0 keV by the
    // file's calibration (needed for a file of other than 1024 channels).
    std::optional<double> rebinKevPerChannel;
    // The source file's name as the header shows it.
    std::string sourceName;
};

struct MeasuredCsv {
    std::string bytes;
    double kevPerChannel = 0;  // width of the written channels; 0 when the file has no calibration
    bool rebinned = false;
    double belowZero = 0, aboveTop = 0;  // counts the rebinning left out
};

MeasuredCsv toMeasuredCsv(const Spectrum& s, const MeasuredCsvOptions& options);

// The live and real time toMeasuredCsv keeps in the header ("Live time:
// 9.500 s", "Real time: not given"), read back from the header lines of a
// measured ".csv" (UTF-8, line 1 first) when its first line says tarvik
// imported it; empty for every other header.  A time that is not a number,
// not above 0, or a live time above the real time is refused with a
// FormatError naming the file and the line.
struct HeaderTimes {
    std::optional<double> liveTimeS;
    std::optional<double> realTimeS;
};
HeaderTimes importedTimes(const std::vector<std::string>& headerLines, const std::string& file);

// The same from the first bytes of a file: its lines before `firstDataLine`.
HeaderTimes importedTimesOfBytes(std::string_view head, const std::string& file, int firstDataLine = 32);

// A line for the header: ',' and control characters become blanks or ';',
// characters Shift_JIS cannot hold become '?', and the line is cut to 60
// bytes without splitting a character.  Returns Shift_JIS bytes.
std::string dialogHeaderLine(const std::string& utf8);

} // namespace formats
