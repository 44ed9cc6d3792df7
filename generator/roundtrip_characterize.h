// Checks of the detector characterization against detectors whose
// parameters are known: calibration-source spectra are simulated through
// the detector Monte Carlo with charge transport, resolution and an energy
// scale other than the shipped detector's, and with what the fit does not
// model exactly (a stainless-steel capsule, photons scattered by an iron
// scatterer over a limited range of angles, a flat background, counting
// noise); the characterization is compared with the truth.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "detector/source_sim.h"

namespace tvgen {

// A detector of the check and the sources measured with it.
struct BenchDetector {
    const char* name;
    tvdet::SimulatedDetector detector;
    double nominalKevPerChannel;
    std::vector<std::pair<const char*, double>> sources;  // nuclide, photons toward the detector
};

// The detectors of the recovery table.
std::vector<BenchDetector> benchDetectors();

// The source spectra of a detector for one seed (the capsule, scatter and
// background vary with the seed as well).
std::vector<std::vector<double>> simulateSources(const BenchDetector& d, std::uint64_t seed, double countScale,
                                                 int threads);

struct CharacterizeBenchOptions {
    int seeds = 5;
    int threads = 1;
    double countScale = 1.0;  // photons of every source times this
    std::string only;         // only the detectors whose name starts with this
    int firstSeed = 1;
};

// Characterizes every detector for every seed and prints a Markdown table
// of the errors against the truth, with the spread of the errors over the
// seeds in units of the reported uncertainties.
void characterizeRecovery(const CharacterizeBenchOptions& options, std::ostream& out, std::ostream& progress);

struct CharacterizeRoundTripOptions {
    std::string only;                       // detectors whose name starts with this (all when empty)
    std::vector<int> kilovolts{50, 80, 100, 120};
    std::int64_t photons = 10000000;        // mean photons per tube measurement (Poisson)
    double filtrationMm = 3.5;              // aluminium: 2.5 mm added, about 1 mm of the tube's own
    std::string shippedRes;                 // the shipped RES, for the comparison "before"
    int threads = 1;
    std::int64_t photonsPerNode = 1000000;  // of the characterized unfold.rsp
};

// The whole method: each detector is characterized from its simulated
// source spectra (RES written to a scratch folder), then model tube spectra
// measured through that detector (its charge loss on its calibrated scale,
// its resolution, its gain and offset, Poisson noise) are unfolded with the
// characterized RES and with the shipped one, on the nominal channel grid,
// and compared with the truth: mean energy, first HVL (air kerma, Al) and
// the RMS deviation in 1 keV bins from 15 keV to kV - 5 (or the top of the
// range).  A Markdown table on `out`.
void characterizeRoundTrip(const CharacterizeRoundTripOptions& options, std::ostream& out, std::ostream& progress);

// Writes the source spectra of bench detector A (seed 1) as the analyser's
// ".csv" files <out>/241Am.csv, 57Co.csv, 133Ba.csv: calibration spectra
// for trying `tarvik characterize` and for the package check.  Returns the
// files written.
std::vector<std::string> writeSourceSpectra(const std::string& out, double countScale, int threads);

} // namespace tvgen
