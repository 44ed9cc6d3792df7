// Reading a 1024-channel spectrum of each format: from a file (the whole
// call: open, read, parse) and from bytes already in memory.  The files are
// made by the tests' independent writers.
#include "formats/spectrum.h"
#include "../tests/writers.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <unistd.h>

namespace {

using namespace formats;

std::string bytesOf(Format f)
{
    testing::Truth t;
    t.counts = testing::someCounts(1024);
    switch (f) {
    case Format::PmcaMca: return testing::pmcaFile(t);
    case Format::Spe: return testing::speFile(t);
    case Format::Chn: return testing::chnFile(t);
    case Format::N42: return testing::n42File({t});
    case Format::PlainText: {
        std::string s = "channel,energy,count\n";
        for (std::size_t k = 0; k < t.counts.size(); ++k) {
            char buf[64];
            std::snprintf(buf, sizeof buf, "%zu,%.4f,%llu\n", k, 0.05 + 0.1 * static_cast<double>(k),
                          static_cast<unsigned long long>(t.counts[k]));
            s += buf;
        }
        return s;
    }
    case Format::MeasuredCsv: {
        std::string s;
        for (int i = 1; i <= 31; ++i) s += "header line " + std::to_string(i) + "\r\n";
        for (std::size_t k = 0; k < t.counts.size(); ++k) {
            char buf[64];
            std::snprintf(buf, sizeof buf, "%zu,%.2f,%llu\r\n", k + 1, 0.1 * static_cast<double>(k + 1),
                          static_cast<unsigned long long>(t.counts[k]));
            s += buf;
        }
        return s;
    }
    }
    return {};
}

// The files, written once and removed when the bench ends.
struct Files {
    std::map<Format, std::filesystem::path> paths;
    ~Files()
    {
        for (const auto& [f, p] : paths) {
            std::error_code ec;
            std::filesystem::remove(p, ec);
        }
    }
};

std::filesystem::path fileOf(Format f)
{
    static Files files;
    auto it = files.paths.find(f);
    if (it != files.paths.end()) return it->second;
    const auto path = std::filesystem::temp_directory_path() /
                      ("formats_bench_" + std::to_string(::getpid()) + "." + formatKey(f));
    std::ofstream(path, std::ios::binary) << bytesOf(f);
    return files.paths.emplace(f, path).first->second;
}

void BM_ReadFile(benchmark::State& state)
{
    const auto f = static_cast<Format>(state.range(0));
    const auto path = fileOf(f);
    for (auto _ : state) {
        std::vector<Spectrum> s = readSpectra(path);
        benchmark::DoNotOptimize(s.front().counts.data());
    }
    state.SetLabel(formatName(f));
}

void BM_ParseBytes(benchmark::State& state)
{
    const auto f = static_cast<Format>(state.range(0));
    const std::string bytes = bytesOf(f);
    for (auto _ : state) {
        std::vector<Spectrum> s = parseSpectra(bytes, "bench");
        benchmark::DoNotOptimize(s.front().counts.data());
    }
    state.SetLabel(formatName(f));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(bytes.size()));
}

void formatsArgs(benchmark::internal::Benchmark* b)
{
    for (Format f : {Format::PmcaMca, Format::Spe, Format::Chn, Format::N42, Format::PlainText, Format::MeasuredCsv})
        b->Arg(static_cast<int>(f));
    b->Unit(benchmark::kMicrosecond);
}

BENCHMARK(BM_ReadFile)->Apply(formatsArgs);
BENCHMARK(BM_ParseBytes)->Apply(formatsArgs);

} // namespace

BENCHMARK_MAIN();
