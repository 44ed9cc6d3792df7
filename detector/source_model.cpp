#include "detector/source_model.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>

namespace tvdet {

namespace {

constexpr int kAluminium = 13;

} // namespace

std::vector<SourceLine> sourceLines(const xrl::Radionuclide& nuclide, double lowestKeV, double highestKeV,
                                    double minPerDecay)
{
    std::vector<SourceLine> lines;
    for (const auto& l : nuclide.lines) {
        if (l.perDecay < minPerDecay || l.energyKeV < lowestKeV - 3.0 || l.energyKeV > highestKeV) continue;
        SourceLine s;
        s.energyKeV = l.energyKeV;
        s.perDecay = l.perDecay;
        s.gamma = l.gamma;
        s.absorberPerGram = xrl::total(kAluminium, l.energyKeV);
        lines.push_back(s);
    }
    return lines;
}

SourceModel::SourceModel(std::vector<SourceLine> lines, const Detector& detector, std::int64_t events, double binKeV,
                         double topKeV, const HistoryOptions& options, std::int64_t minPhotonsPerLine,
                         double scatterShare)
    : lines_(std::move(lines)), bin_(binKeV), bins_(static_cast<std::size_t>(std::ceil(topKeV / binKeV)) + 1)
{
    if (lines_.empty()) throw std::invalid_argument("a source model needs at least one line");
    // Photons per line in proportion to the emission, scaled by a rough
    // interaction chance along the axis to give the events wanted.
    double eventsPerDecay = 0;
    for (const auto& l : lines_) {
        const Coefficients c = detector.crystal().at(l.energyKeV);
        eventsPerDecay += l.perDecay * std::max(1.0 - std::exp(-c.total() * detector.config().thicknessCm), 1e-3);
    }
    const double photonsPerDecay = static_cast<double>(events) / eventsPerDecay;
    histories_.resize(lines_.size());
    scattered_.resize(lines_.size());
    const double mec2 = xrl::electronRestEnergy();
    for (std::size_t l = 0; l < lines_.size(); ++l) {
        const double e = lines_[l].energyKeV;
        const auto photons = std::max<std::int64_t>(
            minPhotonsPerLine, static_cast<std::int64_t>(std::llround(photonsPerDecay * lines_[l].perDecay)));
        histories_[l] = simulateHistories(detector, e, photons, options);
        // Photons scattered once by the surroundings into the detector:
        // with the scatterers' directions spread evenly over a band of
        // angles, cosθ is drawn with the Klein–Nishina weight by rejection.
        const auto scatteredPhotons = std::max<std::int64_t>(
            minPhotonsPerLine / 4,
            static_cast<std::int64_t>(std::llround(scatterShare * static_cast<double>(photons) / kScatterBands)));
        for (int band = 0; band < kScatterBands; ++band) {
            const double hiCos = std::cos(band * std::numbers::pi / kScatterBands);
            const double loCos = std::cos((band + 1) * std::numbers::pi / kScatterBands);
            auto draw = [e, mec2, hiCos, loCos](Rng& rng) {
                for (;;) {
                    const double cosTheta = loCos + (hiCos - loCos) * rng.uniform();
                    const double r = 1.0 / (1.0 + e / mec2 * (1.0 - cosTheta));
                    // dσ/dΩ ∝ r²(r + 1/r - sin²θ), at most 2 (forward).
                    const double kn = r * r * (r + 1.0 / r - (1.0 - cosTheta * cosTheta));
                    if (2.0 * rng.uniform() < kn) return e * r;
                }
            };
            const auto key = 0x5CA7000000ULL + static_cast<std::uint64_t>(band) * 0x100000000ULL +
                             static_cast<std::uint64_t>(std::llround(e * 1000.0));
            scattered_[l][static_cast<std::size_t>(band)] = simulateHistories(detector, draw, key, scatteredPhotons, options);
        }
    }
}

std::int64_t SourceModel::events() const
{
    std::int64_t n = 0;
    for (std::size_t l = 0; l < lines_.size(); ++l) {
        n += static_cast<std::int64_t>(histories_[l].events());
        for (const auto& s : scattered_[l]) n += static_cast<std::int64_t>(s.events());
    }
    return n;
}

namespace {

// Adds every event of `h` at its recorded energy with weight w, shared
// linearly between the two nearest bin centres so that the histogram
// changes continuously with mu-tau; with the derivatives asked for in `d`
// (absorber: weight wd; mu-tau: the event's energy moving).  byKind: each
// event into the part of its kind; otherwise all into part `only`.
void addEvents(const LineHistories& h, const CollectionTable& cce, double inv, std::size_t bins, double w, double wd,
               bool byKind, std::size_t only, PartHistograms& out, const SpectrumDerivatives& d)
{
    const bool slopes = d.electrons || d.holes;
    for (std::size_t k = 0; k < h.events(); ++k) {
        double sum = 0, sumE = 0, sumH = 0;
        if (slopes) {
            for (std::uint32_t q = h.first[k]; q < h.first[k + 1]; ++q) {
                const auto c = cce.calibratedWithSlopes(h.deposits[q].depthCm);
                const double e = h.deposits[q].energyKeV;
                sum += e * c.value;
                sumE += e * c.electrons;
                sumH += e * c.holes;
            }
        } else {
            for (std::uint32_t q = h.first[k]; q < h.first[k + 1]; ++q)
                sum += static_cast<double>(h.deposits[q].energyKeV) * cce.calibrated(h.deposits[q].depthCm);
        }
        const double raw = sum * inv - 0.5;
        const bool below = raw < 0;  // held in the first bin: does not move
        const double pos = below ? 0.0 : raw;
        const auto i = static_cast<std::size_t>(pos);
        if (i + 1 >= bins) continue;
        const double t1 = pos - static_cast<double>(i);
        const std::size_t part = byKind ? static_cast<std::size_t>(h.kind[k]) : only;
        double* o = out[part].data();
        o[i] += w * (1.0 - t1);
        o[i + 1] += w * t1;
        if (d.absorber) {
            double* a = (*d.absorber)[part].data();
            a[i] += wd * (1.0 - t1);
            a[i + 1] += wd * t1;
        }
        if (!below) {
            if (d.electrons) {
                const double m = w * sumE * inv;
                double* a = (*d.electrons)[part].data();
                a[i] -= m;
                a[i + 1] += m;
            }
            if (d.holes) {
                const double m = w * sumH * inv;
                double* a = (*d.holes)[part].data();
                a[i] -= m;
                a[i + 1] += m;
            }
        }
    }
}

} // namespace

void SourceModel::spectrum(const CollectionTable& cce, double t, PartHistograms& out, const SpectrumDerivatives& d) const
{
    const std::size_t parts = kEventKinds + kScatterBands;
    out.assign(parts, std::vector<double>(bins_, 0.0));
    for (PartHistograms* p : {d.absorber, d.electrons, d.holes})
        if (p) p->assign(parts, std::vector<double>(bins_, 0.0));
    const double inv = 1.0 / bin_;
    for (std::size_t l = 0; l < lines_.size(); ++l) {
        const double mu = lines_[l].absorberPerGram;
        const double emitted = lines_[l].perDecay * std::exp(-mu * t);
        const LineHistories& h = histories_[l];
        const double w = emitted / static_cast<double>(h.photons);
        addEvents(h, cce, inv, bins_, w, -mu * w, true, 0, out, d);
        for (int band = 0; band < kScatterBands; ++band) {
            const LineHistories& s = scattered_[l][static_cast<std::size_t>(band)];
            const double ws = emitted / static_cast<double>(s.photons);
            addEvents(s, cce, inv, bins_, ws, -mu * ws, false, kEventKinds + static_cast<std::size_t>(band), out, d);
        }
    }
}

void foldIntoChannels(const std::vector<double>& h, double bin, const Readout& r, int first, int last,
                      std::vector<double>& out)
{
    std::vector<std::vector<double>> outs;
    foldIntoChannels({&h}, bin, r, first, last, outs, nullptr);
    out = std::move(outs[0]);
}

void foldIntoChannels(const std::vector<const std::vector<double>*>& hs, double bin, const Readout& r, int first,
                      int last, std::vector<std::vector<double>>& out,
                      std::array<std::vector<double>, kReadoutParameters>* derivatives)
{
    const std::size_t nh = hs.size();
    const std::size_t channels = static_cast<std::size_t>(std::max(0, last - first + 1));
    out.assign(nh, std::vector<double>(channels, 0.0));
    if (derivatives)
        for (auto& d : *derivatives) d.assign(channels, 0.0);
    if (channels == 0 || nh == 0 || hs[0]->empty()) return;
    const std::size_t bins = hs[0]->size();
    // Cumulative sums, and each bin's spread: the resolution at its energy
    // less the spread of the linear sharing between bin centres (bin²/6).
    std::vector<std::vector<double>> cumulative(nh, std::vector<double>(bins + 1, 0.0));
    for (std::size_t k = 0; k < nh; ++k)
        for (std::size_t b = 0; b < bins; ++b) cumulative[k][b + 1] = cumulative[k][b] + (*hs[k])[b];
    std::vector<double> invSigma(bins), energy(bins);
    std::vector<char> used(bins, 0);
    const double perFwhm2 = 1.0 / (8.0 * std::log(2.0));
    double widest = 0;
    for (std::size_t b = 0; b < bins; ++b) {
        energy[b] = (static_cast<double>(b) + 0.5) * bin;
        const double var = std::max(r.fwhm2(energy[b]) * perFwhm2 - bin * bin / 6.0, 1e-8);
        invSigma[b] = 1.0 / std::sqrt(var);
        widest = std::max(widest, std::sqrt(var));
        for (std::size_t k = 0; k < nh && !used[b]; ++k) used[b] = (*hs[k])[b] != 0.0;
    }
    auto sigmaAt = [&](double e) { return std::sqrt(std::max(r.fwhm2(std::max(e, 0.0)) * perFwhm2, 1e-8)); };
    const double invSqrt2 = 1.0 / std::sqrt(2.0);
    const double invSqrt2Pi = 1.0 / std::sqrt(2.0 * std::numbers::pi);
    // At each edge e: C(e) per histogram, the counts recorded below e, and
    // for the first histogram dC/de and dC/d(a, b, gamma).
    std::vector<double> c(nh);
    auto edge = [&](double e, std::array<double, 4>& slope) {
        const double outer = 7.0 * widest;
        const double reach = 7.0 * std::max({sigmaAt(e - outer), sigmaAt(e), sigmaAt(e + outer)});
        const auto lo = static_cast<std::size_t>(std::clamp(std::floor((e - reach) / bin - 0.5), 0.0, static_cast<double>(bins)));
        const auto hi = static_cast<std::size_t>(std::clamp(std::ceil((e + reach) / bin + 0.5), 0.0, static_cast<double>(bins)));
        for (std::size_t k = 0; k < nh; ++k) c[k] = cumulative[k][lo];
        slope = {0, 0, 0, 0};
        const std::vector<double>& first = *hs[0];
        for (std::size_t b = lo; b < hi; ++b) {
            if (!used[b]) continue;
            const double z = (e - energy[b]) * invSigma[b];
            const double phi = 0.5 * std::erfc(-z * invSqrt2);
            for (std::size_t k = 0; k < nh; ++k) c[k] += (*hs[k])[b] * phi;
            if (derivatives && first[b] != 0.0) {
                const double density = first[b] * invSqrt2Pi * std::exp(-0.5 * z * z) * invSigma[b];
                slope[0] += density;
                // dσ/d(term) = perFwhm2 · {1, E, E²} / (2σ) and dΦ/dσ = -φ(z) z/σ,
                // with density = H φ(z)/σ.
                const double perTerm = -density * z * 0.5 * perFwhm2 * invSigma[b];
                slope[1] += perTerm;
                slope[2] += perTerm * energy[b];
                slope[3] += perTerm * energy[b] * energy[b];
            }
        }
    };
    std::array<double, 4> slopeBefore{}, slopeAfter{};
    edge(r.offset + (first - 1) * r.gain, slopeBefore);
    std::vector<double> before = c;
    for (int i = first; i <= last; ++i) {
        edge(r.offset + i * r.gain, slopeAfter);
        const auto at = static_cast<std::size_t>(i - first);
        for (std::size_t k = 0; k < nh; ++k) out[k][at] = c[k] - before[k];
        if (derivatives) {
            auto& d = *derivatives;
            d[kReadoutOffset][at] = slopeAfter[0] - slopeBefore[0];
            d[kReadoutGain][at] = i * slopeAfter[0] - (i - 1) * slopeBefore[0];
            d[kReadoutA][at] = slopeAfter[1] - slopeBefore[1];
            d[kReadoutB][at] = slopeAfter[2] - slopeBefore[2];
            d[kReadoutGamma][at] = slopeAfter[3] - slopeBefore[3];
        }
        before = c;
        slopeBefore = slopeAfter;
    }
}

} // namespace tvdet
