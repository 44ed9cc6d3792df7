// Pulse pile-up in the unfolding: the model of the recorded pulses against a
// direct simulation of pulses in time, the share from what the caller knows,
// and the recovery of a known spectrum measured with pile-up made by that
// simulation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "strip/tests/synthetic_response.h"
#include "strip/unfold.h"

namespace tvstrip {
namespace {

// Events drawn from `spectrum` (channel i, 1-based, holds ((i-1) w, i w],
// uniform within) arrive as a Poisson process with `meanExtra` events per
// resolving time on average; a pulse collects every event that arrives
// within the resolving time after it starts and records their summed
// energy.  Returns the histogram of the recorded pulses on the same grid
// (sums beyond the grid are dropped) and the share of pulses with more than
// one event.
struct Pulses {
    std::vector<double> histogram;
    double share = 0;
    double pulses = 0;
};
Pulses simulatePulses(const std::vector<double>& spectrum, double w, long events, double meanExtra, unsigned seed)
{
    std::mt19937_64 rng(seed);
    std::discrete_distribution<int> channel(spectrum.begin(), spectrum.end());
    std::uniform_real_distribution<double> within(0.0, 1.0);
    std::exponential_distribution<double> gap(meanExtra);  // in units of the resolving time
    auto energy = [&] { return (channel(rng) + within(rng)) * w; };
    Pulses p;
    p.histogram.assign(spectrum.size(), 0.0);
    double piled = 0;
    double nextArrival = gap(rng);
    long used = 0;
    while (used < events) {
        // A pulse starts with this event; later ones within 1 join it.
        const double start = nextArrival;
        double sum = energy();
        ++used;
        int inPulse = 1;
        nextArrival = start + gap(rng);
        while (nextArrival < start + 1.0 && used < events) {
            sum += energy();
            ++used;
            ++inPulse;
            nextArrival += gap(rng);
        }
        p.pulses += 1;
        if (inPulse > 1) piled += 1;
        const auto k = static_cast<std::size_t>(std::ceil(sum / w));
        if (k >= 1 && k <= p.histogram.size()) p.histogram[k - 1] += 1;
    }
    p.share = piled / p.pulses;
    return p;
}

// A detected spectrum with a continuum and two lines, 0.5 keV channels up
// to 150 keV, events up to 60 keV.
std::vector<double> detectedSpectrum()
{
    std::vector<double> s(300, 0.0);
    for (int i = 20; i < 120; ++i) s[static_cast<std::size_t>(i)] = 100.0 + 2.0 * i;
    s[59] += 3000.0;   // 29.5-30 keV
    s[109] += 5000.0;  // 54.5-55 keV
    return s;
}

TEST(PileupModelTest, MatchesADirectSimulationOfPulsesInTime)
{
    const double w = 0.5;
    const std::vector<double> detected = detectedSpectrum();
    for (double meanExtra : {0.02, 0.05, 0.11}) {
        SCOPED_TRACE("mean extra events per resolving time " + std::to_string(meanExtra));
        const Pulses sim = simulatePulses(detected, w, 3000000, meanExtra, 7);
        // The simulated share is 1 - exp(-mu) up to counting noise.
        EXPECT_NEAR(sim.share, 1.0 - std::exp(-meanExtra), 0.002);
        std::vector<double> model = pileupSpectrum(detected, sim.share);
        // The model gives recorded pulses per detected event: scale to the
        // simulated pulses.
        const double scale = sim.pulses / std::accumulate(model.begin(), model.end(), 0.0);
        for (double& v : model) v *= scale;
        // Channel by channel where enough pulses fall, and the pulses above
        // 60 keV, which only pile-up makes.
        double chi2 = 0;
        int bins = 0;
        double aboveSim = 0, aboveModel = 0;
        for (std::size_t k = 0; k < model.size(); ++k) {
            if (k >= 120) {
                aboveSim += sim.histogram[k];
                aboveModel += model[k];
            }
            if (model[k] < 30) continue;
            chi2 += (sim.histogram[k] - model[k]) * (sim.histogram[k] - model[k]) / model[k];
            ++bins;
        }
        EXPECT_LT(chi2 / bins, 1.3) << bins << " channels";
        EXPECT_NEAR(aboveModel, aboveSim, 4.0 * std::sqrt(aboveSim) + 0.01 * aboveSim);
        // The sum peak of the two lines (84.5-85 keV and the next channel).
        const double peakSim = sim.histogram[168] + sim.histogram[169];
        const double peakModel = model[168] + model[169];
        EXPECT_NEAR(peakModel, peakSim, 4.0 * std::sqrt(peakSim));
    }
}

TEST(PileupRatesTest, ShareAndDeadTimeFromWhatTheCallerKnows)
{
    // Nothing known: no pile-up from rates.
    EXPECT_EQ(pileupFromRates({}, 1e6).source, PileupSource::None);
    // The share itself.
    PileupInput given;
    given.share = 0.05;
    EXPECT_EQ(pileupFromRates(given, 1e6).source, PileupSource::Given);
    EXPECT_DOUBLE_EQ(pileupFromRates(given, 1e6).share, 0.05);
    // Input counts and the resolving time: mu = 100000/s x 1 us = 0.1.
    PileupInput in;
    in.resolvingTimeUs = 1.0;
    in.realTimeS = 10.0;
    in.liveTimeS = 9.0;
    in.inputCounts = 1.0e6;
    const PileupReport a = pileupFromRates(in, 8.0e5);
    EXPECT_EQ(a.source, PileupSource::Rates);
    EXPECT_NEAR(a.meanExtraPhotons, 0.1, 1e-12);
    EXPECT_NEAR(a.share, 1.0 - 1.0 / (1.0 + 0.1 + 0.005), 1e-12);
    ASSERT_TRUE(a.deadTimeFraction);
    EXPECT_NEAR(*a.deadTimeFraction, 0.1, 1e-12);
    // Output counts alone: n tau = 0.0909..., mu = n tau / (1 - n tau) = 0.1.
    PileupInput out;
    out.resolvingTimeUs = 1.0;
    out.realTimeS = 10.0;
    const PileupReport b = pileupFromRates(out, 1.0e6 / 1.1);
    EXPECT_NEAR(b.meanExtraPhotons, 0.1, 1e-9);
    EXPECT_FALSE(b.deadTimeFraction);
    // Impossible inputs are refused with the value.
    auto refused = [](PileupInput p, double counts, const std::string& mention) {
        try {
            pileupFromRates(p, counts);
            ADD_FAILURE() << "accepted";
        } catch (const UnfoldError& e) {
            EXPECT_NE(std::string(e.what()).find(mention), std::string::npos) << e.what();
        }
    };
    // A live time a rounding (1 ms) above the real time is no dead time.
    PileupInput rounded = in;
    rounded.liveTimeS = 10.0005;
    EXPECT_EQ(pileupFromRates(rounded, 8.0e5).deadTimeFraction, 0.0);
    PileupInput p = in;
    p.liveTimeS = 11.0;
    refused(p, 1e5, "live time 11 s exceeds the real time 10 s");
    p = in;
    p.outputCounts = 2e6;
    refused(p, 1e5, "output count");
    p = out;
    refused(p, 2.0e7, "more than the whole time");
    p = in;
    p.resolvingTimeUs = -1.0;
    refused(p, 1e5, "resolving time");
    p = {};
    p.share = 1.5;
    refused(p, 1e5, "share");
}

class PileupUnfoldTest : public ::testing::Test {
protected:
    static const UnfoldResponse& response()
    {
        static const UnfoldResponse r = syntheticResponse(testProfile());
        return r;
    }

    // An 80 kV spectrum at 0.1 keV per channel measured with pile-up made
    // by the simulation of pulses in time.
    struct Measured {
        Counts counts{};
        double share = 0;
    };
    static Measured measure(const std::vector<double>& truth, double meanExtra, unsigned seed)
    {
        const float w = 0.1f;
        std::vector<double> detected = detectSpectrum(truth, w, 80, response());
        // The pulses' grid reaches up to 1024 channels and beyond.
        detected.resize(1100, 0.0);
        const double events = std::accumulate(detected.begin(), detected.end(), 0.0);
        const Pulses p = meanExtra > 0 ? simulatePulses(detected, w, static_cast<long>(events), meanExtra, seed)
                                       : simulatePulses(detected, w, static_cast<long>(events), 1e-9, seed);
        const std::vector<double> resolved = resolveSpectrum(p.histogram, w, 80, response());
        std::mt19937 rng(seed + 1);
        Measured m;
        for (int i = 0; i < kChannels; ++i) {
            const double mean = resolved[static_cast<std::size_t>(i)];
            // The pulses are counted already: the resolution only moves
            // them, so each channel is rounded, not drawn again.
            m.counts[static_cast<std::size_t>(i)] = static_cast<std::int32_t>(std::floor(mean + std::uniform_real_distribution<double>(0, 1)(rng)));
        }
        m.share = p.share;
        return m;
    }
};

double meanEnergy(const Counts& c, double w)
{
    double n = 0, e = 0;
    for (int j = 101; j <= kChannels; ++j) {
        n += c[static_cast<std::size_t>(j - 1)];
        e += c[static_cast<std::size_t>(j - 1)] * (j - 0.5) * w;
    }
    return e / n;
}

std::vector<double> tubeLike(double w, double kv)
{
    std::vector<double> x(kChannels, 0.0);
    for (int j = 1; j <= kChannels; ++j) {
        const double e = (j - 0.5) * w;
        if (e >= 10.0 && e < kv) x[static_cast<std::size_t>(j - 1)] = 1200.0 * (kv - e) / e * std::exp(-std::pow(22.0 / e, 3.0));
    }
    return x;
}

TEST_F(PileupUnfoldTest, RecoversAKnownSpectrumAtSeveralShares)
{
    const float w = 0.1f;
    const std::vector<double> truth = tubeLike(w, 80);
    Counts truthCounts{};
    for (int j = 0; j < kChannels; ++j) truthCounts[static_cast<std::size_t>(j)] = static_cast<std::int32_t>(std::lround(truth[static_cast<std::size_t>(j)]));
    const double trueMean = meanEnergy(truthCounts, w);
    for (double meanExtra : {0.0, 0.0203, 0.0513, 0.1054}) {  // shares 0, 2, 5, 10 %
        SCOPED_TRACE("mu " + std::to_string(meanExtra));
        const Measured m = measure(truth, meanExtra, 11);
        UnfoldReport report;
        const Counts x = unfoldSpectrum(m.counts, w, 80, response(), {}, &report);
        EXPECT_NEAR(meanEnergy(x, w), trueMean, 0.1);
        // Nothing above the tube voltage.
        for (int j = 801; j <= kChannels; ++j) ASSERT_EQ(x[static_cast<std::size_t>(j - 1)], 0) << j;
        if (meanExtra > 0) {
            EXPECT_EQ(report.pileup.source, PileupSource::Counts);
            EXPECT_NEAR(report.pileup.share, m.share, 0.01);
            EXPECT_GT(report.pileup.countsAboveVoltage, 0);
            // Ignoring the pile-up moves the mean energy up.
            UnfoldOptions off;
            off.estimatePileup = false;
            const Counts y = unfoldSpectrum(m.counts, w, 80, response(), off);
            EXPECT_GT(meanEnergy(y, w) - trueMean, std::abs(meanEnergy(x, w) - trueMean));
            // The share given by the caller gives the same spectrum within noise.
            UnfoldOptions given;
            given.pileup.share = m.share;
            UnfoldReport givenReport;
            const Counts g = unfoldSpectrum(m.counts, w, 80, response(), given, &givenReport);
            EXPECT_EQ(givenReport.pileup.source, PileupSource::Given);
            EXPECT_NEAR(meanEnergy(g, w), trueMean, 0.1);
        } else {
            EXPECT_EQ(report.pileup.source, PileupSource::None);
        }
    }
}

TEST_F(PileupUnfoldTest, RefusesAShareTheSpectrumCannotSupport)
{
    const float w = 0.1f;
    const Measured m = measure(tubeLike(w, 80), 0.6, 5);  // about 40 % piled
    try {
        unfoldSpectrum(m.counts, w, 80, response());
        ADD_FAILURE() << "accepted";
    } catch (const UnfoldError& e) {
        const std::string what = e.what();
        EXPECT_NE(what.find("pile-up share of"), std::string::npos) << what;
        EXPECT_NE(what.find("more than the 30 %"), std::string::npos) << what;
    }
    UnfoldOptions o;
    o.pileup.share = 0.35;
    EXPECT_THROW(unfoldSpectrum(m.counts, w, 80, response(), o), UnfoldError);
}

} // namespace
} // namespace tvstrip
