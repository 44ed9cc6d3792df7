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
#include <vector>

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

struct MethodBenchOptions {
    std::vector<int> kilovolts{50, 80, 100, 120};
    std::vector<double> kevPerChannel{0.1, 0.15, 0.2};
    std::int64_t photons = 10000000;   // mean photons per measurement (Poisson)
    std::vector<int> iterations;       // unfolding iterations to try; empty: the default
    int threads = 1;
};

// The round trip for both correction methods: the model tube spectrum is
// measured through the detector of the profile in `resFolder` (Hecht charge
// loss, calibrated energy scale, the profile's resolution, Poisson noise),
// corrected with the standard method (response tables of `resFolder`) and
// the unfolding (RES/unfold.rsp), and mean energy, HVL and the RMS deviation
// in 1 keV bins from 15 keV to kV - 5 are compared with the truth (the
// truth counted in the analyser's channels first, then binned like the
// result).  Prints a Markdown table on `out`.
void roundTripMethods(const std::filesystem::path& resFolder, const MethodBenchOptions& options, std::ostream& out,
                      std::ostream& progress);

} // namespace tvgen
