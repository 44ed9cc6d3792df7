#include "detector/source_sim.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "detector/histories.h"
#include "detector/physics_data.h"
#include "detector/random.h"

namespace tvdet {

std::vector<Constituent> stainlessSteel()
{
    // A typical austenitic composition (18/8 steel); the test needs a real
    // metal other than the fit's aluminium, not a particular grade.
    return {{26, 0.70}, {24, 0.19}, {28, 0.11}};
}

namespace {

std::int64_t poisson(Rng& rng, double mean)
{
    if (mean <= 0) return 0;
    if (mean > 50) return std::max<std::int64_t>(0, std::llround(mean + std::sqrt(mean) * rng.normal()));
    const double limit = std::exp(-mean);
    std::int64_t k = 0;
    double p = rng.uniformPositive();
    while (p > limit) {
        ++k;
        p *= rng.uniformPositive();
    }
    return k;
}

} // namespace

std::vector<double> simulateSourceMeasurement(const SimulatedDetector& d, const SourceSetup& s, std::uint64_t seed,
                                              int threads)
{
    const xrl::Radionuclide nuclide = xrl::radionuclide(s.nuclide);
    std::vector<double> energy, cumulative;
    double sum = 0, maxEnergy = 0;
    for (const auto& l : nuclide.lines) {
        if (l.perDecay < 1e-6 || l.energyKeV < 1.0 || l.energyKeV > 1000.0) continue;
        double w = l.perDecay;
        if (s.encapsulationGPerCm2 > 0) {
            double mu = 0;
            for (const auto& c : s.encapsulation) mu += c.massFraction * xrl::total(c.Z, l.energyKeV);
            w *= std::exp(-mu * s.encapsulationGPerCm2);
        }
        energy.push_back(l.energyKeV);
        cumulative.push_back(sum += w);
        maxEnergy = std::max(maxEnergy, l.energyKeV);
    }
    // Photons leaving the source toward the detector, before the capsule.
    double emitted = 0;
    for (const auto& l : nuclide.lines)
        if (l.perDecay >= 1e-6 && l.energyKeV >= 1.0 && l.energyKeV <= 1000.0) emitted += l.perDecay;
    DetectorConfig config = d.config;
    config.chargeLoss = true;
    config.maxEnergyKeV = std::max(config.maxEnergyKeV, std::ceil(maxEnergy) + 1.0);
    const Detector detector(config);
    const double scale = 1.0 / detector.peakCollection();
    const double mec2 = xrl::electronRestEnergy(), hc = xrl::kevAngstrom();
    const double cosMin = std::cos(s.maxAngleDeg * std::numbers::pi / 180.0);
    const double cosMax = std::cos(s.minAngleDeg * std::numbers::pi / 180.0);
    const double perFwhm = 1.0 / (2.0 * std::sqrt(2.0 * std::log(2.0)));

    Rng top(streamSeed(seed, 0x50C, 0));
    const auto photons = poisson(top, s.photons * sum / emitted);
    const std::int64_t per = 50000;
    const auto chunks = static_cast<std::size_t>((photons + per - 1) / per);
    std::vector<std::vector<double>> parts(chunks, std::vector<double>(static_cast<std::size_t>(d.channels), 0.0));
    parallelFor(chunks, threads, [&](std::size_t c) {
        Rng rng(streamSeed(seed, 0x50D, c));
        auto& h = parts[c];
        const std::int64_t n = std::min<std::int64_t>(per, photons - static_cast<std::int64_t>(c) * per);
        for (std::int64_t k = 0; k < n; ++k) {
            const double u = rng.uniform() * sum;
            const auto it = std::upper_bound(cumulative.begin(), cumulative.end(), u);
            double e = energy[std::min<std::size_t>(static_cast<std::size_t>(it - cumulative.begin()), energy.size() - 1)];
            if (rng.uniform() < s.scatterShare) {
                // One Compton scattering by the scatterer: Klein–Nishina
                // times S(x)/Z, by rejection, within the angles.
                for (;;) {
                    const double cosTheta = cosMin + (cosMax - cosMin) * rng.uniform();
                    const double ep = e / (1.0 + e / mec2 * (1.0 - cosTheta));
                    const double r = ep / e;
                    const double kn = r * r * (r + 1.0 / r - (1.0 - cosTheta * cosTheta)) / 2.0;
                    const double x = std::sqrt(0.5 * (1.0 - cosTheta)) * e / hc;
                    const double binding = xrl::scatteringFunction(s.scattererZ, x) / s.scattererZ;
                    if (rng.uniform() < kn * binding) {
                        e = ep;
                        break;
                    }
                }
            }
            const PhotonResult r = detector.simulate(e, rng);
            if (r.collected <= 0) continue;
            const double recorded = r.collected * scale;
            const double fwhm = std::sqrt(d.fwhm2Constant + d.fwhm2Linear * recorded +
                                          d.fwhmProportional * d.fwhmProportional * recorded * recorded);
            const double measured = recorded + rng.normal() * fwhm * perFwhm;
            const double channel = std::ceil((measured - d.offset) / d.gain);
            if (channel >= 1 && channel <= d.channels) h[static_cast<std::size_t>(channel) - 1] += 1;
        }
    });
    std::vector<double> counts(static_cast<std::size_t>(d.channels), 0.0);
    for (const auto& p : parts)
        for (std::size_t i = 0; i < counts.size(); ++i) counts[i] += p[i];
    Rng flat(streamSeed(seed, 0x50E, 0));
    for (double& v : counts) v += static_cast<double>(poisson(flat, s.flatPerChannel));
    return counts;
}

} // namespace tvdet
