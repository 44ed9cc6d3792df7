// An independent check of the response tables: a known tube spectrum is
// measured through the detector model with charge loss (as a real detector
// would record it), stripped with the tables of a RES folder, and the
// recovered mean energy and half-value layer are compared with the true
// ones.
#pragma once

#include <filesystem>
#include <iosfwd>
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
