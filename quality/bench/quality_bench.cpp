// Speed of the beam-quality figures of a full spectrum, with and without
// the Poisson resamples of the uncertainties.
#include "quality/beamquality.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

namespace {

std::vector<double> spectrum()
{
    // A smooth continuum to 80 keV on 0.1 keV channels.
    std::vector<double> c(1024, 0.0);
    for (int i = 100; i < 800; ++i) c[i] = 1000.0 * (800 - i) / (i + 1);
    return c;
}

void BM_Figures(benchmark::State& state)
{
    const auto c = spectrum();
    const auto att = quality::attenuationFor(0.1, 1024);
    for (auto _ : state) benchmark::DoNotOptimize(quality::computeFigures(c, *att));
}
BENCHMARK(BM_Figures)->Unit(benchmark::kMillisecond);

void BM_WithUncertainties(benchmark::State& state)
{
    const auto c = spectrum();
    quality::Options o;
    o.resamples = static_cast<int>(state.range(0));
    for (auto _ : state) benchmark::DoNotOptimize(quality::computeBeamQuality(c, 0.1, o));
}
BENCHMARK(BM_WithUncertainties)->Arg(100)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
