// An independent check of the scatter-to-primary conversion: known tube
// spectra are scattered off carbon and PMMA with the physics data directly
// (incoherent scattering with the Doppler broadening of each element's
// Compton profile, coherent scattering, attenuation in the block), fed to
// both conversion methods as they are and after a measurement through the
// detector of RES/detector.txt (charge loss, calibrated energy scale, its
// resolution) corrected by the standard stripping and by the unfolding, and
// the recovered primary spectra are compared with the truth.
#pragma once

#include <filesystem>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace tvgen {

struct ConversionCheckOptions {
    std::filesystem::path dataFolder = "data";  // RES/, <scatterer>.dat, <scatterer>_profile.dat
    std::vector<int> kilovolts{50, 80, 100, 120};
    std::vector<double> widths{0.1, 0.15, 0.2};
    std::vector<int> angles{90, 120};         // scattering angles, degrees
    std::vector<double> lengths{0.0, 1.0};    // path in the scatterer, cm
    bool detector = true;                  // also through the detector and both detector corrections
    std::int64_t detectorPhotons = 4000000;
    int threads = 1;
};

struct ConversionCheckRow {
    std::string material;
    int angle = 0;
    double length = 0;      // cm
    int kilovolts = 0;
    double width = 0;       // keV per channel
    std::string chain;      // "scattered", "detector+stripping" or "detector+unfold"
    std::string method;     // "standard" or "unfold"
    double meanError = 0;   // keV, recovered − true
    double hvlError = 0;    // %, recovered / true − 1
    double rms = 0;         // %, relative, 1 keV bins from 20 keV to kV − 5
    int iterations = 0;
    double cpuMs = 0;       // processor time of the unfolding
};

// Runs every case and prints one line per case and a summary per chain
// and method (mean and largest absolute errors) on `out`.
std::vector<ConversionCheckRow> conversionCheck(const ConversionCheckOptions& options, std::ostream& out);

} // namespace tvgen
