// The physics data as the generator uses it: K-group energies, the
// tabulated cross sections against the physics library, and the demo
// spectrum helpers against closed-form results.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "detector/kgroups.h"
#include "detector/medium.h"
#include "detector/physics_data.h"
#include "generator/scatterer.h"
#include "generator/spectra.h"

namespace tvgen {
using namespace tvdet;
namespace {

TEST(KGroupTest, RateWeightedEnergiesAreTheEscapeEnergiesOfTheStripping)
{
    const auto g = cdTeKGroups();
    // The four escape energies the stripping subtracts.  The K-alpha groups
    // agree to the 1 eV they are given with; the K-beta groups of this
    // line compilation lie 1.6 eV (Cd) and 3.9 eV (Te) higher, from its
    // K-N line energies, far inside a 0.5 keV response bin.
    EXPECT_NEAR(g[0].energyKeV, 23.108, 0.0005) << g[0].name;
    EXPECT_NEAR(g[1].energyKeV, 26.166, 0.005) << g[1].name;
    EXPECT_NEAR(g[2].energyKeV, 27.378, 0.0005) << g[2].name;
    EXPECT_NEAR(g[3].energyKeV, 31.103, 0.005) << g[3].name;
    // Whatever the energy on the 0.5 keV grid, each escape peak falls into
    // the bin the stripping takes it from.
    const int offsets[4] = {47, 53, 55, 63};
    for (int code = 320; code <= 1510; code += 5) {
        const double e = code / 10.0;
        const int k = static_cast<int>(e / 0.5 + 0.01);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(static_cast<int>((e - g[static_cast<std::size_t>(i)].energyKeV) / 0.5 + 0.01), k - offsets[i]);
    }
    // Each element's groups share out all its K radiative transitions.
    EXPECT_NEAR(g[0].share + g[1].share, 1.0, 0.01);
    EXPECT_NEAR(g[2].share + g[3].share, 1.0, 0.01);
    // Every K fluorescence photon of Te lies above the Cd K edge: Cd absorbs it on its K shell.
    EXPECT_GT(g[2].energyKeV, xrl::kEdge(48));
    EXPECT_LT(g[1].energyKeV, xrl::kEdge(48));
}

TEST(KGroupTest, GroupingSplitsLShellFromOuterShellLines)
{
    const std::vector<xrl::Line> lines{{"KL2", 10.0, 0.2}, {"KL3", 11.0, 0.6}, {"KM3", 12.0, 0.15}, {"KN2", 13.0, 0.05}};
    const auto g = groupKLines("X", 40, lines);
    EXPECT_NEAR(g[0].energyKeV, (10.0 * 0.2 + 11.0 * 0.6) / 0.8, 1e-12);
    EXPECT_NEAR(g[1].energyKeV, (12.0 * 0.15 + 13.0 * 0.05) / 0.2, 1e-12);
    EXPECT_NEAR(g[1].share, 0.2, 1e-12);
    EXPECT_THROW(groupKLines("X", 40, {{"KL3", 11.0, 0.6}}), PhysicsDataError);
}

TEST(MediumTest, TabulatedCoefficientsFollowThePhysicsDataAcrossEdges)
{
    const Medium cdte({{48, 0.4684}, {52, 0.5316}}, 5.85, true);
    // Off-grid energies, including both sides of the Cd and Te K edges and
    // the L edges.
    for (double e : {3.333, 3.54, 4.35, 5.004, 17.777, 26.70, 26.72, 31.80, 31.83, 59.537, 122.06, 150.99}) {
        const Coefficients t = cdte.at(e), x = cdte.exact(e);
        EXPECT_NEAR(t.total(), x.total(), 2e-3 * x.total()) << e;
        for (int i = 0; i < 2; ++i) {
            EXPECT_NEAR(t.part[i].photo, x.part[i].photo, 2e-3 * x.part[i].photo) << e;
            EXPECT_NEAR(t.part[i].compton, x.part[i].compton, 1e-4 * x.part[i].compton) << e;
            EXPECT_NEAR(t.part[i].kShare, x.part[i].kShare, 1e-3) << e;
        }
    }
    EXPECT_EQ(cdte.at(26.70).part[0].kShare, 0.0);
    EXPECT_GT(cdte.at(26.72).part[0].kShare, 0.8);
}

TEST(TubeSpectrumTest, TungstenKLinesOnlyAboveTheKEdge)
{
    TubeModel tube;
    tube.kilovolts = 60;
    const auto low = tubeSpectrum(tube);
    tube.kilovolts = 80;
    const auto high = tubeSpectrum(tube);
    auto weightNear = [](const PhotonSpectrum& s, double e) {
        double w = 0;
        for (std::size_t i = 0; i < s.weight.size(); ++i)
            if (std::abs(s.energyKeV[i] - e) < 0.05) w += s.weight[i];
        return w;
    };
    // W K-alpha1 at 59.3 keV: a line at 80 kV, only continuum at 60 kV.
    EXPECT_GT(weightNear(high, 59.32), 20.0 * weightNear(high, 62.0));
    EXPECT_LT(weightNear(low, 59.32), 2.0 * weightNear(low, 58.0));
    for (double w : high.weight) EXPECT_GE(w, 0.0);
    EXPECT_GT(high.meanEnergy(), low.meanEnergy());
}

TEST(TubeSpectrumTest, HalfValueLayerOfOneEnergyIsLn2OverMu)
{
    PhotonSpectrum mono{{60.0}, {1.0}};
    const double mu = xrl::total(13, 60.0) * xrl::elementDensity(13);  // 1/cm
    EXPECT_NEAR(halfValueLayerMm(mono), 10.0 * std::log(2.0) / mu, 1e-6);
    // A beam hardened by more aluminium has a larger half-value layer.
    TubeModel thin, thick;
    thin.aluminiumMm = 1.0;
    thick.aluminiumMm = 4.0;
    EXPECT_GT(halfValueLayerMm(tubeSpectrum(thick)), halfValueLayerMm(tubeSpectrum(thin)) + 0.3);
}

TEST(ScatteredSpectrumTest, ComptonEnergyAt90Degrees)
{
    // A 55.423 keV photon scattered at 90° comes out at 50 keV.
    const PhotonSpectrum primary{{55.423, 100.0}, {1.0, 1.0}};
    const auto s = comptonScattered(primary, std::numbers::pi / 2, pmma());
    EXPECT_NEAR(s.energyKeV[0], 50.0, 0.002);
    EXPECT_NEAR(s.energyKeV[1], 100.0 / (1.0 + 100.0 / 510.999), 1e-3);
    // The weights are Klein–Nishina times the molecule's S(x); S is near its
    // free-electron limit (54 electrons in C5H8O2) at these momentum transfers.
    const double kn = xrl::kleinNishina(100.0, std::numbers::pi / 2);
    EXPECT_GT(s.weight[1], 0.9 * 54 * kn);
    EXPECT_LE(s.weight[1], 54 * kn * 1.0001);
}

TEST(PhysicsDataTest, ErrorsOfTheLibraryBecomeExceptions)
{
    EXPECT_THROW(xrl::photo(48, -1.0), PhysicsDataError);
    EXPECT_THROW(xrl::nistCompound("No Such Material"), PhysicsDataError);
    EXPECT_FALSE(xrl::libraryVersion().empty());
}

TEST(TubeModelTest, ElectronDepthInTheAnodeAgainstAnEmpiricalRange)
{
    // The depth the round trip's tube takes for its anode's
    // self-absorption: the path of an electron slowing down from 50 to 150
    // keV (Bethe's collision stopping power of tungsten) against the
    // Kanaya-Okayama range, J. Phys. D 5, 43 (1972), R = 0.0276 A E^1.67 /
    // (Z^0.889 rho) um (E in keV).  The straight path must be somewhat
    // longer than the penetration range (electrons scatter and turn back),
    // not a factor off.
    for (double t0 : {50.0, 100.0, 150.0}) {
        double path = 0.0;
        const int n = 20000;
        for (int k = 0; k < n; ++k) {
            const double a = 1.0 + (t0 - 1.0) * k / n, b = 1.0 + (t0 - 1.0) * (k + 1) / n;
            path += 0.5 * (b - a) * (1.0 / tungstenStoppingPower(a) + 1.0 / tungstenStoppingPower(b));
        }
        const double rho = xrl::elementDensity(74);
        const double range = 0.0276 * xrl::atomicWeight(74) * std::pow(t0, 1.67) / (std::pow(74.0, 0.889) * rho) *
                             1e-4 * rho;  // g/cm2
        EXPECT_GT(path / range, 1.0) << t0;
        EXPECT_LT(path / range, 1.5) << t0;
    }
}

TEST(TubeModelTest, AnodeAndGlassHardenTheSpectrumButLeaveTheDefaultAlone)
{
    TubeModel plain;
    plain.kilovolts = 80;
    plain.stepKeV = 0.05;
    const PhotonSpectrum kramers = tubeSpectrum(plain);
    TubeModel tube = filteredTube(80);
    tube.stepKeV = 0.05;
    const PhotonSpectrum filtered = tubeSpectrum(tube);
    ASSERT_EQ(kramers.weight.size(), filtered.weight.size());
    // The plain model is Kramers' law behind the aluminium.
    for (std::size_t i = 0; i < kramers.weight.size(); i += 97) {
        const double e = kramers.energyKeV[i];
        if (e >= 80.0) break;
        EXPECT_NEAR(kramers.weight[i], (80.0 - e) / e * 0.05 * aluminiumTransmission(e, 0.25), 1e-12 * (1 + kramers.weight[i]));
    }
    // The anode and the glass absorb the more the lower the energy, from
    // above tungsten's L1 edge (12.1 keV) to its K edge (69.5 keV).
    // (The continuum's grid ascends; the K lines follow it.)
    double previous = 0.0;
    for (std::size_t i = 0; i < kramers.weight.size() && (i == 0 || kramers.energyKeV[i] > kramers.energyKeV[i - 1]);
         ++i) {
        const double e = kramers.energyKeV[i];
        if (e < 12.5 || e > 69.0 || kramers.weight[i] <= 0) continue;
        const double ratio = filtered.weight[i] / kramers.weight[i];
        EXPECT_GE(ratio, previous) << e;
        EXPECT_LT(ratio, 1.0) << e;
        previous = ratio;
    }
    // The glass is about 1 mm of aluminium.
    const double alEquivalent = std::log(glassTransmission(30.0, 1.5)) / std::log(aluminiumTransmission(30.0, 0.1));
    EXPECT_GT(alEquivalent, 0.5);
    EXPECT_LT(alEquivalent, 1.2);
}

} // namespace
} // namespace tvgen
