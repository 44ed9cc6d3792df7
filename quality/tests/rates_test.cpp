// Rates of a spectrum with its live and real time against a computation made
// here: the air kerma from xraylib's air compound by name, the energy
// fluence in J/m2 and the coefficient in m2/kg (a path through other units
// than the library's), the counting uncertainty from the Poisson variance
// of each sum.
#include "quality/json.h"
#include "quality/rates.h"

#include <gtest/gtest.h>
#include <xraylib.h>
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace {

double muenAirCm2PerG(double e)
{
#if defined(__SANITIZE_ADDRESS__)
    __lsan::ScopedDisabler ignoreLibraryLeak;
#endif
    return CS_Energy_CP("Air, Dry (near sea level)", e, nullptr);
}

// A filtered 70 kV continuum on 0.5 keV channels (counts in the thousands).
std::vector<double> spectrum()
{
    std::vector<double> c(160, 0.0);
    for (std::size_t i = 20; i < 140; ++i) {
        const double e = (static_cast<double>(i) + 0.5) * 0.5;
        c[i] = std::round(4.0e4 * (70.0 - e) / e * std::exp(-0.12 * std::pow(30.0 / e, 3)));
    }
    return c;
}

struct Hand {
    double total = 0, totalVar = 0;
    double kermaUGy = 0, kermaVar = 0;  // for the counts through `areaMm2`
};

Hand byHand(const std::vector<double>& c, double w, double areaMm2)
{
    const double joulePerEV = 1.602176634e-19;  // elementary charge (SI, exact)
    const double areaM2 = areaMm2 * 1e-6;
    Hand h;
    for (std::size_t i = 0; i < c.size(); ++i) {
        if (c[i] == 0) continue;
        const double eKeV = (static_cast<double>(i) + 0.5) * w;
        // Energy fluence of the channel (J/m2) times (mu_en/rho) in m2/kg: Gy.
        const double psiPerPhoton = eKeV * 1e3 * joulePerEV / areaM2;
        const double muenM2PerKg = muenAirCm2PerG(eKeV) * 1e-4 * 1e3;
        const double grayPerPhoton = psiPerPhoton * muenM2PerKg;
        h.total += c[i];
        h.totalVar += c[i];
        h.kermaUGy += c[i] * grayPerPhoton * 1e6;
        h.kermaVar += c[i] * std::pow(grayPerPhoton * 1e6, 2);
    }
    return h;
}

TEST(Rates, CountFluenceAndAirKermaAgainstAComputationByHand)
{
    const std::vector<double> c = spectrum();
    quality::Options o;
    o.resamples = 400;
    const quality::BeamQuality q = quality::computeBeamQuality(c, 0.5, o);
    quality::Exposure e;
    e.liveTimeS = 48.5;
    e.realTimeS = 50.0;
    e.apertureMm2 = 0.785;  // a 1 mm pinhole
    e.mAs = 200.0;          // 4 mA over the real time
    const quality::Rates r = quality::computeRates(q, e);
    const Hand h = byHand(c, 0.5, 0.785);

    EXPECT_DOUBLE_EQ(r.liveTimeS.value, 48.5);
    EXPECT_DOUBLE_EQ(r.realTimeS.value, 50.0);
    EXPECT_NEAR(r.deadTimeFraction.value, 0.03, 1e-12);
    EXPECT_NEAR(r.countRatePerS.value, h.total / 48.5, 1e-9 * h.total);
    EXPECT_NEAR(r.fluenceRatePerMm2S.value, h.total / 48.5 / 0.785, 1e-9 * h.total);
    EXPECT_NEAR(r.airKermaRateUGyPerS.value, h.kermaUGy / 48.5, 1e-9 * h.kermaUGy);
    // Per mAs: the dead-time corrected photons of the whole acquisition.
    EXPECT_NEAR(r.countsPerMAs.value, h.total * (50.0 / 48.5) / 200.0, 1e-9 * h.total);
    EXPECT_NEAR(r.fluencePerMm2PerMAs.value, h.total * (50.0 / 48.5) / 0.785 / 200.0, 1e-9 * h.total);
    EXPECT_NEAR(r.airKermaPerMAsUGy.value, h.kermaUGy * (50.0 / 48.5) / 200.0, 1e-9 * h.kermaUGy);
    // Counting uncertainties from 400 resamples within 15 % of the Poisson variance.
    EXPECT_NEAR(r.countRatePerS.uncertainty, std::sqrt(h.totalVar) / 48.5, 0.15 * std::sqrt(h.totalVar) / 48.5);
    EXPECT_NEAR(r.airKermaRateUGyPerS.uncertainty, std::sqrt(h.kermaVar) / 48.5, 0.15 * std::sqrt(h.kermaVar) / 48.5);
    EXPECT_NEAR(r.airKermaPerMAsUGy.uncertainty / r.airKermaPerMAsUGy.value,
                r.airKermaRateUGyPerS.uncertainty / r.airKermaRateUGyPerS.value, 1e-12);
}

TEST(Rates, OnlyWhatTheKnownFactsAllow)
{
    const std::vector<double> c = spectrum();
    quality::Options o;
    o.resamples = 0;
    const quality::BeamQuality q = quality::computeBeamQuality(c, 0.5, o);
    auto known = [](double v) { return std::isfinite(v); };

    // Nothing known: every figure unknown, no text.
    quality::Exposure none;
    quality::Rates r = quality::computeRates(q, none);
    for (double v : {r.liveTimeS.value, r.realTimeS.value, r.deadTimeFraction.value, r.pileupShare.value,
                     r.countRatePerS.value, r.fluenceRatePerMm2S.value, r.airKermaRateUGyPerS.value,
                     r.countsPerMAs.value, r.airKermaPerMAsUGy.value, r.apertureMm2, r.mAs})
        EXPECT_FALSE(known(v));
    EXPECT_EQ(quality::formatRatesText(r, none), "");

    // Aperture and mAs without times: no rates, and the text says why.
    quality::Exposure untimed;
    untimed.apertureMm2 = 1.0;
    untimed.mAs = 10.0;
    r = quality::computeRates(q, untimed);
    EXPECT_FALSE(known(r.fluenceRatePerMm2S.value));
    EXPECT_NE(quality::formatRatesText(r, untimed).find("no live time"), std::string::npos);

    // The live time alone: the count rate, no dead time, no fluence without
    // an area, nothing per mAs without the real time.
    quality::Exposure live;
    live.liveTimeS = 10.0;
    live.mAs = 10.0;
    r = quality::computeRates(q, live);
    EXPECT_TRUE(known(r.countRatePerS.value));
    EXPECT_FALSE(known(r.deadTimeFraction.value));
    EXPECT_FALSE(known(r.fluenceRatePerMm2S.value));
    EXPECT_FALSE(known(r.airKermaRateUGyPerS.value));
    EXPECT_FALSE(known(r.countsPerMAs.value));
    const std::string text = quality::formatRatesText(r, live);
    EXPECT_NE(text.find("count rate: "), std::string::npos) << text;
    EXPECT_NE(text.find("--aperture-mm2"), std::string::npos) << text;
    EXPECT_NE(text.find("needs the real time"), std::string::npos) << text;

    // A converted spectrum: times and dead time, no rates.
    quality::Exposure converted;
    converted.liveTimeS = 9.0;
    converted.realTimeS = 10.0;
    converted.countsAtDetector = false;
    r = quality::computeRates(q, converted);
    EXPECT_NEAR(r.deadTimeFraction.value, 0.1, 1e-12);
    EXPECT_FALSE(known(r.countRatePerS.value));

    // A pile-up share the correction estimated is passed on.
    quality::Exposure piled;
    piled.pileupShare = quality::Value{0.021, 0.002};
    r = quality::computeRates(q, piled);
    EXPECT_DOUBLE_EQ(r.pileupShare.value, 0.021);
    EXPECT_DOUBLE_EQ(r.pileupShare.uncertainty, 0.002);
    EXPECT_NE(quality::formatRatesText(r, piled).find("pile-up share: 2.10 ± 0.20 %"), std::string::npos)
        << quality::formatRatesText(r, piled);
}

TEST(Rates, NonsenseRefused)
{
    quality::Options o;
    o.resamples = 0;
    const quality::BeamQuality q = quality::computeBeamQuality(spectrum(), 0.5, o);
    const double nan = std::nan("");
    for (double bad : {0.0, -1.0, nan, std::numeric_limits<double>::infinity()}) {
        quality::Exposure e;
        e.apertureMm2 = bad;
        EXPECT_THROW(quality::computeRates(q, e), quality::QualityError) << bad;
        e = {};
        e.mAs = bad;
        EXPECT_THROW(quality::computeRates(q, e), quality::QualityError) << bad;
        e = {};
        e.liveTimeS = bad;
        EXPECT_THROW(quality::computeRates(q, e), quality::QualityError) << bad;
    }
    quality::Exposure e;
    e.liveTimeS = 10.01;
    e.realTimeS = 10.0;
    try {
        quality::computeRates(q, e);
        ADD_FAILURE() << "a live time above the real time was taken";
    } catch (const quality::QualityError& x) {
        EXPECT_STREQ(x.what(), "the live time (10.01 s) is above the real time (10 s)");
    }
    // Within the 1 ms the readers allow for rounding: no dead time, no refusal.
    e.liveTimeS = 10.0005;
    EXPECT_EQ(quality::computeRates(q, e).deadTimeFraction.value, 0.0);
}

TEST(Rates, JsonAndCsvKeysWithNullsWhereUnknown)
{
    quality::Options o;
    o.resamples = 0;
    const quality::BeamQuality q = quality::computeBeamQuality(spectrum(), 0.5, o);
    nlohmann::ordered_json j = quality::jsonRecord(q, "a.mca");
    const std::size_t before = j.size();
    quality::addRatesJson(j, quality::computeRates(q, {}));
    const std::string line = quality::jsonLine(j);
    EXPECT_NE(line.find(R"("end_point_keV_u":null,"live_time_s":null,"real_time_s":null,"dead_time_fraction":null,)"
                        R"("pileup_share":null,"pileup_share_u":null,"aperture_mm2":null,"mAs":null,)"
                        R"("count_rate_per_s":null,"count_rate_per_s_u":null,"fluence_rate_per_mm2_s":null,)"
                        R"("fluence_rate_per_mm2_s_u":null,"air_kerma_rate_uGy_per_s":null,)"
                        R"("air_kerma_rate_uGy_per_s_u":null,"counts_per_mAs":null,"counts_per_mAs_u":null,)"
                        R"("fluence_per_mm2_per_mAs":null,"fluence_per_mm2_per_mAs_u":null,)"
                        R"("air_kerma_per_mAs_uGy":null,"air_kerma_per_mAs_uGy_u":null})"),
              std::string::npos)
        << line;
    EXPECT_EQ(j.size(), before + 19);

    quality::Exposure e;
    e.liveTimeS = 5.0;
    e.realTimeS = 8.0;
    const quality::Rates r = quality::computeRates(q, e);
    const std::string header = quality::ratesCsvHeader(), row = quality::ratesCsv(r);
    EXPECT_EQ(std::count(header.begin(), header.end(), ','), std::count(row.begin(), row.end(), ','));
    EXPECT_EQ(row.rfind("5,8,0.375,,,,,", 0), 0u) << row;
}

} // namespace
