// The entry points of the Python module in C++ (tarvik/inmemory.h), the
// baseline of python/bench/timing.py: the stripping of one spectrum held in
// memory (the dialog's checks and exchange files, tvstrip's readers and
// correction, the result read back), the bare correction of the stripping
// program for comparison, and the beam-quality figures without resamples.
#include "inmemory.h"

#include "spectrumfiles.h"
#include "strip/stripping.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <functional>

namespace {

namespace fs = std::filesystem;

const fs::path kData = TARVIK_DATA_DIR;

const tarvikcli::SpectrumRecord& demo()
{
    static const tarvikcli::SpectrumRecord r =
        tarvikcli::readSpectrumFile(kData / "Tarvik_data" / "W80kV_2.5mmAl_direct.csv");
    return r;
}

void BM_StripInMemory(benchmark::State& state)
{
    const auto tables = tarvikcli::sharedResponseTables(kData / "RES");
    tarvikcli::StripRequest request;
    request.kv = 80;
    request.kevPerChannel = 0.1;
    // Without header lines, as for a bare array.
    tarvikcli::SpectrumInfo info;
    tarvikcli::stripInMemory(demo().counts, info, request, *tables);  // tables read before timing
    for (auto _ : state) benchmark::DoNotOptimize(tarvikcli::stripInMemory(demo().counts, info, request, *tables));
}
BENCHMARK(BM_StripInMemory)->Unit(benchmark::kMicrosecond);

// The correction alone, as tvstrip runs it on counts already read.
void BM_StripCorrectionOnly(benchmark::State& state)
{
    const auto tables = tarvikcli::sharedResponseTables(kData / "RES");
    tvstrip::Counts c{};
    for (std::size_t i = 0; i < c.size(); ++i) c[i] = static_cast<std::int32_t>(demo().counts[i]);
    tvstrip::stripSpectrum(c, 80, 0.1f, std::ref(*tables));
    for (auto _ : state) benchmark::DoNotOptimize(tvstrip::stripSpectrum(c, 80, 0.1f, std::ref(*tables)));
}
BENCHMARK(BM_StripCorrectionOnly)->Unit(benchmark::kMicrosecond);

void BM_QualityInMemory(benchmark::State& state)
{
    const auto tables = tarvikcli::sharedResponseTables(kData / "RES");
    tarvikcli::StripRequest request;
    request.kv = 80;
    request.kevPerChannel = 0.1;
    const tarvikcli::SpectrumRecord stripped = tarvikcli::stripInMemory(demo().counts, {}, request, *tables);
    quality::Options options;
    options.resamples = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(tarvikcli::qualityOf(stripped.counts, stripped.info, std::nullopt, options));
}
BENCHMARK(BM_QualityInMemory)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
