#include "conv/conversion.h"
#include "conv/scatterer.h"
#include "conv/vecmath.h"
#include "test_tables.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <random>
#include <vector>

namespace tvconv {
namespace {

using testing::humpSpectrum;
using testing::syntheticScatterer;

// ---- a straightforward transcription of the conversion, step by step, to
// ---- hold the precomputing fast path to bit-identical results ----

Spectrum referenceConvert(const ConversionInput& in, const ScattererData& d)
{
    std::vector<float> E, X;
    std::vector<double> C, MU, S;
    for (const auto& r : d.coefficients) {
        E.push_back(r.energy);
        C.push_back(double(r.c1) + double(r.c2));
        MU.push_back(r.mu);
    }
    for (const auto& r : d.scattering) {
        X.push_back(r.x);
        S.push_back(r.s);
    }
    const double PI = 3.14159f, L12 = 12.4f;
    const double W = in.channelWidth;
    auto N = [&](int i) { return in.counts[std::size_t(i - 1)]; };
    auto sq = [](double v) { return v * v; };

    float theta = float((double(in.angle) / 180.0) * PI);
    float Tm = 0;
    for (int i = 2; i <= 1024; ++i) Tm = float(double(Tm) + N(i));
    int K = 1024;
    for (int i = 300; i <= 1024; ++i)
        if (N(i) == 0) { K = i; break; }
    std::vector<float> P(1025, 0.0f);
    for (int i = 21; i <= K; ++i) {
        float E0 = float(i * W - W * 0.5);
        float Elo = float(E0 - W * 0.5);
        float Ehi = float(W * 0.5 + E0);
        auto inv = [&](float e) { return float((511.0 * e) / (511.0 - (1.0 - std::cos(double(theta))) * e)); };
        float E1 = inv(E0), E1lo = inv(Elo), E1hi = inv(Ehi);
        float x = float(std::sin(theta / 2.0) / (L12 / E1));
        float s = interpolateLogLog(X, S, x, LookupKind::scatteringFunction);
        float D = float((double(E1) / E0 + double(E0) / E1 - sq(std::sin(double(theta)))) * sq(double(E0) / E1) * s);
        float sigma = 0;
        for (int j = 1; j <= 180; ++j) {
            double phiU = (j / 180.0) * PI;
            float phi = float(phiU);
            float Ep = float(E1 / ((1.0 - std::cos(phiU)) * (E1 / 511.0) + 1.0));
            float xx = float(std::sin(phi / 2.0) / (L12 / E1));
            float ss = interpolateLogLog(X, S, xx, LookupKind::scatteringFunction);
            double term = (double(E1) / Ep + double(Ep) / E1 - sq(std::sin(double(phi)))) * std::sin(double(phi)) *
                          sq(double(Ep) / E1) * ss * PI * 2.0;
            sigma = float(term + sigma);
        }
        float G = float(double(D) / sigma);
        float Cc = interpolateLogLog(E, C, E1, LookupKind::coefficient);
        int lo = int(E1lo / W) + 1, hi = int(E1hi / W) + 1;
        double delta = double(E1hi) - E1lo;
        for (int m = lo; m <= hi; ++m) {
            float f;
            if (m == lo && m == hi) f = 1.0f;
            else if (m == lo) f = float((m * W - E1lo) / delta);
            else if (m == hi) f = float((E1hi - (m - 1) * W) / delta);
            else f = float(W / delta);
            if (m <= 1024) P[std::size_t(m)] = float(double(N(i)) / G / Cc * f + P[std::size_t(m)]);
        }
    }
    float Tp = 0;
    for (int m = 2; m <= 1024; ++m) Tp = float(double(Tp) + P[std::size_t(m)]);
    Spectrum Q{};
    for (int m = 1; m <= 1024; ++m) Q[std::size_t(m - 1)] = std::int32_t(double(P[std::size_t(m)]) * Tm / Tp);
    for (int m = 117; m <= 1024; ++m) {
        float Em = float(m * W);
        float mu = interpolateLogLog(E, MU, Em, LookupKind::coefficient);
        double a = std::exp(-double(mu) * in.attenuationLength);
        if (a > 0.0) Q[std::size_t(m - 1)] = std::int32_t(Q[std::size_t(m - 1)] / a);
    }
    return Q;
}

ConversionInput typicalInput(float width = 0.1f, int angle = 90, float length = 1.0f, int lastNonZero = 1024,
                             std::uint32_t seed = 1)
{
    ConversionInput in;
    in.counts = humpSpectrum(width, lastNonZero, seed);
    in.angle = angle;
    in.attenuationLength = length;
    in.channelWidth = width;
    return in;
}

std::int64_t sumFrom2(const Spectrum& s) { return std::accumulate(s.begin() + 1, s.end(), std::int64_t{0}); }

float measuredTotal(const Spectrum& n)
{
    float t = 0;
    for (int i = 2; i <= 1024; ++i) t = float(double(t) + n[std::size_t(i - 1)]);
    return t;
}

// ---- worked values ----

TEST(ConversionSteps, WorkedValues)
{
    const float theta90 = angleInRadians(90);
    // π is the single-precision 3.14159, so cos 90° is not 0.
    EXPECT_NEAR(std::cos(double(theta90)), 1.27e-6, 0.01e-6);
    EXPECT_NEAR(primaryEnergy(50.0f, theta90), 55.423, 0.0005);

    const ChannelEnergies c300 = channelEnergies(300, 0.15f);
    EXPECT_NEAR(c300.centre, 44.925, 1e-4);
    const float theta180 = angleInRadians(180);
    const float e1 = primaryEnergy(c300.centre, theta180);
    EXPECT_NEAR(e1, 54.510, 0.0005);
    EXPECT_NEAR(momentumTransfer(theta180, e1), 4.396, 0.0005);

    const ChannelEnergies c100 = channelEnergies(100, 1.0f);
    EXPECT_EQ(c100.centre, 99.5f);
    EXPECT_EQ(c100.lower, 99.0f);
    EXPECT_EQ(c100.upper, 100.0f);
    const float lo = primaryEnergy(c100.lower, theta90), hi = primaryEnergy(c100.upper, theta90);
    EXPECT_NEAR(primaryEnergy(c100.centre, theta90), 123.5589, 5e-4);
    EXPECT_NEAR(lo, 122.7888, 5e-4);
    EXPECT_NEAR(hi, 124.3309, 5e-4);
    const std::vector<Share> shares = spreadShares(lo, hi, 1.0f);
    ASSERT_EQ(shares.size(), 3u);
    EXPECT_EQ(shares[0].channel, 123);
    EXPECT_EQ(shares[1].channel, 124);
    EXPECT_EQ(shares[2].channel, 125);
    EXPECT_NEAR(shares[0].f, 0.1370, 5e-5);
    EXPECT_NEAR(shares[1].f, 0.6485, 5e-5);
    EXPECT_NEAR(shares[2].f, 0.2146, 5e-5);
}

TEST(ConversionSteps, SharesCoverTheIntervalOnce)
{
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> start(2.0f, 90.0f), len(0.001f, 1.5f);
    for (int t = 0; t < 500; ++t) {
        const float w = 0.1f, lo = start(rng), hi = lo + len(rng);
        const std::vector<Share> s = spreadShares(lo, hi, w);
        ASSERT_FALSE(s.empty());
        double sum = 0;
        for (std::size_t k = 0; k < s.size(); ++k) {
            EXPECT_GE(s[k].f, 0.0f);
            EXPECT_LE(s[k].f, 1.0f);
            if (k > 0) {
                EXPECT_EQ(s[k].channel, s[k - 1].channel + 1);
            }
            sum += s[k].f;
        }
        EXPECT_NEAR(sum, 1.0, 1e-5) << "interval " << lo << " .. " << hi;
    }
    // Both ends in one channel: the whole contribution goes there.
    const std::vector<Share> one = spreadShares(12.31f, 12.38f, 0.1f);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].channel, 124);
    EXPECT_EQ(one[0].f, 1.0f);
    // Channels above 1024 are dropped, the shares below them kept.
    const std::vector<Share> top = spreadShares(102.25f, 102.65f, 0.1f);
    ASSERT_EQ(top.size(), 2u);
    EXPECT_EQ(top.back().channel, 1024);
    EXPECT_NEAR(top[0].f + top[1].f, 0.375, 1e-5);
    EXPECT_TRUE(spreadShares(150.0f, 160.0f, 0.1f).empty());
    EXPECT_TRUE(spreadShares(1e30f, 2e30f, 0.1f).empty());
}

TEST(ConversionSteps, EndChannel)
{
    Spectrum s;
    s.fill(5);
    EXPECT_EQ(endChannel(s), 1024) << "no zero from 300 on: the search stops at the last channel";
    s[100] = 0;
    EXPECT_EQ(endChannel(s), 1024) << "zeros below channel 300 do not count";
    s[299] = 0;
    EXPECT_EQ(endChannel(s), 300);
    s[299] = 5;
    s[309] = 0;  // channel 310
    EXPECT_EQ(endChannel(s), 310);
    s[1023] = 0;
    EXPECT_EQ(endChannel(s), 310);
}

TEST(LogLogInterpolation, PowerLawsAndTableRows)
{
    // v = 3·u^-2 is a straight line in log-log: any target reproduces it.
    const std::vector<float> u{1.0f, 2.0f, 4.0f, 8.0f, 16.0f};
    std::vector<double> v;
    for (float x : u) v.push_back(3.0 / (double(x) * x));
    for (LookupKind kind : {LookupKind::scatteringFunction, LookupKind::coefficient}) {
        EXPECT_NEAR(interpolateLogLog(u, v, 3.0f, kind), 3.0 / 9.0, 1e-6);
        EXPECT_NEAR(interpolateLogLog(u, v, 10.0f, kind), 0.03, 1e-7);
        // Below the first abscissa: extrapolated along the first two rows.
        EXPECT_NEAR(interpolateLogLog(u, v, 0.5f, kind), 12.0, 1e-4);
        // At an abscissa other than the last: its value.
        EXPECT_NEAR(interpolateLogLog(u, v, 4.0f, kind), 3.0 / 16.0, 1e-7);
        EXPECT_THROW(interpolateLogLog(u, v, 16.0f, kind), ConversionError);
        EXPECT_THROW(interpolateLogLog(u, v, 20.0f, kind), ConversionError);
        EXPECT_THROW(interpolateLogLog(u, v, 0.0f, kind), ConversionError);
    }
}

// ---- the whole conversion ----

TEST(ConvertSpectrum, FastPathIsBitIdenticalToTheStepByStepConversion)
{
    // The synthetic tables and the shipped scatterers, with the four-lane
    // logarithms and exponentials (where the processor has them) and
    // without.
    const std::vector<ScattererData> scatterers = {syntheticScatterer(),
                                                   readScattererFile(std::string(TARVIK_DATA_DIR) + "/Carbon.dat"),
                                                   readScattererFile(std::string(TARVIK_DATA_DIR) + "/PMMA.dat")};
    std::mt19937 rng(2024);
    std::uniform_int_distribution<int> angle(1, 180), last(290, 1024);
    std::uniform_real_distribution<float> width(0.03f, 0.2f), length(0.0f, 0.6f);
    for (const bool vector : {true, false}) {
        vecmath::allowVectorPath(vector);
        for (const ScattererData& d : scatterers)
            for (int t = 0; t < 4; ++t) {
                // Drawn one after the other, in the order GCC evaluates the
                // arguments of a call (the last first); clang takes them the
                // other way round, which would give other cases, some of
                // them beyond what the conversion accepts.
                const std::uint32_t seed = rng();
                const int lastChannel = last(rng);
                const float l = length(rng);
                const int a = angle(rng);
                const float w = width(rng);
                ConversionInput in = typicalInput(w, a, l, lastChannel, seed);
                SCOPED_TRACE(d.file + ", W = " + std::to_string(in.channelWidth) + ", A = " +
                             std::to_string(in.angle) + (vector ? ", four lanes" : ", one at a time"));
                EXPECT_EQ(convertSpectrum(in, d), referenceConvert(in, d));
            }
    }
    vecmath::allowVectorPath(true);
}

TEST(ConvertSpectrum, ProgressForEveryConvertedChannelInOrder)
{
    const ScattererData d = syntheticScatterer();
    ConversionInput in = typicalInput(0.1f, 90, 1.0f, 309);  // zero at 310
    in.counts[320] = 77;                                      // counts again after the zero
    std::vector<int> seen;
    convertSpectrum(in, d, [&](int i) { seen.push_back(i); });
    ASSERT_EQ(seen.size(), 310u - 20u);
    for (std::size_t k = 0; k < seen.size(); ++k) EXPECT_EQ(seen[k], 21 + int(k));
}

TEST(ConvertSpectrum, NormalisationKeepsTheMeasuredTotal)
{
    const ScattererData d = syntheticScatterer();
    ConversionInput in = typicalInput(0.1f, 120, 0.0f, 800);
    const Spectrum q = convertSpectrum(in, d);
    for (int m = 1; m <= 20; ++m) EXPECT_EQ(q[std::size_t(m - 1)], 0) << "channel " << m;
    for (std::int32_t v : q) EXPECT_GE(v, 0);
    const double tm = measuredTotal(in.counts);
    const std::int64_t sum = sumFrom2(q);
    EXPECT_LE(double(sum), tm * (1 + 1e-5));
    EXPECT_GE(double(sum), tm * (1 - 1e-5) - 1023);

    // Counts in channels 2..20 and above K only raise the measured total:
    // the shape stays, the scale follows the total.
    ConversionInput more = in;
    more.counts[4] += 50000;    // channel 5
    more.counts[900] += 70000;  // channel 901, above K = 801
    const Spectrum q2 = convertSpectrum(more, d);
    const double scale = measuredTotal(more.counts) / tm;
    for (int m = 21; m <= 1024; ++m)
        EXPECT_NEAR(q2[std::size_t(m - 1)], q[std::size_t(m - 1)] * scale, 1.0 + 1e-5 * q2[std::size_t(m - 1)]);
}

TEST(ConvertSpectrum, AttenuationCorrectionFromChannel117)
{
    const ScattererData d = syntheticScatterer();
    const ConversionInput plain = typicalInput(0.1f, 90, 0.0f);
    ConversionInput thick = plain;
    thick.attenuationLength = 2.5f;
    const Spectrum q0 = convertSpectrum(plain, d);
    const Spectrum q1 = convertSpectrum(thick, d);
    for (int m = 1; m <= 116; ++m) EXPECT_EQ(q1[std::size_t(m - 1)], q0[std::size_t(m - 1)]) << "channel " << m;
    std::vector<float> energies;
    std::vector<double> mus;
    for (const CoefficientRow& r : d.coefficients) {
        energies.push_back(r.energy);
        mus.push_back(r.mu);
    }
    bool raised = false;
    for (int m = 117; m <= 1024; ++m) {
        const std::int32_t a = q0[std::size_t(m - 1)], b = q1[std::size_t(m - 1)];
        EXPECT_GE(b, a) << "channel " << m;
        if (a > 1000) {
            // Q(m) / exp(−μ L) with μ from the table at the channel's upper edge.
            const double mu = interpolateLogLog(energies, mus, float(m * 0.1), LookupKind::coefficient);
            EXPECT_NEAR(double(b) / a, std::exp(mu * 2.5), 2e-3) << "channel " << m;
            raised = true;
        }
    }
    EXPECT_TRUE(raised);
}

// ---- input the conversion refuses ----

std::string refusal(const ConversionInput& in, const ScattererData& d)
{
    int progressCalls = 0;
    try {
        convertSpectrum(in, d, [&](int) { ++progressCalls; });
    } catch (const ConversionError& e) {
        EXPECT_EQ(progressCalls, 0) << "refused only after converting: " << e.what();
        return e.what();
    }
    ADD_FAILURE() << "accepted";
    return {};
}

TEST(ConvertSpectrum, RefusesInputOutsideTheDomainBeforeConverting)
{
    const ScattererData d = syntheticScatterer();

    ConversionInput zeroWidth = typicalInput();
    zeroWidth.channelWidth = 0.0f;
    EXPECT_NE(refusal(zeroWidth, d).find("channel width is 0"), std::string::npos);

    ConversionInput zeroAngle = typicalInput();
    zeroAngle.angle = 0;
    EXPECT_NE(refusal(zeroAngle, d).find("angle of 0 degrees"), std::string::npos);
    zeroAngle.angle = -30;
    EXPECT_NE(refusal(zeroAngle, d).find("-30 degrees"), std::string::npos);

    // At 180° a measured energy must stay below 255.5 keV: with 0.25 keV per
    // channel channel 1023 does not (tables reaching far enough otherwise).
    ScattererData wide = d;
    CoefficientRow top = wide.coefficients.back();
    top.energy = 1e12f;
    wide.coefficients.push_back(top);
    wide.scattering.back().x = 1e12f;
    const std::string c = refusal(typicalInput(0.25f, 180, 1.0f), wide);
    EXPECT_NE(c.find("Compton"), std::string::npos) << c;
    EXPECT_NE(c.find("channel 1023"), std::string::npos) << c;

    ConversionInput empty = typicalInput();
    for (int i = 21; i <= 1024; ++i) empty.counts[std::size_t(i - 1)] = 0;
    empty.counts[5] = 100;  // only channel 6: T_m > 0, T_p would be 0
    EXPECT_NE(refusal(empty, d).find("nothing to convert"), std::string::npos);

    ConversionInput negative = typicalInput();
    negative.counts[400] = -3;
    EXPECT_NE(refusal(negative, d).find("channel 401 holds a negative count"), std::string::npos);
}

TEST(ConvertSpectrum, RefusesTargetsBeyondTheTables)
{
    ScattererData shortEnergies = syntheticScatterer();
    while (shortEnergies.coefficients.back().energy > 120.0f) shortEnergies.coefficients.pop_back();
    // Primary energies at 90° reach about 102.4·511/408.6 = 128 keV.
    std::string m = refusal(typicalInput(0.1f, 90), shortEnergies);
    EXPECT_NE(m.find("last energy"), std::string::npos) << m;
    EXPECT_NE(m.find("Synthetic.dat"), std::string::npos) << m;
    // Converting up to channel 300 stays below 80 keV, channel 1024 does not.
    while (shortEnergies.coefficients.back().energy > 80.0f) shortEnergies.coefficients.pop_back();
    m = refusal(typicalInput(0.1f, 90, 0.5f, 299), shortEnergies);
    EXPECT_NE(m.find("attenuation correction"), std::string::npos) << m;

    ScattererData shortX = syntheticScatterer();
    for (int k = 0; k < scatteringRows; ++k) shortX.scattering[std::size_t(k)].x = 0.01f * float(k + 1) / 5.0f;
    m = refusal(typicalInput(0.1f, 90), shortX);
    EXPECT_NE(m.find("momentum transfer"), std::string::npos) << m;
    EXPECT_NE(m.find("row 45"), std::string::npos) << m;
}

TEST(ConvertSpectrum, MomentumTransferLimitsOfTheAngleAndOfTheHalfTurn)
{
    // At 30° the x of the channels themselves stays below about 2.2 1/A,
    // while the angle sum reaches x = E1 / 12.4 (about 8.3) at 180°.  A
    // table ending at x = 5 must be refused for the half turn only.
    ScattererData d = syntheticScatterer();
    const float scale = 5.0f / d.scattering.back().x;
    for (ScatteringRow& r : d.scattering) r.x *= scale;
    std::string m = refusal(typicalInput(0.1f, 30), d);
    EXPECT_NE(m.find("scattering angle 180 degrees"), std::string::npos) << m;

    // Near 180° the channel's own x nearly equals the half turn's: a table
    // that reaches past the half turn's x converts, one between the two
    // refuses, whichever way the limit is approached.
    ScattererData ample = syntheticScatterer();
    EXPECT_NO_THROW(convertSpectrum(typicalInput(0.1f, 170), ample));
    ScattererData tight = syntheticScatterer();
    const float tightScale = 8.0f / tight.scattering.back().x;
    for (ScatteringRow& r : tight.scattering) r.x *= tightScale;
    m = refusal(typicalInput(0.1f, 170), tight);
    EXPECT_NE(m.find("momentum transfer x = "), std::string::npos) << m;
    EXPECT_NE(m.find("row 45"), std::string::npos) << m;
}

TEST(ConvertSpectrum, CountsThatNoLongerFit32Bits)
{
    const ScattererData d = syntheticScatterer();
    // A large self-attenuation length multiplies the counts at low energies
    // by exp(μ L): refused with the channel and its energy.
    ConversionInput thick = typicalInput(0.1f, 90, 40.0f);
    std::string m;
    try {
        convertSpectrum(thick, d);
    } catch (const ConversionError& e) {
        m = e.what();
    }
    EXPECT_NE(m.find("channel 117 (11.7 keV)"), std::string::npos) << m;
    EXPECT_NE(m.find("32-bit"), std::string::npos) << m;

    // A measured total of ~7·10^9 concentrated on a few primary channels.
    ConversionInput crowded;
    crowded.angle = 90;
    crowded.channelWidth = 0.1f;
    crowded.counts[99] = 1;  // channel 100, the only converted count
    for (int i = 301; i <= 1024; ++i) crowded.counts[std::size_t(i - 1)] = 9999999;
    m.clear();
    try {
        convertSpectrum(crowded, d);
    } catch (const ConversionError& e) {
        m = e.what();
    }
    EXPECT_NE(m.find("normalised count"), std::string::npos) << m;
}

} // namespace
} // namespace tvconv
