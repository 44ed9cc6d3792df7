// Spectra of other formats (analysers' ".mca", ".Spe", ".Chn", N42, text
// columns) on the display: how their channels go onto the display's
// channels of one width, which the window asks about before it changes the
// counts (sharing them onto other channels, or leaving channels out).
#pragma once

#include "formats/spectrum.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace tarvik {

struct OtherFormatPlacement {
    enum class Way {
        AsTheyAre,      // the file's channels are the display's channels
        Shared,         // counts shared by overlap onto 1024 channels of the width, by the file's calibration
        FirstChannels,  // no calibration and more than 1024 channels: only the first 1024 are drawn
    };
    Way way = Way::AsTheyAre;
    std::vector<double> counts;  // channel 1 first, at most 1024
    double kevPerChannel = 0;    // the display's width with this spectrum
    std::size_t fileChannels = 0;
    bool calibrated = false;
    double fileGainKeV = 0, fileOffsetKeV = 0;  // the file's line, when calibrated
    double leftOut = 0;          // counts not drawn (outside the channels, or beyond channel 1024)
    std::string why;             // for Shared: why the channels could not be taken as they are
    std::optional<double> liveTimeS, realTimeS;  // the file's, where it gives them
};

// Where the spectrum goes.  `widthInUse` is the width of the spectra already
// loaded (0 when none is): a second spectrum is put onto it.  With none
// loaded a calibrated file brings its own width, an uncalibrated one takes
// `boxWidth` (the box of the window).  Throws std::invalid_argument when
// neither gives a width above 0.
OtherFormatPlacement placeOtherFormat(const formats::Spectrum& s, double widthInUse, double boxWidth);

// The width for the window's box: three decimals when that is exact, else
// as many as it takes.
std::string widthText(double kevPerChannel);

} // namespace tarvik
