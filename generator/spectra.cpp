#include "generator/spectra.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "fixedio/fixedio.h"
#include "detector/parallel.h"
#include "detector/unfold_data.h"
#include "detector/physics_data.h"
#include "detector/random.h"

namespace tvgen {

namespace {
constexpr int kAl = 13;
constexpr int kW = 74;
} // namespace

double PhotonSpectrum::total() const
{
    double t = 0;
    for (double w : weight) t += w;
    return t;
}

double PhotonSpectrum::meanEnergy() const
{
    double t = 0, te = 0;
    for (std::size_t i = 0; i < weight.size(); ++i) {
        t += weight[i];
        te += weight[i] * energyKeV[i];
    }
    return te / t;
}

double aluminiumTransmission(double e, double cm)
{
    return std::exp(-tvdet::xrl::total(kAl, e) * tvdet::xrl::elementDensity(kAl) * cm);
}

PhotonSpectrum tubeSpectrum(const TubeModel& tube)
{
    PhotonSpectrum s;
    const double e0 = tube.kilovolts;
    const double alCm = tube.aluminiumMm / 10.0;
    const double h = tube.stepKeV;
    // Continuum: cells of width h centred on the grid from 1 keV to e0.
    double continuum = 0;
    for (double e = 1.0 + 0.5 * h; e < e0; e += h) {
        const double w = (e0 - e) / e * h;
        if (e >= 10.0) continuum += w;
        s.energyKeV.push_back(e);
        s.weight.push_back(w);
    }
    if (e0 > tvdet::xrl::kEdge(kW)) {
        const auto lines = tvdet::xrl::kLines(kW);
        double rates = 0;
        for (const auto& l : lines) rates += l.radiativeRate;
        for (const auto& l : lines) {
            s.energyKeV.push_back(l.energyKeV);
            s.weight.push_back(tube.kLineShare * continuum * l.radiativeRate / rates);
        }
    }
    for (std::size_t i = 0; i < s.weight.size(); ++i) s.weight[i] *= aluminiumTransmission(s.energyKeV[i], alCm);
    return s;
}

PhotonSpectrum comptonScattered(const PhotonSpectrum& primary, double theta, const ScattererMaterial& material)
{
    PhotonSpectrum s;
    const double hc = tvdet::xrl::kevAngstrom();
    const double mec2 = tvdet::xrl::electronRestEnergy();
    for (std::size_t i = 0; i < primary.weight.size(); ++i) {
        const double e = primary.energyKeV[i];
        const double x = std::sin(theta / 2.0) * e / hc;
        double sf = 0;
        for (auto [Z, n] : material.atoms) sf += n * tvdet::xrl::scatteringFunction(Z, x);
        const double scattered = e / (1.0 + e / mec2 * (1.0 - std::cos(theta)));
        s.energyKeV.push_back(scattered);
        s.weight.push_back(primary.weight[i] * tvdet::xrl::kleinNishina(e, theta) * sf);
    }
    return s;
}

double halfValueLayerMm(const PhotonSpectrum& s)
{
    const auto air = tvdet::xrl::nistCompound("Air, Dry (near sea level)");
    std::vector<double> kerma(s.weight.size()), mu(s.weight.size());
    const double rhoAl = tvdet::xrl::elementDensity(kAl);
    for (std::size_t i = 0; i < s.weight.size(); ++i) {
        double muen = 0;
        for (std::size_t j = 0; j < air.elements.size(); ++j)
            muen += air.massFractions[j] * tvdet::xrl::energyAbsorption(air.elements[j], s.energyKeV[i]);
        kerma[i] = s.weight[i] * s.energyKeV[i] * muen;
        mu[i] = tvdet::xrl::total(kAl, s.energyKeV[i]) * rhoAl / 10.0;  // per mm
    }
    auto kermaAt = [&](double mm) {
        double k = 0;
        for (std::size_t i = 0; i < kerma.size(); ++i) k += kerma[i] * std::exp(-mu[i] * mm);
        return k;
    };
    const double half = 0.5 * kermaAt(0.0);
    double lo = 0, hi = 1;
    while (kermaAt(hi) > half) hi *= 2;
    for (int it = 0; it < 60; ++it) {
        const double mid = 0.5 * (lo + hi);
        (kermaAt(mid) > half ? lo : hi) = mid;
    }
    return 0.5 * (lo + hi);
}

double resolutionFwhm(double e)
{
    return std::sqrt(tvdet::kFwhm2Constant + tvdet::kFwhm2Linear * e +
                     (tvdet::kFwhmProportional * e) * (tvdet::kFwhmProportional * e));
}

ChannelCounts measureSpectrum(const tvdet::Detector& detector, const PhotonSpectrum& spectrum, std::int64_t photons,
                              const MeasurementOptions& options,
                              const std::function<void(std::int64_t)>& progress)
{
    // Cumulative weights for drawing photon energies.
    std::vector<double> cumulative(spectrum.weight.size());
    double sum = 0;
    for (std::size_t i = 0; i < spectrum.weight.size(); ++i) cumulative[i] = (sum += spectrum.weight[i]);
    if (!(sum > 0)) throw std::invalid_argument("the spectrum holds no photons");
    const double sigmaPerFwhm = 1.0 / (2.0 * std::sqrt(2.0 * std::log(2.0)));
    const std::int64_t per = options.photonsPerChunk;
    const int chunks = static_cast<int>((photons + per - 1) / per);
    auto work = [&](int chunk, tvdet::Histogram& h) {
        tvdet::Rng rng(tvdet::streamSeed(options.seed, 0x5eed, static_cast<std::uint64_t>(chunk)));
        const std::int64_t n = std::min<std::int64_t>(per, photons - static_cast<std::int64_t>(chunk) * per);
        for (std::int64_t k = 0; k < n; ++k) {
            const double u = rng.uniform() * sum;
            auto it = std::upper_bound(cumulative.begin(), cumulative.end(), u);
            const std::size_t i = std::min<std::size_t>(static_cast<std::size_t>(it - cumulative.begin()),
                                                        cumulative.size() - 1);
            const tvdet::PhotonResult r = detector.simulate(spectrum.energyKeV[i], rng);
            if (r.collected <= 0) continue;
            const double recorded = r.collected * options.energyScale;
            const double fwhm = !options.broadening ? 0.0
                                : options.fwhm      ? options.fwhm(recorded)
                                                    : resolutionFwhm(recorded);
            const double e = options.broadening ? recorded + rng.normal() * fwhm * sigmaPerFwhm : recorded;
            if (e <= 0) continue;
            const double channel = std::ceil(e / options.kevPerChannel);
            if (channel >= 1 && channel <= kSpectrumChannels) ++h[static_cast<std::size_t>(channel) - 1];
        }
    };
    const tvdet::Histogram h = tvdet::runChunks(0, chunks, kSpectrumChannels, options.threads, work, [&](int finished) {
        if (progress) progress(std::min<std::int64_t>(photons, static_cast<std::int64_t>(finished) * per));
    });
    ChannelCounts c{};
    std::copy(h.begin(), h.end(), c.begin());
    return c;
}

std::string formatMeasuredCsv(const std::vector<std::string>& header, const ChannelCounts& counts, double w)
{
    if (header.size() != 31) throw std::invalid_argument("a measured spectrum has 31 header lines");
    fixedio::LineWriter out;
    for (const auto& line : header) {
        if (line.size() > 60 || line.find(',') != std::string::npos)
            throw std::invalid_argument("header line too long or with a comma: " + line);
        out.line(line);
    }
    for (int i = 1; i <= kSpectrumChannels; ++i) {
        const auto n = counts[static_cast<std::size_t>(i - 1)];
        if (n < 0 || n > 999999) throw std::range_error("a channel count does not fit the analyser's range");
        char buf[64];
        std::snprintf(buf, sizeof buf, "%d,%.2f,%lld", i, i * w, static_cast<long long>(n));
        out.line(buf);
    }
    return out.content();
}

} // namespace tvgen
