#include "generator/spectra.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
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
// Mean excitation energy of tungsten (ICRU Report 37, 1984), keV.
constexpr double kTungstenExcitationKeV = 0.727;

// Depth of the electron's path in the anode, in g/cm², at which an electron
// that entered with the last energy of `grid` (ascending) has slowed down to
// each energy of the grid.
std::vector<double> anodeDepth(const std::vector<double>& grid)
{
    std::vector<double> depth(grid.size(), 0.0);
    for (std::size_t k = grid.size() - 1; k-- > 0;) {
        const double a = grid[k], b = grid[k + 1];
        depth[k] = depth[k + 1] + 0.5 * (b - a) * (1.0 / tungstenStoppingPower(a) + 1.0 / tungstenStoppingPower(b));
    }
    return depth;
}
} // namespace

double tungstenStoppingPower(double t)
{
    const double mec2 = tvdet::xrl::electronRestEnergy();
    const double re = tvdet::xrl::electronRadiusCm();
    const double tau = t / mec2;
    const double beta2 = tau * (tau + 2.0) / ((tau + 1.0) * (tau + 1.0));
    const double perElectron = 2.0 * std::numbers::pi * re * re * mec2;  // keV·cm²
    const double electronsPerGram = tvdet::xrl::avogadro() * kW / tvdet::xrl::atomicWeight(kW);
    const double i = kTungstenExcitationKeV / mec2;
    const double f = 1.0 - beta2 + (tau * tau / 8.0 - (2.0 * tau + 1.0) * std::numbers::ln2) / ((tau + 1.0) * (tau + 1.0));
    return perElectron * electronsPerGram / beta2 * (std::log(tau * tau * (tau + 2.0) / (2.0 * i * i)) + f);
}

TubeModel filteredTube(double kilovolts, double aluminiumMm)
{
    TubeModel t;
    t.kilovolts = kilovolts;
    t.aluminiumMm = aluminiumMm;
    t.anodeAngleDeg = 12.0;
    t.glassMm = 1.5;
    return t;
}

double glassTransmission(double e, double mm)
{
    static const auto glass = tvdet::xrl::nistCompound("Glass, Pyrex");
    double mu = 0;
    for (std::size_t j = 0; j < glass.elements.size(); ++j)
        mu += glass.massFractions[j] * tvdet::xrl::total(glass.elements[j], e);
    return std::exp(-mu * glass.density * mm / 10.0);
}

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
    const std::size_t firstLine = s.weight.size();
    if (e0 > tvdet::xrl::kEdge(kW)) {
        const auto lines = tvdet::xrl::kLines(kW);
        double rates = 0;
        for (const auto& l : lines) rates += l.radiativeRate;
        for (const auto& l : lines) {
            s.energyKeV.push_back(l.energyKeV);
            s.weight.push_back(tube.kLineShare * continuum * l.radiativeRate / rates);
        }
    }
    if (tube.anodeAngleDeg > 0) {
        // Electron energies every 0.05 keV from 1 keV to e0 and the depth
        // reached at each; a photon of E comes from every depth where the
        // electron still has more than E, equally per keV of electron
        // energy (which gives Kramers' (e0 - E)/E without absorption).
        std::vector<double> grid;
        const int steps = std::max(1, static_cast<int>(std::ceil((e0 - 1.0) / 0.05)));
        for (int k = 0; k <= steps; ++k) grid.push_back(1.0 + (e0 - 1.0) * k / steps);
        const std::vector<double> depth = anodeDepth(grid);
        const double perDepth = 1.0 / std::sin(tube.anodeAngleDeg * std::numbers::pi / 180.0);
        // Share of the photons of E (made between `from` and e0) that leave the anode.
        auto escaping = [&](double e, double from) {
            const double mu = tvdet::xrl::total(kW, e) * perDepth;
            double sum = 0, len = 0;
            for (std::size_t k = 0; k + 1 < grid.size(); ++k) {
                const double a = std::max(grid[k], from), b = grid[k + 1];
                if (b <= a) continue;
                const double t = (a - grid[k]) / (b - grid[k]);
                const double da = depth[k] + t * (depth[k + 1] - depth[k]);
                sum += 0.5 * (b - a) * (std::exp(-mu * da) + std::exp(-mu * depth[k + 1]));
                len += b - a;
            }
            return len > 0 ? sum / len : 1.0;
        };
        const double kEdge = tvdet::xrl::kEdge(kW);
        for (std::size_t i = 0; i < s.weight.size(); ++i) {
            // The K lines come from wherever the electrons can still ionise the K shell.
            s.weight[i] *= escaping(s.energyKeV[i], i >= firstLine ? kEdge : s.energyKeV[i]);
        }
    }
    for (std::size_t i = 0; i < s.weight.size(); ++i) {
        s.weight[i] *= aluminiumTransmission(s.energyKeV[i], alCm);
        if (tube.glassMm > 0) s.weight[i] *= glassTransmission(s.energyKeV[i], tube.glassMm);
    }
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
