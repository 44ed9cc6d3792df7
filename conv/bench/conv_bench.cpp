// Speed of the whole conversion of a full spectrum: W = 0.1 keV per channel,
// counts up to channel 1024 (K = 1024), 180 angle steps per channel.
#include "conv/conversion.h"

#include <benchmark/benchmark.h>

#include <cmath>

namespace {

using namespace tvconv;

ScattererData benchScatterer()
{
    ScattererData d;
    d.file = "bench";
    d.density = 1.7f;
    for (int k = 0; k < 30; ++k) {
        const double e = std::pow(5000.0, k / 29.0);
        CoefficientRow r{};
        r.energy = float(e);
        r.c1 = float(0.5 * std::pow(e, -0.9));
        r.c2 = float(0.2 / (1.0 + e / 300.0));
        r.c3 = float(400.0 * std::pow(e, -3.0));
        r.mu = float((double(r.c1) + double(r.c2) + double(r.c3)) * double(d.density));
        d.coefficients.push_back(r);
    }
    for (int k = 0; k < scatteringRows; ++k) {
        const double x = 0.005 * std::pow(1e5, k / 44.0);
        d.scattering.push_back(ScatteringRow{float(x), 0.0f, float(6.0 * (1.0 - std::exp(-2.5 * x * x)))});
    }
    return d;
}

ConversionInput fullSpectrum()
{
    ConversionInput in;
    in.angle = 90;
    in.attenuationLength = 1.0f;
    in.channelWidth = 0.1f;
    for (int i = 1; i <= channelCount; ++i) {
        const double e = (i - 0.5) * 0.1;
        in.counts[std::size_t(i - 1)] = 1 + std::int32_t(100000.0 * std::exp(-std::pow((e - 45.0) / 25.0, 2.0)));
    }
    return in;
}

void BM_ConvertFullSpectrum(benchmark::State& state)
{
    const ScattererData d = benchScatterer();
    const ConversionInput in = fullSpectrum();
    int channels = 0;
    for (auto _ : state) {
        Spectrum q = convertSpectrum(in, d, [&](int) { ++channels; });
        benchmark::DoNotOptimize(q);
    }
    state.counters["channels"] = double(channels) / double(state.iterations());
}
BENCHMARK(BM_ConvertFullSpectrum)->Unit(benchmark::kMillisecond);

void BM_InterpolateScatteringFunction(benchmark::State& state)
{
    const ScattererData d = benchScatterer();
    std::vector<float> x;
    std::vector<double> s;
    for (const auto& r : d.scattering) {
        x.push_back(r.x);
        s.push_back(r.s);
    }
    float t = 0.01f;
    for (auto _ : state) {
        benchmark::DoNotOptimize(interpolateLogLog(x, s, t, LookupKind::scatteringFunction));
        t = t < 100.0f ? t * 1.01f : 0.01f;
    }
}
BENCHMARK(BM_InterpolateScatteringFunction);

} // namespace

BENCHMARK_MAIN();
