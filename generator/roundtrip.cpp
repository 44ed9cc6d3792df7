#include "generator/roundtrip.h"

#include <cmath>
#include <map>
#include <ostream>

#include "generator/detector.h"
#include "generator/random.h"
#include "generator/spectra.h"
#include "strip/response_table.h"
#include "strip/stripping.h"

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
    DetectorConfig config;
    config.chargeLoss = !ideal;
    const Detector detector(config);
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
        mo.seed = streamSeed(777, static_cast<std::uint64_t>(kv), 0);
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
