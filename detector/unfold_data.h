// The response data of tvstrip's unfolding method (RES/unfold.rsp) and the
// detector profile they are made from (RES/detector.txt): for photons of
// each node energy, the histogram of the energy lost against the photon
// energy on the analyser's calibrated scale, with the Hecht charge loss of
// the profile's crystal.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "detector/detector.h"
#include "strip/detector_profile.h"
#include "strip/unfold_response.h"

namespace tvdet {

// Resolution of today's detector, used for the demo spectra and the shipped
// profile: FWHM² = a + b·E + (c·E)² keV² with the terms below (model
// parameters of the demo, not a measurement).
inline constexpr double kFwhm2Constant = 0.243;    // keV²
inline constexpr double kFwhm2Linear = 0.00246;    // keV
inline constexpr double kFwhmProportional = 0.00348;

// Today's detector (DetectorConfig's values, the demo spectra's resolution).
tvstrip::DetectorProfile defaultDetectorProfile();

// The Monte Carlo configuration of a profile (always with charge loss).
DetectorConfig detectorConfig(const tvstrip::DetectorProfile& profile);

struct UnfoldDataOptions {
    double lossBinKeV = 0.02;
    std::int64_t photonsPerNode = 1000000;
    int photonsPerChunk = 50000;
    std::uint64_t seed = 20240603;
    int threads = 1;
};

// Node energies: every 0.5 keV from 5.0 to 151.0 keV, and a node just below
// and just above the K edges of Cd and Te, so that the response is never
// interpolated across an edge.
std::vector<double> unfoldNodeEnergies();

// Histogram of the calibrated loss of `photons` photons of energy E.
// Chunk c draws from its own stream, so the result does not depend on the
// threads.
std::vector<std::uint32_t> simulateLoss(const Detector& detector, double energyKeV, double lossBinKeV,
                                        std::int64_t photons, const UnfoldDataOptions& options);

// The response data for a profile, the same physics as simulateLoss: the
// histories are followed with their deposits kept and the profile's charge
// collection is applied to the deposits afterwards (a table over the depth
// instead of two exponentials per deposit).  The nodes are shared among
// options.threads threads; node n, chunk c draws from its own stream, so
// the data do not depend on the threads.  progress(done, total) after each
// node.
tvstrip::UnfoldResponse simulateUnfoldResponse(const tvstrip::DetectorProfile& profile,
                                               const UnfoldDataOptions& options,
                                               const std::function<void(std::size_t, std::size_t)>& progress = {});

// Writes <out>/RES/detector.txt (`profileText`) and <out>/RES/unfold.rsp.
void generateUnfoldData(const tvstrip::DetectorProfile& profile, const std::string& profileText,
                        const std::filesystem::path& out, const UnfoldDataOptions& options, std::ostream& progress);

} // namespace tvdet
