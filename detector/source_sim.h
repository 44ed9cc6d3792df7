// A simulated measurement of a calibration source, with more than the
// characterization's model describes: an encapsulation of a real material
// in front of the source, photons scattered into the detector by a
// scatterer over a limited range of angles (with its binding, S(x)), a flat
// background, the detector's charge loss, resolution and the analyser's
// energy scale, and counting noise.  For the tests and the round trips of
// the characterization; nothing here is used to characterize a detector.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "detector/detector.h"
#include "detector/medium.h"

namespace tvdet {

struct SourceSetup {
    std::string nuclide = "241Am";
    double photons = 1e6;            // mean photons leaving the source toward the detector (drawn from a Poisson distribution)
    std::vector<Constituent> encapsulation;  // material in front of the source (mass fractions)
    double encapsulationGPerCm2 = 0;
    double scatterShare = 0;         // share of the photons that reach the detector only after one Compton scattering
    int scattererZ = 26;
    double minAngleDeg = 30, maxAngleDeg = 160;
    double flatPerChannel = 0;       // mean counts per channel of a flat background
};

struct SimulatedDetector {
    DetectorConfig config;           // with charge loss
    double fwhm2Constant = 0.243, fwhm2Linear = 0.00246, fwhmProportional = 0.00348;
    double gain = 0.1, offset = 0;   // channel i records (offset + (i-1)·gain, offset + i·gain]
    int channels = 1024;
};

// Counts of channels 1..channels.
std::vector<double> simulateSourceMeasurement(const SimulatedDetector& detector, const SourceSetup& source,
                                              std::uint64_t seed, int threads = 1);

// Stainless steel (Fe 70 %, Cr 19 %, Ni 11 % by mass), a common capsule.
std::vector<Constituent> stainlessSteel();

} // namespace tvdet
