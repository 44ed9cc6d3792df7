// Speed of the stripping correction: the computation alone on a full
// spectrum with the response tables in memory, and a whole tvstrip run
// (process start, reading the exchange files and about 150 response tables,
// writing the result) with Enter piped in.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <string>

#include "fixedio/bench/whole_run.h"
#include "fixedio/fixedio.h"
#include "strip/response_table.h"
#include "strip/stripping.h"
#include "strip/unfold.h"

namespace {

namespace fs = std::filesystem;
using namespace tvstrip;

// A plausible response of the energy of `code`: the full-energy peak in the
// bins of that energy, four escape peaks and a continuum below.
ResponseTable syntheticTable(int code)
{
    ResponseTable r{};
    const int peak = code / 5;
    for (int b = 1; b <= kResponseBins; ++b) {
        float v = 0.0f;
        if (b == peak - 1 || b == peak)
            v = 90000.0f + 7.0f * static_cast<float>(code);
        else if (b == peak - 47 || b == peak - 53 || b == peak - 55 || b == peak - 63)
            v = 3000.0f;
        else if (b < peak - 1)
            v = 0.5f + static_cast<float>((b * 37 + code) % 90);
        r[static_cast<std::size_t>(b)] = v;
    }
    return r;
}

Counts sampleSpectrum()
{
    Counts c{};
    for (int i = 1; i <= kChannels; ++i)
        c[static_cast<std::size_t>(i - 1)] = 200 + (i * 7919) % 3000;
    return c;
}

void BM_StripCore120kV(benchmark::State& state)
{
    std::map<int, ResponseTable> tables;
    for (int code = 50; code <= 1500; code += 5)
        tables[code] = syntheticTable(code);
    const Counts counts = sampleSpectrum();
    auto loader = [&](int code) -> const ResponseTable& { return tables.at(code); };
    for (auto _ : state) {
        Counts out = stripSpectrum(counts, 120, 0.1f, loader);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_StripCore120kV)->Unit(benchmark::kMillisecond);

std::string tableText(const ResponseTable& r)
{
    std::string text;
    char field[16];
    for (int b = 1; b <= kResponseBins; ++b) {
        std::snprintf(field, sizeof field, "%8.1f", static_cast<double>(r[static_cast<std::size_t>(b)]));
        text += field;
        if (b % 10 == 0)
            text += "\r\n";
    }
    return text;
}

// Reading one response table from text: a whole run reads about 150.
void BM_ReadResponseTable(benchmark::State& state)
{
    const std::string text = tableText(syntheticTable(800));
    for (auto _ : state) {
        auto in = fixedio::LineReader::fromText("RES\\800kev.dat", text);
        ResponseTable r = readResponseTable(in);
        benchmark::DoNotOptimize(r.data());
    }
}
BENCHMARK(BM_ReadResponseTable)->Unit(benchmark::kMicrosecond);

void writeFile(const fs::path& p, const std::string& content)
{
    std::ofstream(p, std::ios::binary) << content;
}

// A working folder for a run at V = 80 kV, w = 0.1 keV.
fs::path prepareWorkingFolder()
{
    std::string tmpl = (fs::temp_directory_path() / "tvstrip_bench_XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr)
        std::abort();
    const fs::path work = tmpl;
    fs::create_directories(work / "RES");
    fs::create_directories(work / "Tarvik_data");
    for (int code = 50; code <= 1500; code += 5)
        writeFile(work / "RES" / (std::to_string(code) + "kev.dat"), tableText(syntheticTable(code)));
    writeFile(work / "TempFile.dat", "Tarvik_data\\bench.mca1\r\n-- No comment --\r\n-- No comment --\r\n80\r\n0.100\r\n" +
                                          benchrun::countBlock(sampleSpectrum()));
    std::string com;
    for (int i = 1; i <= 31; ++i)
        com += "Header line " + std::to_string(i) + "\r\n";
    writeFile(work / "Com.txt", com);
    return work;
}

void BM_WholeRun80kV(benchmark::State& state)
{
    const fs::path work = prepareWorkingFolder();
    benchrun::timeWholeRuns(state, work, TVSTRIP_EXECUTABLE, "own");
    std::error_code ec;
    fs::remove_all(work, ec);
}
BENCHMARK(BM_WholeRun80kV)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same run with the plain first-version program, the baseline that
// tvstrip's whole run is measured against.
void BM_WholeRunPlain80kV(benchmark::State& state)
{
    const fs::path work = prepareWorkingFolder();
    benchrun::timeWholeRuns(state, work, TVSTRIP_PLAIN_EXECUTABLE, "plain");
    std::error_code ec;
    fs::remove_all(work, ec);
}
BENCHMARK(BM_WholeRunPlain80kV)->Unit(benchmark::kMillisecond)->UseRealTime();

// The shipped response data of the unfolding method.
const fs::path kShippedRes = fs::path(TARVIK_SOURCE_DIR) / "data" / "RES";

// A measured-looking spectrum up to `kv` kV: a smooth continuum with
// counting-like scatter.
Counts continuumCounts(int kv, double w)
{
    Counts c{};
    for (int i = 1; i <= kChannels; ++i) {
        const double e = (i - 0.5) * w;
        if (e > 8.0 && e < kv)
            c[static_cast<std::size_t>(i - 1)] =
                static_cast<std::int32_t>(3000.0 * (kv - e) / e * std::exp(-std::pow(20.0 / e, 3.0))) + (i * 7919) % 50;
    }
    return c;
}

// The unfolding alone (response data in memory) at 100 kV, 0.1 keV per
// channel: 1003 channels, the largest problem a run can pose.
void BM_UnfoldCore100kV(benchmark::State& state)
{
    const UnfoldResponse r = loadUnfoldResponse(kShippedRes);
    const Counts counts = continuumCounts(100, 0.1);
    UnfoldOptions o;
    if (state.range(0) > 0) {
        o.iterations = static_cast<int>(state.range(0));
        o.smoothLowEnd = false;
    }
    o.maxLastChange = 1e9;  // the cost is measured, not the result
    for (auto _ : state) {
        Counts out = unfoldSpectrum(counts, 0.1f, 100, r, o);
        benchmark::DoNotOptimize(out.data());
    }
}
// Argument: 0 the default method (free iterations, the weak low end
// looked for and made one smooth shape); N > 0 N free iterations alone, so
// that 1 shows the cost of setting up the detector model.
BENCHMARK(BM_UnfoldCore100kV)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The continuum with 5 % of its pulses piled up by the model: counts above
// the tube voltage, which make the unfolding fit the pile-up share.
Counts piledCounts()
{
    Counts counts = continuumCounts(100, 0.1);
    std::vector<double> recorded(2048, 0.0);
    for (int i = 1; i <= kChannels; ++i) recorded[static_cast<std::size_t>(i - 1)] = counts[static_cast<std::size_t>(i - 1)];
    const std::vector<double> piled = pileupSpectrum(recorded, 0.05);
    for (int i = 1; i <= kChannels; ++i)
        counts[static_cast<std::size_t>(i - 1)] = static_cast<std::int32_t>(piled[static_cast<std::size_t>(i - 1)]);
    return counts;
}

// The unfolding of the same spectrum with pile-up: the share given
// (argument 0) or fitted to counts above the tube voltage (1).
void BM_UnfoldPileup100kV(benchmark::State& state)
{
    const UnfoldResponse r = loadUnfoldResponse(kShippedRes);
    UnfoldOptions o;
    o.maxLastChange = 1e9;
    Counts counts = continuumCounts(100, 0.1);
    if (state.range(0) == 0)
        o.pileup.share = 0.05;
    else
        counts = piledCounts();
    for (auto _ : state) {
        Counts out = unfoldSpectrum(counts, 0.1f, 100, r, o);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_UnfoldPileup100kV)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Reading and checking the shipped response data and profile: all of it
// (argument 0) or what a run at 100 kV, 0.1 keV per channel needs (1).
void BM_LoadUnfoldResponse(benchmark::State& state)
{
    const double needed = state.range(0) ? unfoldNeededKeV(100, 0.1f) : std::numeric_limits<double>::infinity();
    for (auto _ : state) {
        UnfoldResponse r = loadUnfoldResponse(kShippedRes, needed);
        benchmark::DoNotOptimize(r.nodes.data());
    }
}
BENCHMARK(BM_LoadUnfoldResponse)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// A whole tvstrip run with line 109 "unfold" at 100 kV, 0.1 keV per channel,
// without pile-up (argument 0) and with 5 % (1: the share fitted).
void BM_WholeRunUnfold100kV(benchmark::State& state)
{
    const fs::path work = prepareWorkingFolder();
    for (const char* name : {kDetectorProfileName, kUnfoldResponseName})
        fs::copy_file(kShippedRes / name, work / "RES" / name);
    writeFile(work / "TempFile.dat", "Tarvik_data\\bench.mca1\r\n-- No comment --\r\n-- No comment --\r\n100\r\n0.100\r\n" +
                                          benchrun::countBlock(state.range(0) ? piledCounts() : continuumCounts(100, 0.1)) +
                                          "unfold\r\n");
    // Not part of the totals: the ratio at the end compares the default runs.
    benchrun::timeWholeRuns(state, work, TVSTRIP_EXECUTABLE);
    std::error_code ec;
    fs::remove_all(work, ec);
}
BENCHMARK(BM_WholeRunUnfold100kV)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // Both whole runs measured: their CPU times side by side.
    benchrun::printWholeRunRatio("tvstrip");
    return 0;
}
