// Detector response tables: the histogram of the collected energy of
// photons of one energy in 0.5 keV response bins, scaled to 500000 photons
// incident on the window, as the stripping correction reads it from
// RES/<code>kev.dat.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "detector/detector.h"
#include "detector/parallel.h"

namespace tvdet {

inline constexpr int kTableBins = 300;
inline constexpr double kTablePhotons = 500000.0;
inline constexpr int kFirstCode = 50;     // 5.0 keV
inline constexpr int kLastCode = 1510;    // 151.0 keV
inline constexpr int kCodeStep = 5;       // 0.5 keV
// Bins kept while simulating: beyond the table so that the full-energy
// peak of the top energies can still be counted.
inline constexpr std::size_t kSimulatedBins = 320;

// Response bin of an energy: trunc(E / 0.5 + 0.01).
int responseBin(double energyKeV);

// Energy (keV) of an energy code: code / 10.
inline double codeEnergy(int code) { return code / 10.0; }

// Name of a table file: "<code>kev.dat".
std::string responseFileName(int code);

struct ResponseRun {
    int code = 0;
    std::int64_t photons = 0;     // photons incident on the window
    Histogram counts;             // per response bin, 0..kSimulatedBins-1
    std::int64_t fullAbsorption = 0;  // photons that left all their energy in the crystal
    // Counts in the full-energy bins k-1 and k (also when they lie beyond the table).
    std::int64_t peakCounts() const;
    // Relative statistical uncertainty of the full-energy peak:
    // sqrt((1 - p) / (N p)) for the binomial share p of N photons.  The
    // peak is taken as the photons absorbed whole, which with complete
    // charge collection are the counts of bins k-1 and k; with charge loss
    // they spread below the peak bins.
    double peakUncertainty() const;
};

struct ResponseOptions {
    std::uint64_t seed = 20240601;
    int photonsPerChunk = 50000;
    int minChunks = 100;             // 5000000 photons at least: each count is 0.1 table count
    double maxPeakUncertainty = 0.0029;  // stays below 0.3 %
    int threads = 1;
};

// Simulates photons of the code's energy in chunks until the full-energy
// peak is known to the wanted precision.  `progress` receives the photons
// simulated so far.
ResponseRun simulateResponse(const Detector& detector, int code, const ResponseOptions& options,
                             const std::function<void(std::int64_t)>& progress = {});

// R(1..300) scaled to 500000 incident photons (R[0] unused, 0).
std::array<double, kTableBins + 1> scaledTable(const ResponseRun& run);

// The table file: 30 records of ten 8-column fields (one decimal), CR LF.
std::string formatResponseTable(const std::array<double, kTableBins + 1>& table);

} // namespace tvdet
