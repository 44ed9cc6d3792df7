// Spectrum files of other formats in the commands: which files go to the
// formats library (everything that is not the front end's measured ".csv"
// or a result ".mca1"/".mca2"), the keV per channel and offset they bring
// or the command line gives them, and what each command makes of them.
// Every function throws FileFailure with the reason for that file.
#pragma once

#include "engine.h"

#include "formats/measuredcsv_writer.h"
#include "formats/spectrum.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tarvikcli {

// Whether `file` is read by the formats library.  A ".mca1"/".mca2" never
// is; a ".csv" only when its content is text columns (a file in the
// measured layout keeps the front end's reader); every other file is.
// `forced` (--format) decides for every file but the result files.
bool isOtherFormat(const std::filesystem::path& file, std::optional<formats::Format> forced);

// One spectrum of such a file and how the commands name it: the file, with
// "#k" (k from 1) when the file holds several.
struct OtherSpectrum {
    std::string label;
    std::string stem;  // the file name without its extension, "_k" added when the file holds several
    formats::Spectrum spectrum;
};
std::vector<OtherSpectrum> readOtherFormat(const std::filesystem::path& file, std::optional<formats::Format> forced);

// --kev-per-channel W [--offset-kev O] given on the command line: channel k
// spans [O + kW, O + (k+1)W), in place of the file's calibration.
struct GivenScale {
    std::optional<double> kevPerChannel;
    double offsetKeV = 0;
};
formats::Spectrum withGivenScale(formats::Spectrum s, const GivenScale& given);

// The counts on channels of the file's keV per channel from 0 keV, for the
// beam quality and the plot: as they are when the calibration is that scale
// already, else shared onto it by the calibration (`note` says so, with the
// counts that fell below 0 keV).
struct ZeroScale {
    std::vector<double> counts;
    double kevPerChannel = 0;
    std::string note;
};
ZeroScale ontoZeroScale(const formats::Spectrum& s);

// For the export: the channels as they are with the upper edge of each.
SpectrumData exportData(const formats::Spectrum& s);

// What the file tells of the count rate, for the unfolding's pile-up: live
// and real time; the fast channel's input counts (scaled from the time the
// counters ran to the real time; left out when below the spectrum's own
// counts: that fast channel missed the small pulses); the pulse-pair resolving time from the
// pulse processor's settings: with pile-up rejection on, the fast channel's
// peaking time (pulses closer than that are one pulse to the rejector
// too), else the slow channel's peaking time plus flat top (a second pulse
// before the first is sampled adds to it).  Unknown stays empty.
tvstrip::PileupInput pileupInputOf(const formats::Spectrum& s);

// The measured ".csv" of `tarvik import` (see formats::toMeasuredCsv).
formats::MeasuredCsv importCsv(const OtherSpectrum& o, std::optional<double> rebinKevPerChannel);

// The keV per channel the stripping dialog is given for this spectrum: the
// rebinning width, the width given on the command line, or the file's
// calibration when its 1024 channels lie on a scale of three decimals from
// 0 keV (the exchange file holds three).  Refused with the reason and what
// to give instead otherwise.
std::string stripWidth(const formats::Spectrum& s, std::optional<double> rebinKevPerChannel, bool givenOnCommandLine);

// One spectrum through the stripping as the dialog and tvstrip take its
// ".csv" of `tarvik import` (made and read in memory): the keV per channel
// of stripWidth (`widthGiven`: its calibration was given on the command
// line), its counts shared onto 1024 channels of `rebin` keV when given;
// the unfolding is told the file's count rate (pileupInputOf).  `width`
// receives the keV per channel used.
StripRun stripImported(const OtherSpectrum& o, StripSettings s, bool widthGiven, std::optional<double> rebin,
                       ResponseTables& tables, std::string* width = nullptr);

} // namespace tarvikcli
