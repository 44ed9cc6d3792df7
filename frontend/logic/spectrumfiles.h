// Reading the spectrum files of the data folder as the dialogs need them:
// measured files (".csv": free header lines, then 1024 records of three
// fields) and result files (".mca1"/".mca2": 22 header lines, then 1024
// records).  Failures come back as SpectrumFileError with a message for the
// user (Japanese, naming the file).
#pragma once

#include "appstate.h"
#include "textfile.h"

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace tarvik {

class SpectrumFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

using Counts = std::array<double, kCountCells>;

// Every line of the file, numbered: "0001 : text" (UTF-8), for the contents
// list of the stripping dialog.
std::vector<std::string> numberedLines(const std::filesystem::path& file);

// Reads 1024 records of three fields from the reader's position; the third
// field of each is the channel's count (channels 1..1024 of `counts`).
// Records are not bound to lines.
void readCountRecords(TextFileReader& reader, Counts& counts, const std::filesystem::path& file);

struct MeasuredSpectrum {
    std::vector<std::string> headerLines;  // raw Shift_JIS bytes, lines before the data
    Counts counts{};
};

// The lines i = 1, 2, ... with i <= firstDataLine - 1 are header lines; the
// records start right after them.
MeasuredSpectrum readMeasuredFile(const std::filesystem::path& file, double firstDataLine);
// The same from the file's bytes already in memory (`file` names it in messages).
MeasuredSpectrum readMeasuredContent(const std::filesystem::path& file, std::string content, double firstDataLine);

// What the conversion dialog shows of a result file at the click.
struct ResultPreview {
    std::string commentLine1;  // UTF-8, with their trailing blanks
    std::string commentLine2;
    double tubeVoltage = 0;
    double kevPerChannel = 0;
    std::vector<std::string> remainingLines;  // lines 5 to the end, UTF-8
};
ResultPreview readResultPreview(const std::filesystem::path& file);
ResultPreview readResultPreviewContent(const std::filesystem::path& file, std::string content);

// What the conversion dialog passes on from a result file.
struct ResultSpectrum {
    std::vector<std::string> commentLines;      // lines 1 and 2, raw Shift_JIS bytes
    std::vector<std::string> headerLines3to22;  // raw Shift_JIS bytes
    Counts counts{};
};
ResultSpectrum readResultFile(const std::filesystem::path& file);
ResultSpectrum readResultContent(const std::filesystem::path& file, std::string content);

} // namespace tarvik
