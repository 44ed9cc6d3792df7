// What `tarvik characterize` and the Python module's tarvik.characterize
// share: the construction values, each source spectrum as the command reads
// it, and the options of the fit and of the result folder.  The fit itself is
// tvdet::characterize, the folder tvdet::writeCharacterization.
#pragma once

#include "detector/characterize.h"
#include "detector/characterize_output.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tarvikcli {

// The settings of a characterization besides its sources.
struct CharacterizeSettings {
    std::optional<double> biasVolts, thicknessMm, windowUm;  // else the profile's of the RES in use
    bool force = false;                // replace an existing result folder
    int threads = 0;                   // 0: one per processor
    std::int64_t photonsPerNode = 0;   // 0: the default (1000000)
    double thresholdKeV = 10.0;
    double eventsPerCount = 0;         // Monte Carlo effort of the fit; 0: the default (tests make it small)
};

// The construction values: the detector profile of `res` (its detector.txt,
// else the shipped detector's) with those the settings give.
tvdet::Construction constructionFor(const std::filesystem::path& res, const CharacterizeSettings& s);

// One source spectrum read from its file as the command reads it: a measured
// .csv as strip reads it (it carries no keV per channel: `nominal` must be
// given), an analyser's file of one spectrum of 1024 channels, whose
// calibration gives `nominal` when it is empty.  FileFailure naming the file;
// where the width is missing it asks for `widthOption` ("--kev-per-channel W").
tvdet::CalibrationSpectrum readCalibrationSource(const std::string& nuclide, const std::filesystem::path& file,
                                                 std::optional<double>& nominal, double firstLine,
                                                 const std::string& widthOption);

// The threads a characterization uses.
int characterizeThreads(const CharacterizeSettings& s);

// The options of the fit and of the result folder (its standard tables from `res`).
tvdet::CharacterizeOptions characterizeOptions(const CharacterizeSettings& s);
tvdet::OutputOptions characterizeOutputOptions(const CharacterizeSettings& s, const std::filesystem::path& res);

} // namespace tarvikcli
