// Speed of the characterization on this machine: a whole run of three
// calibration sources (the fit and everything written: the unfolding's
// response data with 1,000,000 photons per energy, the standard tables
// copied, JSON and text), and its two halves.  Wall-clock time, both
// processors.  The spectra are simulated once before (not timed).
#include <benchmark/benchmark.h>

#include <thread>

#include "detector/characterize.h"
#include "detector/characterize_output.h"
#include "detector/source_sim.h"
#include "detector/unfold_data.h"

namespace {

using namespace tvdet;

int threads() { return static_cast<int>(std::max(1u, std::thread::hardware_concurrency())); }

// Bench detector A of tvgen --characterize-recovery: 241Am, 57Co, 133Ba at
// about 90 000, 80 000 and 170 000 counts.
const std::vector<CalibrationSpectrum>& spectra()
{
    static const std::vector<CalibrationSpectrum> s = [] {
        SimulatedDetector d;
        d.config.mutauElectrons = 1.5e-3;
        d.config.mutauHoles = 2e-4;
        d.config.biasVolts = 400;
        d.fwhm2Constant = 0.30;
        d.fwhm2Linear = 0.0035;
        d.fwhmProportional = 0.0025;
        d.gain = 0.1508;
        d.offset = -0.23;
        std::vector<CalibrationSpectrum> out;
        std::uint64_t seed = 1;
        for (auto [n, photons] : {std::pair{"241Am", 1e5}, std::pair{"57Co", 2e5}, std::pair{"133Ba", 3e5}}) {
            SourceSetup s;
            s.nuclide = n;
            s.photons = photons;
            s.encapsulation = stainlessSteel();
            s.encapsulationGPerCm2 = 0.005;
            s.scatterShare = 0.04;
            s.flatPerChannel = 0.3;
            out.push_back({n, std::string(n) + ".csv", simulateSourceMeasurement(d, s, seed++, threads())});
        }
        return out;
    }();
    return s;
}

Construction construction()
{
    Construction c;
    c.biasVolts = 400;
    return c;
}

void Fit(benchmark::State& state)
{
    CharacterizeOptions o;
    o.threads = threads();
    for (auto _ : state) benchmark::DoNotOptimize(characterize(spectra(), 0.15, construction(), o));
}
BENCHMARK(Fit)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1)->Repetitions(3)->ReportAggregatesOnly(false);

void UnfoldResponseData(benchmark::State& state)
{
    UnfoldDataOptions o;
    o.threads = threads();
    tvstrip::DetectorProfile p = defaultDetectorProfile();
    for (auto _ : state) benchmark::DoNotOptimize(simulateUnfoldResponse(p, o));
}
BENCHMARK(UnfoldResponseData)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1)->Repetitions(3);

void WholeCharacterization(benchmark::State& state)
{
    const std::filesystem::path out = std::filesystem::temp_directory_path() / "characterize_bench_out";
    CharacterizeOptions o;
    o.threads = threads();
    OutputOptions oo;
    oo.standardRes = TARVIK_SOURCE_DIR "/data/RES";
    oo.threads = threads();
    oo.replace = true;
    for (auto _ : state) {
        const Characterization r = characterize(spectra(), 0.15, construction(), o);
        writeCharacterization(r, out, oo);
    }
    std::filesystem::remove_all(out);
}
BENCHMARK(WholeCharacterization)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1)->Repetitions(3);

} // namespace

BENCHMARK_MAIN();
