// The unfolding conversion on the shipped PMMA and carbon data: the model's
// line shapes, recovery of known primary spectra from their modelled
// scattered spectra, the refusals, and the profile file reader.
#include "conv/exchange.h"
#include "conv/unfold.h"
#include "test_tables.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <numeric>
#include <random>

namespace tvconv {
namespace {

namespace fs = std::filesystem;

const ScatterModelData& pmmaData()
{
    static const ScatterModelData d = loadScatterModel(fs::path(TARVIK_DATA_DIR) / "PMMA.dat");
    return d;
}

// The measured spectrum of a primary given per channel: each primary
// channel sampled at 5 energies (the unfolding's model uses 4), scaled so
// the highest channel holds `peak` counts, optionally with Poisson noise.
ConversionInput scatter(const std::vector<double>& primary, int angle, float length, float width, double peak,
                        std::mt19937* noise = nullptr)
{
    ConversionInput in;
    in.angle = angle;
    in.attenuationLength = length;
    in.channelWidth = width;
    const ScatterModel model(pmmaData(), angle);
    std::vector<double> sum(channelCount, 0.0);
    // The primary may reach beyond the analyser's 1024 channels.
    for (int j = 0; j < int(primary.size()); ++j) {
        if (primary[std::size_t(j)] <= 0) continue;
        for (int s = 0; s < 5; ++s) {
            const double e = (j + (s + 0.5) / 5.0) * width;
            const std::vector<double> r = monoenergeticResponse(model, e, length, width);
            for (int i = 0; i < channelCount; ++i) sum[std::size_t(i)] += primary[std::size_t(j)] * r[std::size_t(i)] / 5.0;
        }
    }
    const double top = *std::max_element(sum.begin(), sum.end());
    for (int i = 0; i < channelCount; ++i) {
        const double mean = sum[std::size_t(i)] / top * peak;
        in.counts[std::size_t(i)] =
            noise ? std::poisson_distribution<std::int32_t>(mean)(*noise) : std::int32_t(std::lround(mean));
    }
    return in;
}

double meanEnergy(const std::vector<double>& n, float w, double from = 10.0)
{
    double t = 0, te = 0;
    for (int i = 0; i < channelCount; ++i) {
        const double e = (i + 0.5) * w;
        if (e < from) continue;
        t += n[std::size_t(i)];
        te += n[std::size_t(i)] * e;
    }
    return te / t;
}

std::vector<double> asDouble(const Spectrum& s) { return std::vector<double>(s.begin(), s.end()); }

// A filtered continuum of Kramers' shape up to `kv` (channels beyond 1024
// when the voltage lies above the range).
std::vector<double> continuum(double kv, float w)
{
    const int n = std::max(channelCount, int(std::ceil(kv / w)));
    std::vector<double> p(std::size_t(n), 0.0);
    for (int j = 0; j < n; ++j) {
        const double e = (j + 0.5) * w;
        if (e > 12.0 && e < kv) p[std::size_t(j)] = (kv - e) / e * std::exp(-std::pow(18.0 / e, 3.0));
    }
    return p;
}

TEST(ScatterModelShape, LineSharesAndNormalisation)
{
    const ScatterModel model(pmmaData(), 90);
    // The Compton line splits evenly about the Compton energy and the whole
    // profile is one line.
    EXPECT_DOUBLE_EQ(model.profileShare(0.0), 0.5);
    EXPECT_NEAR(model.profileShare(1.0) + model.profileShare(-1.0), 1.0, 1e-12);
    EXPECT_GT(model.profileShare(1.0), 0.6);
    EXPECT_DOUBLE_EQ(model.profileShare(500.0), 1.0);
    EXPECT_DOUBLE_EQ(model.profileShare(-500.0), 0.0);
    const double e = 60.0, ec = model.comptonEnergy(e);
    EXPECT_NEAR(model.momentum(e, ec), 0.0, 1e-9);
    EXPECT_GT(model.momentum(e, ec + 0.5), 0.0);
    EXPECT_LT(model.momentum(e, ec - 0.5), 0.0);

    // Without attenuation the response holds the coherent and incoherent
    // weights, the coherent part in the primary's own channel.
    const std::vector<double> r = monoenergeticResponse(model, e, 0.0f, 0.1f);
    const ScatterModel::Weights sw = model.weights(e);
    const double total = std::accumulate(r.begin(), r.end(), 0.0);
    EXPECT_NEAR(total, sw.coherent + sw.incoherent, 2e-4 * total);
    const int own = int(std::ceil(e / 0.1)) - 1;
    EXPECT_GE(r[std::size_t(own)], sw.coherent);
    // With the block the photons are attenuated at both energies.
    const std::vector<double> a = monoenergeticResponse(model, e, 2.0f, 0.1f);
    const double expectedCoherent = sw.coherent * std::exp(-model.attenuation(e) * 2.0);
    EXPECT_NEAR(a[std::size_t(own)] - r[std::size_t(own)] * std::exp(-model.attenuation(e) * 2.0), 0.0,
                1e-3 * expectedCoherent);
}

class UnfoldRecovery : public ::testing::Test {};

TEST_F(UnfoldRecovery, TwoLines)
{
    const float w = 0.1f;
    std::vector<double> p(channelCount, 0.0);
    p[399] = 1.0;   // 39.9-40.0 keV
    p[649] = 0.5;   // 64.9-65.0 keV
    const ConversionInput in = scatter(p, 90, 0.0f, w, 100000.0);
    const UnfoldResult u = unfoldPrimary(in, pmmaData());
    const std::vector<double> q = asDouble(u.primary);
    const double all = std::accumulate(q.begin(), q.end(), 0.0);
    auto around = [&](int c) { return std::accumulate(q.begin() + c - 10, q.begin() + c + 11, 0.0); };
    // Within ±1 keV of each line, in the right ratio.
    EXPECT_GT((around(399) + around(649)) / all, 0.97);
    EXPECT_NEAR(around(649) / around(399), 0.5, 0.02);
    EXPECT_NEAR(meanEnergy(q, w), (39.95 + 0.5 * 64.95) / 1.5, 0.05);
}

TEST_F(UnfoldRecovery, SmoothContinuumAtBothAnglesAndLengths)
{
    const float w = 0.15f;
    const std::vector<double> p = continuum(100.0, w);
    const double trueMean = meanEnergy(p, w);
    for (int angle : {90, 120})
        for (float length : {0.0f, 1.0f}) {
            const ConversionInput in = scatter(p, angle, length, w, 200000.0);
            const UnfoldResult u = unfoldPrimary(in, pmmaData());
            const std::vector<double> q = asDouble(u.primary);
            EXPECT_NEAR(meanEnergy(q, w), trueMean, 0.03) << angle << " deg, " << length << " cm";
            // Shape in 5 keV bands from 20 to 90 keV within 1 %.
            for (int lo = 20; lo < 90; lo += 5) {
                double a = 0, b = 0, ta = 0, tb = 0;
                for (int j = 0; j < channelCount; ++j) {
                    const double e = (j + 0.5) * w;
                    if (e >= 20 && e < 95) ta += p[std::size_t(j)], tb += q[std::size_t(j)];
                    if (e >= lo && e < lo + 5) a += p[std::size_t(j)], b += q[std::size_t(j)];
                }
                EXPECT_NEAR((b / tb) / (a / ta), 1.0, 0.01) << angle << " deg, " << length << " cm, " << lo << " keV";
            }
            // Scaled to the measured total as the standard method's result.
            long long measured = 0, primary = 0;
            for (int i = 2; i <= channelCount; ++i) {
                measured += in.counts[std::size_t(i - 1)];
                primary += u.primary[std::size_t(i - 1)];
                ASSERT_GE(u.primary[std::size_t(i - 1)], 0);
            }
            EXPECT_LE(primary, measured);
            EXPECT_GE(primary, measured - channelCount);
        }
}

TEST_F(UnfoldRecovery, PrimariesAboveTheRangeAreEstimatedNotIgnored)
{
    // 120 kV at 0.1 keV per channel: the range ends at 102.4 keV, but the
    // Compton line of 120 keV at 90 degrees lies at 97 keV.  The spectrum is
    // compared with the truth inside the range.
    const float w = 0.1f;
    const std::vector<double> p = continuum(120.0, w);
    const std::vector<double> inRange(p.begin(), p.begin() + channelCount);
    const UnfoldResult u = unfoldPrimary(scatter(p, 90, 0.0f, w, 200000.0), pmmaData());
    EXPECT_GT(u.primaryChannels, 1200);
    EXPECT_GT(u.lastPrimary, channelCount);
    const std::vector<double> q = asDouble(u.primary);
    EXPECT_NEAR(meanEnergy(q, w), meanEnergy(inRange, w), 0.05);
    // The top 10 keV of the range hold their share within 3 %.
    auto share = [&](const std::vector<double>& s) {
        double top = 0, all = 0;
        for (int j = 0; j < channelCount; ++j) {
            const double e = (j + 0.5) * w;
            if (e < 20) continue;
            all += s[std::size_t(j)];
            if (e >= 92.4) top += s[std::size_t(j)];
        }
        return top / all;
    };
    EXPECT_NEAR(share(q) / share(inRange), 1.0, 0.03);
}

TEST_F(UnfoldRecovery, KEdgeOfAFilterSurvives)
{
    // A continuum behind a filter whose K edge at 50.2 keV cuts the
    // transmission to a third.
    const float w = 0.1f;
    std::vector<double> p = continuum(90.0, w);
    for (int j = 0; j < channelCount; ++j)
        if ((j + 0.5) * w > 50.2) p[std::size_t(j)] /= 3.0;
    const UnfoldResult u = unfoldPrimary(scatter(p, 90, 1.0f, w, 200000.0), pmmaData());
    const std::vector<double> q = asDouble(u.primary);
    auto band = [&](const std::vector<double>& s, double lo, double hi) {
        double t = 0;
        for (int j = 0; j < channelCount; ++j) {
            const double e = (j + 0.5) * w;
            if (e >= lo && e < hi) t += s[std::size_t(j)];
        }
        return t;
    };
    // 2 keV either side of the edge (clear of its Doppler smear).
    const double trueStep = band(p, 52.5, 54.5) / band(p, 46, 48);
    EXPECT_NEAR(band(q, 52.5, 54.5) / band(q, 46, 48), trueStep, 0.03 * trueStep);
    EXPECT_NEAR(meanEnergy(q, w), meanEnergy(p, w), 0.05);
}

TEST_F(UnfoldRecovery, CountingNoiseStaysNoise)
{
    // Poisson noise (at most 2000 counts a channel) must not grow into
    // oscillations: the unfolded channels scatter about the truth no more
    // than a few times the noise of the measured ones.
    const float w = 0.2f;
    const std::vector<double> p = continuum(100.0, w);
    std::mt19937 rng(12345);
    const ConversionInput in = scatter(p, 90, 0.0f, w, 2000.0, &rng);
    const UnfoldResult u = unfoldPrimary(in, pmmaData());
    const std::vector<double> q = asDouble(u.primary);
    double tp = 0, tq = 0;
    for (int j = 0; j < channelCount; ++j)
        if ((j + 0.5) * w >= 20 && (j + 0.5) * w < 90) tp += p[std::size_t(j)], tq += q[std::size_t(j)];
    // Relative scatter per 1 keV (5 channels) bin, against the Poisson
    // scatter of the same number of counts.
    double sum = 0, expected = 0;
    int bins = 0;
    for (int lo = 20; lo < 90; ++lo) {
        double a = 0, b = 0;
        for (int j = 0; j < channelCount; ++j) {
            const double e = (j + 0.5) * w;
            if (e >= lo && e < lo + 1) a += p[std::size_t(j)], b += q[std::size_t(j)];
        }
        const double d = (b / tq) / (a / tp) - 1.0;
        sum += d * d;
        expected += 1.0 / (b > 0 ? b : 1.0);
        ++bins;
    }
    const double rms = std::sqrt(sum / bins), poisson = std::sqrt(expected / bins);
    EXPECT_LT(rms, 3.0 * poisson) << "rms " << rms << ", Poisson " << poisson;
    EXPECT_NEAR(meanEnergy(q, w), meanEnergy(p, w), 0.1);
}

TEST(UnfoldRefusals, WhatTheModelCannotUse)
{
    const float w = 0.1f;
    ConversionInput in = scatter(continuum(80.0, w), 90, 0.0f, w, 10000.0);
    auto refused = [&](const ConversionInput& bad, const std::string& named) {
        try {
            unfoldPrimary(bad, pmmaData());
            ADD_FAILURE() << "not refused: " << named;
        } catch (const ConversionError& e) {
            EXPECT_NE(std::string(e.what()).find(named), std::string::npos) << e.what();
        }
    };
    ConversionInput bad = in;
    bad.angle = 0;
    refused(bad, "angle 0 degrees");
    bad.angle = 181;
    refused(bad, "angle 181 degrees");
    bad = in;
    bad.attenuationLength = -0.5f;
    refused(bad, "length -0.5 cm");
    bad = in;
    bad.channelWidth = 0.0f;
    refused(bad, "channel width 0");
    bad = in;
    bad.channelWidth = 1.0f;  // primaries up to 1024 keV, beyond the 800 keV table
    refused(bad, "PMMA.dat");
    bad = in;
    bad.counts[500] = -3;
    refused(bad, "channel 501");
    bad = in;
    std::fill(bad.counts.begin() + 20, bad.counts.end(), 0);
    refused(bad, "nothing to unfold");

    // A scatterer file without form factors cannot model coherent scattering.
    ScatterModelData noForm = pmmaData();
    noForm.scatterer.scattering[3].unused = 0.0f;
    EXPECT_THROW(checkUnfoldInput(in, noForm), ConversionError);

    // An iteration that cannot finish says so: two sharp lines with a
    // million counts need far more than two iterations.
    std::vector<double> lines(channelCount, 0.0);
    lines[399] = 1.0;
    lines[649] = 0.5;
    in = scatter(lines, 90, 0.0f, w, 1e6);
    UnfoldOptions tight;
    tight.maxIterations = 2;
    tight.tolerance = 0.0;
    try {
        unfoldPrimary(in, pmmaData(), tight);
        ADD_FAILURE() << "two iterations cannot fit this spectrum";
    } catch (const ConversionError& e) {
        EXPECT_NE(std::string(e.what()).find("did not converge within 2 iterations"), std::string::npos) << e.what();
    }
}

class ProfileFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        // One folder per test: ctest runs the tests in parallel processes.
        dir_ = fs::temp_directory_path() /
               (std::string("tvconv_profile_") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string write(const std::string& text)
    {
        testing::writeFile(dir_ / "X_profile.dat", text);
        return (dir_ / "X_profile.dat").string();
    }
    void expectRefused(const std::string& text, const std::string& named)
    {
        try {
            readProfileFile(write(text));
            ADD_FAILURE() << "not refused: " << named;
        } catch (const fixedio::Error& e) {
            EXPECT_NE(std::string(e.what()).find(named), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find("X_profile.dat"), std::string::npos) << e.what();
        }
    }
    fs::path dir_;
};

TEST_F(ProfileFile, BelongsBesideItsScattererFile)
{
    EXPECT_EQ(profilePathFor("PMMA.dat"), fs::path("PMMA_profile.dat"));
    EXPECT_EQ(profilePathFor("sub/Carbon.dat"), fs::path("sub/Carbon_profile.dat"));
    EXPECT_EQ(profilePathFor("noext"), fs::path("noext_profile.dat"));
}

TEST_F(ProfileFile, ReadsAndRefusesDamage)
{
    const std::string head = "  3\r\n  510.998928 12.39841930  137.035999\r\n";
    const ProfileData d = readProfileFile(write(head + "  .00000E+00  .300000E+01\r\n  .10000E+01  .200000E+01\r\n"
                                                       "  .10000E+03  .100000E-06\r\n"));
    ASSERT_EQ(d.pz.size(), 3u);
    EXPECT_FLOAT_EQ(float(d.pz[1]), 1.0f);
    EXPECT_FLOAT_EQ(float(d.profile[0]), 3.0f);
    EXPECT_FLOAT_EQ(float(d.momentumAtomic), 137.035999f);

    expectRefused(head + "  .00000E+00  .300000E+01\r\n", "line 4");  // a row missing
    expectRefused(head + "  .10000E+00  .300000E+01\r\n  .10000E+01  .200000E+01\r\n  .10000E+03  .1E-06\r\n",
                  "start at pz = 0");
    expectRefused(head + "  .00000E+00  .300000E+01\r\n  .10000E+01  .200000E+01\r\n  .50000E+00  .1E-06\r\n",
                  "strictly ascending");
    expectRefused(head + "  .00000E+00  .300000E+01\r\n  .10000E+01 -.200000E+01\r\n  .10000E+03  .1E-06\r\n",
                  "negative");
    expectRefused("  2\r\n  510.998928 12.39841930    0.000000\r\n  .00000E+00  .300000E+01\r\n"
                  "  .10000E+01  .200000E+01\r\n",
                  "m c in atomic units");
    expectRefused("  1\r\n", "2 to 999");
    try {
        loadScatterModel(dir_ / "Missing.dat");
        ADD_FAILURE() << "a missing scatterer file is refused";
    } catch (const fixedio::Error& e) {
        EXPECT_NE(std::string(e.what()).find("Missing.dat"), std::string::npos) << e.what();
    }
    // The scatterer file alone is not enough.
    testing::writeFile(dir_ / "Lone.dat", testing::scattererFileText(testing::syntheticScatterer()));
    try {
        loadScatterModel(dir_ / "Lone.dat");
        ADD_FAILURE() << "a missing profile file is refused";
    } catch (const fixedio::Error& e) {
        EXPECT_NE(std::string(e.what()).find("Lone_profile.dat"), std::string::npos) << e.what();
    }
}

TEST(ConversionMethodLine, Words)
{
    EXPECT_EQ(methodFromWord(""), ConversionMethod::standard);
    EXPECT_EQ(methodFromWord("  "), ConversionMethod::standard);
    EXPECT_EQ(methodFromWord("standard"), ConversionMethod::standard);
    EXPECT_EQ(methodFromWord(" unfold "), ConversionMethod::unfold);
    EXPECT_EQ(methodFromWord("UNFOLD"), ConversionMethod::unfold);
    EXPECT_EQ(methodFromWord("unfolding"), std::nullopt);
    EXPECT_EQ(methodFromWord("un fold"), std::nullopt);
    EXPECT_EQ(methodFromWord("standard unfold"), std::nullopt);
}

} // namespace
} // namespace tvconv
