#include "detector/histories.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>
#include <mutex>
#include <thread>

#include "detector/random.h"

namespace tvdet {

void parallelFor(std::size_t count, int threads, const std::function<void(std::size_t)>& work)
{
    std::atomic<std::size_t> next{0};
    std::exception_ptr failure;
    std::mutex mutex;
    auto worker = [&] {
        for (;;) {
            const std::size_t i = next.fetch_add(1);
            if (i >= count) break;
            try {
                work(i);
            } catch (...) {
                std::lock_guard<std::mutex> lock(mutex);
                if (!failure) failure = std::current_exception();
                next = count;
            }
        }
    };
    const int n = std::max(1, std::min<int>(threads, static_cast<int>(count)));
    std::vector<std::thread> pool;
    for (int t = 1; t < n; ++t) pool.emplace_back(worker);
    worker();
    for (auto& t : pool) t.join();
    if (failure) std::rethrow_exception(failure);
}

LineHistories simulateHistories(const Detector& detector, double energy, std::int64_t photons,
                                const HistoryOptions& o)
{
    const auto energyKey = static_cast<std::uint64_t>(std::llround(energy * 1000.0));
    LineHistories h = simulateHistories(detector, [energy](Rng&) { return energy; }, energyKey, photons, o);
    h.energyKeV = energy;
    return h;
}

LineHistories simulateHistories(const Detector& detector, const std::function<double(Rng&)>& draw, std::uint64_t key,
                                std::int64_t photons, const HistoryOptions& o)
{
    const std::int64_t per = std::max(1, o.photonsPerChunk);
    const auto chunks = static_cast<std::size_t>((photons + per - 1) / per);
    std::vector<LineHistories> parts(chunks);
    std::vector<double> highest(chunks, 0.0);
    parallelFor(chunks, o.threads, [&](std::size_t c) {
        Rng rng(streamSeed(o.seed, key, c));
        LineHistories& h = parts[c];
        const std::int64_t n = std::min<std::int64_t>(per, photons - static_cast<std::int64_t>(c) * per);
        h.first.push_back(0);
        for (std::int64_t k = 0; k < n; ++k) {
            const double energy = draw(rng);
            highest[c] = std::max(highest[c], energy);
            const std::size_t before = h.deposits.size();
            const PhotonResult r = detector.simulate(energy, rng, h.deposits);
            if (h.deposits.size() == before) continue;  // nothing left in the crystal
            h.kind.push_back(!r.escape ? EventKind::Peak : r.kEscape ? EventKind::Escape : EventKind::Continuum);
            h.first.push_back(static_cast<std::uint32_t>(h.deposits.size()));
        }
    });
    LineHistories all;
    all.photons = photons;
    std::size_t events = 0, deposits = 0;
    for (std::size_t c = 0; c < chunks; ++c) {
        events += parts[c].kind.size();
        deposits += parts[c].deposits.size();
        all.energyKeV = std::max(all.energyKeV, highest[c]);
    }
    all.kind.reserve(events);
    all.deposits.reserve(deposits);
    all.first.reserve(events + 1);
    all.first.push_back(0);
    for (const auto& p : parts) {
        const auto base = static_cast<std::uint32_t>(all.deposits.size());
        all.deposits.insert(all.deposits.end(), p.deposits.begin(), p.deposits.end());
        all.kind.insert(all.kind.end(), p.kind.begin(), p.kind.end());
        for (std::size_t k = 1; k < p.first.size(); ++k) all.first.push_back(base + p.first[k]);
    }
    return all;
}

CollectionTable::CollectionTable(double d, double mutauE, double mutauH, double bias, int nodes)
{
    const double lambdaE = mutauE * bias / d, lambdaH = mutauH * bias / d;
    // CCE(z) is concave; its slope vanishes where the electron and hole
    // terms fall off equally fast: (d - z)/lambdaE = z/lambdaH.
    peakDepth_ = d * lambdaH / (lambdaE + lambdaH);
    peak_ = hechtCollection(peakDepth_, d, lambdaE, lambdaH);
    // d CCE / d ln(mu-tau) = lambda · d CCE / d lambda of each carrier's term.
    auto slopeE = [&](double z) {
        const double x = (d - z) / lambdaE, ex = std::exp(-x);
        return lambdaE / d * (1.0 - ex - x * ex);
    };
    auto slopeH = [&](double z) {
        const double x = z / lambdaH, ex = std::exp(-x);
        return lambdaH / d * (1.0 - ex - x * ex);
    };
    // The peak's own change: its depth moves, but at the maximum that does
    // not change the value to first order.
    const double peakE = slopeE(peakDepth_), peakH = slopeH(peakDepth_);
    const auto n = static_cast<std::size_t>(std::max(nodes, 2));
    table_.resize(n);
    slopeE_.resize(n);
    slopeH_.resize(n);
    const double step = d / static_cast<double>(n - 1);
    for (std::size_t i = 0; i < n; ++i) {
        const double z = std::min(d, step * static_cast<double>(i));
        const double r = hechtCollection(z, d, lambdaE, lambdaH) / peak_;
        table_[i] = r;
        slopeE_[i] = (slopeE(z) - r * peakE) / peak_;
        slopeH_[i] = (slopeH(z) - r * peakH) / peak_;
    }
    scale_ = 1.0 / step;
}

std::vector<double> recordedEnergies(const LineHistories& h, const CollectionTable& cce)
{
    std::vector<double> e(h.events());
    for (std::size_t k = 0; k < h.events(); ++k) {
        double sum = 0;
        for (std::uint32_t q = h.first[k]; q < h.first[k + 1]; ++q)
            sum += static_cast<double>(h.deposits[q].energyKeV) * cce.calibrated(h.deposits[q].depthCm);
        e[k] = sum;
    }
    return e;
}

void addRecorded(const LineHistories& h, const CollectionTable& cce, double binKeV, double weight,
                 std::array<std::vector<double>, kEventKinds>& hist)
{
    const double inv = 1.0 / binKeV;
    const std::size_t bins = hist[0].size();
    for (std::size_t k = 0; k < h.events(); ++k) {
        double sum = 0;
        for (std::uint32_t q = h.first[k]; q < h.first[k + 1]; ++q)
            sum += static_cast<double>(h.deposits[q].energyKeV) * cce.calibrated(h.deposits[q].depthCm);
        const double pos = sum * inv - 0.5;
        auto& out = hist[static_cast<std::size_t>(h.kind[k])];
        if (pos < 0) {
            if (pos > -0.5) out[0] += weight;
            continue;
        }
        const auto i = static_cast<std::size_t>(pos);
        if (i + 1 >= bins) {
            if (i + 1 == bins) out[i] += weight * (1.0 - (pos - static_cast<double>(i)));
            continue;
        }
        const double t = pos - static_cast<double>(i);
        out[i] += weight * (1.0 - t);
        out[i + 1] += weight * t;
    }
}

} // namespace tvdet
