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
    const std::size_t bins = h.size();
    out.assign(static_cast<std::size_t>(std::max(0, last - first + 1)), 0.0);
    if (out.empty() || bins == 0) return;
    // Cumulative sums, and each bin's spread: the resolution at its energy
    // less the spread of the linear sharing between bin centres (bin²/6).
    std::vector<double> cumulative(bins + 1, 0.0);
    std::vector<double> invSigma(bins, 0.0);
    const double perFwhm2 = 1.0 / (8.0 * std::log(2.0));
    double widest = 0;
    for (std::size_t b = 0; b < bins; ++b) {
        cumulative[b + 1] = cumulative[b] + h[b];
        const double e = (static_cast<double>(b) + 0.5) * bin;
        const double var = std::max(r.fwhm2(e) * perFwhm2 - bin * bin / 6.0, 1e-8);
        invSigma[b] = 1.0 / std::sqrt(var);
        widest = std::max(widest, std::sqrt(var));
    }
    const double reach = 7.0 * widest;
    const double invSqrt2 = 1.0 / std::sqrt(2.0);
    // C(e): the counts recorded below the edge e.
    auto below = [&](double e) {
        const double loE = e - reach, hiE = e + reach;
        const auto lo = static_cast<std::size_t>(std::clamp(std::floor(loE / bin - 0.5), 0.0, static_cast<double>(bins)));
        const auto hi = static_cast<std::size_t>(std::clamp(std::ceil(hiE / bin + 0.5), 0.0, static_cast<double>(bins)));
        double c = cumulative[lo];
        for (std::size_t b = lo; b < hi; ++b) {
            if (h[b] == 0.0) continue;
            const double z = (e - (static_cast<double>(b) + 0.5) * bin) * invSigma[b];
            c += h[b] * 0.5 * std::erfc(-z * invSqrt2);
        }
        return c;
    };
    double previous = below(r.offset + (first - 1) * r.gain);
    for (int i = first; i <= last; ++i) {
        const double next = below(r.offset + i * r.gain);
        out[static_cast<std::size_t>(i - first)] = next - previous;
        previous = next;
    }
}

} // namespace tvdet
