// The response data of the unfolding method against physics known without
// them: the calibrated full-energy peak at the photon energy, the
// full-energy and K-escape shares of the complete-collection model and of
// the shipped response tables, the absorption edges, reproducibility, and
// the shipped files matching today's detector.
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

#include "detector/detector.h"
#include "detector/physics_data.h"
#include "generator/spectra.h"
#include "detector/unfold_data.h"
#include "strip/response_table.h"
#include "strip/unfold_response.h"

namespace tvgen {
using namespace tvdet;
namespace {

const std::filesystem::path kShippedRes = std::filesystem::path(TARVIK_SOURCE_DIR) / "data" / "RES";

UnfoldDataOptions quick(int threads = 1)
{
    UnfoldDataOptions o;
    o.photonsPerChunk = 25000;
    o.threads = threads;
    return o;
}

double share(const std::vector<std::uint32_t>& counts, double lossBin, double from, double to, double photons)
{
    double s = 0;
    for (std::size_t b = 0; b < counts.size(); ++b) {
        const double loss = (static_cast<double>(b) + 0.5) * lossBin;
        if (loss >= from && loss < to) s += counts[b];
    }
    return s / photons;
}

const Detector& shipped()
{
    static const Detector d(detectorConfig(defaultDetectorProfile()));
    return d;
}

// Largest calibrated loss of a photon absorbed whole: the charge created
// where the collection is poorest.
double tailReach(const Detector& d, double energy)
{
    double worst = 1.0;
    for (int n = 0; n <= 1000; ++n)
        worst = std::min(worst, d.chargeCollection(d.config().thicknessCm * n / 1000.0));
    return energy * (1.0 - worst / d.peakCollection());
}

TEST(UnfoldDataTest, ShippedProfileIsTodaysDetectorAndTheShippedDataWereMadeFromIt)
{
    const tvstrip::DetectorProfile p = defaultDetectorProfile();
    const DetectorConfig today;
    const DetectorConfig c = detectorConfig(tvstrip::parseDetectorProfile(tvstrip::formatDetectorProfile(p), "p"));
    EXPECT_DOUBLE_EQ(c.widthCm, today.widthCm);
    EXPECT_DOUBLE_EQ(c.thicknessCm, today.thicknessCm);
    EXPECT_DOUBLE_EQ(c.density, today.density);
    EXPECT_DOUBLE_EQ(c.windowCm, today.windowCm);
    EXPECT_EQ(c.mutauElectrons, today.mutauElectrons);
    EXPECT_EQ(c.mutauHoles, today.mutauHoles);
    EXPECT_EQ(c.biasVolts, today.biasVolts);
    EXPECT_TRUE(c.chargeLoss);

    const tvstrip::UnfoldResponse r = tvstrip::loadUnfoldResponse(kShippedRes);
    EXPECT_EQ(r.profileFingerprint, p.transportFingerprint());
    EXPECT_DOUBLE_EQ(r.profile.fwhmKeV(60.0), resolutionFwhm(60.0));
    const auto energies = unfoldNodeEnergies();
    ASSERT_EQ(r.nodes.size(), energies.size());
    for (std::size_t i = 0; i < energies.size(); ++i) EXPECT_DOUBLE_EQ(r.nodes[i].energyKeV, energies[i]);
}

TEST(UnfoldDataTest, CalibratedFullEnergyPeakEndsAtThePhotonEnergy)
{
    for (double e : {20.0, 59.5, 122.0}) {
        const auto c = simulateLoss(shipped(), e, 0.02, 100000, quick());
        // The peak's upper edge lies in the first loss bin, its mode at most
        // 0.04 keV below the photon energy at any energy.
        EXPECT_GT(c[0], 0u) << e;
        const auto mode = std::max_element(c.begin(), c.end()) - c.begin();
        EXPECT_LE(mode, 1) << e;
        // Photons absorbed whole stay within the Hecht tail.
        EXPECT_EQ(c.size(), static_cast<std::size_t>(std::ceil(e / 0.02)) + 1);
    }
    // Uncalibrated, the peak would sit 0.5 % low: 0.6 keV at 122 keV.
    EXPECT_NEAR(shipped().peakCollection(), 0.9953, 0.0001);
}

TEST(UnfoldDataTest, FullEnergyAndEscapeSharesAgreeWithCompleteCollection)
{
    // Charge loss moves where a photon is recorded, not whether: the
    // peak with its tail holds the full-energy share of the
    // complete-collection model (reference values of the bare crystal),
    // and the K escapes with their tails the K-escape share.
    DetectorConfig bareConfig = detectorConfig(defaultDetectorProfile());
    bareConfig.windowCm = 0;
    const Detector bare(bareConfig);
    struct Ref {
        double energy, fullEnergy, kEscape;
    };
    for (const Ref& ref : {Ref{40.0, 0.843, 0.154}, Ref{59.5, 0.897, 0.078}, Ref{80.0, 0.770, 0.044}}) {
        const double photons = 100000;
        const auto c = simulateLoss(bare, ref.energy, 0.02, 100000, quick(2));
        EXPECT_NEAR(share(c, 0.02, 0.0, tailReach(bare, ref.energy) + 0.02, photons), ref.fullEnergy, 0.01)
            << ref.energy;
        const double lowest = 23.1079 - 0.05;  // Cd K-alpha escape
        const double highest = 31.1069 + tailReach(bare, ref.energy - 23.1) + 0.05;  // Te K-beta with its tail
        EXPECT_NEAR(share(c, 0.02, lowest, highest, photons), ref.kEscape, 0.01) << ref.energy;
    }
}

TEST(UnfoldDataTest, EscapeSharesMatchTheShippedResponseTable)
{
    // The shipped table of 59.5 keV (complete collection, with window):
    // escape peaks in bins k-47, k-53, k-55, k-63 per 500000 photons.
    const tvstrip::ResponseTable t = tvstrip::loadResponseTable(kShippedRes / "595kev.dat");
    const int k = 119;
    double tableEscape = 0;
    for (int off : {47, 53, 55, 63}) tableEscape += t[static_cast<std::size_t>(k - off)];
    tableEscape /= 500000.0;
    const double tablePeak = (t[static_cast<std::size_t>(k - 1)] + t[static_cast<std::size_t>(k)]) / 500000.0;
    const double photons = 200000;
    const auto c = simulateLoss(shipped(), 59.5, 0.02, 200000, quick(2));
    const double escape = share(c, 0.02, 23.05, 31.11 + tailReach(shipped(), 36.4) + 0.05, photons);
    const double peak = share(c, 0.02, 0.0, tailReach(shipped(), 59.5) + 0.02, photons);
    // Binomial standard deviations of the two runs together, four of them.
    EXPECT_NEAR(escape, tableEscape, 4 * std::sqrt(2 * tableEscape / photons) + 0.002);
    EXPECT_NEAR(peak, tablePeak, 4 * std::sqrt(2 * tablePeak * (1 - tablePeak) / photons) + 0.002);
}

TEST(UnfoldDataTest, NodesStraddleTheKEdgesAndEscapesBeginAboveThem)
{
    const auto e = unfoldNodeEnergies();
    EXPECT_TRUE(std::is_sorted(e.begin(), e.end()));
    EXPECT_EQ(e.front(), 5.0);
    EXPECT_EQ(e.back(), 151.0);
    for (int z : {48, 52}) {
        const double edge = xrl::kEdge(z);
        const auto above = std::upper_bound(e.begin(), e.end(), edge);
        ASSERT_NE(above, e.begin());
        EXPECT_LT(*above - edge, 0.01) << z;
        EXPECT_LT(edge - *(above - 1), 0.01) << z;
    }
    const double cdEdge = xrl::kEdge(48);
    const auto below = simulateLoss(shipped(), cdEdge - 0.005, 0.02, 50000, quick());
    const auto over = simulateLoss(shipped(), cdEdge + 0.005, 0.02, 50000, quick());
    // Below the edge only scattering reaches these losses.
    EXPECT_LT(share(below, 0.02, 23.0, 24.5, 50000), 0.002);
    EXPECT_GT(share(over, 0.02, 23.0, 24.5, 50000), 0.05);
}

TEST(UnfoldDataTest, SameSeedSameDataWhateverTheThreads)
{
    const auto one = simulateLoss(shipped(), 45.0, 0.02, 60000, quick(1));
    const auto two = simulateLoss(shipped(), 45.0, 0.02, 60000, quick(2));
    EXPECT_EQ(one, two);
    UnfoldDataOptions other = quick();
    other.seed = 7;
    EXPECT_NE(simulateLoss(shipped(), 45.0, 0.02, 60000, other), one);
}

} // namespace
} // namespace tvgen
