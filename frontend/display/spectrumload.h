// Reading spectrum files for the display: the short header preview shown on
// a file click, and the 1024 counts of a spectrum added to the graph.  The
// kind of a file is decided by the last four characters of its path.
#pragma once

#include "appstate.h"

#include <array>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tarvik {

enum class SpectrumKind {
    Result,    // "...mca1" or "...mca2": corrected or converted spectrum, 22 header lines
    Measured,  // "....csv": measured spectrum, 31 header lines
    Other,     // anything else (".mca", ".csv1", capitals, ...): not read
};

// Compared exactly: "MCA1" or ".CSV" are not recognised.
SpectrumKind spectrumKindOf(std::string_view path);

// A spectrum file that cannot be read as one (missing, too short, a field
// that is not a number).
class SpectrumLoadError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads the header of `path` into the state as the preview does:
// commentLine1/2 (" " each unless a result file), tubeVoltage (150 unless a
// result file), kevPerChannel (0.2 unless a result file); returns the
// annotation line (line 8 of a result file, line 4 of a measured file, empty
// otherwise).  The four fields are set to their defaults first and then one
// by one as they are read, so a failure part-way keeps those already read;
// the failure is thrown (FileReadError).
std::string readPreview(const std::filesystem::path& path, AppState& state);

struct LoadedSpectrum {
    std::array<double, kChannels + 1> counts{};  // channels 1..1024 (index 0 unused)
    double max = 0;  // largest count, 0 when none is above 0
};

// The counts of a result or measured file: after its header lines, 1024
// records of three fields, the third being the count.  Throws
// SpectrumLoadError for a missing or short file, a field that is not a
// number, or a count too large to hold; std::nullopt for a file of another
// kind, which is not read.
std::optional<LoadedSpectrum> loadSpectrum(const std::filesystem::path& path);

} // namespace tarvik
