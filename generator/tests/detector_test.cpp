// The detector Monte Carlo against physics that can be computed without it:
// attenuation laws, the full-energy and K-escape shares of a central pencil
// beam, where the escape peaks fall, and reproducibility.
#include <gtest/gtest.h>

#include <cmath>

#include "detector/detector.h"
#include "detector/medium.h"
#include "detector/physics_data.h"
#include "detector/response_tables.h"

namespace tvgen {
using namespace tvdet;
namespace {

DetectorConfig bareCrystal()
{
    DetectorConfig c;
    c.windowCm = 0;
    c.chargeLoss = false;
    return c;
}

const Detector& bare()
{
    static const Detector d(bareCrystal());
    return d;
}

std::vector<Constituent> cdTeByWeight()
{
    const double a = xrl::atomicWeight(48), b = xrl::atomicWeight(52);
    return {{48, a / (a + b)}, {52, b / (a + b)}};
}

struct Shares {
    double interacted = 0, fullEnergy = 0, kEscape = 0, window = 0;
};

Shares run(const Detector& d, double energy, int photons, std::uint64_t seed)
{
    Rng rng(seed);
    Shares s;
    for (int n = 0; n < photons; ++n) {
        const PhotonResult r = d.simulate(energy, rng);
        s.window += r.stoppedByWindow;
        s.interacted += r.interacted;
        s.kEscape += r.kEscape;
        s.fullEnergy += r.interacted && std::abs(r.deposited - energy) < 1e-9;
    }
    s.interacted /= photons;
    s.fullEnergy /= photons;
    s.kEscape /= photons;
    s.window /= photons;
    return s;
}

TEST(DetectorTest, InteractionProbabilityFollowsTheAttenuationLaw)
{
    const int photons = 100000;
    for (double e : {20.0, 45.0, 100.0, 150.0}) {
        const double mu = attenuationCoefficient(cdTeByWeight(), 5.85, e);
        const double p = 1.0 - std::exp(-mu * 0.1);
        const double sd = std::sqrt(p * (1 - p) / photons);
        EXPECT_NEAR(run(bare(), e, photons, 11).interacted, p, 4 * sd + 1e-4) << e << " keV";
    }
}

TEST(DetectorTest, BerylliumWindowStopsTheExpectedShare)
{
    DetectorConfig c = bareCrystal();
    c.windowCm = 0.01;
    const Detector d(c);
    const int photons = 200000;
    for (double e : {5.0, 8.0}) {
        const double p = 1.0 - std::exp(-attenuationCoefficient({{4, 1.0}}, xrl::elementDensity(4), e) * 0.01);
        const double sd = std::sqrt(p * (1 - p) / photons);
        EXPECT_NEAR(run(d, e, photons, 12).window, p, 4 * sd) << e << " keV";
    }
}

struct Reference {
    double energy, fullEnergy, kEscape;
};

// Full-energy-peak efficiency and total K-escape share of a central pencil
// beam on the bare 3 x 3 x 1 mm crystal with complete charge collection.
TEST(DetectorTest, FullEnergyAndKEscapeSharesOfThePencilBeam)
{
    const int photons = 100000;  // standard deviation below 0.0016: ±0.01 is meaningful
    for (const Reference& ref : {Reference{40.0, 0.843, 0.154}, Reference{59.5, 0.897, 0.078},
                                 Reference{80.0, 0.770, 0.044}, Reference{122.0, 0.385, 0.020}}) {
        const Shares s = run(bare(), ref.energy, photons, 13);
        EXPECT_NEAR(s.fullEnergy, ref.fullEnergy, 0.01) << ref.energy << " keV";
        EXPECT_NEAR(s.kEscape, ref.kEscape, 0.01) << ref.energy << " keV";
    }
}

TEST(DetectorTest, NoKEscapeBelowTheCadmiumKEdge)
{
    EXPECT_EQ(run(bare(), 26.5, 50000, 14).kEscape, 0.0);
    EXPECT_GT(run(bare(), 27.0, 50000, 14).kEscape, 0.05);
}

ResponseRun response(const Detector& d, int code, int photons, int threads = 1)
{
    ResponseOptions o;
    o.photonsPerChunk = photons / 4;
    o.minChunks = 4;
    o.maxPeakUncertainty = 1.0;  // no extension
    o.threads = threads;
    return simulateResponse(d, code, o);
}

TEST(ResponseTest, EscapePeaksFallIntoTheirBins)
{
    for (int code : {595, 1000}) {
        const ResponseRun r = response(bare(), code, 100000);
        const int k = responseBin(codeEnergy(code));
        const auto& c = r.counts;
        for (int offset : {47, 53, 55, 63}) {
            const auto b = static_cast<std::size_t>(k - offset);
            EXPECT_GT(c[b], 3 * c[b - 1]) << code << " bin k-" << offset;
            EXPECT_GT(c[b], 3 * c[b + 1]) << code << " bin k-" << offset;
        }
        // Without charge loss the full-energy peak is a single bin.
        EXPECT_GT(c[static_cast<std::size_t>(k)], 100 * c[static_cast<std::size_t>(k - 1)]);
    }
}

TEST(ResponseTest, ChargeLossMovesPeakCountsIntoALowEnergyTail)
{
    DetectorConfig lossy = bareCrystal();
    lossy.chargeLoss = true;
    const Detector d(lossy);
    const ResponseRun complete = response(bare(), 1220, 100000);
    const ResponseRun partial = response(d, 1220, 100000);
    const int k = responseBin(122.0);
    auto sum = [](const ResponseRun& r, int from, int to) {
        std::int64_t s = 0;
        for (int b = from; b <= to; ++b) s += r.counts[static_cast<std::size_t>(b)];
        return s;
    };
    EXPECT_LT(partial.peakCounts(), 0.9 * complete.peakCounts());
    EXPECT_GT(sum(partial, k - 20, k - 2), 2 * sum(complete, k - 20, k - 2));
    // Charge is lost, never created: nothing above the photon energy.
    EXPECT_EQ(sum(partial, k + 1, static_cast<int>(kSimulatedBins) - 1), 0);
    // Every photon that interacted still leaves some charge.
    EXPECT_NEAR(static_cast<double>(sum(partial, 1, k)), static_cast<double>(sum(complete, 1, k)),
                0.01 * static_cast<double>(sum(complete, 1, k)));
}

TEST(ResponseTest, SameSeedSameTableWhateverTheThreads)
{
    const ResponseRun one = response(bare(), 400, 40000, 1);
    const ResponseRun two = response(bare(), 400, 40000, 2);
    EXPECT_EQ(one.counts, two.counts);
    ResponseOptions o;
    o.photonsPerChunk = 10000;
    o.minChunks = 4;
    o.maxPeakUncertainty = 1.0;
    o.seed = 99;
    EXPECT_NE(simulateResponse(bare(), 400, o).counts, one.counts);
}

TEST(ResponseTest, PhotonCountGrowsUntilThePeakIsPreciseEnough)
{
    ResponseOptions o;
    o.photonsPerChunk = 20000;
    o.minChunks = 1;
    o.maxPeakUncertainty = 0.005;
    o.threads = 2;
    const ResponseRun r = simulateResponse(bare(), 1400, o);
    EXPECT_LE(r.peakUncertainty(), 0.005);
    EXPECT_GT(r.photons, 20000);
}

} // namespace
} // namespace tvgen
