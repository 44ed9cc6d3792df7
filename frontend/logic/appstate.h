// The record that every window of Tarvik_CdTe reads and writes.  One
// instance lives from the start of the program to its end; the windows get a
// reference to it, so each sees the others' last writes.
//
// Texts are held in UTF-8 (the windows work in Unicode); they are converted
// to Shift_JIS only when a file is written.  A number that has not been
// assigned yet holds no value: it is shown as an empty text and counts as 0.
#pragma once

#include <array>
#include <optional>
#include <string>

namespace tarvik {

inline constexpr int kChannels = 1024;     // channels of a spectrum, numbered 1..1024
inline constexpr int kCountCells = 1101;   // count tables are indexed 0..1100
inline constexpr int kMaxSpectra = 5;      // display slots 1..5 (slot 0 is never used)

struct AppState {
    // ---- general fields ----
    std::string dataFilePath;      // folder of Dir1 + separator + file last clicked
    std::string resultPath;        // "Tarvik_data" + separator + name + ".mca1"/".mca2"
    std::string commentLine1;
    std::string commentLine2;
    std::optional<double> tubeVoltage;    // kV
    std::optional<double> kevPerChannel;  // keV per channel, one value for the whole front end
    std::array<double, kCountCells> counts{};  // spectrum handed to a console program, channels 1..1024
    std::string facilityName;      // from the settings file at start-up only
    int stripOpened = 0;
    int convertOpened = 0;
    int displayOpened = 0;
    // The dialogs' choice of the unfolding method instead of the standard
    // one; off at the start, kept for the rest of the run.
    bool stripUnfold = false;
    bool convertUnfold = false;

    // ---- display fields ----
    int spectrumCount = 0;  // 0..5
    // Unfilled cells are empty (no value) and count as 0.
    std::array<std::array<std::optional<double>, kCountCells>, kMaxSpectra + 1> spectrumCounts{};
    std::array<double, kMaxSpectra + 1> spectrumMax{};
    std::array<int, kMaxSpectra + 1> spectrumColour{};   // palette index
    std::array<std::string, kMaxSpectra + 1> spectrumFile;  // file name without folder
    double energyMin = 0.0;
    double energyMax = 0.0;

    // ---- cursor fields ----
    int cursorChannel = 0;
    int cursorActive = 0;
    int trackingEnabled = 0;
};

// A number field as arithmetic sees it: no value counts as 0.
inline double valueOr0(const std::optional<double>& v) { return v.value_or(0.0); }

} // namespace tarvik
