// The characterization against detectors it does not know: spectra of
// calibration sources simulated by the detector Monte Carlo with a charge
// transport, resolution and energy scale other than the shipped detector's,
// and with what the fit does not model exactly (a stainless-steel capsule
// where the fit assumes aluminium, photons scattered by an iron scatterer
// over a limited range of angles with its binding, a flat background,
// counting noise).  And every refusal.
#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "detector/characterize.h"
#include "detector/source_sim.h"

namespace tvdet {
namespace {

struct Truth {
    SimulatedDetector detector;
    double nominal = 0.15;
    std::vector<std::pair<std::string, double>> sources;  // nuclide, photons toward the detector
    double fwhmAt5954() const
    {
        const double e = 59.54, c = detector.fwhmProportional;
        return std::sqrt(detector.fwhm2Constant + detector.fwhm2Linear * e + c * c * e * e);
    }
};

// A Schottky-like detector at 400 V on an analyser of 0.15 keV per channel.
Truth detectorA()
{
    Truth t;
    t.detector.config.mutauElectrons = 1.5e-3;
    t.detector.config.mutauHoles = 2e-4;
    t.detector.config.biasVolts = 400;
    t.detector.fwhm2Constant = 0.30;
    t.detector.fwhm2Linear = 0.0035;
    t.detector.fwhmProportional = 0.0025;
    t.detector.gain = 0.1508;
    t.detector.offset = -0.23;
    t.nominal = 0.15;
    t.sources = {{"241Am", 5e4}, {"57Co", 1e5}, {"133Ba", 1.5e5}};
    return t;
}

// Poorer holes, a lower bias and a wider resolution, 0.1 keV per channel
// (the analyser ends at about 101 keV: no 57Co line, 109Cd instead).
Truth detectorB()
{
    Truth t;
    t.detector.config.mutauElectrons = 1.0e-3;
    t.detector.config.mutauHoles = 6e-5;
    t.detector.config.biasVolts = 300;
    t.detector.fwhm2Constant = 0.45;
    t.detector.fwhm2Linear = 0.004;
    t.detector.fwhmProportional = 0.004;
    t.detector.gain = 0.0985;
    t.detector.offset = 0.31;
    t.nominal = 0.1;
    t.sources = {{"241Am", 5e4}, {"109Cd", 5e4}, {"133Ba", 1.5e5}};
    return t;
}

// The measured spectra of a detector, simulated once per test program.
const std::vector<CalibrationSpectrum>& measured(const Truth& t, const std::string& key)
{
    static std::map<std::string, std::vector<CalibrationSpectrum>> cache;
    auto it = cache.find(key);
    if (it != cache.end()) return it->second;
    std::vector<CalibrationSpectrum> spectra;
    std::uint64_t seed = 100;
    for (const auto& [nuclide, photons] : t.sources) {
        SourceSetup s;
        s.nuclide = nuclide;
        s.photons = photons;
        s.encapsulation = stainlessSteel();
        s.encapsulationGPerCm2 = nuclide == "241Am" ? 0.004 : 0.008;
        s.scatterShare = 0.04;
        s.flatPerChannel = 0.2;
        spectra.push_back({nuclide, nuclide + ".csv", simulateSourceMeasurement(t.detector, s, seed++, 2)});
    }
    return cache.emplace(key, std::move(spectra)).first->second;
}

CharacterizeOptions fast()
{
    CharacterizeOptions o;
    o.threads = 2;
    o.eventsPerCount = 3;
    o.minEvents = 60000;
    o.maxEvents = 400000;
    return o;
}

Construction constructionOf(const Truth& t)
{
    Construction c;
    c.biasVolts = t.detector.config.biasVolts;
    return c;
}

void expectRecovered(const Truth& t, const Characterization& r)
{
    const auto& d = t.detector;
    // The goals of a characterization.
    EXPECT_NEAR(r.gain.value / d.gain, 1.0, 0.001);
    EXPECT_NEAR(r.offset.value, d.offset, 0.02);
    EXPECT_NEAR(r.fwhmAt5954.value / t.fwhmAt5954(), 1.0, 0.03);
    EXPECT_NEAR(r.mutauHoles.value / d.config.mutauHoles, 1.0, 0.15);
    // And within their own uncertainties.
    EXPECT_LT(std::abs(r.gain.value - d.gain), 4 * r.gain.uncertainty);
    EXPECT_LT(std::abs(r.offset.value - d.offset), 4 * r.offset.uncertainty);
    EXPECT_LT(std::abs(r.fwhmAt5954.value - t.fwhmAt5954()), 4 * r.fwhmAt5954.uncertainty);
    EXPECT_LT(std::abs(r.mutauHoles.value - d.config.mutauHoles), 4 * r.mutauHoles.uncertainty);
    EXPECT_LT(std::abs(r.mutauElectrons.value - d.config.mutauElectrons), 4 * r.mutauElectrons.uncertainty);
    EXPECT_LT(r.deviancePerChannel, 1.5);
    // The profile it makes is the detector found, with its energy scale.
    const auto p = r.profile();
    EXPECT_EQ(p.energyGainKevPerChannel, r.gain.value);
    EXPECT_EQ(p.energyOffsetKeV, r.offset.value);
    EXPECT_EQ(p.biasVolts, d.config.biasVolts);
    EXPECT_EQ(p.mutauHoles, r.mutauHoles.value);
}

TEST(Characterize, RecoversADetectorOtherThanTheShippedOne)
{
    const Truth t = detectorA();
    const auto r = characterize(measured(t, "A"), t.nominal, constructionOf(t), fast());
    expectRecovered(t, r);
    ASSERT_EQ(r.sources.size(), 3u);
    for (const auto& s : r.sources) {
        EXPECT_EQ(s.model.size(), s.measured.size());
        EXPECT_GT(s.counts, 1e4);
        // The parts add up to the model.
        for (std::size_t i = 0; i < s.model.size(); i += 37) {
            double sum = 0;
            for (const auto& part : s.parts) sum += part[i];
            EXPECT_NEAR(sum, s.model[i], 1e-6 * s.model[i] + 1e-9);
        }
    }
}

TEST(Characterize, RecoversASecondDetectorOnAnotherAnalyser)
{
    const Truth t = detectorB();
    const auto r = characterize(measured(t, "B"), t.nominal, constructionOf(t), fast());
    expectRecovered(t, r);
}

std::string refusal(const std::vector<CalibrationSpectrum>& spectra, double w, const CharacterizeOptions& o,
                    const Construction& c = {})
{
    try {
        characterize(spectra, w, c, o);
    } catch (const CharacterizationError& e) {
        return e.what();
    }
    return "(accepted)";
}

TEST(CharacterizeRefuses, PlainFaultsOfTheInputBeforeAnyWork)
{
    const Truth t = detectorA();
    const auto& good = measured(t, "A");
    auto one = [&](std::size_t k) { return std::vector<CalibrationSpectrum>{good[k]}; };

    auto unknown = one(0);
    unknown[0].nuclide = "241Xx";
    EXPECT_NE(refusal(unknown, 0.15, fast()).find("241Am.csv: unknown radionuclide \"241Xx\""), std::string::npos);

    auto empty = one(0);
    std::fill(empty[0].counts.begin(), empty[0].counts.end(), 0.0);
    EXPECT_NE(refusal(empty, 0.15, fast()).find("241Am.csv: the spectrum is empty"), std::string::npos);

    auto saturated = one(0);
    for (double& v : saturated[0].counts) v = std::min(v, 3000.0);
    const std::string s = refusal(saturated, 0.15, fast());
    EXPECT_NE(s.find("241Am.csv: the spectrum is saturated"), std::string::npos) << s;

    // The peaks sit at 0.1508 keV per channel: 0.12 is 20.4 % too small... and 0.19 too large.
    for (double w : {0.12, 0.19}) {
        const std::string m = refusal(good, w, fast(), constructionOf(t));
        EXPECT_NE(m.find("keV per channel"), std::string::npos) << m;
        EXPECT_NE(m.find("0.15"), std::string::npos) << m;
    }

    auto few = one(0);
    for (double& v : few[0].counts) v = std::floor(v / 20.0);
    const std::string f = refusal(few, 0.15, fast());
    EXPECT_NE(f.find("241Am.csv: too few counts to fit"), std::string::npos) << f;
    EXPECT_NE(f.find("at least 5 000"), std::string::npos) << f;
}

TEST(CharacterizeRefuses, SpectraTheModelDoesNotDescribe)
{
    const Truth t = detectorA();
    const auto& good = measured(t, "A");
    CharacterizeOptions o = fast();
    o.minEvents = 20000;
    o.maxEvents = 40000;
    o.maxIterations = 40;

    // A 57Co spectrum named 241Am.
    auto wrong = std::vector<CalibrationSpectrum>{good[1]};
    wrong[0].nuclide = "241Am";
    std::string m = refusal(wrong, 0.15, o, constructionOf(t));
    EXPECT_NE(m.find("57Co.csv as 241Am"), std::string::npos) << m;

    // A tube spectrum: a smooth continuum without lines.
    CalibrationSpectrum tube{"241Am", "W80kV.csv", std::vector<double>(1024, 0.0)};
    Rng rng(3);
    for (std::size_t i = 0; i < tube.counts.size(); ++i) {
        const double e = (i + 0.5) * 0.15;
        const double mean = e < 80 ? 400.0 * (80 - e) / 80 * std::exp(-std::pow(14.0 / e, 3)) : 0.0;
        tube.counts[i] = std::max(0.0, std::round(mean + std::sqrt(mean) * rng.normal()));
    }
    m = refusal({tube}, 0.15, o, constructionOf(t));
    EXPECT_NE(m.find("W80kV.csv as 241Am"), std::string::npos) << m;
}

TEST(CharacterizeRefuses, AFitThatDoesNotSettleOrEndsOnABound)
{
    const Truth t = detectorA();
    const auto one = std::vector<CalibrationSpectrum>{measured(t, "A")[0]};
    CharacterizeOptions o = fast();
    o.minEvents = 20000;
    o.maxEvents = 40000;

    CharacterizeOptions brief = o;
    brief.maxIterations = 2;
    std::string m = refusal(one, 0.15, brief, constructionOf(t));
    EXPECT_NE(m.find("the fit of 241Am.csv as 241Am did not converge within 2 iterations"), std::string::npos) << m;

    CharacterizeOptions strict = o;
    strict.maxDeviancePerChannel = 0.3;
    m = refusal(one, 0.15, strict, constructionOf(t));
    EXPECT_NE(m.find("241Am.csv: the spectrum does not fit the lines of 241Am (deviance per channel"),
              std::string::npos)
        << m;

    CharacterizeOptions narrow = o;
    narrow.mutauHolesMax = 5e-5;  // the detector's holes have 2e-4
    m = refusal(one, 0.15, narrow, constructionOf(t));
    EXPECT_NE(m.find("the hole mu-tau ends at the edge of its range (5e-05): the spectra (241Am.csv as 241Am)"),
              std::string::npos)
        << m;

    CharacterizeOptions demanding = o;
    demanding.maxRelativeUncertaintyHoles = 0.001;
    m = refusal(one, 0.15, demanding, constructionOf(t));
    EXPECT_NE(m.find("too few counts: the hole mu-tau comes out with a standard uncertainty of"), std::string::npos)
        << m;
    EXPECT_NE(m.find("in 241Am.csv"), std::string::npos) << m;
    EXPECT_NE(m.find("times as many counts are needed"), std::string::npos) << m;
}

TEST(Characterize, GuessesTheEnergyScaleFromThePeaks)
{
    const Truth t = detectorB();
    const ScaleGuess g = guessEnergyScale(measured(t, "B"), 0.1, constructionOf(t));
    // Close enough for the fit to start from: every line within a channel or two.
    for (double e : {13.95, 22.16, 59.54, 80.99}) {
        const double channel = (e - t.detector.offset) / t.detector.gain;
        EXPECT_NEAR(g.offset + channel * g.gain, e, 0.5) << e;
    }
    ASSERT_EQ(g.match.size(), 3u);
}

TEST(Radionuclides, ComeFromTheRadionuclideTable)
{
    const auto am = xrl::radionuclide("241Am");
    EXPECT_EQ(am.daughterZ, 93);
    bool gamma595 = false;
    for (const auto& l : am.lines)
        if (l.gamma && std::abs(l.energyKeV - 59.54) < 0.01) gamma595 = l.perDecay > 0.3;
    EXPECT_TRUE(gamma595);
    for (const char* name : {"57Co", "133Ba", "109Cd", "153Gd"}) EXPECT_FALSE(xrl::radionuclide(name).lines.empty()) << name;
    EXPECT_THROW(xrl::radionuclide("60Co"), PhysicsDataError);
}

} // namespace
} // namespace tvdet
