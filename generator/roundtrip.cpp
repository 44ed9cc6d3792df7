#include "generator/roundtrip.h"
#include "generator/pulses.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <ostream>
#include <stdexcept>
#include <string>

#include "detector/detector.h"
#include "detector/parallel.h"
#include "detector/random.h"
#include "generator/spectra.h"
#include "detector/unfold_data.h"
#include "strip/response_table.h"
#include "strip/stripping.h"
#include "strip/unfold.h"

namespace tvgen {

namespace {

// The spectrum of channel counts as photons at the channel centres, from
// 10 keV up (the stripping empties the channels below).
PhotonSpectrum fromChannels(const tvstrip::Counts& n, double w)
{
    PhotonSpectrum s;
    for (int i = 1; i <= tvstrip::kChannels; ++i) {
        const double e = (i - 0.5) * w;
        if (e < 10.0 || n[static_cast<std::size_t>(i - 1)] <= 0) continue;
        s.energyKeV.push_back(e);
        s.weight.push_back(static_cast<double>(n[static_cast<std::size_t>(i - 1)]));
    }
    return s;
}

} // namespace

std::vector<RoundTripResult> roundTrip(const std::filesystem::path& resFolder, const std::vector<int>& kilovolts,
                                       int threads, std::ostream& progress, bool ideal)
{
    tvdet::DetectorConfig config;
    config.chargeLoss = !ideal;
    const tvdet::Detector detector(config);
    std::map<int, tvstrip::ResponseTable> tables;
    auto load = [&](int code) -> const tvstrip::ResponseTable& {
        auto it = tables.find(code);
        if (it == tables.end())
            it = tables.emplace(code, tvstrip::loadResponseTable(resFolder / (std::to_string(code) + "kev.dat"))).first;
        return it->second;
    };
    std::vector<RoundTripResult> results;
    for (int kv : kilovolts) {
        // 0.1 keV per channel reaches 102.4 keV; higher voltages need wider channels.
        const float w = kv <= 100 ? 0.1f : 0.15f;
        TubeModel tube;
        tube.kilovolts = kv;
        const PhotonSpectrum truth = tubeSpectrum(tube);
        MeasurementOptions mo;
        mo.seed = tvdet::streamSeed(777, static_cast<std::uint64_t>(kv), 0);
        mo.threads = threads;
        mo.kevPerChannel = w;
        mo.broadening = !ideal;
        const ChannelCounts measured = measureSpectrum(detector, truth, 20000000, mo);
        tvstrip::Counts counts{};
        for (std::size_t i = 0; i < counts.size(); ++i)
            counts[i] = static_cast<std::int32_t>(std::min<std::int64_t>(measured[i], 999999));
        const tvstrip::Counts stripped = tvstrip::stripSpectrum(counts, kv, w, load);
        RoundTripResult r;
        r.kilovolts = kv;
        // True values over the photons that reach the detector from 10 keV up.
        PhotonSpectrum trueAbove10;
        for (std::size_t i = 0; i < truth.weight.size(); ++i)
            if (truth.energyKeV[i] >= 10.0) {
                trueAbove10.energyKeV.push_back(truth.energyKeV[i]);
                trueAbove10.weight.push_back(truth.weight[i]);
            }
        r.trueMean = trueAbove10.meanEnergy();
        r.trueHvl = halfValueLayerMm(trueAbove10);
        const PhotonSpectrum rec = fromChannels(stripped, w);
        r.recoveredMean = rec.meanEnergy();
        r.recoveredHvl = halfValueLayerMm(rec);
        const PhotonSpectrum meas = fromChannels(counts, w);
        r.measuredMean = meas.meanEnergy();
        r.measuredHvl = halfValueLayerMm(meas);
        progress << kv << " kV (" << w << " keV/channel): mean energy true " << r.trueMean << " keV, stripped " << r.recoveredMean
                 << " keV, measured " << r.measuredMean << " keV; HVL true " << r.trueHvl << " mm Al, stripped "
                 << r.recoveredHvl << " mm Al, measured " << r.measuredHvl << " mm Al" << std::endl;
        // Shares of the photons in 10 keV bands, true against stripped.
        auto bands = [](const PhotonSpectrum& sp) {
            std::vector<double> b(16, 0.0);
            const double t = sp.total();
            for (std::size_t i = 0; i < sp.weight.size(); ++i) {
                const auto j = static_cast<std::size_t>(sp.energyKeV[i] / 10.0);
                if (j < b.size()) b[j] += sp.weight[i] / t;
            }
            return b;
        };
        const auto bt = bands(trueAbove10), br = bands(rec);
        progress << "  band (keV)  true   stripped" << std::endl;
        for (std::size_t j = 1; j * 10 < static_cast<std::size_t>(kv); ++j)
            progress << "  " << j * 10 << "-" << j * 10 + 10 << "   " << bt[j] << "   " << br[j] << std::endl;
        results.push_back(r);
    }
    return results;
}

} // namespace tvgen

namespace tvgen {

std::vector<double> photonsPerKeV(const std::vector<double>& perChannel, double w, int lo, int hi)
{
    std::vector<double> b(static_cast<std::size_t>(std::max(0, hi - lo)), 0.0);
    for (std::size_t i = 0; i < perChannel.size(); ++i) {
        const double a = static_cast<double>(i) * w, z = a + w;
        if (perChannel[i] == 0.0 || z <= lo || a >= hi) continue;
        for (int k = std::max(lo, static_cast<int>(std::floor(a))); k < hi && k < z; ++k) {
            const double overlap = std::min(z, k + 1.0) - std::max(a, static_cast<double>(k));
            if (overlap > 0) b[static_cast<std::size_t>(k - lo)] += perChannel[i] * overlap / w;
        }
    }
    return b;
}

std::vector<double> photonsPerKeV(const std::vector<double>& energyKeV, const std::vector<double>& weight, int lo,
                                  int hi)
{
    std::vector<double> b(static_cast<std::size_t>(std::max(0, hi - lo)), 0.0);
    for (std::size_t i = 0; i < weight.size(); ++i) {
        const double e = energyKeV[i];
        if (e < lo || e >= hi) continue;
        b[static_cast<std::size_t>(static_cast<int>(std::floor(e)) - lo)] += weight[i];
    }
    return b;
}

double rmsDeviationPercent(const std::vector<double>& recovered, const std::vector<double>& truth)
{
    double sum = 0;
    int n = 0;
    for (std::size_t i = 0; i < truth.size() && i < recovered.size(); ++i) {
        if (!(truth[i] > 0)) continue;
        const double d = recovered[i] / truth[i] - 1.0;
        sum += d * d;
        ++n;
    }
    return n > 0 ? 100.0 * std::sqrt(sum / n) : 0.0;
}

namespace {

std::string fixed(double v, int decimals)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

constexpr int kLowBins = 5;  // 15-16 ... 19-20 keV, reported bin by bin

SpectrumFigures figuresOf(const tvstrip::Counts& counts, double w, const std::vector<double>& trueBins, int lo,
                          int hi, const std::vector<bool>& lineBin, std::vector<double>* lowBins = nullptr)
{
    SpectrumFigures f;
    const PhotonSpectrum s = fromChannels(counts, w);
    f.meanKeV = s.meanEnergy();
    f.hvlMm = halfValueLayerMm(s);
    std::vector<double> perChannel(counts.begin(), counts.end());
    const std::vector<double> bins = photonsPerKeV(perChannel, w, lo, hi);
    f.rmsPercent = rmsDeviationPercent(bins, trueBins);
    f.rmsBins = hi - lo;
    std::vector<double> b2, t2;
    for (std::size_t i = 0; i < bins.size(); ++i)
        if (!lineBin[i]) {
            b2.push_back(bins[i]);
            t2.push_back(trueBins[i]);
        }
    f.rmsContinuumPercent = rmsDeviationPercent(b2, t2);
    if (lowBins) {
        lowBins->assign(kLowBins, 0.0);
        for (int k = 0; k < kLowBins && k < static_cast<int>(bins.size()); ++k)
            if (trueBins[static_cast<std::size_t>(k)] > 0)
                (*lowBins)[static_cast<std::size_t>(k)] =
                    100.0 * (bins[static_cast<std::size_t>(k)] / trueBins[static_cast<std::size_t>(k)] - 1.0);
    }
    // The bins that deviate most, for the progress report.
    std::vector<std::pair<double, int>> worst;
    for (std::size_t i = 0; i < bins.size(); ++i)
        if (trueBins[i] > 0) worst.emplace_back(std::abs(bins[i] / trueBins[i] - 1.0), lo + static_cast<int>(i));
    std::sort(worst.rbegin(), worst.rend());
    for (std::size_t i = 0; i < worst.size() && i < 4; ++i) {
        const auto b = static_cast<std::size_t>(worst[i].second - lo);
        char buf[80];
        std::snprintf(buf, sizeof buf, " %d-%d keV %+.1f %%", worst[i].second, worst[i].second + 1,
                      100.0 * (bins[b] / trueBins[b] - 1.0));
        f.worstBins += buf;
    }
    return f;
}

// The analyser's channels of the recorded energies: each kept with
// probability `keep`, broadened by the detector's resolution, and put into
// channel i for (offset + (i-1)·g, offset + i·g].  With pile-up
// (`meanExtra` > 0: photons per resolving time, mu = -ln(1 - share)) the
// photons arrive in the order drawn as a Poisson process in time, a pulse
// collects every photon within the resolving time after its first, and the
// summed energy is broadened once; a lower count level is then a shorter
// measurement at the same rate (the first `keep` of the photons).
tvstrip::Counts recordChannels(const std::vector<float>& energies, double keep, const MeasuringDetector& d, double w,
                               std::uint64_t seed, double meanExtra = 0.0)
{
    const double sigmaPerFwhm = 1.0 / (2.0 * std::sqrt(2.0 * std::log(2.0)));
    const double g = d.gainFactor * w;
    tvdet::Rng rng(seed);
    std::vector<std::int64_t> c(tvstrip::kChannels, 0);
    std::vector<float> pulses;
    if (meanExtra > 0.0) {
        const auto n = static_cast<std::size_t>(std::llround(keep * static_cast<double>(energies.size())));
        pulses = pileUp(energies, n, meanExtra, rng).pulses;
        keep = 1.0;
    }
    for (float e : meanExtra > 0.0 ? pulses : energies) {
        if (keep < 1.0 && rng.uniform() >= keep) continue;
        const double x = e + rng.normal() * d.profile.fwhmKeV(e) * sigmaPerFwhm;
        if (x <= 0) continue;
        const double ch = std::ceil((x - d.offsetKeV) / g);
        if (ch >= 1 && ch <= tvstrip::kChannels) ++c[static_cast<std::size_t>(ch) - 1];
    }
    tvstrip::Counts counts{};
    for (std::size_t i = 0; i < counts.size(); ++i)
        counts[i] = static_cast<std::int32_t>(std::min<std::int64_t>(c[i], 999999));
    return counts;
}

std::string levelName(double peak) { return peak > 0 ? fixed(peak, 0) : std::string("all"); }

} // namespace

std::vector<MethodBenchRow> roundTripMethods(const std::filesystem::path& resFolder, const MethodBenchOptions& o,
                                             std::ostream& out, std::ostream& progress)
{
    tvstrip::UnfoldResponse response = tvstrip::loadUnfoldResponse(resFolder);
    const tvstrip::DetectorProfile responseProfile = response.profile;
    std::vector<MeasuringDetector> detectors = o.detectors;
    if (detectors.empty()) detectors.push_back({"own", responseProfile, 1.0, 0.0});
    std::map<int, tvstrip::ResponseTable> tables;
    auto load = [&](int code) -> const tvstrip::ResponseTable& {
        auto it = tables.find(code);
        if (it == tables.end())
            it = tables.emplace(code, tvstrip::loadResponseTable(resFolder / (std::to_string(code) + "kev.dat"))).first;
        return it->second;
    };
    std::vector<UnfoldVariant> variants;
    for (int iterations : o.iterations) {
        UnfoldVariant v{"unfold " + std::to_string(iterations), {}};
        v.options.iterations = iterations;
        variants.push_back(v);
    }
    if (o.iterations.empty() && o.variants.empty()) variants.push_back({"unfold", {}});
    variants.insert(variants.end(), o.variants.begin(), o.variants.end());

    std::vector<MethodBenchRow> rows;
    std::vector<std::pair<std::string, double>> pileupFits;
    out << "| truth | detector | peak counts | kV | keV/ch | method | mean error (keV) | HVL error (%) | RMS 1 keV "
           "bins (%) | RMS without W K-line bins (%) | 15-16 | 16-17 | 17-18 | 18-19 | 19-20 keV (%) |\n"
           "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|\n";
    for (const std::string& truthName : o.truths) {
        for (std::size_t di = 0; di < detectors.size(); ++di) {
            const MeasuringDetector& md = detectors[di];
            const tvdet::Detector detector(tvdet::detectorConfig(md.profile));
            for (int kv : o.kilovolts) {
                TubeModel tube;
                if (truthName == "tube") tube = filteredTube(kv);
                else if (truthName != "kramers") throw std::invalid_argument("unknown truth " + truthName);
                tube.kilovolts = kv;
                const PhotonSpectrum truth = tubeSpectrum(tube);
                // One Monte Carlo measurement per detector and voltage; each
                // width and count level records it with its own noise.
                const std::uint64_t key = static_cast<std::uint64_t>(kv) + 1000 * di + (truthName == "tube" ? 100000 : 0);
                tvdet::Rng poisson(tvdet::streamSeed(4243, key, 0));
                const double mean = static_cast<double>(o.photons);
                const auto photons = static_cast<std::int64_t>(std::llround(mean + std::sqrt(mean) * poisson.normal()));
                const auto t0 = std::chrono::steady_clock::now();
                const std::vector<float> energies =
                    detectedEnergies(detector, truth, photons, tvdet::streamSeed(4242, key, 0), o.threads);
                progress << truthName << " " << kv << " kV, detector " << md.label << ": " << energies.size()
                         << " photons recorded of " << photons << " ("
                         << std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() << " s)"
                         << std::endl;
                TubeModel bare = tube;
                bare.kLineShare = 0;
                const PhotonSpectrum continuumOnly = tubeSpectrum(bare);
                for (double share : o.pileupShares)
                for (std::size_t wi = 0; wi < o.kevPerChannel.size(); ++wi) {
                    const double w = o.kevPerChannel[wi];
                    const double meanExtra = share > 0.0 ? -std::log(1.0 - share) : 0.0;
                    const std::string label = share > 0.0 ? md.label + " pile-up " + fixed(100.0 * share, 0) + " %" : md.label;
                    const float wf = static_cast<float>(w);
                    // The analyser's range ends at 1024 channels: compare what it can show.
                    const double top = std::min<double>(kv, tvstrip::kChannels * static_cast<double>(wf));
                    if (o.told) {
                        response.profile.energyGainKevPerChannel = o.told->gainFactor * w;
                        response.profile.energyOffsetKeV = o.told->offsetKeV;
                    }
                    const tvstrip::Counts whole =
                        recordChannels(energies, 1.0, md, w, tvdet::streamSeed(4244, key, wi), meanExtra);
                    const double highest = *std::max_element(whole.begin(), whole.end());
                    const int lo = 15, hi = static_cast<int>(std::floor(std::min<double>(kv - 5, top)));
                    auto perChannel = [&](const PhotonSpectrum& sp, double scale) {
                        std::vector<double> c(tvstrip::kChannels, 0.0);
                        for (std::size_t i = 0; i < sp.weight.size(); ++i) {
                            if (sp.energyKeV[i] < 10.0 || sp.energyKeV[i] > top) continue;
                            const auto ch = static_cast<long>(std::ceil(sp.energyKeV[i] / w));
                            if (ch >= 1 && ch <= tvstrip::kChannels) c[static_cast<std::size_t>(ch - 1)] += sp.weight[i] * scale;
                        }
                        return c;
                    };
                    PhotonSpectrum trueIn;
                    for (std::size_t i = 0; i < truth.weight.size(); ++i)
                        if (truth.energyKeV[i] >= 10.0 && truth.energyKeV[i] <= top) {
                            trueIn.energyKeV.push_back(truth.energyKeV[i]);
                            trueIn.weight.push_back(truth.weight[i]);
                        }
                    const double trueMean = trueIn.meanEnergy(), trueHvl = halfValueLayerMm(trueIn);
                    for (double level : o.peakCounts) {
                        const double keep = level > 0 ? std::min(1.0, level / highest) : 1.0;
                        const int repeats = keep < 1.0 ? o.repeats : 1;
                        const double scale = static_cast<double>(photons) / truth.total() * keep;
                        // The truth in the analyser's channels, then in 1 keV
                        // bins exactly as a corrected spectrum is binned: a line
                        // near a bin edge is then compared with itself.
                        const std::vector<double> trueBins = photonsPerKeV(perChannel(truth, scale), w, lo, hi);
                        const std::vector<double> contBins = photonsPerKeV(perChannel(continuumOnly, scale), w, lo, hi);
                        std::vector<bool> lineBin(trueBins.size());
                        for (std::size_t b = 0; b < trueBins.size(); ++b)
                            if (trueBins[b] > 1.01 * contBins[b])
                                for (std::size_t c = b > 0 ? b - 1 : 0; c <= b + 1 && c < trueBins.size(); ++c)
                                    lineBin[c] = true;
                        {
                            std::vector<double> m(whole.begin(), whole.end());
                            const auto mb = photonsPerKeV(m, w, lo, lo + kLowBins);
                            progress << "  true photons / measured counts per keV from 15 keV (thinned by " << keep << "):";
                            for (int k = 0; k < kLowBins; ++k)
                                progress << " " << fixed(trueBins[static_cast<std::size_t>(k)], 0) << "/"
                                         << fixed(mb[static_cast<std::size_t>(k)] * keep, 0);
                            progress << std::endl << "  truth per keV from 15 keV:";
                            for (std::size_t k = 0; k < 20 && k < trueBins.size(); ++k) progress << " " << fixed(trueBins[k], 0);
                            progress << std::endl;
                        }
                        std::map<std::string, std::vector<MethodBenchRow>> byMethod;
                        std::vector<std::string> order;
                        for (int rep = 0; rep < repeats; ++rep) {
                            const tvstrip::Counts counts =
                                keep < 1.0 ? recordChannels(energies, keep, md, w,
                                                            tvdet::streamSeed(4245 + static_cast<std::uint64_t>(rep), key,
                                                                              wi * 100 + static_cast<std::uint64_t>(level)),
                                                            meanExtra)
                                           : whole;
                            auto add = [&](const std::string& method, const tvstrip::Counts& result, double ms) {
                                MethodBenchRow r;
                                r.truth = truthName;
                                r.detector = label;
                                r.method = method;
                                r.peakCounts = level;
                                r.kilovolts = kv;
                                r.kevPerChannel = w;
                                const SpectrumFigures f = figuresOf(result, w, trueBins, lo, hi, lineBin, &r.lowBins);
                                r.meanError = f.meanKeV - trueMean;
                                r.hvlError = 100.0 * (f.hvlMm / trueHvl - 1.0);
                                r.rms = f.rmsPercent;
                                r.rmsContinuum = f.rmsContinuumPercent;
                                r.ms = ms;
                                if (!byMethod.count(method)) order.push_back(method);
                                byMethod[method].push_back(r);
                                if (rep == 0)
                                    progress << "  " << truthName << " " << label << " " << levelName(level) << " "
                                             << kv << " kV " << w << " keV/ch " << method << ": " << ms
                                             << " ms; largest deviations:" << f.worstBins << std::endl;
                            };
                            if (o.standard) add("standard", tvstrip::stripSpectrum(counts, kv, wf, load), 0.0);
                            for (const UnfoldVariant& v : variants) {
                                tvstrip::UnfoldOptions uo = v.options;
                                uo.maxLastChange = 1.0;  // the bench reports, it does not refuse
                                const auto u0 = std::chrono::steady_clock::now();
                                tvstrip::Counts unfolded{};
                                tvstrip::UnfoldReport report;
                                try {
                                    unfolded = tvstrip::unfoldSpectrum(counts, wf, kv, response, uo, &report);
                                } catch (const std::exception& e) {
                                    progress << "  " << v.label << ": " << e.what() << std::endl;
                                    continue;
                                }
                                const double ms =
                                    std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - u0).count();
                                if (rep == 0 && report.smoothBelowKeV > 0)
                                    progress << "  " << v.label << ": smooth low-energy end up to "
                                             << report.smoothBelowKeV << " keV" << std::endl;
                                if (report.pileup.source != tvstrip::PileupSource::None) {
                                    double above = 0;
                                    for (int j = 1; j <= tvstrip::kChannels; ++j)
                                        if ((j - 1) * w >= kv) above += unfolded[static_cast<std::size_t>(j - 1)];
                                    progress << "  " << v.label << ": pile-up " << 100.0 * report.pileup.share
                                             << " % (simulated " << 100.0 * share << " %), result counts above "
                                             << kv << " kV: " << above << std::endl;
                                    if (rep == 0) pileupFits.emplace_back(label + " " + std::to_string(kv) + " kV " + fixed(w, 2), report.pileup.share);
                                }
                                add(v.label, unfolded, ms);
                            }
                        }
                        for (const std::string& method : order) {
                            const auto& reps = byMethod[method];
                            MethodBenchRow a = reps.front();
                            const double n = static_cast<double>(reps.size());
                            a.meanError = a.hvlError = a.rms = a.rmsContinuum = a.ms = 0;
                            a.lowBins.assign(kLowBins, 0.0);
                            for (const auto& r : reps) {
                                a.meanError += r.meanError / n;
                                a.hvlError += r.hvlError / n;
                                a.rms += r.rms / n;
                                a.rmsContinuum += r.rmsContinuum / n;
                                a.ms += r.ms / n;
                                for (int k = 0; k < kLowBins; ++k)
                                    a.lowBins[static_cast<std::size_t>(k)] += r.lowBins[static_cast<std::size_t>(k)] / n;
                            }
                            out << "| " << truthName << " | " << label << " | " << levelName(level)
                                << (repeats > 1 ? " (" + std::to_string(repeats) + "×)" : std::string()) << " | " << kv
                                << " | " << fixed(w, 2) << " | " << method << " | " << fixed(a.meanError, 3) << " | "
                                << fixed(a.hvlError, 2) << " | " << fixed(a.rms, 1) << " | " << fixed(a.rmsContinuum, 1);
                            for (double d : a.lowBins) out << " | " << fixed(d, 0);
                            out << " |" << std::endl;
                            rows.push_back(a);
                        }
                    }
                }
            }
        }
    }
    // Summary: per truth, detector, count level and method over the
    // voltages and widths.
    out << "\n| truth | detector | peak counts | method | cases | mean error: mean abs / largest (keV) | HVL error: "
           "mean abs / largest (%) | RMS 1 keV bins: mean / largest (%) | RMS without lines: mean / largest (%) | "
           "15-16 | 16-17 | 17-18 | 18-19 | 19-20 keV: mean (%) | ms |\n"
           "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|\n";
    std::vector<std::string> keys;
    std::map<std::string, std::vector<const MethodBenchRow*>> groups;
    for (const auto& r : rows) {
        const std::string k = r.truth + "|" + r.detector + "|" + levelName(r.peakCounts) + "|" + r.method;
        if (!groups.count(k)) keys.push_back(k);
        groups[k].push_back(&r);
    }
    for (const auto& k : keys) {
        const auto& g = groups[k];
        double sm = 0, mm = 0, sh = 0, mh = 0, sr = 0, mr = 0, sc = 0, mc = 0, ms = 0;
        std::vector<double> low(kLowBins, 0.0);
        for (const auto* r : g) {
            sm += std::abs(r->meanError);
            mm = std::max(mm, std::abs(r->meanError));
            sh += std::abs(r->hvlError);
            mh = std::max(mh, std::abs(r->hvlError));
            sr += r->rms;
            mr = std::max(mr, r->rms);
            sc += r->rmsContinuum;
            mc = std::max(mc, r->rmsContinuum);
            ms += r->ms;
            for (int b = 0; b < kLowBins; ++b) low[static_cast<std::size_t>(b)] += r->lowBins[static_cast<std::size_t>(b)];
        }
        const double n = static_cast<double>(g.size());
        const MethodBenchRow& f = *g.front();
        out << "| " << f.truth << " | " << f.detector << " | " << levelName(f.peakCounts) << " | " << f.method << " | "
            << g.size() << " | " << fixed(sm / n, 3) << " / " << fixed(mm, 3) << " | " << fixed(sh / n, 2) << " / "
            << fixed(mh, 2) << " | " << fixed(sr / n, 1) << " / " << fixed(mr, 1) << " | " << fixed(sc / n, 1) << " / "
            << fixed(mc, 1);
        for (double d : low) out << " | " << fixed(d / n, 0);
        out << " | " << fixed(ms / n, 1) << " |" << std::endl;
    }
    if (!pileupFits.empty()) {
        out << "\nPile-up share fitted (whole measurement, first method):\n";
        for (const auto& [what, share] : pileupFits) out << "  " << what << ": " << fixed(100.0 * share, 2) << " %\n";
    }
    return rows;
}

} // namespace tvgen
