// The unfolding method and its inputs: the detector profile and the
// response data files (reading, and refusing impossible or damaged ones),
// the detector model on the channel grid against what a line must look
// like, and the unfolding recovering known spectra from noisy measurements
// made with a synthetic detector response.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "strip/detector_profile.h"
#include "strip/unfold.h"
#include "strip/unfold_response.h"
#include "strip/tests/synthetic_response.h"

namespace tvstrip {
namespace {

namespace fs = std::filesystem;


std::string replaced(std::string text, const std::string& key, const std::string& line)
{
    const auto at = text.find(key);
    const auto end = text.find('\n', at);
    return text.replace(at, end - at, line);
}

// The message refusing a profile text, or "accepted".
std::string profileMessage(const std::string& profileText)
{
    try {
        parseDetectorProfile(profileText, "p.txt");
    } catch (const ProfileError& e) {
        return std::string(e.what());
    }
    return std::string("accepted");
}

// ---------------------------------------------------------------- profile

TEST(DetectorProfileTest, ReadsTheLayoutAndWritesWhatItReads)
{
    const DetectorProfile p = testProfile();
    EXPECT_EQ(p.crystalThicknessMm, 1.0);
    EXPECT_EQ(p.mutauHoles, 1e-4);
    EXPECT_EQ(p.windowThicknessUm, 100.0);
    EXPECT_NEAR(p.fwhmKeV(100.0), std::sqrt(0.25 + 0.25 + 0.35 * 0.35), 1e-12);
    const DetectorProfile back = parseDetectorProfile(formatDetectorProfile(p, "two\nlines"), "back.txt");
    EXPECT_EQ(back.transportFingerprint(), p.transportFingerprint());
    EXPECT_EQ(back.fwhm2Linear, p.fwhm2Linear);
    EXPECT_EQ(back.fwhmProportional, p.fwhmProportional);
    // CR LF line ends and blanks around keys and values are accepted.
    std::string crlf;
    for (char c : std::string(kProfileText)) {
        if (c == '\n') crlf += "  \r";
        crlf += c;
    }
    EXPECT_EQ(parseDetectorProfile(crlf, "crlf.txt").transportFingerprint(), p.transportFingerprint());
}

TEST(DetectorProfileTest, FingerprintFollowsTheTransportButNotTheResolution)
{
    const DetectorProfile p = testProfile();
    DetectorProfile q = p;
    q.fwhm2Constant = 0.5;
    EXPECT_EQ(q.transportFingerprint(), p.transportFingerprint());
    for (auto field : {&DetectorProfile::crystalSideMm, &DetectorProfile::crystalThicknessMm,
                       &DetectorProfile::densityGPerCm3, &DetectorProfile::windowThicknessUm,
                       &DetectorProfile::mutauElectrons, &DetectorProfile::mutauHoles, &DetectorProfile::biasVolts}) {
        DetectorProfile r = p;
        r.*field *= 1.01;
        EXPECT_NE(r.transportFingerprint(), p.transportFingerprint());
    }
}

TEST(DetectorProfileTest, RefusesImpossibleValuesNamingFileKeyAndValue)
{
    struct Bad {
        std::string key, line, mustMention;
    };
    const std::vector<Bad> cases{
        {"crystal_thickness_mm", "crystal_thickness_mm = 0", "crystal_thickness_mm"},
        {"crystal_thickness_mm", "crystal_thickness_mm = -1", "-1"},
        {"crystal_side_mm", "crystal_side_mm = 3 mm", "\"3 mm\""},
        {"density_g_per_cm3", "density_g_per_cm3 = 0", "density"},
        {"mutau_electrons_cm2_per_V", "mutau_electrons_cm2_per_V = 0", "mu-tau"},
        {"mutau_holes_cm2_per_V", "mutau_holes_cm2_per_V = -1e-4", "-1e-4"},
        {"bias_V", "bias_V = 0", "bias"},
        {"fwhm2_constant_keV2", "fwhm2_constant_keV2 = 0", "fwhm2_constant_keV2"},
        {"fwhm2_linear_keV", "fwhm2_linear_keV = -0.1", "-0.1"},
        {"window_thickness_um", "window_thickness_um = -5", "-5"},
        {"window_thickness_um", "window_thickness_um = nan", "nan"},
        {"crystal_thickness_mm", "crystal_thickness_mm = 1000", "1000"},
        {"material", "material = CZT", "CZT"},
        {"window_material", "window_material = Al", "Al"},
        {"bias_V", "bias_V", "key = value"},
    };
    for (const Bad& b : cases) {
        const std::string text = replaced(kProfileText, b.key, b.line);
        try {
            parseDetectorProfile(text, "RES/detector.txt");
            ADD_FAILURE() << "accepted: " << b.line;
        } catch (const ProfileError& e) {
            const std::string m = e.what();
            EXPECT_NE(m.find("RES/detector.txt, line "), std::string::npos) << m;
            EXPECT_NE(m.find(b.mustMention), std::string::npos) << m;
        }
    }
    // A window of 0 (none) and resolution terms of 0 beside the constant are possible.
    EXPECT_NO_THROW(parseDetectorProfile(replaced(kProfileText, "window_thickness_um", "window_thickness_um = 0"), "x"));
    EXPECT_NO_THROW(parseDetectorProfile(replaced(kProfileText, "fwhm_proportional", "fwhm_proportional = 0"), "x"));
}

TEST(DetectorProfileTest, RefusesMissingRepeatedAndUnknownKeys)
{
    const std::string text(kProfileText);
    EXPECT_NE(profileMessage(replaced(text, "bias_V", "# no bias")).find("bias_V is missing"), std::string::npos);
    EXPECT_NE(profileMessage(text + "bias_V = 400\n").find("bias_V appears a second time"), std::string::npos);
    EXPECT_NE(profileMessage(text + "colour = blue\n").find("unknown key colour"), std::string::npos);
    EXPECT_NE(profileMessage("").find("material is missing"), std::string::npos);
    EXPECT_THROW(loadDetectorProfile("/nonexistent/detector.txt"), ProfileError);
}

TEST(DetectorProfileTest, EnergyScaleAndResolvingTimeAreOptionalAndOutsideTheFingerprint)
{
    const DetectorProfile plain = testProfile();
    EXPECT_FALSE(plain.energyGainKevPerChannel || plain.energyOffsetKeV || plain.pulsePairResolvingTimeUs);
    // A profile without the keys is written without them: old files keep their bytes.
    EXPECT_EQ(formatDetectorProfile(plain).find("energy_"), std::string::npos);

    const std::string text = std::string(kProfileText) +
                             "energy_gain_kev_per_channel = 0.1012\nenergy_offset_keV = -0.35\n"
                             "pulse_pair_resolving_time_us = 1.2\n";
    const DetectorProfile p = parseDetectorProfile(text, "fitted.txt");
    EXPECT_EQ(p.energyGainKevPerChannel, 0.1012);
    EXPECT_EQ(p.energyOffsetKeV, -0.35);
    EXPECT_EQ(p.pulsePairResolvingTimeUs, 1.2);
    EXPECT_EQ(p.transportFingerprint(), plain.transportFingerprint());
    const DetectorProfile back = parseDetectorProfile(formatDetectorProfile(p), "back.txt");
    EXPECT_EQ(back.energyGainKevPerChannel, p.energyGainKevPerChannel);
    EXPECT_EQ(back.energyOffsetKeV, p.energyOffsetKeV);
    EXPECT_EQ(back.pulsePairResolvingTimeUs, p.pulsePairResolvingTimeUs);

    const std::string base(kProfileText);
    EXPECT_NE(profileMessage(base + "energy_gain_kev_per_channel = 0.1\n").find("both"), std::string::npos);
    EXPECT_NE(profileMessage(base + "energy_offset_keV = 0.1\n").find("both"), std::string::npos);
    EXPECT_NE(profileMessage(base + "energy_gain_kev_per_channel = 0\nenergy_offset_keV = 0\n").find("above 0"),
              std::string::npos);
    EXPECT_NE(profileMessage(base + "energy_gain_kev_per_channel = 0.1\nenergy_offset_keV = 500\n").find("500"),
              std::string::npos);
    EXPECT_NE(profileMessage(base + "pulse_pair_resolving_time_us = fast\n").find("line"), std::string::npos);
    EXPECT_NE(profileMessage(base + "pulse_pair_resolving_time_us = 1\npulse_pair_resolving_time_us = 2\n")
                  .find("second time"),
              std::string::npos);
}

// ---------------------------------------------------------- response data

TEST(ResponseDataTest, ReadsWhatItWrites)
{
    const UnfoldResponse r = syntheticResponse(testProfile());
    const std::string bytes = formatUnfoldResponse(r);
    const UnfoldResponse back = parseUnfoldResponse(bytes, "u.rsp");
    ASSERT_EQ(back.nodes.size(), r.nodes.size());
    EXPECT_EQ(back.profileFingerprint, r.profileFingerprint);
    EXPECT_EQ(back.lossBinKeV, r.lossBinKeV);
    EXPECT_EQ(back.photonsPerNode, r.photonsPerNode);
    for (std::size_t i = 0; i < r.nodes.size(); ++i) {
        EXPECT_EQ(back.nodes[i].energyKeV, r.nodes[i].energyKeV);
        EXPECT_EQ(back.nodes[i].counts, r.nodes[i].counts);
    }
}

TEST(ResponseDataTest, RefusesDamagedOrCutData)
{
    const std::string good = formatUnfoldResponse(syntheticResponse(testProfile()));
    auto message = [](const std::string& bytes) {
        try {
            parseUnfoldResponse(bytes, "RES/unfold.rsp");
        } catch (const ResponseDataError& e) {
            return std::string(e.what());
        }
        return std::string("accepted");
    };
    std::string flipped = good;
    flipped[flipped.size() - 100] ^= 0x01;
    EXPECT_NE(message(flipped).find("checksum"), std::string::npos);
    EXPECT_NE(message(good.substr(0, good.size() - 1)).find("cut short"), std::string::npos);
    EXPECT_NE(message(good.substr(0, 200)).find("RES/unfold.rsp"), std::string::npos);
    EXPECT_NE(message("").find("ends early"), std::string::npos);
    EXPECT_NE(message("x" + good).find("not response data"), std::string::npos);
    // Node energies out of order.
    std::string swapped = good;
    const auto a = swapped.find("node 5 ");
    swapped.replace(a, 7, "node 6 ");
    EXPECT_NE(message(swapped).find("ascend"), std::string::npos);
    // More photons recorded than simulated.
    UnfoldResponse r = syntheticResponse(testProfile());
    r.photonsPerNode = 1000;
    EXPECT_NE(message(formatUnfoldResponse(r)).find("more photons"), std::string::npos);
}

class ResponseFolderTest : public ::testing::Test {
protected:
    fs::path dir;
    void SetUp() override
    {
        std::string tmpl = (fs::temp_directory_path() / "unfold_res_XXXXXX").string();
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        dir = tmpl;
    }
    void TearDown() override { fs::remove_all(dir); }
    void write(const std::string& name, const std::string& text)
    {
        std::ofstream(dir / name, std::ios::binary) << text;
    }
    std::string loadMessage()
    {
        try {
            loadUnfoldResponse(dir);
        } catch (const std::exception& e) {
            return e.what();
        }
        return "accepted";
    }
};

TEST_F(ResponseFolderTest, NeedsBothFilesMadeForTheSameDetector)
{
    EXPECT_NE(loadMessage().find("detector.txt"), std::string::npos);
    write(kDetectorProfileName, kProfileText);
    EXPECT_NE(loadMessage().find("unfold.rsp"), std::string::npos);
    write(kUnfoldResponseName, formatUnfoldResponse(syntheticResponse(testProfile())));
    EXPECT_EQ(loadMessage(), "accepted");
    // Another resolution is applied at use; another crystal needs new data.
    write(kDetectorProfileName, replaced(kProfileText, "fwhm2_constant", "fwhm2_constant_keV2 = 0.3"));
    EXPECT_EQ(loadMessage(), "accepted");
    EXPECT_NEAR(loadUnfoldResponse(dir).profile.fwhmKeV(0.0), std::sqrt(0.3), 1e-12);
    write(kDetectorProfileName, replaced(kProfileText, "crystal_thickness_mm", "crystal_thickness_mm = 2"));
    EXPECT_NE(loadMessage().find("another detector"), std::string::npos);
}

// ------------------------------------------------------ model and method

// Expected counts of a spectrum and one Poisson measurement of them.
Counts measure(const std::vector<double>& expected, std::uint32_t seed)
{
    std::mt19937 rng(seed);
    Counts c{};
    for (std::size_t i = 0; i < c.size(); ++i)
        if (expected[i] > 0) c[i] = std::poisson_distribution<std::int32_t>(expected[i])(rng);
    return c;
}

// A smooth tube-like continuum (photons per channel), 0 outside 10..kV keV,
// optionally with a step down above `stepKeV` (a K-edge filter).
std::vector<double> continuum(double w, double kv, double photonsPerKeV, double stepKeV = 0, double stepFactor = 1)
{
    std::vector<double> x(kChannels, 0.0);
    for (int j = 1; j <= kChannels; ++j) {
        const double e = (j - 0.5) * w;
        if (e < 10.0 || e > kv) continue;
        double v = photonsPerKeV * w * (kv - e) / e * std::exp(-std::pow(22.0 / e, 3.0)) * 3.0;
        if (stepKeV > 0 && e > stepKeV) v *= stepFactor;
        x[static_cast<std::size_t>(j - 1)] = v;
    }
    return x;
}

double sumOver(const Counts& c, double w, double lo, double hi)
{
    double s = 0;
    for (int j = 1; j <= kChannels; ++j) {
        const double e = (j - 0.5) * w;
        if (e >= lo && e < hi) s += c[static_cast<std::size_t>(j - 1)];
    }
    return s;
}

double sumOver(const std::vector<double>& c, double w, double lo, double hi)
{
    double s = 0;
    for (int j = 1; j <= kChannels; ++j) {
        const double e = (j - 0.5) * w;
        if (e >= lo && e < hi) s += c[static_cast<std::size_t>(j - 1)];
    }
    return s;
}

class UnfoldTest : public ::testing::Test {
protected:
    static const UnfoldResponse& response()
    {
        static const UnfoldResponse r = syntheticResponse(testProfile());
        return r;
    }
};

TEST_F(UnfoldTest, ModelPutsALineAtItsEnergyWithTheProfileResolutionAndItsEscape)
{
    const float w = 0.1f;
    std::vector<double> line(kChannels, 0.0);
    line[599] = 1.0e6;  // channel 600: 59.9 to 60.0 keV, centre 59.95
    const std::vector<double> m = foldSpectrum(line, w, 80, response());
    // Every photon the response records from 5 keV up (the lower end of
    // the range), nothing above the line beyond the resolution.
    const ResponseNode& node = response().nodes[static_cast<std::size_t>(
        std::find_if(response().nodes.begin(), response().nodes.end(),
                     [](const ResponseNode& n) { return n.energyKeV == 60.0; }) -
        response().nodes.begin())];
    double recorded = 0;
    for (std::size_t b = 0; b < node.counts.size(); ++b)
        if ((b + 0.5) * response().lossBinKeV < 60.0 - 5.0) recorded += node.counts[b];
    const double total = std::accumulate(m.begin(), m.end(), 0.0);
    EXPECT_NEAR(total, recorded, 0.002 * recorded);
    EXPECT_LT(sumOver(m, w, 62.0, 102.4), 1.0);
    // Peak centroid and width from the channels within 2 keV.
    double s0 = 0, s1 = 0, s2 = 0;
    for (int j = 581; j <= 620; ++j) {
        const double e = (j - 0.5) * w, v = m[static_cast<std::size_t>(j - 1)];
        s0 += v;
        s1 += v * e;
        s2 += v * e * e;
    }
    const double centroid = s1 / s0;
    const double sigma = std::sqrt(s2 / s0 - centroid * centroid);
    // The peak sits at the line less the short tail (mean loss 0.003 keV).
    EXPECT_NEAR(centroid, 59.95 - 0.003, 0.005);
    // Resolution of the profile, the channel width and the tail, in quadrature.
    const double expected = std::sqrt(std::pow(testProfile().fwhmKeV(59.95) / 2.35482, 2) + 2 * w * w / 12.0);
    EXPECT_NEAR(sigma, expected, 0.03 * expected);
    // The escape peak 23.1 keV lower holds its share of 0.1 above the
    // continuum (about 50000 photons over 56 keV).
    EXPECT_NEAR(sumOver(m, w, 59.95 - 23.1 - 1.5, 59.95 - 23.1 + 1.5), 1.0e5 + 3.0 * 50000 / 56, 0.005e5);
}

TEST_F(UnfoldTest, RecoversMonoenergeticLinesAndTakesBackTheirEscapes)
{
    const float w = 0.1f;
    std::vector<double> truth(kChannels, 0.0);
    truth[299] = 5.0e5;  // 29.95 keV
    truth[599] = 1.0e6;  // 59.95 keV
    const Counts measured = measure(foldSpectrum(truth, w, 80, response()), 1);
    UnfoldReport report;
    const Counts x = unfoldSpectrum(measured, w, 80, response(), {}, &report);
    EXPECT_NEAR(sumOver(x, w, 29.0, 31.0), 5.0e5, 0.01 * 5.0e5);
    EXPECT_NEAR(sumOver(x, w, 59.0, 61.0), 1.0e6, 0.01 * 1.0e6);
    // The escape peaks (6.85 and 36.85 keV) and the continuum are gone:
    // under 1 % of the lines remains anywhere else.
    EXPECT_LT(sumOver(x, w, 10.0, 29.0) + sumOver(x, w, 31.0, 59.0) + sumOver(x, w, 61.0, 102.4), 1.5e4);
    EXPECT_GT(report.iterations, 0);
}

TEST_F(UnfoldTest, RecoversSmoothAndKEdgeFilteredContinuaWithinAFewPercentPerKeV)
{
    for (const float w : {0.1f, 0.15f, 0.2f}) {
        for (const double step : {0.0, 50.0}) {
            SCOPED_TRACE("w = " + std::to_string(w) + ", step at " + std::to_string(step));
            const std::vector<double> truth = continuum(w, 80, 1.0e5, step, 0.5);
            const Counts measured = measure(foldSpectrum(truth, w, 80, response()), 7);
            const Counts x = unfoldSpectrum(measured, w, 80, response());
            double worst = 0, sum2 = 0, mt = 0, mx = 0, nt = 0, nx = 0;
            int bins = 0;
            for (int k = 15; k < 75; ++k) {
                const double t = sumOver(truth, w, k, k + 1), r = sumOver(x, w, k, k + 1);
                if (k == 49 || k == 50) continue;  // the step itself is smoothed by the resolution
                worst = std::max(worst, std::abs(r / t - 1));
                sum2 += (r / t - 1) * (r / t - 1);
                ++bins;
            }
            for (int j = 1; j <= kChannels; ++j) {
                const double e = (j - 0.5) * w;
                if (e < 10.0) continue;
                mt += truth[static_cast<std::size_t>(j - 1)] * e;
                nt += truth[static_cast<std::size_t>(j - 1)];
                mx += x[static_cast<std::size_t>(j - 1)] * e;
                nx += x[static_cast<std::size_t>(j - 1)];
            }
            EXPECT_LT(std::sqrt(sum2 / bins), 0.02);
            EXPECT_LT(worst, 0.06);
            EXPECT_NEAR(mx / nx, mt / nt, 0.05);
            EXPECT_NEAR(nx, nt, 0.01 * nt);
            if (step > 0) {
                const double below = sumOver(x, w, 46, 49) / sumOver(truth, w, 46, 49);
                const double above = sumOver(x, w, 51, 54) / sumOver(truth, w, 51, 54);
                EXPECT_NEAR(above / below, 1.0, 0.03);
            }
        }
    }
}

TEST_F(UnfoldTest, DoesNotAmplifyCountingNoise)
{
    // Relative scatter around the truth of the unfolded spectrum against
    // that of the measurement around its expectation, over 20 to 70 keV.
    const float w = 0.1f;
    const std::vector<double> truth = continuum(w, 80, 2.0e4);
    const std::vector<double> expected = foldSpectrum(truth, w, 80, response());
    const Counts measured = measure(expected, 11);
    const Counts x = unfoldSpectrum(measured, w, 80, response());
    double sm = 0, sx = 0;
    int n = 0;
    for (int j = 201; j <= 700; ++j, ++n) {
        const auto i = static_cast<std::size_t>(j - 1);
        sm += std::pow(measured[i] / expected[i] - 1, 2);
        sx += std::pow(x[i] / truth[i] - 1, 2);
    }
    const double measuredNoise = std::sqrt(sm / n), unfoldedNoise = std::sqrt(sx / n);
    // The residual's correlation between neighbouring channels, and the
    // scatter of 1 keV bins.
    double c1 = 0, c0 = 0, bm = 0, bx = 0;
    for (int j = 201; j <= 700; ++j) {
        const auto i = static_cast<std::size_t>(j - 1);
        const double r0 = x[i] / truth[i] - 1, r1 = x[i + 1] / truth[i + 1] - 1;
        c0 += r0 * r0;
        c1 += r0 * r1;
    }
    for (int k = 20; k < 70; ++k) {
        bm += std::pow(sumOver(measured, w, k, k + 1) / sumOver(expected, w, k, k + 1) - 1, 2);
        bx += std::pow(sumOver(x, w, k, k + 1) / sumOver(truth, w, k, k + 1) - 1, 2);
    }
    EXPECT_GT(measuredNoise, 0.005);  // the test has noise to amplify
    // Taking the resolution out cannot leave the noise as it was, but it
    // stays within a small factor (measured: 2.6 per channel, 1.7 per keV)
    // and is smooth, not an oscillation from channel to channel (which
    // would correlate neighbours negatively; measured: +0.72).
    EXPECT_LT(unfoldedNoise, 3.0 * measuredNoise);
    EXPECT_LT(std::sqrt(bx / 50), 2.0 * std::sqrt(bm / 50));
    EXPECT_GT(c1 / c0, 0.3);
    for (std::int32_t v : x) EXPECT_GE(v, 0);
}

TEST_F(UnfoldTest, EmptiesTheChannelsTheStandardMethodEmpties)
{
    const float w = 0.15f;
    const std::vector<double> truth = continuum(w, 60, 1.0e5);
    Counts measured = measure(foldSpectrum(truth, w, 60, response()), 3);
    for (int j = 500; j <= kChannels; ++j) measured[static_cast<std::size_t>(j - 1)] = 1000;  // beyond the voltage
    const Counts x = unfoldSpectrum(measured, w, 60, response());
    const int zeroed = static_cast<int>(10.0f / w), top = static_cast<int>(60 / w) + 3;
    for (int j = 1; j <= kChannels; ++j)
        if (j <= zeroed || j > top) {
            EXPECT_EQ(x[static_cast<std::size_t>(j - 1)], 0) << j;
        }
    EXPECT_GT(sumOver(x, w, 10.0, 60.0), 0.9 * sumOver(truth, w, 10.0, 60.0));
    // A spectrum without counts gives one without photons.
    EXPECT_EQ(unfoldSpectrum(Counts{}, w, 60, response()), Counts{});
}

TEST_F(UnfoldTest, SaysSoWhenItDoesNotSettle)
{
    // A single channel far narrower than the resolution cannot be fitted
    // in a few iterations.
    Counts spike{};
    spike[599] = 900000;
    UnfoldOptions o;
    o.iterations = 5;
    o.smoothLowEnd = false;
    EXPECT_THROW(unfoldSpectrum(spike, 0.1f, 80, response(), o), UnfoldError);
    try {
        unfoldSpectrum(spike, 0.1f, 80, response(), o);
    } catch (const UnfoldError& e) {
        EXPECT_NE(std::string(e.what()).find("did not converge"), std::string::npos);
    }
}

// A tube behind its glass and aluminium: few photons below 20 keV, whose
// channels hold mostly the escapes and tails of 35-60 keV photons.
std::vector<double> filteredTube(double w, double kv, double photonsPerKeV)
{
    std::vector<double> x(kChannels, 0.0);
    for (int j = 1; j <= kChannels; ++j) {
        const double e = (j - 0.5) * w;
        if (e < 10.0 || e > kv) continue;
        x[static_cast<std::size_t>(j - 1)] = photonsPerKeV * w * (kv - e) / e * std::exp(-std::pow(30.0 / e, 3.0)) * 3.0;
    }
    return x;
}

TEST_F(UnfoldTest, TheWeakLowestEnergiesDoNotCollapse)
{
    // The channels of 15-20 keV hold mostly what higher energies leave
    // there (6 to 0.5 times the photons of the bin itself): the unfolding
    // emptied them (-100 %) before the low end became one smooth shape.
    const float w = 0.1f;
    const std::vector<double> truth = filteredTube(w, 80, 1.0e5);
    const std::vector<double> expected = foldSpectrum(truth, w, 80, response());
    EXPECT_GT(sumOver(expected, w, 16, 17), 5.0 * sumOver(truth, w, 16, 17));
    for (std::uint32_t seed : {21u, 22u, 23u}) {
        const Counts measured = measure(expected, seed);
        UnfoldReport report;
        const Counts x = unfoldSpectrum(measured, w, 80, response(), {}, &report);
        EXPECT_GT(report.smoothBelowKeV, 15.0);
        for (int k = 16; k < 24; ++k) {
            const double t = sumOver(truth, w, k, k + 1), r = sumOver(x, w, k, k + 1);
            EXPECT_NEAR(r / t, 1.0, 0.25) << k << " keV, seed " << seed;
        }
    }
}

TEST_F(UnfoldTest, ALineJustAboveTheWeakEnergiesStaysALine)
{
    // The smooth shape must not swallow a line right above the weak bins
    // (a mammography tube's molybdenum lines lie there).
    const float w = 0.1f;
    std::vector<double> truth = filteredTube(w, 80, 1.0e5);
    const double continuumBin = sumOver(truth, w, 22, 23);
    truth[220] += 2.0 * continuumBin;  // 22.0-22.1 keV
    UnfoldReport report;
    const Counts x = unfoldSpectrum(measure(foldSpectrum(truth, w, 80, response()), 5), w, 80, response(), {}, &report);
    EXPECT_GT(report.smoothBelowKeV, 15.0);
    EXPECT_LT(report.smoothBelowKeV, 22.0);
    EXPECT_NEAR(sumOver(x, w, 21.5, 22.6) / sumOver(truth, w, 21.5, 22.6), 1.0, 0.05);
}

// The counts of a spectrum measured on the scale (offset, gain) moved onto
// the nominal grid of width w, shared by overlap.
Counts rebinned(const Counts& measured, double gain, double offset, double w)
{
    std::vector<double> out(kChannels, 0.0);
    for (int i = 1; i <= kChannels; ++i) {
        const double a = offset + (i - 1) * gain, b = a + gain;
        for (int j = std::max(1, static_cast<int>(std::floor(a / w)) + 1); j <= kChannels && (j - 1) * w < b; ++j) {
            const double overlap = std::min(b, j * w) - std::max(a, (j - 1) * w);
            if (overlap > 0) out[static_cast<std::size_t>(j - 1)] += measured[static_cast<std::size_t>(i - 1)] * overlap / gain;
        }
    }
    Counts c{};
    for (int j = 0; j < kChannels; ++j) c[static_cast<std::size_t>(j)] = static_cast<std::int32_t>(std::lround(out[static_cast<std::size_t>(j)]));
    return c;
}

TEST_F(UnfoldTest, TheProfilesEnergyScaleAgainstRebinningToTheNominalGrid)
{
    // The analyser records on 0.1012 keV per channel with an offset of
    // 0.35 keV; the user entered 0.1.  Unfolding with that scale in the
    // profile gives what unfolding the spectrum moved onto the nominal grid
    // gives, and both give the truth.
    const float w = 0.1f;
    const double gain = 0.1012, offset = 0.35;
    UnfoldResponse scaled = response();
    scaled.profile.energyGainKevPerChannel = gain;
    scaled.profile.energyOffsetKeV = offset;
    const std::vector<double> truth = continuum(w, 80, 1.0e5);
    const Counts measured = measure(foldSpectrum(truth, w, 80, scaled), 17);
    const Counts withScale = unfoldSpectrum(measured, w, 80, scaled);
    const Counts nominal = unfoldSpectrum(rebinned(measured, gain, offset, w), w, 80, response());
    double worst = 0, worstTruth = 0;
    for (int k = 15; k < 75; ++k) {
        const double a = sumOver(withScale, w, k, k + 1), b = sumOver(nominal, w, k, k + 1);
        worst = std::max(worst, std::abs(a / b - 1.0));
        worstTruth = std::max(worstTruth, std::abs(a / sumOver(truth, w, k, k + 1) - 1.0));
    }
    EXPECT_LT(worst, 0.03);
    EXPECT_LT(worstTruth, 0.05);
}

TEST_F(UnfoldTest, AnOffScaleMeasurementNeedsTheScaleInTheProfile)
{
    const float w = 0.1f;
    UnfoldResponse scaled = response();
    scaled.profile.energyGainKevPerChannel = 0.1 * 1.01;
    scaled.profile.energyOffsetKeV = 0.3;
    const std::vector<double> truth = continuum(w, 80, 1.0e5);
    const Counts measured = measure(foldSpectrum(truth, w, 80, scaled), 29);
    auto mean = [&](const auto& s) {
        double n = 0, e = 0;
        for (int j = 101; j <= 800; ++j) {
            n += s[static_cast<std::size_t>(j - 1)];
            e += s[static_cast<std::size_t>(j - 1)] * (j - 0.5) * w;
        }
        return e / n;
    };
    const double trueMean = mean(truth);
    EXPECT_NEAR(mean(unfoldSpectrum(measured, w, 80, scaled)), trueMean, 0.03);
    // Without the scale the spectrum comes out about 1 % (0.4 keV) high.
    EXPECT_GT(std::abs(mean(unfoldSpectrum(measured, w, 80, response())) - trueMean), 0.2);
}

TEST_F(UnfoldTest, SaysWhenTheEnteredWidthIsNotTheProfilesGain)
{
    DetectorProfile p = testProfile();
    EXPECT_FALSE(energyScaleNote(p, 0.1f));  // no scale in the profile
    p.energyGainKevPerChannel = 0.1005;
    p.energyOffsetKeV = 0.02;
    EXPECT_FALSE(energyScaleNote(p, 0.1f));  // within 1 %
    p.energyGainKevPerChannel = 0.0985;
    const auto note = energyScaleNote(p, 0.1f);
    ASSERT_TRUE(note);
    EXPECT_NE(note->find("+1.5 %"), std::string::npos) << *note;
    EXPECT_NE(note->find("0.0985"), std::string::npos) << *note;
    // The channels are read on the profile's scale.
    const EnergyScale s = energyScaleFor(p, 0.1f);
    EXPECT_EQ(s.gainKevPerChannel, 0.0985);
    EXPECT_EQ(s.offsetKeV, 0.02);
}

TEST_F(UnfoldTest, ARunDecodesOnlyTheNodesItNeedsAndGetsTheSameResult)
{
    const std::string bytes = formatUnfoldResponse(response());
    const double needed = unfoldNeededKeV(40, 0.1f);  // 40.25 keV
    UnfoldResponse part = parseUnfoldResponse(bytes, "part.rsp", needed);
    part.profile = response().profile;
    EXPECT_EQ(part.nodes.size(), response().nodes.size());
    EXPECT_DOUBLE_EQ(part.decodedUpToKeV, 40.5);
    for (const ResponseNode& node : part.nodes)
        EXPECT_EQ(node.counts.empty(), node.energyKeV > 40.5) << node.energyKeV;
    const std::vector<double> truth = filteredTube(0.1, 40, 1.0e5);
    const Counts measured = measure(foldSpectrum(truth, 0.1f, 40, response()), 3);
    EXPECT_EQ(unfoldSpectrum(measured, 0.1f, 40, part), unfoldSpectrum(measured, 0.1f, 40, response()));
    // A run that needs more than was decoded is refused, not run on empty nodes.
    EXPECT_THROW(unfoldRange(part, 60, 0.1f), ResponseDataError);
}

TEST_F(UnfoldTest, RefusesVoltagesBeyondTheResponseData)
{
    const UnfoldResponse low = syntheticResponse(testProfile(), 60.0);
    try {
        unfoldSpectrum(Counts{}, 0.1f, 80, low);
        ADD_FAILURE() << "accepted";
    } catch (const ResponseDataError& e) {
        EXPECT_NE(std::string(e.what()).find("reach 60.0 keV"), std::string::npos) << e.what();
    }
    EXPECT_NO_THROW(unfoldRange(low, 55, 0.1f));
    EXPECT_THROW(unfoldRange(low, 80, 0.0f), StripInputError);
}

} // namespace
} // namespace tvstrip
