// The generator's tasks as the tvgen program runs them: the response tables,
// the scatterer files and the demo spectra, each written into an output
// folder with progress on a stream.
#pragma once

#include <cstdint>
#include <filesystem>
#include <iosfwd>

#include "generator/spectra.h"
#include "quality/beamquality.h"
#include "strip/detector_profile.h"
#include "strip/stripping.h"

namespace tvgen {

struct GenerateOptions {
    std::filesystem::path out = "data";
    int threads = 2;
    int firstCode = 50;
    int lastCode = 1510;
    bool chargeLoss = false;         // Hecht charge loss in the response tables
    std::uint64_t seed = 20240601;
};

// RES/<code>kev.dat for every code from firstCode to lastCode in steps of 5.
void generateResponseTables(const GenerateOptions& options, std::ostream& progress);
// Carbon.dat and PMMA.dat, and beside them their Compton-profile files
// Carbon_profile.dat and PMMA_profile.dat.
void generateScattererFiles(const GenerateOptions& options, std::ostream& progress);
// Tarvik_data/W80kV_2.5mmAl_direct.csv and Tarvik_data/W80kV_2.5mmAl_PMMA90deg.csv
// (and the direct beam once more as an analyser's .mca with 3 % pile-up):
// the model tube spectrum (80 kV, 2.5 mm Al) and the spectrum it gives
// scattered at 90 degrees off PMMA (10 mm path in the block), measured
// through the detector of `profile` as the round trip measures (Hecht
// charge loss, calibrated energy scale, the profile's resolution, Poisson
// counts).  The header states the true figures by demoTruth.
void generateDemoSpectra(const GenerateOptions& options, const tvstrip::DetectorProfile& profile,
                         std::ostream& progress);

// The true figures stated in a demo spectrum's header start above this energy:
// both corrections empty the channels below it.
inline constexpr double kDemoTruthFromKeV = tvstrip::kZeroBelowKeV;

// The beam-quality figures (quality/, no resampling) of the photons of `s`
// as the analyser's channels of the given width would hold them, from the
// first channel above kDemoTruthFromKeV.
quality::BeamQuality demoTruth(const PhotonSpectrum& s, double kevPerChannel);
// W80kV_2.5mmAl_direct_true.csv and W80kV_2.5mmAl_PMMA90deg_true.csv: the
// spectra the demo spectra were measured from, as shares of the photons
// incident on the detector in each of the demo's channels.
void generateDemoTruth(const GenerateOptions& options, std::ostream& progress);

} // namespace tvgen
