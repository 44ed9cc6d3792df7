// The files the stripping program shares with the front end: the run's input
// TempFile.dat, the measured file's header lines Com.txt, and the ".mca1"
// result file.  All are Shift_JIS text with CR LF line ends.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "fixedio/fixedio.h"
#include "strip/stripping.h"

namespace tvstrip {

inline constexpr const char* kTempFileName = "TempFile.dat";
inline constexpr const char* kHeaderFileName = "Com.txt";
inline constexpr const char* kTableNameFileName = "Dataname.kat";
inline constexpr const char* kResponseFolderName = "RES";
inline constexpr int kHeaderLines = 17;
inline constexpr std::size_t kTextWidth = 60;

// Everything one run reads before it starts.
struct StripJob {
    // The result path as written in TempFile.dat ("Tarvik_data\name.mca1"):
    // its first 60 bytes without trailing blanks, never ending in half a
    // double-byte character.
    std::string resultPath;
    std::string comment1;  // exactly 60 bytes
    std::string comment2;  // exactly 60 bytes
    std::int32_t voltage = 0;     // V, kV
    float kevPerChannel = 0.0f;   // w
    Counts counts{};
    std::array<std::string, kHeaderLines> header;  // Com.txt lines 1-17, exactly 60 bytes each
    // Line 109: absent or blank, "standard" or "unfold".
    StripMethod method = StripMethod::Standard;
    bool methodNamed = false;  // line 109 named the method
};

inline constexpr const char* kMethodStandard = "standard";
inline constexpr const char* kMethodUnfold = "unfold";

// Reads TempFile.dat: result path, two comments, V, w and the 1024 counts
// ("(10I7)" lines, then "(4I7)"), and the optional line 109 with the method
// word (blanks around it ignored; lines after it are not read).  Errors name
// the file, line and the value.
void readTempFile(fixedio::LineReader& in, StripJob& job);

// Reads the 17 header lines of Com.txt, each as "(A60)" with the Shift_JIS
// safe cut.  Fewer lines are an error that says so.
void readHeaderLines(fixedio::LineReader& in, StripJob& job);

// The ".mca1" result: comments "(A60)", V "(I3)", w "(F6.3)", the 17
// header lines "(A60)", the heading and one "(I4,1X,F7.2,1X,I7)" record per
// channel with the energy i x w rounded to single precision.
std::string formatResult(const StripJob& job, const Counts& corrected);

// One channel record of the result: "   1     .10       0".
std::string formatChannelRecord(int channel, float kevPerChannel, std::int32_t count);

} // namespace tvstrip
