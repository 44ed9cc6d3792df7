// The generator's tasks as the tvgen program runs them: the response tables,
// the scatterer files and the demo spectra, each written into an output
// folder with progress on a stream.
#pragma once

#include <cstdint>
#include <filesystem>
#include <iosfwd>

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
// Tarvik_data/W80kV_2.5mmAl_direct.csv and Tarvik_data/W80kV_2.5mmAl_PMMA90deg.csv.
void generateDemoSpectra(const GenerateOptions& options, std::ostream& progress);

} // namespace tvgen
