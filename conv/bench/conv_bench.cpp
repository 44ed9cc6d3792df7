// Speed of the whole conversion of a full spectrum: W = 0.1 keV per channel,
// counts up to channel 1024 (K = 1024), 180 angle steps per channel.
#include "conv/conversion.h"
#include "conv/vecmath.h"
#include "conv/unfold.h"
#include "fixedio/bench/whole_run.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

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

// The logarithms and exponentials of one channel's angle sum (180 of each,
// x from 0.005 to 6 1/A) by the four-lane routines (arg 1) and by the
// library one at a time (arg 0).
void BM_AngleSumLogs(benchmark::State& state)
{
    vecmath::allowVectorPath(state.range(0) != 0);
    std::vector<float> x(angleSteps);
    std::vector<double> out(angleSteps);
    for (std::size_t j = 0; j < x.size(); ++j) x[j] = 0.005f * std::pow(1200.0f, float(j) / float(x.size() - 1));
    for (auto _ : state) {
        vecmath::logOfFloats(x.data(), out.data(), x.size());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    vecmath::allowVectorPath(true);
    state.SetItemsProcessed(state.iterations() * std::int64_t(x.size()));
}
BENCHMARK(BM_AngleSumLogs)->Arg(0)->Arg(1);

void BM_AngleSumExps(benchmark::State& state)
{
    vecmath::allowVectorPath(state.range(0) != 0);
    std::vector<double> a(angleSteps);
    std::vector<float> out(angleSteps);
    for (std::size_t j = 0; j < a.size(); ++j) a[j] = 1.8 - 14.0 * double(j) / double(a.size() - 1);
    for (auto _ : state) {
        vecmath::expToFloats(a.data(), out.data(), a.size());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    vecmath::allowVectorPath(true);
    state.SetItemsProcessed(state.iterations() * std::int64_t(a.size()));
}
BENCHMARK(BM_AngleSumExps)->Arg(0)->Arg(1);

// A working folder for a whole run as the front end starts it: 80 kV,
// 0.1 keV per channel, carbon at 90 degrees, 10 mm, with the shipped
// scatterer file.
std::filesystem::path prepare80kVFolder()
{
    namespace fs = std::filesystem;
    std::string tmpl = (fs::temp_directory_path() / "tvconv_bench_XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) std::abort();
    const fs::path work = tmpl;
    fs::create_directories(work / "Tarvik_data");
    fs::copy(fs::path(TARVIK_DATA_DIR) / "Carbon.dat", work / "Carbon.dat");
    std::array<int, channelCount> counts{};
    for (int i = 1; i <= channelCount; ++i) {
        const double e = (i - 0.5) * 0.1;
        counts[std::size_t(i - 1)] = e < 80.0 ? 1 + int(100000.0 * std::exp(-std::pow((e - 45.0) / 25.0, 2.0))) : 0;
    }
    std::ofstream(work / "TempFile2.dat", std::ios::binary)
        << "Tarvik_data\\bench.mca2\r\n090\r\n01.00\r\nCarbon.dat\r\n80\r\n0.100\r\n" + benchrun::countBlock(counts);
    std::string com;
    for (int i = 1; i <= 22; ++i) com += "Header line " + std::to_string(i) + "\r\n";
    std::ofstream(work / "Com.dat", std::ios::binary) << com;
    return work;
}

// Whole runs of `exe` in a folder of prepare80kVFolder(), their processor
// time under `totalsKey`.
void timeWholeRuns(benchmark::State& state, const std::string& exe, const std::string& totalsKey)
{
    namespace fs = std::filesystem;
    const fs::path work = prepare80kVFolder();
    benchrun::timeWholeRuns(state, work, exe, totalsKey);
    std::error_code ec;
    fs::remove_all(work, ec);
}

void BM_WholeRun80kV(benchmark::State& state) { timeWholeRuns(state, TVCONV_BINARY, "own"); }
BENCHMARK(BM_WholeRun80kV)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same run with the plain first-version program, the baseline that
// tvconv's whole run is measured against.
void BM_WholeRunPlain80kV(benchmark::State& state) { timeWholeRuns(state, TVCONV_PLAIN_BINARY, "plain"); }
BENCHMARK(BM_WholeRunPlain80kV)->Unit(benchmark::kMillisecond)->UseRealTime();

// A scattered spectrum from the shipped PMMA data: an 80 kV-like primary
// (Kramers' shape with two lines, filtered, 0.1 keV per channel) through the unfolding's
// own model at 90° and 1 cm, scaled to 100000 counts in the highest channel.
ConversionInput modelledScatter(const ScatterModelData& data)
{
    ConversionInput in;
    in.angle = 90;
    in.attenuationLength = 1.0f;
    in.channelWidth = 0.1f;
    const ScatterModel model(data, in.angle);
    std::vector<double> sum(channelCount, 0.0);
    for (int j = 100; j < 800; ++j) {
        const double e = (j + 0.5) * 0.1;
        // Two one-channel lines on the continuum: sharp features are what
        // takes the unfolding the most iterations.
        const double line = (j == 593 || j == 672) ? 40.0 : 0.0;
        const double primary = ((80.0 - e) / e + line) * std::exp(-model.attenuation(e) * 0.3);
        const std::vector<double> r = monoenergeticResponse(model, e, 1.0, 0.1);
        for (int i = 0; i < channelCount; ++i) sum[std::size_t(i)] += primary * r[std::size_t(i)];
    }
    double top = 0;
    for (double v : sum) top = std::max(top, v);
    for (int i = 0; i < channelCount; ++i) in.counts[std::size_t(i)] = std::int32_t(std::lround(sum[std::size_t(i)] / top * 1e5));
    return in;
}

void BM_UnfoldPrimary(benchmark::State& state)
{
    const ScatterModelData data = loadScatterModel(std::filesystem::path(TARVIK_DATA_DIR) / "PMMA.dat");
    const ConversionInput in = modelledScatter(data);
    int iterations = 0;
    for (auto _ : state) {
        UnfoldResult r = unfoldPrimary(in, data);
        iterations = r.iterations;
        benchmark::DoNotOptimize(r);
    }
    state.counters["iterations"] = iterations;
}
BENCHMARK(BM_UnfoldPrimary)->Unit(benchmark::kMillisecond);

// A whole tvconv run with the unfolding (line 110 "unfold"): process start,
// reading the request and both PMMA files, unfolding, writing the result.
void BM_WholeUnfoldRun(benchmark::State& state)
{
    namespace fs = std::filesystem;
    const fs::path data = TARVIK_DATA_DIR;
    std::string tmpl = (fs::temp_directory_path() / "tvconv_bench_XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) std::abort();
    const fs::path work = tmpl;
    fs::create_directories(work / "Tarvik_data");
    fs::copy_file(data / "PMMA.dat", work / "PMMA.dat");
    fs::copy_file(data / "PMMA_profile.dat", work / "PMMA_profile.dat");
    const ConversionInput in = modelledScatter(loadScatterModel(data / "PMMA.dat"));
    std::ofstream(work / "TempFile2.dat", std::ios::binary)
        << "Tarvik_data\\bench.mca2\r\n090\r\n01.00\r\nPMMA.dat\r\n  80\r\n0.100\r\n" + benchrun::countBlock(in.counts) +
               "unfold\r\n";
    std::string com;
    for (int i = 1; i <= 22; ++i) com += "Header line " + std::to_string(i) + "\r\n";
    std::ofstream(work / "Com.dat", std::ios::binary) << com;
    // Not part of the totals: the ratio at the end compares the default runs.
    benchrun::timeWholeRuns(state, work, TVCONV_BINARY, {}, work / "Tarvik_data" / "bench.mca2");
    std::error_code ec;
    fs::remove_all(work, ec);
}
BENCHMARK(BM_WholeUnfoldRun)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // Both whole runs measured: their CPU times side by side.
    benchrun::printWholeRunRatio("tvconv");
    return 0;
}
