#include "quality/rates.h"

#include "quality/json.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace quality {

namespace {

// A figure that is `factor` times a record's value, its uncertainty too.
Value scaled(const Value& v, double factor)
{
    return {v.value * factor, v.uncertainty * factor};
}

std::string figure(const char* fmt, double v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, v);
    return buf;
}

std::string number(double v)
{
    return std::isfinite(v) ? figure("%.10g", v) : std::string();
}

// "1234.5 ± 3.2": the uncertainty to two significant digits and the value to
// the same decimal place; five significant digits where there is none.
std::string withUncertainty(const Value& v, double scale = 1.0)
{
    const double value = v.value * scale, u = v.uncertainty * scale;
    if (!(std::isfinite(u) && u > 0)) return figure("%.5g", value);
    const int decimals = std::clamp(1 - static_cast<int>(std::floor(std::log10(u))), 0, 12);
    char buf[96];
    std::snprintf(buf, sizeof buf, "%.*f ± %.*f", decimals, value, decimals, u);
    return buf;
}

struct RateField {
    const char* key;
    Value Rates::*member;
};

const RateField kRateFields[] = {
    {"count_rate_per_s", &Rates::countRatePerS},
    {"fluence_rate_per_mm2_s", &Rates::fluenceRatePerMm2S},
    {"air_kerma_rate_uGy_per_s", &Rates::airKermaRateUGyPerS},
    {"counts_per_mAs", &Rates::countsPerMAs},
    {"fluence_per_mm2_per_mAs", &Rates::fluencePerMm2PerMAs},
    {"air_kerma_per_mAs_uGy", &Rates::airKermaPerMAsUGy},
};

} // namespace

std::optional<double> deadTimeFraction(std::optional<double> live, std::optional<double> real)
{
    if (!live || !real || !(*live > 0) || !(*real > 0) || !std::isfinite(*live) || !std::isfinite(*real))
        return std::nullopt;
    return std::max(0.0, 1.0 - *live / *real);
}

Rates computeRates(const BeamQuality& q, const Exposure& e)
{
    auto positive = [](const std::optional<double>& v) { return !v || (*v > 0 && std::isfinite(*v)); };
    if (!positive(e.apertureMm2)) throw QualityError("the detector's entrance area must be above 0 mm²");
    if (!positive(e.mAs)) throw QualityError("the tube's mAs must be above 0");
    if (!positive(e.liveTimeS)) throw QualityError("the live time must be above 0 s");
    if (!positive(e.realTimeS)) throw QualityError("the real time must be above 0 s");
    // The readers allow a live time up to 1 ms above the real time (both
    // are rounded); beyond that the file's times contradict each other.
    if (e.liveTimeS && e.realTimeS && *e.liveTimeS > *e.realTimeS + 1e-3)
        throw QualityError(figure("the live time (%g s)", *e.liveTimeS) +
                           figure(" is above the real time (%g s)", *e.realTimeS));

    Rates r;
    if (e.liveTimeS) r.liveTimeS.value = *e.liveTimeS;
    if (e.realTimeS) r.realTimeS.value = *e.realTimeS;
    if (auto d = deadTimeFraction(e.liveTimeS, e.realTimeS)) r.deadTimeFraction.value = *d;
    if (e.pileupShare) r.pileupShare = *e.pileupShare;
    if (e.apertureMm2) r.apertureMm2 = *e.apertureMm2;
    if (e.mAs) r.mAs = *e.mAs;
    if (!e.liveTimeS || !e.countsAtDetector) return r;

    const double perS = 1.0 / *e.liveTimeS;
    // keV cm2/g over an area in cm2 is keV/g; times J/keV and g/kg is Gy; µGy.
    const double uGyPerKermaSum = kJoulePerKeV * 1e3 * 1e6;
    r.countRatePerS = scaled(q.total, perS);
    if (e.apertureMm2) {
        const double areaCm2 = *e.apertureMm2 / 100.0;
        r.fluenceRatePerMm2S = scaled(q.total, perS / *e.apertureMm2);
        r.airKermaRateUGyPerS = scaled(q.kermaSumKeVCm2PerG, perS / areaCm2 * uGyPerKermaSum);
    }
    if (e.mAs && e.realTimeS) {
        const double perMAs = std::max(*e.realTimeS, *e.liveTimeS) / *e.mAs;
        r.countsPerMAs = scaled(r.countRatePerS, perMAs);
        r.fluencePerMm2PerMAs = scaled(r.fluenceRatePerMm2S, perMAs);
        r.airKermaPerMAsUGy = scaled(r.airKermaRateUGyPerS, perMAs);
    }
    return r;
}

std::string formatRatesText(const Rates& r, const Exposure& e)
{
    const bool timed = e.liveTimeS || e.realTimeS;
    if (!timed && !e.pileupShare && !e.apertureMm2 && !e.mAs) return {};
    std::string out;
    auto line = [&](const std::string& s) { out += "  " + s + "\n"; };
    if (std::isfinite(r.liveTimeS.value)) line(figure("live time: %.3f s", r.liveTimeS.value));
    if (std::isfinite(r.realTimeS.value)) line(figure("real time: %.3f s", r.realTimeS.value));
    if (std::isfinite(r.deadTimeFraction.value)) line(figure("dead time: %.2f %%", 100.0 * r.deadTimeFraction.value));
    if (std::isfinite(r.pileupShare.value)) line("pile-up share: " + withUncertainty(r.pileupShare, 100.0) + " %");
    if (!e.liveTimeS) {
        line("rates: n/a (the file gives no live time)");
        return out;
    }
    if (!e.countsAtDetector) {
        line("rates: n/a for a converted spectrum (its counts are scaled to the scattered spectrum's)");
        return out;
    }
    line("count rate: " + withUncertainty(r.countRatePerS) + " /s");
    if (e.apertureMm2) {
        line("photon fluence rate: " + withUncertainty(r.fluenceRatePerMm2S) + " /(mm² s) through " +
             figure("%g mm²", *e.apertureMm2));
        line("air kerma rate: " + withUncertainty(r.airKermaRateUGyPerS) + " µGy/s");
    } else {
        line("photon fluence and air kerma rate: n/a (need the detector's entrance area, --aperture-mm2)");
    }
    if (e.mAs) {
        if (!e.realTimeS) {
            line("per mAs: n/a (needs the real time, which the file does not give)");
        } else {
            const std::string of = figure(" (of %g mAs)", *e.mAs);
            line("counts per mAs: " + withUncertainty(r.countsPerMAs) + of);
            if (e.apertureMm2) {
                line("photon fluence per mAs: " + withUncertainty(r.fluencePerMm2PerMAs) + " /mm²");
                line("air kerma per mAs: " + withUncertainty(r.airKermaPerMAsUGy) + " µGy");
            }
        }
    }
    return out;
}

void addRatesJson(nlohmann::ordered_json& j, const Rates& r)
{
    j["live_time_s"] = r.liveTimeS.value;
    j["real_time_s"] = r.realTimeS.value;
    j["dead_time_fraction"] = r.deadTimeFraction.value;
    j["pileup_share"] = r.pileupShare.value;
    j["pileup_share_u"] = r.pileupShare.uncertainty;
    j["aperture_mm2"] = r.apertureMm2;
    j["mAs"] = r.mAs;
    for (const auto& f : kRateFields) {
        j[f.key] = (r.*f.member).value;
        j[std::string(f.key) + "_u"] = (r.*f.member).uncertainty;
    }
}

nlohmann::ordered_json qualityRecord(const BeamQuality& q, const std::string& file, const Rates& r)
{
    nlohmann::ordered_json j = jsonRecord(q, file);
    addRatesJson(j, r);
    return j;
}

std::string ratesCsvHeader()
{
    std::string out = "live_time_s,real_time_s,dead_time_fraction,pileup_share,pileup_share_u,aperture_mm2,mAs";
    for (const auto& f : kRateFields) {
        out += ',';
        out += f.key;
        out += ',';
        out += f.key;
        out += "_u";
    }
    return out;
}

std::string ratesCsv(const Rates& r)
{
    std::string out = number(r.liveTimeS.value);
    for (double v : {r.realTimeS.value, r.deadTimeFraction.value, r.pileupShare.value, r.pileupShare.uncertainty,
                     r.apertureMm2, r.mAs}) {
        out += ',';
        out += number(v);
    }
    for (const auto& f : kRateFields) {
        out += ',';
        out += number((r.*f.member).value);
        out += ',';
        out += number((r.*f.member).uncertainty);
    }
    return out;
}

} // namespace quality
