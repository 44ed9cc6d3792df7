// Stored histories re-weighted for a trial mu-tau against the detector
// simulated directly with that charge transport, the charge-collection
// table against the Hecht relation, and the model's mu-tau derivatives
// against finite differences.
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

#include "detector/histories.h"
#include "detector/source_model.h"
#include "detector/unfold_data.h"

namespace tvdet {
namespace {

DetectorConfig trial()
{
    DetectorConfig c;
    c.chargeLoss = true;
    c.mutauElectrons = 8e-4;
    c.mutauHoles = 4e-5;
    c.biasVolts = 300;
    return c;
}

TEST(CollectionTable, PeakAndValuesFollowTheHechtRelation)
{
    const DetectorConfig c = trial();
    const Detector direct(c);
    const CollectionTable table(c.thicknessCm, c.mutauElectrons, c.mutauHoles, c.biasVolts);
    // The analytic maximum is the maximum of a fine scan.
    EXPECT_NEAR(table.peak(), direct.peakCollection(), 1e-9);
    for (double z : {0.0, 1e-4, 0.00731, 0.05, 0.0999, 0.1})
        EXPECT_NEAR(table.calibrated(z), direct.chargeCollection(z) / table.peak(), 1e-8) << z;
}

TEST(CollectionTable, SlopesAreTheDerivativesWithRespectToLogMutau)
{
    const DetectorConfig c = trial();
    const double h = 1e-5;
    auto at = [&](double dlnE, double dlnH, double z) {
        return CollectionTable(c.thicknessCm, c.mutauElectrons * std::exp(dlnE), c.mutauHoles * std::exp(dlnH),
                               c.biasVolts)
            .calibrated(z);
    };
    const CollectionTable table(c.thicknessCm, c.mutauElectrons, c.mutauHoles, c.biasVolts);
    for (double z : {0.0005, 0.004, 0.03, 0.09}) {
        const auto s = table.calibratedWithSlopes(z);
        EXPECT_NEAR(s.electrons, (at(h, 0, z) - at(-h, 0, z)) / (2 * h), 1e-6) << z;
        EXPECT_NEAR(s.holes, (at(0, h, z) - at(0, -h, z)) / (2 * h), 1e-6) << z;
    }
}

// The transport draws the same random numbers whatever the charge
// collection, so histories simulated once and re-weighted for a trial
// mu-tau give every event the energy the direct simulation gives it.
TEST(Histories, ReweightedEventsMatchTheDirectSimulationEventByEvent)
{
    DetectorConfig bare = trial();
    bare.chargeLoss = false;
    const Detector transport(bare);
    const Detector direct(trial());
    const CollectionTable cce(bare.thicknessCm, trial().mutauElectrons, trial().mutauHoles, trial().biasVolts);
    for (double energy : {17.75, 59.54, 122.06}) {
        HistoryOptions o;
        o.photonsPerChunk = 5000;
        const LineHistories h = simulateHistories(transport, energy, 20000, o);
        const std::vector<double> recorded = recordedEnergies(h, cce);
        // The direct simulation with the same streams.
        std::vector<double> expected;
        const double peak = direct.peakCollection();
        const auto key = static_cast<std::uint64_t>(std::llround(energy * 1000.0));
        for (std::uint64_t chunk = 0; chunk < 4; ++chunk) {
            Rng rng(streamSeed(o.seed, key, chunk));
            for (int k = 0; k < 5000; ++k) {
                const PhotonResult r = direct.simulate(energy, rng);
                if (r.collected > 0) expected.push_back(r.collected / peak);
            }
        }
        ASSERT_EQ(recorded.size(), expected.size()) << energy;
        double worst = 0;
        for (std::size_t k = 0; k < recorded.size(); ++k) worst = std::max(worst, std::abs(recorded[k] - expected[k]));
        // Deposits are stored in single precision.
        EXPECT_LT(worst, 2e-5 * energy) << energy;
        // The charge loss is really there: the peak's tail holds events well below the line.
        EXPECT_GT(std::count_if(recorded.begin(), recorded.end(), [&](double e) { return e < 0.97 * energy && e > 0.9 * energy; }), 50);
    }
}

TEST(Histories, ReweightedSpectrumAgreesWithAnIndependentDirectSimulation)
{
    // Other random streams: the two histograms agree within counting noise.
    DetectorConfig bare = trial();
    bare.chargeLoss = false;
    const Detector transport(bare);
    const Detector direct(trial());
    const CollectionTable cce(bare.thicknessCm, trial().mutauElectrons, trial().mutauHoles, trial().biasVolts);
    const double energy = 59.54;
    HistoryOptions o;
    o.seed = 11;
    const LineHistories h = simulateHistories(transport, energy, 100000, o);
    const double bin = 1.0;
    std::vector<double> a(61, 0.0), b(61, 0.0);
    for (double e : recordedEnergies(h, cce)) a[std::min<std::size_t>(60, static_cast<std::size_t>(e / bin))] += 1;
    Rng rng(99);
    const double peak = direct.peakCollection();
    for (int k = 0; k < 100000; ++k) {
        const PhotonResult r = direct.simulate(energy, rng);
        if (r.collected > 0) b[std::min<std::size_t>(60, static_cast<std::size_t>(r.collected / peak / bin))] += 1;
    }
    double chi2 = 0;
    int dof = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i] + b[i] > 20) {
            chi2 += (a[i] - b[i]) * (a[i] - b[i]) / (a[i] + b[i]);
            ++dof;
        }
    ASSERT_GT(dof, 20);
    EXPECT_LT(chi2, dof + 5 * std::sqrt(2.0 * dof));
}

TEST(Histories, DoNotDependOnTheThreads)
{
    const Detector transport(DetectorConfig{});
    HistoryOptions one, two;
    one.photonsPerChunk = two.photonsPerChunk = 3000;
    two.threads = 2;
    const LineHistories a = simulateHistories(transport, 80.0, 10000, one);
    const LineHistories b = simulateHistories(transport, 80.0, 10000, two);
    ASSERT_EQ(a.events(), b.events());
    ASSERT_EQ(a.deposits.size(), b.deposits.size());
    for (std::size_t k = 0; k < a.deposits.size(); ++k) {
        EXPECT_EQ(a.deposits[k].depthCm, b.deposits[k].depthCm);
        EXPECT_EQ(a.deposits[k].energyKeV, b.deposits[k].energyKeV);
    }
    EXPECT_EQ(a.first, b.first);
}

TEST(SourceModel, MutauAndAbsorberDerivativesMatchFiniteDifferences)
{
    DetectorConfig bare;
    const Detector transport(bare);
    std::vector<SourceLine> lines = {{59.54, 0.36, true, 0.28}, {26.34, 0.024, true, 1.6}};
    HistoryOptions o;
    o.photonsPerChunk = 10000;
    const SourceModel model(lines, transport, 40000, 0.025, 70.0, o);
    const double lnE = std::log(1e-3), lnH = std::log(8e-5), t = 0.02, bias = 300, d = bare.thicknessCm;
    Readout r;
    r.gain = 0.1;
    auto folded = [&](double dE, double dH, double dt, int which) {
        PartHistograms h;
        model.spectrum(CollectionTable(d, std::exp(lnE + dE), std::exp(lnH + dH), bias), t + dt, h);
        std::vector<double> out;
        foldIntoChannels(h[static_cast<std::size_t>(which)], 0.025, r, 200, 620, out);
        return out;
    };
    PartHistograms h, de, dh, dt;
    SpectrumDerivatives d3;
    d3.electrons = &de;
    d3.holes = &dh;
    d3.absorber = &dt;
    model.spectrum(CollectionTable(d, std::exp(lnE), std::exp(lnH), bias), t, h, d3);
    const double step = 0.01;
    for (int which : {0, 1}) {
        std::vector<double> analytic;
        const auto up = folded(0, step, 0, which), down = folded(0, -step, 0, which);
        foldIntoChannels(dh[static_cast<std::size_t>(which)], 0.025, r, 200, 620, analytic);
        double norm = 0, diff = 0;
        for (std::size_t i = 0; i < analytic.size(); ++i) {
            const double fd = (up[i] - down[i]) / (2 * step);
            norm += fd * fd;
            diff += (fd - analytic[i]) * (fd - analytic[i]);
        }
        ASSERT_GT(norm, 0);
        EXPECT_LT(std::sqrt(diff / norm), 0.02) << "holes, part " << which;
    }
    {
        std::vector<double> analytic;
        const auto up = folded(step, 0, 0, 0), down = folded(-step, 0, 0, 0);
        foldIntoChannels(de[0], 0.025, r, 200, 620, analytic);
        double norm = 0, diff = 0;
        for (std::size_t i = 0; i < analytic.size(); ++i) {
            const double fd = (up[i] - down[i]) / (2 * step);
            norm += fd * fd;
            diff += (fd - analytic[i]) * (fd - analytic[i]);
        }
        EXPECT_LT(std::sqrt(diff / norm), 0.05) << "electrons";
    }
    {
        std::vector<double> analytic;
        const auto up = folded(0, 0, 1e-4, 0), down = folded(0, 0, -1e-4, 0);
        foldIntoChannels(dt[0], 0.025, r, 200, 620, analytic);
        for (std::size_t i = 0; i < analytic.size(); i += 10)
            EXPECT_NEAR(analytic[i], (up[i] - down[i]) / 2e-4, 1e-6 * std::abs(analytic[i]) + 1e-12);
    }
}

TEST(FoldIntoChannels, KeepsCountsAndPlacesALineWithItsWidth)
{
    // A line at 59.5 keV: all counts within the channels, mean and width
    // as the readout says.
    std::vector<double> h(4000, 0.0);
    h[static_cast<std::size_t>(59.5 / 0.025)] = 1000.0;  // bin centred at 59.5125 keV
    Readout r;
    r.gain = 0.1;
    r.offset = 0.3;
    r.a = 0.25;
    r.b = 0.002;
    r.gamma = 1e-5;
    std::vector<double> out;
    foldIntoChannels(h, 0.025, r, 1, 1000, out);
    double sum = 0, mean = 0, var = 0;
    for (std::size_t i = 0; i < out.size(); ++i) {
        sum += out[i];
        mean += out[i] * (r.offset + (static_cast<double>(i) + 0.5) * r.gain);
    }
    mean /= sum;
    for (std::size_t i = 0; i < out.size(); ++i) {
        const double e = r.offset + (static_cast<double>(i) + 0.5) * r.gain - mean;
        var += out[i] * e * e;
    }
    var /= sum;
    EXPECT_NEAR(sum, 1000.0, 1e-6);
    EXPECT_NEAR(mean, 59.5125, 1e-4);
    // The channels add w²/12 to the spread; the sharing between bin centres is taken out.
    const double sigma2 = r.fwhm2(59.5125) / (8 * std::log(2.0)) - 0.025 * 0.025 / 6 + 0.01 / 12;
    EXPECT_NEAR(var, sigma2, 2e-3 * sigma2);
}

} // namespace
} // namespace tvdet
