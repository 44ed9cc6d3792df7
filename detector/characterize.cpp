#include "detector/characterize.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <numeric>

#include "detector/detector.h"
#include "detector/histories.h"
#include "detector/physics_data.h"
#include "detector/poisson_fit.h"
#include "detector/source_model.h"
#include "detector/unfold_data.h"

namespace tvdet {

namespace {

// The fitted parameters: seven of the detector and the analyser, four per source.
enum Global { kGain, kOffset, kA, kB, kGamma, kLnMutauE, kLnMutauH, kGlobals };
enum PerSource { kDecays, kAbsorber, kScatter, kFlat = kScatter + kScatterBands, kPerSource };

constexpr double kReferenceEnergy = 59.54;  // the 241Am gamma line, where the resolution is quoted
constexpr int kCdZ = 48, kTeZ = 52;
constexpr double kSigmaPerFwhm = 0.42466090014400953;  // 1 / (2 sqrt(2 ln 2))

std::string format(const char* pattern, double v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, pattern, v);
    return buf;
}

std::string withThousands(double v)
{
    const auto n = static_cast<long long>(std::llround(v));
    std::string digits = std::to_string(n < 0 ? -n : n), out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ' ';
        out += digits[i];
    }
    return (n < 0 ? "-" : "") + out;
}

DetectorConfig configOf(const Construction& c, double maxEnergy)
{
    DetectorConfig d;
    d.widthCm = c.sideMm / 10.0;
    d.thicknessCm = c.thicknessMm / 10.0;
    d.density = c.densityGPerCm3;
    d.windowCm = c.windowUm / 1.0e4;
    d.chargeLoss = false;  // the histories keep the deposits; collection is applied afterwards
    d.maxEnergyKeV = std::max(160.0, std::ceil(maxEnergy) + 1.0);
    return d;
}

// How visible a line's full-energy peak is: photons per decay that pass
// the window and are absorbed photoelectrically in the crystal along its
// axis (an estimate for finding the peaks, not the model).
double peakVisibility(double e, double perDecay, const Construction& c)
{
    const double aCd = xrl::atomicWeight(kCdZ), aTe = xrl::atomicWeight(kTeZ);
    const double fCd = aCd / (aCd + aTe), fTe = 1.0 - fCd;
    const double total = fCd * xrl::total(kCdZ, e) + fTe * xrl::total(kTeZ, e);
    const double photo = fCd * xrl::photo(kCdZ, e) + fTe * xrl::photo(kTeZ, e);
    const double absorbed = (1.0 - std::exp(-total * c.densityGPerCm3 * c.thicknessMm / 10.0)) * photo / total;
    const double window = std::exp(-xrl::total(4, e) * xrl::elementDensity(4) * c.windowUm / 1.0e4);
    return perDecay * absorbed * window;
}

struct Visible {
    double energy = 0;
    double weight = 0;
};

// The lines that make visible peaks, strongest first (at most 12, each at
// least 1 % of the strongest).
std::vector<Visible> visibleLines(const xrl::Radionuclide& n, const Construction& c, double lowest)
{
    std::vector<Visible> v;
    for (const auto& l : n.lines)
        if (l.energyKeV >= lowest && l.energyKeV <= 400.0) v.push_back({l.energyKeV, peakVisibility(l.energyKeV, l.perDecay, c)});
    std::sort(v.begin(), v.end(), [](const Visible& a, const Visible& b) { return a.weight > b.weight; });
    if (v.empty()) return v;
    const double strongest = v.front().weight;
    std::erase_if(v, [&](const Visible& x) { return x.weight < 0.01 * strongest; });
    if (v.size() > 12) v.resize(12);
    return v;
}

// Gaussian smoothing of a spectrum (sigma in channels).
std::vector<double> smooth(const std::vector<double>& x, double sigma)
{
    const int reach = static_cast<int>(std::ceil(4.0 * sigma));
    std::vector<double> k(static_cast<std::size_t>(2 * reach + 1));
    double sum = 0;
    for (int j = -reach; j <= reach; ++j) sum += k[static_cast<std::size_t>(j + reach)] = std::exp(-0.5 * j * j / (sigma * sigma));
    for (double& v : k) v /= sum;
    std::vector<double> y(x.size(), 0.0);
    const int n = static_cast<int>(x.size());
    for (int i = 0; i < n; ++i) {
        double s = 0, w = 0;
        for (int j = -reach; j <= reach; ++j) {
            const int q = i + j;
            if (q < 0 || q >= n) continue;
            s += k[static_cast<std::size_t>(j + reach)] * x[static_cast<std::size_t>(q)];
            w += k[static_cast<std::size_t>(j + reach)];
        }
        y[static_cast<std::size_t>(i)] = s / w;
    }
    return y;
}

// The peaks of a spectrum, as a significance per channel: a narrow minus a
// wide smoothing (peaks stand out, smooth backgrounds cancel), over the
// counting noise, never below 0.
std::vector<double> peakSignal(const std::vector<double>& counts, double sigmaChannels)
{
    const auto narrow = smooth(counts, sigmaChannels);
    const auto wide = smooth(counts, 4.0 * sigmaChannels);
    std::vector<double> f(counts.size());
    for (std::size_t i = 0; i < counts.size(); ++i)
        f[i] = std::max(0.0, narrow[i] - wide[i]) / std::sqrt(wide[i] + 1.0);
    return f;
}

} // namespace

Construction constructionOf(const tvstrip::DetectorProfile& p)
{
    Construction c;
    c.biasVolts = p.biasVolts;
    c.thicknessMm = p.crystalThicknessMm;
    c.windowUm = p.windowThicknessUm;
    c.sideMm = p.crystalSideMm;
    c.densityGPerCm3 = p.densityGPerCm3;
    return c;
}

tvstrip::DetectorProfile Characterization::profile() const
{
    tvstrip::DetectorProfile p = defaultDetectorProfile();
    p.crystalSideMm = construction.sideMm;
    p.crystalThicknessMm = construction.thicknessMm;
    p.densityGPerCm3 = construction.densityGPerCm3;
    p.windowThicknessUm = construction.windowUm;
    p.biasVolts = construction.biasVolts;
    p.mutauElectrons = mutauElectrons.value;
    p.mutauHoles = mutauHoles.value;
    p.fwhm2Constant = fwhm2Constant.value;
    p.fwhm2Linear = fwhm2Linear.value;
    p.fwhmProportional = fwhmProportional.value;
    p.energyGainKevPerChannel = gain.value;
    p.energyOffsetKeV = offset.value;
    return p;
}

ScaleGuess guessEnergyScale(const std::vector<CalibrationSpectrum>& spectra, double w, const Construction& c)
{
    const tvstrip::DetectorProfile shipped = defaultDetectorProfile();
    struct Prepared {
        std::vector<Visible> lines;
        std::vector<double> signal;  // peak significance, smoothed by the line width
        double signalNorm = 0;
        double sigmaChannels = 0;   // template width
    };
    std::vector<Prepared> prepared;
    for (const auto& s : spectra) {
        Prepared p;
        p.lines = visibleLines(xrl::radionuclide(s.nuclide), c, 3.0);
        // The resolution of the shipped detector near 60 keV sets the widths.
        const double sigma = shipped.fwhmKeV(60.0) * kSigmaPerFwhm / w;
        const auto f = peakSignal(s.counts, std::max(1.0, sigma));
        p.sigmaChannels = std::sqrt(2.0) * std::max(1.0, sigma);
        p.signal = smooth(f, std::max(1.0, sigma));
        for (double v : f) p.signalNorm += v * v;
        p.signalNorm = std::sqrt(p.signalNorm);
        prepared.push_back(std::move(p));
    }
    auto at = [](const std::vector<double>& v, double x) {  // x: 1-based channel coordinate
        const double pos = x - 1.0;
        if (pos < 0 || pos >= static_cast<double>(v.size() - 1)) return 0.0;
        const auto i = static_cast<std::size_t>(pos);
        const double t = pos - static_cast<double>(i);
        return v[i] + t * (v[i + 1] - v[i]);
    };
    // Correlation of each spectrum's peaks with its lines at (gain, offset).
    auto match = [&](const Prepared& p, std::size_t channels, double g, double o) {
        double dot = 0, norm2 = 0;
        const double s = p.sigmaChannels;
        for (std::size_t a = 0; a < p.lines.size(); ++a) {
            const double xa = (p.lines[a].energy - o) / g + 0.5;
            if (xa < 2 || xa > static_cast<double>(channels) - 2) continue;
            dot += p.lines[a].weight * at(p.signal, xa);
            for (std::size_t b = 0; b < p.lines.size(); ++b) {
                const double xb = (p.lines[b].energy - o) / g + 0.5;
                if (xb < 2 || xb > static_cast<double>(channels) - 2) continue;
                const double d = xa - xb;
                norm2 += p.lines[a].weight * p.lines[b].weight * std::exp(-d * d / (4.0 * s * s));
            }
        }
        if (norm2 <= 0 || p.signalNorm <= 0) return 0.0;
        // The template's norm: a Gaussian of width s has Σ G² = sqrt(pi) s.
        return dot / (p.signalNorm * std::sqrt(norm2 * std::sqrt(std::numbers::pi) * s));
    };
    auto score = [&](double g, double o) {
        double sum = 0;
        for (std::size_t k = 0; k < spectra.size(); ++k) sum += match(prepared[k], spectra[k].counts.size(), g, o);
        return sum;
    };
    double bestG = w, bestO = 0, best = -1;
    for (double g = 0.6 * w; g <= 1.6 * w; g *= 1.002)
        for (double o = -5.0; o <= 5.0; o += 0.05) {
            const double v = score(g, o);
            if (v > best) {
                best = v;
                bestG = g;
                bestO = o;
            }
        }
    // Finer around the best.
    const double g0 = bestG, o0 = bestO;
    for (double g = g0 * 0.997; g <= g0 * 1.003; g *= 1.0001)
        for (double o = o0 - 0.1; o <= o0 + 0.1; o += 0.005) {
            const double v = score(g, o);
            if (v > best) {
                best = v;
                bestG = g;
                bestO = o;
            }
        }
    ScaleGuess r;
    r.gain = bestG;
    r.offset = bestO;
    for (std::size_t k = 0; k < spectra.size(); ++k) r.match.push_back(match(prepared[k], spectra[k].counts.size(), bestG, bestO));
    return r;
}

namespace {

// The model of all spectra for the fit.
class Model {
public:
    struct Source {
        std::unique_ptr<SourceModel> model;
        int first = 0, last = 0;     // fitted channels
        std::size_t at = 0;          // where its channels start in the joint vector
    };

    Model(double thicknessCm, double bias, int threads) : thicknessCm_(thicknessCm), bias_(bias), threads_(threads) {}

    std::vector<Source> sources;
    std::size_t channels = 0;
    std::size_t parameters() const { return kGlobals + kPerSource * sources.size(); }

    static Readout readout(const std::vector<double>& t)
    {
        Readout r;
        r.gain = t[kGain];
        r.offset = t[kOffset];
        r.a = t[kA];
        r.b = t[kB];
        r.gamma = t[kGamma];
        return r;
    }
    // The whole spectrum of a source from its parts and amplitudes.
    static std::vector<double> combine(const PartHistograms& h, const double* q)
    {
        std::vector<double> total(h[0].size());
        for (std::size_t b = 0; b < total.size(); ++b) {
            double v = q[kDecays] * (h[0][b] + h[1][b] + h[2][b]);
            for (int band = 0; band < kScatterBands; ++band)
                v += q[kScatter + band] * h[kEventKinds + static_cast<std::size_t>(band)][b];
            total[b] = v;
        }
        return total;
    }
    CollectionTable collection(double lnE, double lnH) const
    {
        return CollectionTable(thicknessCm_, std::exp(lnE), std::exp(lnH), bias_);
    }

    void evaluate(const std::vector<double>& t, std::vector<double>& mu) const
    {
        mu.assign(channels, 0.0);
        const CollectionTable cce = collection(t[kLnMutauE], t[kLnMutauH]);
        const Readout r = readout(t);
        parallelFor(sources.size(), threads_, [&](std::size_t s) {
            const Source& src = sources[s];
            const double* q = &t[kGlobals + kPerSource * s];
            PartHistograms h;
            src.model->spectrum(cce, q[kAbsorber], h);
            const std::vector<double> total = combine(h, q);
            std::vector<double> out;
            foldIntoChannels(total, src.model->binKeV(), r, src.first, src.last, out);
            for (std::size_t i = 0; i < out.size(); ++i) mu[src.at + i] = out[i] + q[kFlat] * r.gain;
        });
    }

    void jacobian(const std::vector<double>& t, std::vector<double>& mu, std::vector<std::vector<double>>& jac,
                  const std::vector<bool>& fixed) const
    {
        const std::size_t np = parameters();
        mu.assign(channels, 0.0);
        jac.assign(np, {});
        for (std::size_t p = 0; p < np; ++p)
            if (!fixed[p]) jac[p].assign(channels, 0.0);
        const Readout r = readout(t);
        const bool wantE = !fixed[kLnMutauE], wantH = !fixed[kLnMutauH];
        const CollectionTable cce = collection(t[kLnMutauE], t[kLnMutauH]);
        // Per source: the histograms at the point with their derivatives.
        struct Work {
            PartHistograms h, dt, de, dh;
        };
        std::vector<Work> work(sources.size());
        parallelFor(sources.size(), threads_, [&](std::size_t s) {
            SpectrumDerivatives d;
            d.absorber = &work[s].dt;
            d.electrons = wantE ? &work[s].de : nullptr;
            d.holes = wantH ? &work[s].dh : nullptr;
            sources[s].model->spectrum(cce, t[kGlobals + kPerSource * s + kAbsorber], work[s].h, d);
        });
        // Per source, one fold of every histogram a row needs: the
        // whole spectrum (with the readout derivatives), the detector part,
        // the scatter bands, and the absorber and mu-tau derivatives.
        parallelFor(sources.size(), threads_, [&](std::size_t s) {
            const Source& src = sources[s];
            const double* q = &t[kGlobals + kPerSource * s];
            const std::size_t k0 = kGlobals + kPerSource * s;
            const auto& h = work[s].h;
            const std::size_t bins = h[0].size();
            std::vector<std::vector<double>> owned;
            owned.reserve(5);
            std::vector<const std::vector<double>*> list;
            std::vector<std::vector<double>*> rows;
            owned.push_back(combine(h, q));
            list.push_back(&owned.back());
            rows.push_back(nullptr);  // the point itself
            if (!fixed[k0 + kDecays]) {
                std::vector<double> det(bins);
                for (std::size_t b = 0; b < bins; ++b) det[b] = h[0][b] + h[1][b] + h[2][b];
                owned.push_back(std::move(det));
                list.push_back(&owned.back());
                rows.push_back(&jac[k0 + kDecays]);
            }
            for (int band = 0; band < kScatterBands; ++band)
                if (!fixed[k0 + kScatter + static_cast<std::size_t>(band)]) {
                    list.push_back(&h[kEventKinds + static_cast<std::size_t>(band)]);
                    rows.push_back(&jac[k0 + kScatter + static_cast<std::size_t>(band)]);
                }
            if (!fixed[k0 + kAbsorber]) {
                owned.push_back(combine(work[s].dt, q));
                list.push_back(&owned.back());
                rows.push_back(&jac[k0 + kAbsorber]);
            }
            if (wantE) {
                owned.push_back(combine(work[s].de, q));
                list.push_back(&owned.back());
                rows.push_back(&jac[kLnMutauE]);
            }
            if (wantH) {
                owned.push_back(combine(work[s].dh, q));
                list.push_back(&owned.back());
                rows.push_back(&jac[kLnMutauH]);
            }
            std::vector<std::vector<double>> out;
            std::array<std::vector<double>, kReadoutParameters> readoutRows;
            foldIntoChannels(list, src.model->binKeV(), r, src.first, src.last, out, &readoutRows);
            const double flat = q[kFlat];
            for (std::size_t i = 0; i < out[0].size(); ++i) mu[src.at + i] = out[0][i] + flat * r.gain;
            for (std::size_t k = 1; k < list.size(); ++k)
                for (std::size_t i = 0; i < out[k].size(); ++i) (*rows[k])[src.at + i] = out[k][i];
            const std::array<int, kReadoutParameters> readoutParameter = {kGain, kOffset, kA, kB, kGamma};
            for (int p = 0; p < kReadoutParameters; ++p) {
                const auto g = static_cast<std::size_t>(readoutParameter[static_cast<std::size_t>(p)]);
                if (fixed[g]) continue;
                for (std::size_t i = 0; i < out[0].size(); ++i)
                    jac[g][src.at + i] = readoutRows[static_cast<std::size_t>(p)][i] + (g == kGain ? flat : 0.0);
            }
            if (!fixed[k0 + kFlat])
                for (std::size_t i = 0; i < out[0].size(); ++i) jac[k0 + kFlat][src.at + i] = r.gain;
        });
    }

    // The parts of one source's fitted spectrum.
    std::array<std::vector<double>, kModelParts> parts(const std::vector<double>& t, std::size_t s) const
    {
        const CollectionTable cce = collection(t[kLnMutauE], t[kLnMutauH]);
        const Readout r = readout(t);
        const Source& src = sources[s];
        const double* q = &t[kGlobals + kPerSource * s];
        PartHistograms h;
        src.model->spectrum(cce, q[kAbsorber], h);
        std::array<std::vector<double>, kModelParts> out;
        std::vector<std::vector<double>> grouped(4, std::vector<double>(h[0].size(), 0.0));
        for (std::size_t b = 0; b < h[0].size(); ++b) {
            for (int k = 0; k < kEventKinds; ++k) grouped[static_cast<std::size_t>(k)][b] = q[kDecays] * h[static_cast<std::size_t>(k)][b];
            for (int band = 0; band < kScatterBands; ++band)
                grouped[3][b] += q[kScatter + band] * h[kEventKinds + static_cast<std::size_t>(band)][b];
        }
        for (std::size_t p = 0; p < 4; ++p)
            foldIntoChannels(grouped[p], src.model->binKeV(), r, src.first, src.last, out[p]);
        out[4].assign(static_cast<std::size_t>(src.last - src.first + 1), q[kFlat] * r.gain);
        return out;
    }

private:
    double thicknessCm_, bias_;
    int threads_;
};

} // namespace

Characterization characterize(const std::vector<CalibrationSpectrum>& spectra, double w, const Construction& c,
                              const CharacterizeOptions& o, const CharacterizeProgress& progress)
{
    auto report = [&](double share, const std::string& what) {
        if (progress) progress(share, what);
    };
    if (spectra.empty()) throw CharacterizationError("no source spectrum given");
    if (!(w > 0) || w > 10.0)
        throw CharacterizationError("the keV per channel " + format("%g", w) + " is not a width an analyser has");
    if (!(c.biasVolts > 0) || !(c.thicknessMm > 0) || !(c.sideMm > 0) || !(c.densityGPerCm3 > 0) || !(c.windowUm >= 0))
        throw CharacterizationError("the bias, thickness, side and density must be above 0 and the window not below 0");

    // The nuclides and the plain faults of a spectrum.
    std::vector<xrl::Radionuclide> nuclides;
    for (const auto& s : spectra) {
        try {
            nuclides.push_back(xrl::radionuclide(s.nuclide));
        } catch (const PhysicsDataError& e) {
            throw CharacterizationError(s.name + ": " + e.what());
        }
        double total = 0, highest = 0;
        for (double v : s.counts) {
            if (!(v >= 0) || !std::isfinite(v))
                throw CharacterizationError(s.name + ": a channel holds " + format("%g", v) + ", not a count");
            total += v;
            highest = std::max(highest, v);
        }
        if (total == 0) throw CharacterizationError(s.name + ": the spectrum is empty (no counts in any channel)");
        // A spectrum cut off at the top of the analyser's counters: several
        // channels share the highest count, or it is a counter's limit.
        int atTop = 0;
        for (double v : s.counts) atTop += v == highest;
        if (highest >= 1000 && (atTop >= 3 || highest == 65535 || highest == 999999 || highest == 16777215))
            throw CharacterizationError(s.name + ": the spectrum is saturated (" + std::to_string(atTop) +
                                        " channels at the highest count " + withThousands(highest) +
                                        "); measure for a shorter time or with less dead time");
    }

    report(0.0, "finding the energy scale");
    const ScaleGuess guess = guessEnergyScale(spectra, w, c);
    const double deviation = guess.gain / w - 1.0;
    if (std::abs(deviation) > o.maxGainDeviation) {
        std::string named;
        for (const auto& s : spectra) named += (named.empty() ? "" : ", ") + s.name + " as " + s.nuclide;
        throw CharacterizationError("the peaks of " + named + " lie at " + format("%.4f", guess.gain) +
                                    " keV per channel, " + format("%.0f", 100.0 * std::abs(deviation)) + " % " +
                                    (deviation > 0 ? "above" : "below") + " the " + format("%g", w) +
                                    " keV per channel given: check the keV per channel (and the analyser's gain) "
                                    "and the nuclide of each file");
    }

    // Fitted channels and Monte Carlo effort per source.
    const double top = guess.offset + guess.gain * (static_cast<double>(spectra.front().counts.size()) + 1.0);
    double maxLine = 0;
    std::vector<std::vector<SourceLine>> lines;
    for (std::size_t k = 0; k < spectra.size(); ++k) {
        lines.push_back(sourceLines(nuclides[k], o.thresholdKeV, 1000.0));
        if (lines.back().empty())
            throw CharacterizationError(spectra[k].name + ": " + spectra[k].nuclide + " has no line at or above " +
                                        format("%g", o.thresholdKeV) + " keV");
        for (const auto& l : lines.back()) maxLine = std::max(maxLine, l.energyKeV);
    }
    const Detector detector(configOf(c, maxLine));
    Model model(c.thicknessMm / 10.0, c.biasVolts, o.threads);
    std::vector<double> counts;
    for (std::size_t k = 0; k < spectra.size(); ++k) {
        const auto& s = spectra[k];
        const int channels = static_cast<int>(s.counts.size());
        const auto visible = visibleLines(nuclides[k], c, o.thresholdKeV);
        double highest = 0;
        for (const auto& v : visible)
            if (v.energy < top) highest = std::max(highest, v.energy);
        if (highest == 0)
            throw CharacterizationError(s.name + ": no line of " + s.nuclide + " lies between " +
                                        format("%g", o.thresholdKeV) + " and " + format("%.1f", top) +
                                        " keV, the analyser's range");
        Model::Source src;
        src.first = std::max(1, static_cast<int>(std::ceil((o.thresholdKeV - guess.offset) / guess.gain)) + 1);
        // Up to 6 keV above the highest visible line; the analyser's last
        // channel, which may collect what lies beyond, is never fitted.
        src.last = std::min(channels - 1, static_cast<int>(std::ceil((highest + 6.0 - guess.offset) / guess.gain)));
        if (src.last - src.first < 20)
            throw CharacterizationError(s.name + ": too few channels between " + format("%g", o.thresholdKeV) +
                                        " keV and the top line of " + s.nuclide + " for a fit");
        double inRange = 0;
        for (int i = src.first; i <= src.last; ++i) inRange += s.counts[static_cast<std::size_t>(i - 1)];
        if (inRange < o.minCounts)
            throw CharacterizationError(s.name + ": too few counts to fit: " + withThousands(inRange) + " counts between " +
                                        format("%g", o.thresholdKeV) + " and " + format("%.0f", highest + 6.0) +
                                        " keV, at least " + withThousands(o.minCounts) + " are needed");
        src.at = counts.size();
        for (int i = src.first; i <= src.last; ++i) counts.push_back(s.counts[static_cast<std::size_t>(i - 1)]);
        model.sources.push_back(std::move(src));
    }
    model.channels = counts.size();

    // Monte Carlo histories: the bulk of the time.
    const double histTop = top * 1.25 + 10.0;
    for (std::size_t k = 0; k < spectra.size(); ++k) {
        report(0.05 + 0.45 * static_cast<double>(k) / static_cast<double>(spectra.size()),
               "simulating the detector for " + spectra[k].nuclide);
        double inRange = 0;
        auto& src = model.sources[k];
        for (int i = src.first; i <= src.last; ++i) inRange += spectra[k].counts[static_cast<std::size_t>(i - 1)];
        const auto events = std::clamp<std::int64_t>(static_cast<std::int64_t>(o.eventsPerCount * inRange), o.minEvents, o.maxEvents);
        HistoryOptions ho;
        ho.seed = streamSeed(o.seed, 0xC4A7, k);
        ho.threads = o.threads;
        src.model = std::make_unique<SourceModel>(lines[k], detector, events, o.binKeV, histTop, ho);
    }

    // Start values: the shipped detector's resolution and mu-tau, the
    // guessed energy scale, amplitudes from the counts.
    const tvstrip::DetectorProfile shipped = defaultDetectorProfile();
    const std::size_t np = model.parameters();
    std::vector<double> theta(np, 0.0), lower(np), upper(np);
    theta[kGain] = guess.gain;
    theta[kOffset] = guess.offset;
    theta[kA] = shipped.fwhm2Constant;
    theta[kB] = shipped.fwhm2Linear;
    theta[kGamma] = shipped.fwhmProportional * shipped.fwhmProportional;
    theta[kLnMutauE] = std::log(shipped.mutauElectrons);
    theta[kLnMutauH] = std::log(shipped.mutauHoles);
    lower[kGain] = 0.5 * w;
    upper[kGain] = 2.0 * w;
    lower[kOffset] = -10.0;
    upper[kOffset] = 10.0;
    lower[kA] = 1e-4;
    upper[kA] = 25.0;
    lower[kB] = -0.05;
    upper[kB] = 0.05;
    lower[kGamma] = -1e-3;
    upper[kGamma] = 1e-2;
    lower[kLnMutauE] = std::log(o.mutauElectronsMin);
    upper[kLnMutauE] = std::log(o.mutauElectronsMax);
    lower[kLnMutauH] = std::log(o.mutauHolesMin);
    upper[kLnMutauH] = std::log(o.mutauHolesMax);
    for (int p : {kLnMutauE, kLnMutauH})
        theta[static_cast<std::size_t>(p)] =
            std::clamp(theta[static_cast<std::size_t>(p)], lower[static_cast<std::size_t>(p)], upper[static_cast<std::size_t>(p)]);
    for (std::size_t s = 0; s < model.sources.size(); ++s) {
        const std::size_t k0 = kGlobals + kPerSource * s;
        lower[k0 + kDecays] = 0;
        upper[k0 + kDecays] = std::numeric_limits<double>::infinity();
        lower[k0 + kAbsorber] = 0;
        upper[k0 + kAbsorber] = 1.0;
        for (int band = 0; band < kScatterBands; ++band) {
            lower[k0 + kScatter + static_cast<std::size_t>(band)] = 0;
            upper[k0 + kScatter + static_cast<std::size_t>(band)] = std::numeric_limits<double>::infinity();
        }
        lower[k0 + kFlat] = 0;
        upper[k0 + kFlat] = std::numeric_limits<double>::infinity();
        theta[k0 + kDecays] = 1.0;
    }
    {
        // Amplitudes: the detector part alone scaled to the counts.
        std::vector<double> mu;
        model.evaluate(theta, mu);
        for (std::size_t s = 0; s < model.sources.size(); ++s) {
            const auto& src = model.sources[s];
            double m = 0, n = 0;
            for (std::size_t i = 0; i < static_cast<std::size_t>(src.last - src.first + 1); ++i) {
                m += mu[src.at + i];
                n += counts[src.at + i];
            }
            const std::size_t k0 = kGlobals + kPerSource * s;
            theta[k0 + kDecays] = m > 0 ? n / m : 1.0;
            double perDecay = 0;
            for (const auto& l : src.model->lines()) perDecay += l.perDecay;
            for (int band = 0; band < kScatterBands; ++band)
                theta[k0 + kScatter + static_cast<std::size_t>(band)] = 0.005 * theta[k0 + kDecays] * perDecay;
            theta[k0 + kFlat] = 1e-3 * n / (guess.gain * static_cast<double>(src.last - src.first + 1));
        }
    }

    FitProblem problem;
    problem.parameters = np;
    problem.lower = lower;
    problem.upper = upper;
    problem.model = [&](const std::vector<double>& t, std::vector<double>& mu) { model.evaluate(t, mu); };
    problem.jacobian = [&](const std::vector<double>& t, std::vector<double>& mu, std::vector<std::vector<double>>& j) {
        model.jacobian(t, mu, j, problem.fixed);
    };
    FitOptions fo;
    fo.maxIterations = o.maxIterations;
    // Stages: energy scale and amplitudes, then the resolution and the
    // absorbers, then the charge transport as well.
    const std::vector<std::vector<int>> freeGlobals = {{kGain, kOffset},
                                                       {kGain, kOffset, kA, kB, kGamma, kLnMutauE, kLnMutauH}};
    FitResult fit;
    int iterations = 0;
    std::vector<bool> heldAtZero(np, false);  // resolution terms the spectra put below 0
    std::vector<std::string> notes;
    for (std::size_t stage = 0; stage < freeGlobals.size(); ++stage) {
        problem.fixed.assign(np, true);
        for (int p : freeGlobals[stage])
            problem.fixed[static_cast<std::size_t>(p)] = heldAtZero[static_cast<std::size_t>(p)];
        for (std::size_t s = 0; s < model.sources.size(); ++s)
            for (int p = 0; p < kPerSource; ++p)
                problem.fixed[kGlobals + kPerSource * s + static_cast<std::size_t>(p)] = stage == 0 && p == kAbsorber;
        const bool last = stage + 1 == freeGlobals.size();
        const double from = 0.5 + 0.2 * static_cast<double>(std::min<std::size_t>(stage, 1)), span = 0.2;
        fo.stallShare = last ? 0.0 : 1e-3;
        fo.progress = [&](int it, double dev) {
            report(from + span * std::min(1.0, it / 30.0),
                   "fitting (iteration " + std::to_string(iterations + it + 1) + ", deviance per channel " +
                       format("%.2f", dev / static_cast<double>(counts.size())) + ")");
        };
        fit = fitPoisson(counts, problem, theta, fo);
        iterations += fit.iterations;
        theta = fit.theta;
        if (!fit.converged && last) {
            std::string named;
            for (const auto& sp : spectra) named += (named.empty() ? "" : ", ") + sp.name + " as " + sp.nuclide;
            throw CharacterizationError("the fit of " + named + " did not converge within " +
                                        std::to_string(o.maxIterations) + " iterations (deviance per channel " +
                                        format("%.2f", fit.deviance / static_cast<double>(counts.size())) + ")");
        }
        if (!last) continue;
        // A resolution term below 0 (FWHM² = a + b·E + c²·E² does not
        // allow it for a profile): held at 0 and fitted again.
        bool again = false;
        for (auto [p, what] : {std::pair{kB, "b (linear)"}, std::pair{kGamma, "c² (proportional)"}}) {
            const auto k = static_cast<std::size_t>(p);
            if (theta[k] >= 0 || heldAtZero[k]) continue;
            const double u = fit.covarianceValid ? std::sqrt(std::max(0.0, fit.covariance[k * np + k])) : 0.0;
            notes.push_back(std::string("the resolution term ") + what + " came out " + format("%.3g", theta[k]) +
                            (u > 0 ? " ± " + format("%.2g", u) : std::string()) +
                            ", below 0; it is held at 0 and the others fitted again");
            heldAtZero[k] = true;
            theta[k] = 0;
            again = true;
        }
        if (again) --stage;
    }

    Characterization r;
    r.construction = c;
    r.thresholdKeV = o.thresholdKeV;
    r.nominalKevPerChannel = w;
    r.iterations = iterations;
    r.deviance = fit.deviance;
    r.channels = static_cast<int>(counts.size());
    int freeCount = 0;
    for (std::size_t k = 0; k < np; ++k) freeCount += !problem.fixed[k];
    r.freeParameters = freeCount;
    r.deviancePerChannel = fit.deviance / std::max(1, r.channels - r.freeParameters);
    r.notes = notes;

    // Per source: deviance, parts, fitted nuisances.
    double totalCounts = 0;
    std::int64_t totalEvents = 0;
    for (std::size_t s = 0; s < model.sources.size(); ++s) {
        const auto& src = model.sources[s];
        SourceFit f;
        f.nuclide = spectra[s].nuclide;
        f.name = spectra[s].name;
        f.firstChannel = src.first;
        f.lastChannel = src.last;
        const std::size_t n = static_cast<std::size_t>(src.last - src.first + 1);
        f.measured.assign(counts.begin() + static_cast<std::ptrdiff_t>(src.at),
                          counts.begin() + static_cast<std::ptrdiff_t>(src.at + n));
        f.model.assign(fit.mu.begin() + static_cast<std::ptrdiff_t>(src.at),
                       fit.mu.begin() + static_cast<std::ptrdiff_t>(src.at + n));
        f.parts = model.parts(theta, s);
        f.deviance = poissonDeviance(f.measured, f.model);
        f.counts = std::accumulate(f.measured.begin(), f.measured.end(), 0.0);
        for (const auto& l : src.model->lines()) f.lines.push_back({l.energyKeV, l.perDecay});
        f.simulatedEvents = src.model->events();
        totalCounts += f.counts;
        totalEvents += f.simulatedEvents;
        r.sources.push_back(std::move(f));
    }

    // The checks, in the order a user can act on them: a parameter held at
    // a bound spoils the rest of the fit.
    const std::array<std::pair<int, const char*>, 4> bounded = {
        std::pair{kGain, "the energy gain"}, std::pair{kOffset, "the energy offset"},
        std::pair{kA, "the constant resolution term"}, std::pair{kLnMutauH, "the hole mu-tau"}};
    for (const auto& [p, what] : bounded) {
        const auto k = static_cast<std::size_t>(p);
        if (!fit.atBound[k]) continue;
        const double v = p == kLnMutauH ? std::exp(theta[k]) : theta[k];
        std::string named;
        for (const auto& f : r.sources) named += (named.empty() ? "" : ", ") + f.name + " as " + f.nuclide;
        throw CharacterizationError(std::string(what) + " ends at the edge of its range (" + format("%g", v) +
                                    "): the spectra (" + named +
                                    ") do not fit a CdTe detector of this construction");
    }

    for (const auto& f : r.sources) {
        const double perChannel = f.deviance / static_cast<double>(f.measured.size());
        if (perChannel > o.maxDeviancePerChannel)
            throw CharacterizationError(
                f.name + ": the spectrum does not fit the lines of " + f.nuclide + " (deviance per channel " +
                format("%.1f", perChannel) + " after the fit, about 1 for a spectrum the model describes): is it a " +
                f.nuclide + " spectrum, measured without pile-up, with the right keV per channel?");
    }
    if (r.deviancePerChannel > o.maxDeviancePerChannel)
        throw CharacterizationError("the fit ends with a deviance of " + format("%.0f", r.deviance) + " over " +
                                    std::to_string(r.channels) + " channels, far above what counting noise gives");
    if (!fit.covarianceValid)
        throw CharacterizationError("the spectra do not determine every parameter (the Fisher information is singular)");
    // Standard uncertainties: the inverse Fisher information, widened by
    // the square root of the deviance per degree of freedom where the model
    // describes the spectra less well than counting noise allows, and for
    // the Monte Carlo's own noise in the line shapes (its events against
    // the measured counts).
    const double inflate2 = std::max(1.0, r.deviancePerChannel) * (1.0 + totalCounts / static_cast<double>(totalEvents));
    auto cov = [&](int a, int b) {
        return fit.covariance[static_cast<std::size_t>(a) * np + static_cast<std::size_t>(b)] * inflate2;
    };
    auto sd = [&](int p) { return std::sqrt(std::max(0.0, cov(p, p))); };

    r.gain = {theta[kGain], sd(kGain)};
    r.offset = {theta[kOffset], sd(kOffset)};
    r.fwhm2Constant = {theta[kA], sd(kA)};
    r.fwhm2Linear = {theta[kB], sd(kB)};
    const double g2 = theta[kGamma];
    r.fwhmProportional = {std::sqrt(std::max(0.0, g2)),
                          g2 > 0 ? sd(kGamma) / (2.0 * std::sqrt(g2)) : std::sqrt(sd(kGamma))};
    r.mutauHoles = {std::exp(theta[kLnMutauH]), std::exp(theta[kLnMutauH]) * sd(kLnMutauH)};
    r.mutauElectrons = {std::exp(theta[kLnMutauE]), std::exp(theta[kLnMutauE]) * sd(kLnMutauE)};
    if (fit.atBound[kLnMutauE]) {
        // Electron trapping too weak (or too strong) to show in these
        // spectra: the bound is kept and said.
        const bool high = theta[kLnMutauE] >= upper[kLnMutauE];
        r.mutauElectrons.uncertainty = std::numeric_limits<double>::quiet_NaN();
        r.notes.push_back(high ? "the electron mu-tau is too large to show in these spectra (the electrons lose less "
                                 "charge than the spectra can tell): the profile holds the bound " +
                                     format("%g", r.mutauElectrons.value) + " cm2/V, i.e. no electron trapping"
                               : "the electron mu-tau ends at its lower bound " + format("%g", r.mutauElectrons.value) +
                                     " cm2/V");
        if (!high)
            throw CharacterizationError("the electron mu-tau ends at the edge of its range (" +
                                        format("%g", r.mutauElectrons.value) +
                                        " cm2/V): the spectra do not fit a CdTe detector of this construction");
    } else if (r.mutauElectrons.uncertainty > 0.5 * r.mutauElectrons.value) {
        r.notes.push_back("the electron mu-tau is only weakly determined by these spectra (" +
                          format("%.0f", 100.0 * r.mutauElectrons.uncertainty / r.mutauElectrons.value) +
                          " % standard uncertainty): the electrons lose little charge at this bias");
    }
    {
        const double e = kReferenceEnergy;
        const double f2 = theta[kA] + theta[kB] * e + g2 * e * e;
        const double f = std::sqrt(f2);
        const std::array<double, 3> grad = {0.5 / f, 0.5 * e / f, 0.5 * e * e / f};
        const std::array<int, 3> idx = {kA, kB, kGamma};
        double var = 0;
        for (std::size_t a = 0; a < 3; ++a)
            for (std::size_t b = 0; b < 3; ++b) var += grad[a] * grad[b] * cov(idx[a], idx[b]);
        r.fwhmAt5954 = {f, std::sqrt(std::max(0.0, var))};
    }
    // Too few counts: the figures a characterization is for must come out
    // to a useful precision.
    {
        std::string counted;
        for (const auto& f : r.sources)
            counted += (counted.empty() ? "" : ", ") + withThousands(f.counts) + " in " + f.name;
        auto tooFew = [&](const std::string& what, double relative, double wanted) {
            const double factor = (relative / wanted) * (relative / wanted);
            throw CharacterizationError("too few counts: " + what + " comes out with a standard uncertainty of " +
                                        format("%.1f", 100.0 * relative) + " % (at most " +
                                        format("%.0f", 100.0 * wanted) + " % is useful) from the counts fitted (" +
                                        counted + "); about " + format("%.1f", factor) +
                                        " times as many counts are needed");
        };
        const double fwhmRel = r.fwhmAt5954.uncertainty / r.fwhmAt5954.value;
        if (fwhmRel > o.maxRelativeUncertaintyFwhm) tooFew("the resolution at 59.54 keV", fwhmRel, o.maxRelativeUncertaintyFwhm);
        const double holeRel = r.mutauHoles.uncertainty / r.mutauHoles.value;
        if (holeRel > o.maxRelativeUncertaintyHoles) tooFew("the hole mu-tau", holeRel, o.maxRelativeUncertaintyHoles);
    }
    for (std::size_t s = 0; s < r.sources.size(); ++s) {
        const int k0 = kGlobals + kPerSource * static_cast<int>(s);
        r.sources[s].decays = {theta[static_cast<std::size_t>(k0 + kDecays)], sd(k0 + kDecays)};
        r.sources[s].absorberGPerCm2 = {theta[static_cast<std::size_t>(k0 + kAbsorber)], sd(k0 + kAbsorber)};
        double scattered = 0, scatteredVar = 0;
        for (int a = 0; a < kScatterBands; ++a) {
            scattered += theta[static_cast<std::size_t>(k0 + kScatter + a)];
            for (int b = 0; b < kScatterBands; ++b) scatteredVar += cov(k0 + kScatter + a, k0 + kScatter + b);
        }
        r.sources[s].scatteredPhotons = {scattered, std::sqrt(std::max(0.0, scatteredVar))};
        r.sources[s].flatPerKeV = {theta[static_cast<std::size_t>(k0 + kFlat)], sd(k0 + kFlat)};
    }
    report(1.0, "done");
    return r;
}

} // namespace tvdet
