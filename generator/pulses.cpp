#include "generator/pulses.h"

#include <algorithm>
#include <cmath>

#include "detector/parallel.h"

namespace tvgen {

std::vector<float> detectedEnergies(const tvdet::Detector& detector, const PhotonSpectrum& spectrum,
                                    std::int64_t photons, std::uint64_t seed, int threads)
{
    std::vector<double> cumulative(spectrum.weight.size());
    double sum = 0;
    for (std::size_t i = 0; i < spectrum.weight.size(); ++i) cumulative[i] = (sum += spectrum.weight[i]);
    const double scale = 1.0 / detector.peakCollection();
    constexpr std::int64_t per = 100000;
    const int chunks = static_cast<int>((photons + per - 1) / per);
    std::vector<std::vector<float>> parts(static_cast<std::size_t>(chunks));
    tvdet::runChunks(0, chunks, 0, threads, [&](int chunk, tvdet::Histogram&) {
        tvdet::Rng rng(tvdet::streamSeed(seed, 0x5eed, static_cast<std::uint64_t>(chunk)));
        const std::int64_t n = std::min<std::int64_t>(per, photons - static_cast<std::int64_t>(chunk) * per);
        auto& out = parts[static_cast<std::size_t>(chunk)];
        out.reserve(static_cast<std::size_t>(n));
        for (std::int64_t k = 0; k < n; ++k) {
            const double u = rng.uniform() * sum;
            auto it = std::upper_bound(cumulative.begin(), cumulative.end(), u);
            const std::size_t i = std::min<std::size_t>(static_cast<std::size_t>(it - cumulative.begin()),
                                                        cumulative.size() - 1);
            const tvdet::PhotonResult r = detector.simulate(spectrum.energyKeV[i], rng);
            if (r.collected > 0) out.push_back(static_cast<float>(r.collected * scale));
        }
    });
    std::vector<float> all;
    for (auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

PulseTrain pileUp(const std::vector<float>& energies, std::size_t n, double meanExtra, tvdet::Rng& rng)
{
    PulseTrain t;
    n = std::min(n, energies.size());
    auto gap = [&] { return -std::log(rng.uniformPositive()) / meanExtra; };  // in resolving times
    double next = gap();
    double start = next;
    for (std::size_t k = 0; k < n;) {
        start = next;
        double sum = energies[k++];
        next = start + gap();
        while (next < start + 1.0 && k < n) {
            sum += energies[k++];
            next += gap();
        }
        t.pulses.push_back(static_cast<float>(sum));
    }
    t.elapsed = n > 0 ? start + 1.0 : 0.0;
    return t;
}

} // namespace tvgen
