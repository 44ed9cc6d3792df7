#include "detector/response_tables.h"

#include <cmath>
#include <stdexcept>

#include "fixedio/fixedio.h"
#include "detector/random.h"

namespace tvdet {

int responseBin(double e)
{
    return static_cast<int>(e / 0.5 + 0.01);
}

std::string responseFileName(int code)
{
    return std::to_string(code) + "kev.dat";
}

std::int64_t ResponseRun::peakCounts() const
{
    const int k = responseBin(codeEnergy(code));
    std::int64_t sum = 0;
    for (int b : {k - 1, k})
        if (b >= 0 && static_cast<std::size_t>(b) < counts.size()) sum += counts[static_cast<std::size_t>(b)];
    return sum;
}

double ResponseRun::peakUncertainty() const
{
    const auto peak = fullAbsorption;
    if (peak <= 0 || photons <= 0) return INFINITY;
    const double p = static_cast<double>(peak) / static_cast<double>(photons);
    return std::sqrt((1.0 - p) / (static_cast<double>(photons) * p));
}

ResponseRun simulateResponse(const Detector& detector, int code, const ResponseOptions& options,
                             const std::function<void(std::int64_t)>& progress)
{
    const double energy = codeEnergy(code);
    ResponseRun run;
    run.code = code;
    run.counts.assign(kSimulatedBins, 0);
    auto work = [&](int chunk, Histogram& h) {
        Rng rng(streamSeed(options.seed, static_cast<std::uint64_t>(code), static_cast<std::uint64_t>(chunk)));
        for (int n = 0; n < options.photonsPerChunk; ++n) {
            const PhotonResult r = detector.simulate(energy, rng);
            if (r.interacted && !r.escape) ++h[kSimulatedBins];  // absorbed whole
            if (r.collected <= 0) continue;
            const int b = responseBin(r.collected);
            if (b >= 0 && static_cast<std::size_t>(b) < kSimulatedBins) ++h[static_cast<std::size_t>(b)];
        }
    };
    int chunks = 0;
    int target = options.minChunks;
    for (;;) {
        const int before = chunks;
        const Histogram h = runChunks(before, target, kSimulatedBins + 1, options.threads, work, [&](int finished) {
            if (progress) progress(static_cast<std::int64_t>(before + finished) * options.photonsPerChunk);
        });
        for (std::size_t b = 0; b < kSimulatedBins; ++b) run.counts[b] += h[b];
        run.fullAbsorption += h[kSimulatedBins];
        chunks = target;
        run.photons = static_cast<std::int64_t>(chunks) * options.photonsPerChunk;
        const double u = run.peakUncertainty();
        if (u <= options.maxPeakUncertainty) break;
        // Photons needed for the wanted precision at the share seen so far.
        const auto peak = run.fullAbsorption;
        if (peak == 0) throw std::runtime_error("no full-energy events at " + std::to_string(energy) + " keV");
        const double p = static_cast<double>(peak) / static_cast<double>(run.photons);
        const double needed = (1.0 - p) / (p * options.maxPeakUncertainty * options.maxPeakUncertainty);
        target = std::max(chunks + 1, static_cast<int>(std::ceil(needed / options.photonsPerChunk)));
    }
    return run;
}

std::array<double, kTableBins + 1> scaledTable(const ResponseRun& run)
{
    std::array<double, kTableBins + 1> t{};
    const double scale = kTablePhotons / static_cast<double>(run.photons);
    for (int b = 1; b <= kTableBins; ++b) t[static_cast<std::size_t>(b)] = static_cast<double>(run.counts[static_cast<std::size_t>(b)]) * scale;
    return t;
}

std::string formatResponseTable(const std::array<double, kTableBins + 1>& table)
{
    fixedio::LineWriter out;
    for (int r = 0; r < kTableBins / 10; ++r) {
        std::string line;
        for (int i = 1; i <= 10; ++i) {
            const double v = table[static_cast<std::size_t>(10 * r + i)];
            if (!(v >= 0.0) || v >= 999999.95) throw std::range_error("response value does not fit 8 columns");
            line += fixedio::formatF(v, 8, 1);
        }
        out.line(line);
    }
    return out.content();
}

} // namespace tvdet
