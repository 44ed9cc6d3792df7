// Putting a calibrated spectrum onto the system's channel scale: channel i
// (1-based) of width w holds the energies ((i-1)w, iw].  Either the file's
// channels already are such channels (directScale), or their counts are
// shared onto them by overlap (shareOnto), each channel's counts spread
// evenly over its energy span.
#pragma once

#include "spectrum.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace formats {

// How close a calibration must come to the system's scale for its channels
// to be taken as they are: the start of the first channel within this share
// of a channel of 0 keV, and every channel edge within it of i·w.
inline constexpr double kDirectTolerance = 0.05;

// Why the spectrum's channels cannot be taken as channels of `width` keV
// starting at 0 keV (nullopt when they can).  Without a calibration nothing
// is known against it: nullopt.
std::optional<std::string> directScaleProblem(const Spectrum& s, double width);

struct Shared {
    std::vector<double> counts;  // the new channels' shares
    double belowZero = 0;        // counts that lay below 0 keV
    double aboveTop = 0;         // counts that lay above the last new channel
};

// The counts of `s` (which needs a calibration) shared onto `channels`
// channels of `width` keV from 0 keV.  Throws std::invalid_argument when
// the spectrum has no calibration or the width is not above 0.
Shared shareOnto(const Spectrum& s, double width, std::size_t channels);

// Whole counts from shares: the running sum rounded, channel by channel, so
// the total is kept (to the rounding of the whole) and each channel lies
// within one count of its share.
std::vector<std::uint64_t> wholeCounts(const std::vector<double>& shares);

} // namespace formats
