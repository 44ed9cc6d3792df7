// Beam-quality figures against computations made here from xraylib
// directly (the air data through xraylib's compound lookup by name, not the
// element mixture the library uses).
#include "quality/beamquality.h"

#include <gtest/gtest.h>
#include <xraylib.h>
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using quality::BeamQuality;

double muAl(double e) { return CS_Total(13, e, nullptr) * ElementDensity(13, nullptr) / 10.0; }
double muCu(double e) { return CS_Total(29, e, nullptr) * ElementDensity(29, nullptr) / 10.0; }
// xraylib's compound lookup by name leaks a few bytes per call inside the
// library; the leak checker of sanitizer builds is told to ignore them.
double muenAir(double e)
{
#if defined(__SANITIZE_ADDRESS__)
    __lsan::ScopedDisabler ignoreLibraryLeak;
#endif
    return CS_Energy_CP("Air, Dry (near sea level)", e, nullptr);
}
double centre(int channel, double w) { return (channel - 0.5) * w; }

// Air kerma behind t mm, and its thickness for a share of K(0), by
// bisection (independent of the library's Newton iteration).
struct Beam {
    std::vector<double> e, n;
    double kerma(double t, double (*mu)(double)) const
    {
        double k = 0;
        for (std::size_t i = 0; i < e.size(); ++i)
            if (e[i] >= 1.0) k += n[i] * e[i] * muenAir(e[i]) * std::exp(-mu(e[i]) * t);
        return k;
    }
    double thickness(double share, double (*mu)(double)) const
    {
        const double target = share * kerma(0, mu);
        double lo = 0, hi = 1;
        while (kerma(hi, mu) > target) hi *= 2;
        for (int i = 0; i < 80; ++i) {
            const double mid = 0.5 * (lo + hi);
            (kerma(mid, mu) > target ? lo : hi) = mid;
        }
        return 0.5 * (lo + hi);
    }
};

// Kramers' continuum (E0 - E)/E integrated over each channel, filtered by
// alMm of aluminium at the channel centre.
std::vector<double> kramers(double e0, double alMm, double w, int channels = 1024)
{
    std::vector<double> c(channels, 0.0);
    for (int i = 1; i <= channels; ++i) {
        const double a = (i - 1) * w, b = std::min(i * w, e0);
        if (b <= a || a <= 0) continue;
        c[i - 1] = 1e6 * (e0 * std::log(b / a) - (b - a)) * std::exp(-muAl(centre(i, w)) * alMm);
    }
    return c;
}

Beam beamOf(const std::vector<double>& counts, double w)
{
    Beam b;
    for (std::size_t i = 0; i < counts.size(); ++i) {
        b.e.push_back(centre(static_cast<int>(i) + 1, w));
        b.n.push_back(counts[i]);
    }
    return b;
}

quality::Options noResampling()
{
    quality::Options o;
    o.resamples = 0;
    return o;
}

TEST(QualityFigures, MonoenergeticBeamHasHvlLn2OverMuInBothMetals)
{
    const double w = 0.1;
    for (int channel : {150, 300, 600, 1000}) {
        std::vector<double> counts(1024, 0.0);
        counts[channel - 1] = 12345;
        const double e = centre(channel, w);
        const BeamQuality q = quality::computeBeamQuality(counts, w, noResampling());
        SCOPED_TRACE(e);
        EXPECT_DOUBLE_EQ(q.total.value, 12345);
        EXPECT_NEAR(q.meanEnergyKeV.value, e, 1e-12);
        EXPECT_NEAR(q.kermaMeanEnergyKeV.value, e, 1e-12);
        EXPECT_NEAR(q.hvl1AlMm.value, std::log(2.0) / muAl(e), 1e-9 * q.hvl1AlMm.value);
        EXPECT_NEAR(q.hvl2AlMm.value, std::log(2.0) / muAl(e), 1e-9 * q.hvl1AlMm.value);
        EXPECT_NEAR(q.hvl1CuMm.value, std::log(2.0) / muCu(e), 1e-9 * q.hvl1CuMm.value);
        EXPECT_NEAR(q.hvl2CuMm.value, std::log(2.0) / muCu(e), 1e-9 * q.hvl1CuMm.value);
        EXPECT_NEAR(q.homogeneityAl.value, 1.0, 1e-9);
        EXPECT_NEAR(q.homogeneityCu.value, 1.0, 1e-9);
        EXPECT_NEAR(q.effectiveEnergyKeV.value, e, 1e-5);
        // A line: the upper edge of its channel.
        EXPECT_NEAR(q.endPointKeV.value, channel * w, 1e-9);
    }
}

TEST(QualityFigures, TwoEnergyBeamMeetsTheKermaConditions)
{
    const double w = 0.2;
    std::vector<double> counts(1024, 0.0);
    counts[99] = 4000;   // 19.9 keV
    counts[399] = 1000;  // 79.9 keV
    const BeamQuality q = quality::computeBeamQuality(counts, w, noResampling());
    const Beam b = beamOf(counts, w);
    const double e1 = centre(100, w), e2 = centre(400, w);
    EXPECT_NEAR(q.meanEnergyKeV.value, (4000 * e1 + 1000 * e2) / 5000, 1e-12);
    const double k1 = 4000 * e1 * muenAir(e1), k2 = 1000 * e2 * muenAir(e2);
    EXPECT_NEAR(q.kermaMeanEnergyKeV.value, (k1 * e1 + k2 * e2) / (k1 + k2), 1e-6);
    for (auto [mu, h1, h2] : {std::tuple{&muAl, q.hvl1AlMm.value, q.hvl2AlMm.value},
                              std::tuple{&muCu, q.hvl1CuMm.value, q.hvl2CuMm.value}}) {
        const double k0 = b.kerma(0, mu);
        EXPECT_NEAR(b.kerma(h1, mu) / k0, 0.5, 1e-7);
        EXPECT_NEAR(b.kerma(h1 + h2, mu) / k0, 0.25, 1e-7);
        // The soft part goes first: the second layer is thicker.
        EXPECT_GT(h2, h1);
        EXPECT_GT(h1, std::log(2.0) / mu(e1));
        EXPECT_LT(h1, std::log(2.0) / mu(e2));
    }
    EXPECT_LT(q.homogeneityAl.value, 1.0);
    EXPECT_NEAR(muAl(q.effectiveEnergyKeV.value), std::log(2.0) / q.hvl1AlMm.value, 1e-7 * muAl(e1));
}

TEST(QualityFigures, ModelSpectraMatchAnIndependentComputation)
{
    struct Case { double kv, al, w; };
    for (const Case c : {Case{50, 2.5, 0.1}, Case{80, 2.5, 0.1}, Case{120, 4.0, 0.15}}) {
        SCOPED_TRACE(c.kv);
        const auto counts = kramers(c.kv, c.al, c.w);
        const BeamQuality q = quality::computeBeamQuality(counts, c.w, noResampling());
        const Beam b = beamOf(counts, c.w);
        const double h1 = b.thickness(0.5, &muAl), q1 = b.thickness(0.25, &muAl);
        const double c1 = b.thickness(0.5, &muCu), cq = b.thickness(0.25, &muCu);
        EXPECT_NEAR(q.hvl1AlMm.value, h1, 1e-6 * h1);
        EXPECT_NEAR(q.hvl2AlMm.value, q1 - h1, 1e-6 * h1);
        EXPECT_NEAR(q.hvl1CuMm.value, c1, 1e-6 * c1);
        EXPECT_NEAR(q.hvl2CuMm.value, cq - c1, 1e-6 * c1);
        double n = 0, ne = 0;
        for (std::size_t i = 0; i < b.e.size(); ++i) { n += b.n[i]; ne += b.n[i] * b.e[i]; }
        EXPECT_NEAR(q.meanEnergyKeV.value, ne / n, 1e-9);
        // A filtered continuum ends on a straight line in the square root of
        // its tail; the fit lands within a tenth of a channel of the voltage.
        EXPECT_NEAR(q.endPointKeV.value, c.kv, 0.1 * c.w);
    }
}

TEST(QualityFigures, EndPointOfALinearRampIsExact)
{
    // Energy fluence falling linearly to zero at 80.03 keV, integrated per
    // channel (0.1 keV) and carried by photons at the channel centres: the
    // energy above each edge is exactly quadratic.
    const double e0 = 80.03, w = 0.1;
    std::vector<double> counts(1024, 0.0);
    for (int i = 1; i <= 1024; ++i) {
        const double a = (i - 1) * w, b = std::min(i * w, e0);
        if (b > a) counts[i - 1] = 1000.0 * ((e0 - a) * (e0 - a) - (e0 - b) * (e0 - b)) / 2.0 / centre(i, w);
    }
    const BeamQuality q = quality::computeBeamQuality(counts, w, noResampling());
    EXPECT_NEAR(q.endPointKeV.value, e0, 1e-6);
}

// Standard radiation qualities RQR 3, 5 and 9 (IEC 61267:2005, first HVL of
// air kerma as listed by the Radiation Physics and Protection Service,
// University Hospitals Birmingham, "X-ray radiation qualities", table 1:
// 50 kV 1.8 mm Al, 70 kV 2.6 mm Al, 120 kV 5.0 mm Al).  A Kramers spectrum
// of that voltage filtered to the published first HVL must then show the
// homogeneity of a tube beam: the second layer thicker than the first, the
// effective energy between a third and two thirds of the voltage, and an
// Al filtration of the model that a real tube could have (1 to 6 mm).
TEST(QualityFigures, PublishedStandardQualitiesFromAModelSpectrum)
{
    struct Rqr { double kv, hvl; };
    for (const Rqr r : {Rqr{50, 1.8}, Rqr{70, 2.6}, Rqr{120, 5.0}}) {
        SCOPED_TRACE(r.kv);
        double lo = 0, hi = 20;
        for (int i = 0; i < 40; ++i) {
            const double mid = 0.5 * (lo + hi);
            const auto q = quality::computeFigures(kramers(r.kv, mid, 0.2), *quality::attenuationFor(0.2, 1024));
            (q.hvl1AlMm.value < r.hvl ? lo : hi) = mid;
        }
        const double filter = 0.5 * (lo + hi);
        const BeamQuality q = quality::computeBeamQuality(kramers(r.kv, filter, 0.2), 0.2, noResampling());
        EXPECT_NEAR(q.hvl1AlMm.value, r.hvl, 1e-3);
        EXPECT_GT(filter, 1.0);
        EXPECT_LT(filter, 6.0);
        EXPECT_GT(q.homogeneityAl.value, 0.5);
        EXPECT_LT(q.homogeneityAl.value, 1.0);
        EXPECT_GT(q.effectiveEnergyKeV.value, r.kv / 3);
        EXPECT_LT(q.effectiveEnergyKeV.value, 2 * r.kv / 3);
        EXPECT_GT(q.hvl1CuMm.value, 0.0);
        EXPECT_LT(q.hvl1CuMm.value, q.hvl1AlMm.value / 5);
    }
}

std::vector<double> readDemoCounts(const std::string& name)
{
    std::ifstream in(std::string(TARVIK_DEMO_DIR) + "/" + name);
    std::vector<double> counts;
    std::string line;
    int n = 0;
    while (std::getline(in, line)) {
        if (++n < 32) continue;
        std::stringstream ss(line);
        std::string ch, e, c;
        std::getline(ss, ch, ',');
        std::getline(ss, e, ',');
        std::getline(ss, c, ',');
        counts.push_back(std::stod(c));
    }
    return counts;
}

TEST(QualityFigures, SimulatedMeasurementEndsAtItsTubeVoltage)
{
    // The 80 kV demo spectrum, measured through a detector model with
    // resolution broadening and charge loss.
    const auto counts = readDemoCounts("W80kV_2.5mmAl_direct.csv");
    ASSERT_EQ(counts.size(), 1024u);
    quality::Options o;
    o.resamples = 20;
    const BeamQuality q = quality::computeBeamQuality(counts, 0.1, o);
    EXPECT_NEAR(q.endPointKeV.value, 80.0, 1.0);
    EXPECT_GT(q.endPointKeV.uncertainty, 0.0);
    EXPECT_LT(q.endPointKeV.uncertainty, 0.5);
}

TEST(QualityFigures, LowerLimitLeavesOutTheNoiseChannels)
{
    // Noise in the lowest channels (below 5 keV) changes every kerma figure;
    // with the limit the figures are those of the spectrum without it.
    const double w = 0.1;
    const auto clean = kramers(80, 2.5, w);
    auto noisy = clean;
    for (int i = 0; i < 50; ++i) noisy[i] += 3000;
    quality::Options o = noResampling();
    o.lowerLimitKeV = 5.0;
    const BeamQuality a = quality::computeBeamQuality(noisy, w, o);
    const BeamQuality b = quality::computeBeamQuality(clean, w, noResampling());
    const BeamQuality raw = quality::computeBeamQuality(noisy, w, noResampling());
    EXPECT_EQ(a.hvl1AlMm.value, b.hvl1AlMm.value);
    EXPECT_EQ(a.total.value, b.total.value);
    EXPECT_EQ(a.endPointKeV.value, b.endPointKeV.value);
    EXPECT_LT(raw.hvl1AlMm.value, 0.5 * b.hvl1AlMm.value);
    o.lowerLimitKeV = 90.0;
    EXPECT_THROW(quality::computeBeamQuality(noisy, w, o), quality::QualityError);
}

TEST(QualityErrors, RefusedSpectraSayWhy)
{
    const double w = 0.1;
    std::vector<double> counts(1024, 0.0);
    try {
        quality::computeBeamQuality(counts, w, noResampling());
        FAIL() << "an empty spectrum was accepted";
    } catch (const quality::QualityError& e) {
        EXPECT_NE(std::string(e.what()).find("no counts"), std::string::npos) << e.what();
    }
    counts[3] = 100;  // 0.35 keV only: photons, but no air kerma data there
    try {
        quality::computeBeamQuality(counts, w, noResampling());
        FAIL() << "a spectrum without kerma was accepted";
    } catch (const quality::QualityError& e) {
        EXPECT_NE(std::string(e.what()).find("air kerma"), std::string::npos) << e.what();
    }
    // Channels so narrow that all of them lie below the air data: the
    // message still names an energy, never "nan".
    std::vector<double> tiny(8, 5.0);
    try {
        quality::computeBeamQuality(tiny, 0.01, noResampling());
        FAIL() << "a spectrum below the air data was accepted";
    } catch (const quality::QualityError& e) {
        const std::string m = e.what();
        EXPECT_NE(m.find("air kerma"), std::string::npos) << m;
        EXPECT_EQ(m.find("nan"), std::string::npos) << m;
    }
    // A hard component almost cancelled by a negative soft one (as a
    // correction can leave): the kerma halves only far beyond 100 mm Al.
    std::vector<double> c2(1024, 0.0);
    const double eh = centre(1000, w), es = centre(200, w);
    c2[999] = 1e6;
    c2[199] = -0.999 * 1e6 * eh * muenAir(eh) / (es * muenAir(es));
    try {
        quality::computeBeamQuality(c2, w, noResampling());
        FAIL() << "an HVL beyond 100 mm Al was accepted";
    } catch (const quality::QualityError& e) {
        EXPECT_NE(std::string(e.what()).find("exceeds 100 mm"), std::string::npos) << e.what();
    }
    // Counts where xraylib has no attenuation data (1 keV channels).
    std::vector<double> c3(1024, 0.0);
    c3[899] = 10;
    try {
        quality::computeBeamQuality(c3, 1.0, noResampling());
        FAIL() << "a channel above the data was accepted";
    } catch (const quality::QualityError& e) {
        EXPECT_NE(std::string(e.what()).find("above the attenuation data"), std::string::npos) << e.what();
    }
    EXPECT_THROW(quality::computeBeamQuality(counts, 0.0, noResampling()), quality::QualityError);
    EXPECT_THROW(quality::computeBeamQuality(counts, std::nan(""), noResampling()), quality::QualityError);
    // Counts whose sums overflow (a script's array, not a measurement).
    std::vector<double> huge(1024, 0.0);
    huge[299] = huge[300] = 1.5e308;
    try {
        quality::computeBeamQuality(huge, w, noResampling());
        FAIL() << "figures of overflowing sums were given";
    } catch (const quality::QualityError& e) {
        EXPECT_NE(std::string(e.what()).find("too large"), std::string::npos) << e.what();
    }
}

TEST(QualityUncertainty, CountsBeyondAnyCountingAreResampledToo)
{
    // A channel of 1e300 once kept the Poisson draw busy without end, and
    // one beyond the range of its integer would not fit it.
    std::vector<double> counts(1024, 0.0);
    counts[299] = 1e300;
    quality::Options o;
    o.resamples = 20;
    EXPECT_EQ(quality::computeBeamQuality(counts, 0.1, o).resamplesUsed, 20);
    counts[299] = 1e20;
    counts[499] = 5e19;
    const BeamQuality q = quality::computeBeamQuality(counts, 0.1, o);
    EXPECT_NEAR(q.total.uncertainty, std::sqrt(1.5e20), 0.5 * std::sqrt(1.5e20));
}

TEST(QualityUncertainty, PoissonResamplingGivesTheCountingErrors)
{
    const double w = 0.1;
    std::vector<double> counts(1024, 0.0);
    const double n1 = 30000, n2 = 10000;
    counts[299] = n1;  // 29.95 keV
    counts[699] = n2;  // 69.95 keV
    quality::Options o;
    o.resamples = 400;
    const BeamQuality q = quality::computeBeamQuality(counts, w, o);
    EXPECT_EQ(q.resamplesUsed, 400);
    // With 400 resamples a standard deviation is known to 3.5 %.
    EXPECT_NEAR(q.total.uncertainty, std::sqrt(n1 + n2), 0.15 * std::sqrt(n1 + n2));
    const double p = n1 / (n1 + n2), de = centre(700, w) - centre(300, w);
    const double sdMean = de * std::sqrt(p * (1 - p) / (n1 + n2));
    EXPECT_NEAR(q.meanEnergyKeV.uncertainty, sdMean, 0.15 * sdMean);
    // The end point of a line does not move with its counts.
    EXPECT_EQ(q.endPointKeV.uncertainty, 0.0);

    // Same seed, same figures; no resamples, no uncertainties.
    const BeamQuality again = quality::computeBeamQuality(counts, w, o);
    EXPECT_EQ(again.hvl1AlMm.uncertainty, q.hvl1AlMm.uncertainty);
    o.resamples = 0;
    EXPECT_TRUE(std::isnan(quality::computeBeamQuality(counts, w, o).hvl1AlMm.uncertainty));
}

TEST(QualityUncertainty, ResamplesTheMeasuredCountsThroughTheChain)
{
    // A correction that doubles every channel: the result's total varies by
    // 2·sqrt(N) when the measurement is resampled, by sqrt(2N) if the
    // result itself were taken as Poisson counts.
    const double w = 0.1, n = 40000;
    std::vector<double> measured(1024, 0.0);
    measured[499] = n;
    const quality::Chain doubled = [](std::span<const double> c) {
        std::vector<double> out(c.begin(), c.end());
        for (double& v : out) v *= 2;
        return out;
    };
    quality::Options o;
    o.resamples = 400;
    const BeamQuality q = quality::computeBeamQualityThrough(measured, w, doubled, o);
    EXPECT_DOUBLE_EQ(q.total.value, 2 * n);
    EXPECT_NEAR(q.total.uncertainty, 2 * std::sqrt(n), 0.15 * 2 * std::sqrt(n));

    // A chain that fails on some resamples: those are left out.
    int calls = 0;
    const quality::Chain flaky = [&](std::span<const double> c) {
        if (++calls % 2 == 0) throw std::runtime_error("failed");
        return std::vector<double>(c.begin(), c.end());
    };
    o.resamples = 10;
    const BeamQuality f = quality::computeBeamQualityThrough(measured, w, flaky, o);
    EXPECT_EQ(f.resamplesUsed, 5);
}

TEST(QualityAttenuation, DensitiesAndAirComeFromXraylib)
{
    const auto held = quality::attenuationFor(0.1, 1024);
    const auto& att = *held;
    EXPECT_NEAR(att.aluminiumDensity, 2.699, 5e-4);
    EXPECT_NEAR(att.copperDensity, 8.96, 5e-3);
    // The element mixture equals xraylib's own compound lookup.
    for (int i : {10, 99, 499, 1023})
        EXPECT_NEAR(att.muenAir[i], muenAir(att.energyKeV[i]), 1e-6 * att.muenAir[i]);
    EXPECT_EQ(att.muenAir[0], 0.0);  // 0.05 keV: below the energy-absorption data
    EXPECT_NEAR(att.lowestKermaEnergyKeV, 1.05, 1e-12);
}

} // namespace
