// An independent check of the response tables: a known tube spectrum is
// measured through the detector model with charge loss (as a real detector
// would record it), stripped with the tables of a RES folder, and the
// recovered mean energy and half-value layer are compared with the true
// ones.
#pragma once

#include <filesystem>
#include <iosfwd>
#include <cstdint>
#include <string>
#include <optional>
#include <vector>

#include "strip/detector_profile.h"
#include "strip/unfold.h"

namespace tvgen {

struct RoundTripResult {
    int kilovolts = 0;
    double trueMean = 0, recoveredMean = 0;   // keV
    double trueHvl = 0, recoveredHvl = 0;     // mm Al
    double measuredMean = 0, measuredHvl = 0; // the uncorrected measurement, for comparison
};

// Runs the check for each tube voltage with the tables in `resFolder`.
// `ideal` measures without charge loss and without broadening (a check of
// the tables and the stripping alone).
std::vector<RoundTripResult> roundTrip(const std::filesystem::path& resFolder, const std::vector<int>& kilovolts,
                                       int threads, std::ostream& progress, bool ideal = false);

} // namespace tvgen

namespace tvgen {

// What a physicist reads off a spectrum, for comparing a corrected spectrum
// with the truth.
struct SpectrumFigures {
    double meanKeV = 0;     // mean energy of the photons from 10 keV up
    double hvlMm = 0;       // first half-value layer in Al for air kerma
    double rmsPercent = 0;  // RMS relative deviation in 1 keV bins (against the truth)
    double rmsContinuumPercent = 0;  // the same without the bins of the tube's K lines
    int rmsBins = 0;
    std::string worstBins;  // the bins that deviate most, as text
};

// Photons per 1 keV bin [lo, lo+1), ..., [hi-1, hi) of a spectrum given per
// channel of width w (channel i holds ((i-1)w, iw]); a channel that straddles
// a bin edge is shared by the overlap.
std::vector<double> photonsPerKeV(const std::vector<double>& perChannel, double w, int lo, int hi);

// The same bins of a photon spectrum given as energies and weights.
std::vector<double> photonsPerKeV(const std::vector<double>& energyKeV, const std::vector<double>& weight, int lo,
                                  int hi);

// RMS of (recovered / truth - 1) over bins whose truth is above 0, in %.
double rmsDeviationPercent(const std::vector<double>& recovered, const std::vector<double>& truth);

// A detector that measures in the round trip, which need not be the one the
// response data were made for.
struct MeasuringDetector {
    std::string label;
    tvstrip::DetectorProfile profile;  // crystal, charge transport and resolution of the truth
    // The analyser's true energy scale: channel i records the calibrated
    // energies (offset + (i-1)·g, offset + i·g] with g = gainFactor · w.
    double gainFactor = 1.0;
    double offsetKeV = 0.0;
};

// What the response data's profile is told of the analyser's energy scale
// (a characterization's result), relative to the nominal keV per channel.
struct ToldScale {
    double gainFactor = 1.0;
    double offsetKeV = 0.0;
};

// One setting of the unfolding to compare on the same measurements.
struct UnfoldVariant {
    std::string label;
    tvstrip::UnfoldOptions options;
};

struct MethodBenchOptions {
    std::vector<int> kilovolts{50, 80, 100, 120};
    std::vector<double> kevPerChannel{0.1, 0.15, 0.2};
    std::int64_t photons = 10000000;   // mean photons per measurement (Poisson)
    std::vector<int> iterations;       // unfolding iterations to try; empty: the default
    std::vector<UnfoldVariant> variants;  // further settings to try (labelled)
    int threads = 1;
    // True spectra: "kramers" (Kramers' law and the W K lines behind the
    // aluminium) and "tube" (the same with the anode's self-absorption and
    // the tube's glass, filteredTube).
    std::vector<std::string> truths{"kramers"};
    // Detectors that measure; empty: the response data's own detector.
    std::vector<MeasuringDetector> detectors;
    // Count levels: the measurement thinned (each recorded photon kept with
    // one probability, which keeps every channel a Poisson count) to this
    // many counts in its highest channel; 0 keeps the whole measurement.
    std::vector<double> peakCounts{0};
    int repeats = 1;                   // independent thinnings per count level
    std::optional<ToldScale> told;     // energy scale written into the response's profile
    // Pile-up shares to measure with (0: none), made by simulating the
    // photons' arrival in time (see recordChannels in roundtrip.cpp).
    std::vector<double> pileupShares{0.0};
    bool standard = true;              // also the standard method
};

// Each case's figures, for summaries.
struct MethodBenchRow {
    std::string truth, detector, method;
    double peakCounts = 0;
    int kilovolts = 0;
    double kevPerChannel = 0;
    double meanError = 0, hvlError = 0, rms = 0, rmsContinuum = 0;  // keV, %, %, %
    std::vector<double> lowBins;  // deviation in % of 15-16 ... 19-20 keV
    double ms = 0;                // time of the unfolding
};

// The round trip for both correction methods: the true spectrum is
// measured through each measuring detector (Hecht charge loss, the
// analyser's energy scale, its resolution, Poisson noise), corrected with
// the standard method (response tables of `resFolder`) and the unfolding
// (RES/unfold.rsp), and mean energy, HVL and the RMS deviation in 1 keV
// bins from 15 keV to kV - 5 are compared with the truth (the truth counted
// in the analyser's channels first, then binned like the result).  Prints a
// Markdown table on `out` and a summary per truth, detector, count level
// and method; returns the rows.
std::vector<MethodBenchRow> roundTripMethods(const std::filesystem::path& resFolder, const MethodBenchOptions& options,
                                             std::ostream& out, std::ostream& progress);

} // namespace tvgen
