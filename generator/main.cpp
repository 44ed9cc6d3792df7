// tvgen: generates the data files the system ships, from the physics data.
//   tvgen --all --out data          response tables, scatterer files, demo spectra
//   tvgen --tables [--codes 50:1510] [--charge-loss] --out DIR
//   tvgen --scatterers --out DIR
//   tvgen --demo --out DIR
//   tvgen --roundtrip RESDIR [--kv 50,80,120]   check tables against a known spectrum
// Options: --threads N (default: all cores), --seed N.
#include <cstdlib>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "generator/generate.h"
#include "generator/parallel.h"
#ifdef TVGEN_HAVE_TVSTRIP
#include "generator/roundtrip.h"
#endif

namespace {

void usage()
{
    std::cerr << "usage: tvgen (--all | --tables | --scatterers | --demo)... [--out DIR] [--threads N]\n"
                 "             [--codes FIRST:LAST] [--charge-loss] [--seed N]\n"
                 "  --all          everything the system ships (response tables, Carbon.dat and\n"
                 "                 PMMA.dat, demo spectra)\n"
                 "  --tables       RES/<code>kev.dat, codes 50..1510 (5.0 to 151.0 keV)\n"
                 "  --scatterers   Carbon.dat and PMMA.dat\n"
                 "  --demo         Tarvik_data/*.csv demo spectra\n"
                 "  --codes A:B    only the response tables of codes A..B (multiples of 5)\n"
                 "  --charge-loss  response tables with Hecht charge loss (not what is shipped)\n"
                 "  --roundtrip RESDIR  measure known tube spectra through the detector with charge\n"
                 "                 loss, strip them with the tables in RESDIR and compare mean\n"
                 "                 energy and half-value layer (--kv 50,80,120 picks the voltages;\n"
                 "                 --ideal measures without charge loss and broadening)\n";
}

} // namespace

int main(int argc, char** argv)
{
    tvgen::GenerateOptions o;
    o.threads = tvgen::defaultThreads();
    bool tables = false, scatterers = false, demo = false;
    std::string roundTripFolder;
    bool ideal = false;
    std::vector<int> kilovolts{50, 80, 120};
    try {
        for (int i = 1; i < argc; ++i) {
            const std::string a = argv[i];
            auto value = [&]() -> std::string {
                if (i + 1 >= argc) throw std::invalid_argument(a + " needs a value");
                return argv[++i];
            };
            if (a == "--all") tables = scatterers = demo = true;
            else if (a == "--tables") tables = true;
            else if (a == "--scatterers") scatterers = true;
            else if (a == "--demo") demo = true;
            else if (a == "--out") o.out = value();
            else if (a == "--threads") o.threads = std::stoi(value());
            else if (a == "--seed") o.seed = std::stoull(value());
            else if (a == "--charge-loss") o.chargeLoss = true;
            else if (a == "--roundtrip") roundTripFolder = value();
            else if (a == "--ideal") ideal = true;
            else if (a == "--kv") {
                kilovolts.clear();
                std::string v = value();
                for (std::size_t p = 0; p < v.size();) {
                    const auto q = v.find(',', p);
                    kilovolts.push_back(std::stoi(v.substr(p, q - p)));
                    if (q == std::string::npos) break;
                    p = q + 1;
                }
                for (int kv : kilovolts)
                    if (kv < 10 || kv > 150) throw std::invalid_argument("--kv: tube voltages from 10 to 150 kV");
            }
            else if (a == "--codes") {
                const std::string v = value();
                const auto colon = v.find(':');
                if (colon == std::string::npos) throw std::invalid_argument("--codes wants FIRST:LAST");
                o.firstCode = std::stoi(v.substr(0, colon));
                o.lastCode = std::stoi(v.substr(colon + 1));
                if (o.firstCode < 10 || o.lastCode > 1510 || o.firstCode > o.lastCode || o.firstCode % 5 != 0 ||
                    o.lastCode % 5 != 0)
                    throw std::invalid_argument("--codes: multiples of 5 from 10 to 1510, first <= last");
            } else if (a == "--help" || a == "-h") {
                usage();
                return 0;
            } else {
                throw std::invalid_argument("unknown option " + a);
            }
        }
        if (!(tables || scatterers || demo || !roundTripFolder.empty())) {
            usage();
            return 2;
        }
        if (o.threads < 1) throw std::invalid_argument("--threads must be at least 1");
    } catch (const std::exception& e) {
        std::cerr << "tvgen: " << e.what() << "\n";
        usage();
        return 2;
    }
    try {
        if (scatterers) tvgen::generateScattererFiles(o, std::cerr);
        if (tables) tvgen::generateResponseTables(o, std::cerr);
        if (demo) tvgen::generateDemoSpectra(o, std::cerr);
        if (!roundTripFolder.empty()) {
#ifdef TVGEN_HAVE_TVSTRIP
            tvgen::roundTrip(roundTripFolder, kilovolts, o.threads, std::cout, ideal);
#else
            throw std::runtime_error("this build has no stripping correction for the round-trip check");
#endif
        }
    } catch (const std::exception& e) {
        std::cerr << "tvgen: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
