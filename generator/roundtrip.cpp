#include "generator/roundtrip.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <ostream>
#include <string>

#include "detector/detector.h"
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

SpectrumFigures figuresOf(const tvstrip::Counts& counts, double w, const std::vector<double>& trueBins, int lo,
                          int hi, const std::vector<bool>& lineBin)
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


} // namespace

void roundTripMethods(const std::filesystem::path& resFolder, const MethodBenchOptions& o, std::ostream& out,
                      std::ostream& progress)
{
    const tvstrip::UnfoldResponse response = tvstrip::loadUnfoldResponse(resFolder);
    const tvdet::Detector detector(tvdet::detectorConfig(response.profile));
    std::map<int, tvstrip::ResponseTable> tables;
    auto load = [&](int code) -> const tvstrip::ResponseTable& {
        auto it = tables.find(code);
        if (it == tables.end())
            it = tables.emplace(code, tvstrip::loadResponseTable(resFolder / (std::to_string(code) + "kev.dat"))).first;
        return it->second;
    };
    std::vector<int> iterationSets = o.iterations;
    if (iterationSets.empty()) iterationSets.push_back(tvstrip::UnfoldOptions{}.iterations);

    out << "| kV | keV/ch | method | mean true (keV) | mean error (keV) | HVL true (mm Al) | HVL error (%) | RMS 1 keV "
           "bins (%) | RMS without W K-line bins and neighbours (%) |\n|---|---|---|---|---|---|---|---|---|\n";
    for (int kv : o.kilovolts) {
        TubeModel tube;
        tube.kilovolts = kv;
        const PhotonSpectrum truth = tubeSpectrum(tube);
        for (std::size_t wi = 0; wi < o.kevPerChannel.size(); ++wi) {
            const double w = o.kevPerChannel[wi];
            const float wf = static_cast<float>(w);
            // The analyser's range ends at 1024 channels: compare what it can show.
            const double top = std::min<double>(kv, tvstrip::kChannels * static_cast<double>(wf));
            MeasurementOptions mo;
            mo.seed = tvdet::streamSeed(4242, static_cast<std::uint64_t>(kv), wi);
            mo.threads = o.threads;
            mo.kevPerChannel = wf;
            mo.energyScale = 1.0 / detector.peakCollection();
            mo.fwhm = [&](double e) { return response.profile.fwhmKeV(e); };
            tvdet::Rng poisson(tvdet::streamSeed(4243, static_cast<std::uint64_t>(kv), wi));
            const double mean = static_cast<double>(o.photons);
            const auto photons = static_cast<std::int64_t>(std::llround(mean + std::sqrt(mean) * poisson.normal()));
            const ChannelCounts measured = measureSpectrum(detector, truth, photons, mo);
            tvstrip::Counts counts{};
            for (std::size_t i = 0; i < counts.size(); ++i)
                counts[i] = static_cast<std::int32_t>(std::min<std::int64_t>(measured[i], 999999));

            // The truth scaled to the photons of this measurement, within the range.
            PhotonSpectrum trueIn;
            const double scale = static_cast<double>(photons) / truth.total();
            for (std::size_t i = 0; i < truth.weight.size(); ++i)
                if (truth.energyKeV[i] >= 10.0 && truth.energyKeV[i] <= top) {
                    trueIn.energyKeV.push_back(truth.energyKeV[i]);
                    trueIn.weight.push_back(truth.weight[i] * scale);
                }
            const int lo = 15, hi = static_cast<int>(std::floor(std::min<double>(kv - 5, top)));
            // The truth as the analyser's channels can hold it (photons per
            // channel), then in 1 keV bins exactly as a corrected spectrum is
            // binned: a line near a bin edge is then compared with itself.
            auto perChannel = [&](const PhotonSpectrum& sp) {
                std::vector<double> c(tvstrip::kChannels, 0.0);
                for (std::size_t i = 0; i < sp.weight.size(); ++i) {
                    const auto ch = static_cast<long>(std::ceil(sp.energyKeV[i] / w));
                    if (ch >= 1 && ch <= tvstrip::kChannels) c[static_cast<std::size_t>(ch - 1)] += sp.weight[i];
                }
                return c;
            };
            const std::vector<double> trueBins = photonsPerKeV(perChannel(trueIn), w, lo, hi);
            // Bins where the W K lines add more than 1 % to the continuum,
            // and their neighbours, into which a line near a bin edge spills
            // when it is placed one channel off.
            TubeModel bare = tube;
            bare.kLineShare = 0;
            const PhotonSpectrum continuumOnly = tubeSpectrum(bare);
            PhotonSpectrum contIn;
            for (std::size_t i = 0; i < continuumOnly.weight.size(); ++i)
                if (continuumOnly.energyKeV[i] >= 10.0 && continuumOnly.energyKeV[i] <= top) {
                    contIn.energyKeV.push_back(continuumOnly.energyKeV[i]);
                    contIn.weight.push_back(continuumOnly.weight[i] * scale);
                }
            const std::vector<double> contBins = photonsPerKeV(perChannel(contIn), w, lo, hi);
            std::vector<bool> lineBin(trueBins.size());
            for (std::size_t b = 0; b < trueBins.size(); ++b)
                if (trueBins[b] > 1.01 * contBins[b])
                    for (std::size_t c = b > 0 ? b - 1 : 0; c <= b + 1 && c < trueBins.size(); ++c) lineBin[c] = true;
            const double trueMean = trueIn.meanEnergy(), trueHvl = halfValueLayerMm(trueIn);
            auto row = [&](const std::string& method, const SpectrumFigures& f) {
                out << "| " << kv << " | " << fixed(w, 2) << " | " << method << " | " << fixed(trueMean, 2) << " | "
                    << fixed(f.meanKeV - trueMean, 3) << " | " << fixed(trueHvl, 3) << " | "
                    << fixed(100.0 * (f.hvlMm / trueHvl - 1.0), 2) << " | " << fixed(f.rmsPercent, 1) << " | "
                    << fixed(f.rmsContinuumPercent, 1) << " |" << std::endl;
            };
            row("standard", figuresOf(tvstrip::stripSpectrum(counts, kv, wf, load), w, trueBins, lo, hi, lineBin));
            for (int iterations : iterationSets) {
                tvstrip::UnfoldOptions uo;
                uo.iterations = iterations;
                uo.maxLastChange = 1.0;  // the bench reports, it does not refuse
                tvstrip::UnfoldReport report;
                const auto t0 = std::chrono::steady_clock::now();
                const tvstrip::Counts unfolded = tvstrip::unfoldSpectrum(counts, wf, kv, response, uo, &report);
                const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
                std::string label = "unfold";
                if (!o.iterations.empty()) {
                    label += ' ';
                    label += std::to_string(iterations);
                }
                const SpectrumFigures f = figuresOf(unfolded, w, trueBins, lo, hi, lineBin);
                row(label, f);
                progress << "  " << kv << " kV " << w << " keV/ch: " << iterations << " iterations, last change "
                         << 100.0 * report.lastChange << " %, " << ms << " ms; largest deviations:" << f.worstBins
                         << std::endl;
            }
        }
    }
}

} // namespace tvgen
