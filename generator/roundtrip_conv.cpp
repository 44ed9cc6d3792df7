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
#include "generator/scatter_truth.h"
#include "generator/scatterer.h"
#include "generator/spectra.h"
#include "detector/unfold_data.h"
#include "strip/response_table.h"
#include "strip/stripping.h"
#include "strip/unfold.h"
#include "strip/unfold_response.h"

namespace tvgen {

namespace {

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
        const Scatterer sc = prepareScatterer(m);
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
                    const std::vector<double> fine = scatteredFine(truth, sc, theta, length);
                    for (std::size_t wi = 0; wi < o.widths.size(); ++wi) {
                        const double w = o.widths[wi];
                        // The scattered spectrum must fit the analyser (the
                        // Compton line of the tube voltage inside the range);
                        // the primary spectrum may reach beyond it, and is
                        // then compared up to the top of the range.
                        const double top = tvconv::channelCount * w;
                        const double mec2 = tvdet::xrl::electronRestEnergy();
                        if (kv / (1.0 + kv / mec2 * (1.0 - std::cos(theta))) > top * 0.98) continue;
                        PhotonSpectrum trueInRange;
                        for (std::size_t i = 0; i < trueAbove10.weight.size(); ++i)
                            if (trueAbove10.energyKeV[i] <= top) {
                                trueInRange.energyKeV.push_back(trueAbove10.energyKeV[i]);
                                trueInRange.weight.push_back(trueAbove10.weight[i]);
                            }
                        const double trueMean = trueInRange.meanEnergy();
                        const double trueHvl = halfValueLayerMm(trueInRange);
                        std::vector<std::pair<std::string, tvconv::Spectrum>> inputs;
                        inputs.emplace_back("scattered", toChannels(fine, w, 200000.0));
                        // Through the detector at every width, each an independent measurement.
                        if (o.detector) {
                            const PhotonSpectrum photons = fineToPhotons(fine);
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
                            std::vector<std::string> methods{"standard", "unfold"};
                            if (kv > top) methods.push_back("unfold-in-range");
                            for (const std::string& method : methods) {
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
                                        tvconv::UnfoldOptions uo;
                                        uo.aboveRange = r.method != "unfold-in-range";
                                        const tvconv::UnfoldResult u = tvconv::unfoldPrimary(in, modelData, uo);
                                        r.cpuMs = 1000.0 * static_cast<double>(std::clock() - t0) / CLOCKS_PER_SEC;
                                        q = u.primary;
                                        r.iterations = u.iterations;
                                    }
                                } catch (const std::exception& e) {
                                    out << m.name << " " << angle << " " << length << " " << kv << " " << w << " "
                                        << chain << " " << r.method << ": " << e.what() << std::endl;
                                    continue;
                                }
                                const PhotonSpectrum rec = fromChannels(q, w);
                                r.meanError = rec.meanEnergy() - trueMean;
                                r.hvlError = 100.0 * (halfValueLayerMm(rec) / trueHvl - 1.0);
                                r.rms = binRms(trueInRange, rec, std::min(kv, static_cast<int>(top)));
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
        for (const char* method : {"standard", "unfold", "unfold-in-range"}) {
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
