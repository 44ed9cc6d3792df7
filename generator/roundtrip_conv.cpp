#include "generator/roundtrip_conv.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <map>
#include <optional>
#include <numbers>
#include <ostream>

#include "conv/conversion.h"
#include "conv/unfold.h"
#include "detector/detector.h"
#include "detector/physics_data.h"
#include "detector/random.h"
#include "generator/scatterer.h"
#include "generator/spectra.h"
#include "detector/unfold_data.h"
#include "strip/response_table.h"
#include "strip/stripping.h"
#include "strip/unfold.h"
#include "strip/unfold_response.h"

namespace tvgen {

namespace {

// Scattered energies are collected on this grid (keV) before they are put
// into channels; every channel width of the check is a multiple of it.
constexpr double kFine = 0.005;
constexpr int kFineBins = 60000;  // up to 300 keV

// One element of the scatterer with what the truth needs of it.
struct Element {
    int Z = 0;
    double weight = 0;               // n·A: grams per formula unit (× Avogadro)
    std::vector<double> cumulative;  // ∫0^pz J on a grid of kProfileStep a.u., normalised to 1/2 at the end
};
constexpr double kProfileStep = 0.005;
constexpr double kProfileEnd = 100.0;

std::vector<Element> elementsOf(const ScattererMaterial& m)
{
    std::vector<Element> out;
    for (auto [Z, n] : m.atoms) {
        Element e;
        e.Z = Z;
        e.weight = n * tvdet::xrl::atomicWeight(Z);
        const int steps = static_cast<int>(std::lround(kProfileEnd / kProfileStep));
        e.cumulative.assign(static_cast<std::size_t>(steps) + 1, 0.0);
        double prev = tvdet::xrl::comptonProfile(Z, 0.0);
        for (int k = 1; k <= steps; ++k) {
            const double j = tvdet::xrl::comptonProfile(Z, k * kProfileStep);
            e.cumulative[static_cast<std::size_t>(k)] =
                e.cumulative[static_cast<std::size_t>(k - 1)] + 0.5 * (j + prev) * kProfileStep;
            prev = j;
        }
        const double whole = e.cumulative.back();
        for (double& c : e.cumulative) c = 0.5 * c / whole;
        out.push_back(std::move(e));
    }
    return out;
}

// Share of an element's Compton line below pz.
double lineShare(const Element& e, double pz)
{
    const double a = std::abs(pz) / kProfileStep;
    double c = 0.5;
    if (a < static_cast<double>(e.cumulative.size() - 1)) {
        const auto k = static_cast<std::size_t>(a);
        const double t = a - static_cast<double>(k);
        c = e.cumulative[k] * (1.0 - t) + e.cumulative[k + 1] * t;
    }
    return pz < 0 ? 0.5 - c : 0.5 + c;
}

struct Scatterer {
    ScattererMaterial material;
    std::vector<Element> elements;
    std::vector<std::pair<int, double>> fractions;
    std::vector<double> muFine;  // 1/cm at the centre of each fine bin

    double mu(double e) const
    {
        double m = 0;
        for (auto [Z, f] : fractions) m += f * tvdet::xrl::total(Z, e);
        return m * material.density;
    }
};

Scatterer prepare(const ScattererMaterial& m)
{
    Scatterer s;
    s.material = m;
    s.elements = elementsOf(m);
    s.fractions = massFractions(m);
    s.muFine.resize(kFineBins);
    // Below 1 keV (no scattered photon gets there) the physics data end.
    for (int k = 0; k < kFineBins; ++k) s.muFine[static_cast<std::size_t>(k)] = s.mu(std::max(1.0, (k + 0.5) * kFine));
    return s;
}

// The scattered spectrum on the fine grid (bin k holds (k·δ, (k+1)·δ]).
std::vector<double> scatteredFine(const PhotonSpectrum& primary, const Scatterer& sc, double theta, double length)
{
    std::vector<double> fine(kFineBins, 0.0);
    const double mec2 = tvdet::xrl::electronRestEnergy();
    const double pAtomic = tvdet::xrl::electronMomentumAtomic();
    const double c = std::cos(theta);
    for (std::size_t n = 0; n < primary.weight.size(); ++n) {
        const double e = primary.energyKeV[n];
        if (e < 1.0) continue;
        const double in = std::exp(-sc.mu(e) * length * 0.5);
        const double w = primary.weight[n] * in;
        const int own = static_cast<int>(std::ceil(e / kFine)) - 1;
        const double ec = e / (1.0 + e / mec2 * (1.0 - c));
        const int centre = static_cast<int>(std::ceil(ec / kFine)) - 1;
        for (const Element& el : sc.elements) {
            const double coh = tvdet::xrl::coherentDcs(el.Z, e, theta) * el.weight;
            const double inc = tvdet::xrl::incoherentDcs(el.Z, e, theta) * el.weight;
            if (own >= 0 && own < kFineBins)
                fine[static_cast<std::size_t>(own)] += w * coh * std::exp(-sc.muFine[static_cast<std::size_t>(own)] * length * 0.5);
            auto share = [&](int edge) {  // below the upper edge of fine bin `edge`
                const double eo = (edge + 1) * kFine;
                if (eo <= 0) return 0.0;
                const double q = std::sqrt(e * e + eo * eo - 2.0 * e * eo * c);
                return lineShare(el, -pAtomic * (e - eo - e * eo * (1.0 - c) / mec2) / q);
            };
            auto put = [&](int k, double s) {
                if (k >= 0 && k < kFineBins)
                    fine[static_cast<std::size_t>(k)] += w * inc * s * std::exp(-sc.muFine[static_cast<std::size_t>(k)] * length * 0.5);
            };
            double up = share(centre), lo = share(centre - 1);
            put(centre, up - lo);
            for (int k = centre - 1; k >= 0 && lo > 1e-9; --k) {
                const double b = share(k - 1);
                put(k, lo - b);
                lo = b;
            }
            for (int k = centre + 1; k < kFineBins && up < 1.0 - 1e-9; ++k) {
                const double a = share(k);
                put(k, a - up);
                up = a;
            }
        }
    }
    return fine;
}

tvconv::Spectrum toChannels(const std::vector<double>& fine, double w, double peak)
{
    const int per = static_cast<int>(std::lround(w / kFine));
    std::vector<double> ch(tvconv::channelCount, 0.0);
    for (int i = 0; i < tvconv::channelCount; ++i)
        for (int k = i * per; k < (i + 1) * per && k < kFineBins; ++k) ch[static_cast<std::size_t>(i)] += fine[static_cast<std::size_t>(k)];
    const double top = *std::max_element(ch.begin(), ch.end());
    tvconv::Spectrum s{};
    for (int i = 0; i < tvconv::channelCount; ++i)
        s[static_cast<std::size_t>(i)] = static_cast<std::int32_t>(std::lround(ch[static_cast<std::size_t>(i)] / top * peak));
    return s;
}

PhotonSpectrum fromChannels(const tvconv::Spectrum& n, double w)
{
    PhotonSpectrum s;
    for (int i = 1; i <= tvconv::channelCount; ++i) {
        const double e = (i - 0.5) * w;
        if (e < 10.0 || n[static_cast<std::size_t>(i - 1)] <= 0) continue;
        s.energyKeV.push_back(e);
        s.weight.push_back(static_cast<double>(n[static_cast<std::size_t>(i - 1)]));
    }
    return s;
}

// Relative RMS difference of the two spectra in 1 keV bins from 20 keV to
// kV − 5, each normalised over that range.
double binRms(const PhotonSpectrum& truth, const PhotonSpectrum& rec, int kv)
{
    const int lo = 20, hi = kv - 5;
    auto bins = [&](const PhotonSpectrum& s) {
        std::vector<double> b(static_cast<std::size_t>(hi - lo), 0.0);
        double t = 0;
        for (std::size_t i = 0; i < s.weight.size(); ++i) {
            const double e = s.energyKeV[i];
            if (e < lo || e >= hi) continue;
            b[static_cast<std::size_t>(e - lo)] += s.weight[i];
            t += s.weight[i];
        }
        for (double& v : b) v /= t;
        return b;
    };
    const auto bt = bins(truth), br = bins(rec);
    double sum = 0;
    for (std::size_t k = 0; k < bt.size(); ++k) {
        const double d = bt[k] > 0 ? br[k] / bt[k] - 1.0 : 0.0;
        sum += d * d;
    }
    return 100.0 * std::sqrt(sum / static_cast<double>(bt.size()));
}

} // namespace

std::vector<ConversionCheckRow> conversionCheck(const ConversionCheckOptions& o, std::ostream& out)
{
    // The detector of RES/detector.txt as an analyser records it: Hecht
    // charge loss, the calibrated energy scale (the upper edge of every
    // full-energy peak at the photon energy) and the profile's resolution.
    // Both corrections of the measurement see this same spectrum.
    std::optional<tvstrip::UnfoldResponse> response;
    std::optional<tvdet::Detector> detector;
    if (o.detector) {
        response = tvstrip::loadUnfoldResponse(o.dataFolder / "RES");
        detector.emplace(tvdet::detectorConfig(response->profile));
    }
    std::map<int, tvstrip::ResponseTable> tables;
    auto load = [&](int code) -> const tvstrip::ResponseTable& {
        auto it = tables.find(code);
        if (it == tables.end())
            it = tables.emplace(code, tvstrip::loadResponseTable(o.dataFolder / "RES" / (std::to_string(code) + "kev.dat")))
                     .first;
        return it->second;
    };
    std::vector<ConversionCheckRow> rows;
    char line[400];
    std::snprintf(line, sizeof line, "%-7s %4s %4s %4s %5s %-19s %-8s %9s %8s %7s %6s %6s\n", "scatt.", "deg", "L/cm",
                  "kV", "keV", "chain", "method", "dMean/keV", "dHVL/%", "RMS/%", "iter", "cpu/ms");
    out << line;
    for (const ScattererMaterial& m : {graphite(), pmma()}) {
        const Scatterer sc = prepare(m);
        const tvconv::ScattererData standardData = tvconv::readScattererFile(o.dataFolder / (m.name + ".dat"));
        const tvconv::ScatterModelData modelData = tvconv::loadScatterModel(o.dataFolder / (m.name + ".dat"));
        for (int angle : o.angles) {
            const double theta = angle * std::numbers::pi / 180.0;
            for (double length : o.lengths) {
                for (int kv : o.kilovolts) {
                    TubeModel tube;
                    tube.kilovolts = kv;
                    tube.stepKeV = 0.02;
                    const PhotonSpectrum truth = tubeSpectrum(tube);
                    PhotonSpectrum trueAbove10;
                    for (std::size_t i = 0; i < truth.weight.size(); ++i)
                        if (truth.energyKeV[i] >= 10.0) {
                            trueAbove10.energyKeV.push_back(truth.energyKeV[i]);
                            trueAbove10.weight.push_back(truth.weight[i]);
                        }
                    const double trueMean = trueAbove10.meanEnergy();
                    const double trueHvl = halfValueLayerMm(trueAbove10);
                    const std::vector<double> fine = scatteredFine(truth, sc, theta, length);
                    for (std::size_t wi = 0; wi < o.widths.size(); ++wi) {
                        const double w = o.widths[wi];
                        if (tvconv::channelCount * w < kv * 1.02) continue;
                        std::vector<std::pair<std::string, tvconv::Spectrum>> inputs;
                        inputs.emplace_back("scattered", toChannels(fine, w, 200000.0));
                        // Through the detector at every width, each an independent measurement.
                        if (o.detector) {
                            PhotonSpectrum photons;
                            for (int k = 0; k < kFineBins; ++k)
                                if (fine[static_cast<std::size_t>(k)] > 0) {
                                    photons.energyKeV.push_back((k + 0.5) * kFine);
                                    photons.weight.push_back(fine[static_cast<std::size_t>(k)]);
                                }
                            MeasurementOptions mo;
                            mo.seed = tvdet::streamSeed(4242, static_cast<std::uint64_t>(kv * 1000 + angle),
                                                 static_cast<std::uint64_t>(length * 10 + (m.name == "PMMA" ? 100 : 0) + 1000 * wi));
                            mo.threads = o.threads;
                            mo.kevPerChannel = w;
                            mo.energyScale = 1.0 / detector->peakCollection();
                            mo.fwhm = [&](double e) { return response->profile.fwhmKeV(e); };
                            // The photon number is itself a Poisson draw, so every
                            // channel is an independent Poisson count.
                            tvdet::Rng poisson(tvdet::streamSeed(4243, static_cast<std::uint64_t>(kv * 1000 + angle),
                                                   static_cast<std::uint64_t>(length * 10 + (m.name == "PMMA" ? 100 : 0) + 1000 * wi)));
                            const double meanPhotons = static_cast<double>(o.detectorPhotons);
                            const auto nPhotons = static_cast<std::int64_t>(
                                std::llround(meanPhotons + std::sqrt(meanPhotons) * poisson.normal()));
                            const ChannelCounts measured = measureSpectrum(*detector, photons, nPhotons, mo);
                            tvstrip::Counts counts{};
                            for (std::size_t i = 0; i < counts.size(); ++i)
                                counts[i] = static_cast<std::int32_t>(std::min<std::int64_t>(measured[i], 999999));
                            const float wf = static_cast<float>(w);
                            const tvstrip::Counts stripped = tvstrip::stripSpectrum(counts, kv, wf, load);
                            tvconv::Spectrum s{};
                            std::copy(stripped.begin(), stripped.end(), s.begin());
                            inputs.emplace_back("detector+stripping", s);
                            tvstrip::UnfoldOptions uo;
                            uo.maxLastChange = 1.0;  // the check reports, it does not refuse
                            const tvstrip::Counts unfolded = tvstrip::unfoldSpectrum(counts, wf, kv, *response, uo);
                            std::copy(unfolded.begin(), unfolded.end(), s.begin());
                            inputs.emplace_back("detector+unfold", s);
                        }
                        for (const auto& [chain, counts] : inputs) {
                            tvconv::ConversionInput in;
                            in.counts = counts;
                            in.angle = angle;
                            in.attenuationLength = static_cast<float>(length);
                            in.channelWidth = static_cast<float>(w);
                            for (const char* method : {"standard", "unfold"}) {
                                ConversionCheckRow r;
                                r.material = m.name;
                                r.angle = angle;
                                r.length = length;
                                r.kilovolts = kv;
                                r.width = w;
                                r.chain = chain;
                                r.method = method;
                                tvconv::Spectrum q{};
                                try {
                                    if (r.method == "standard") {
                                        q = tvconv::convertSpectrum(in, standardData);
                                    } else {
                                        const std::clock_t t0 = std::clock();
                                        const tvconv::UnfoldResult u = tvconv::unfoldPrimary(in, modelData);
                                        r.cpuMs = 1000.0 * static_cast<double>(std::clock() - t0) / CLOCKS_PER_SEC;
                                        q = u.primary;
                                        r.iterations = u.iterations;
                                    }
                                } catch (const std::exception& e) {
                                    out << m.name << " " << angle << " " << length << " " << kv << " " << w << " "
                                        << chain << " " << method << ": " << e.what() << std::endl;
                                    continue;
                                }
                                const PhotonSpectrum rec = fromChannels(q, w);
                                r.meanError = rec.meanEnergy() - trueMean;
                                r.hvlError = 100.0 * (halfValueLayerMm(rec) / trueHvl - 1.0);
                                r.rms = binRms(trueAbove10, rec, kv);
                                std::snprintf(line, sizeof line, "%-7s %4d %4.1f %4d %5.2f %-19s %-8s %+9.3f %+8.2f %7.2f %6d %6.0f\n",
                                              r.material.c_str(), r.angle, r.length, r.kilovolts, r.width,
                                              r.chain.c_str(), r.method.c_str(), r.meanError, r.hvlError, r.rms,
                                              r.iterations, r.cpuMs);
                                out << line << std::flush;
                                rows.push_back(r);
                            }
                        }
                    }
                }
            }
        }
    }
    out << "\nsummary (mean |error| / largest |error|):\n";
    for (const char* chain : {"scattered", "detector+stripping", "detector+unfold"})
        for (const char* method : {"standard", "unfold"}) {
            double sm = 0, mm = 0, sh = 0, mh = 0, sr = 0;
            int n = 0;
            for (const auto& r : rows) {
                if (r.chain != chain || r.method != method) continue;
                ++n;
                sm += std::abs(r.meanError);
                mm = std::max(mm, std::abs(r.meanError));
                sh += std::abs(r.hvlError);
                mh = std::max(mh, std::abs(r.hvlError));
                sr += r.rms;
            }
            if (n == 0) continue;
            std::snprintf(line, sizeof line,
                          "%-19s %-8s cases %3d  mean energy %.3f / %.3f keV  HVL %.2f / %.2f %%  RMS %.2f %%\n",
                          chain, method, n, sm / n, mm, sh / n, mh, sr / n);
            out << line;
        }
    return rows;
}

} // namespace tvgen
