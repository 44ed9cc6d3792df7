// The stripping correction on small hand-made response tables: the start
// and lowest channels, energy codes and bins, which escape and continuum
// subtractions a channel makes, the final pass, and the refused inputs.
#include <gtest/gtest.h>

#include <limits>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <vector>

#include "strip/stripping.h"

namespace tvstrip {
namespace {

ResponseTable uniformTable(float value)
{
    ResponseTable r{};
    for (int b = 1; b <= kResponseBins; ++b)
        r[static_cast<std::size_t>(b)] = value;
    return r;
}

// R(b) = b: every subtraction shows which bin it took.
ResponseTable rampTable()
{
    ResponseTable r{};
    for (int b = 1; b <= kResponseBins; ++b)
        r[static_cast<std::size_t>(b)] = static_cast<float>(b);
    return r;
}

// A loader that serves one table for every code and records the codes asked for.
struct RecordingLoader {
    ResponseTable table;
    std::vector<int> codes;
    const ResponseTable& operator()(int code)
    {
        codes.push_back(code);
        return table;
    }
};

WorkingSpectrum filled(float value)
{
    WorkingSpectrum s{};
    s.fill(value);
    s[0] = 0.0f;
    return s;
}

// `value` in channels 1..last, 0 above.
WorkingSpectrum filledUpTo(int last, float value)
{
    WorkingSpectrum s{};
    for (int i = 1; i <= last; ++i)
        s[static_cast<std::size_t>(i)] = value;
    return s;
}

// Runs the main loop over a working spectrum and reports which channels it changed.
std::vector<int> changedChannels(const WorkingSpectrum& before, const WorkingSpectrum& after)
{
    std::vector<int> changed;
    for (int i = 1; i <= kChannels; ++i)
        if (before[static_cast<std::size_t>(i)] != after[static_cast<std::size_t>(i)])
            changed.push_back(i);
    return changed;
}

TEST(StripPlanTest, StartLowestAndEscapeChannelsFor80kVAndTenthKeV)
{
    const StripPlan p = planStripping(80, 0.1f);
    EXPECT_EQ(p.startChannel, 802);  // 80 / 0.100000001490116 = 799.99999
    EXPECT_EQ(p.lowestChannel, 50);
    EXPECT_EQ(p.firstVisited, 802);
    EXPECT_EQ(p.lastVisited, 50);
    EXPECT_EQ(p.visitedCount(), 753);
    EXPECT_EQ(p.zeroedChannels, 99);
    EXPECT_EQ(p.escapeOffsets, (std::array<int, 4>{231, 262, 274, 311}));
    EXPECT_EQ(p.ratio, 0.2f);
}

TEST(StripPlanTest, ChannelsAboveTheSpectrumAreNotVisited)
{
    const StripPlan p = planStripping(120, 0.1f);
    EXPECT_EQ(p.startChannel, 1202);
    EXPECT_EQ(p.firstVisited, 1024);
    EXPECT_EQ(p.visitedCount(), 1024 - 50 + 1);

    // Below 5 / 1024 keV per channel no channel of the spectrum reaches 5 keV.
    const StripPlan tiny = planStripping(80, 0.001f);
    EXPECT_EQ(tiny.visitedCount(), 0);
    EXPECT_EQ(tiny.zeroedChannels, 1024);
}

TEST(StripPlanTest, RefusesWidthVoltageAndStartBelowLowestChannel)
{
    EXPECT_THROW(planStripping(80, 0.0f), StripInputError);
    EXPECT_THROW(planStripping(80, -0.1f), StripInputError);
    EXPECT_THROW(planStripping(80, std::nanf("")), StripInputError);
    EXPECT_THROW(planStripping(80, INFINITY), StripInputError);
    EXPECT_THROW(planStripping(0, 0.1f), StripInputError);
    EXPECT_THROW(planStripping(-80, 0.1f), StripInputError);
    try {
        planStripping(4, 0.1f);  // c0 = 42, below channel 50
        FAIL() << "a start channel below the lowest channel must be refused";
    } catch (const StripInputError& e) {
        EXPECT_NE(std::string(e.what()).find("channel 42"), std::string::npos) << e.what();
    }
    EXPECT_EQ(planStripping(5, 0.1f).startChannel, 52);
}

TEST(ChannelEnergyTest, CodesAndBinsComeFromTheUnroundedProduct)
{
    // w = 0.12 is 0.119999997 in single precision.
    const ChannelEnergy c50 = channelEnergy(50, 0.12f);
    EXPECT_EQ(c50.energy, 6.0f);
    EXPECT_EQ(c50.code, 60);  // fraction -0.00000013, not 0.99999987
    EXPECT_EQ(c50.bin, 12);
    const ChannelEnergy c200 = channelEnergy(200, 0.12f);
    EXPECT_EQ(c200.code, 240);
    EXPECT_EQ(c200.bin, 48);
    const ChannelEnergy c196 = channelEnergy(196, 0.12f);
    EXPECT_EQ(c196.code, 235);
    EXPECT_EQ(c196.bin, 47);

    EXPECT_EQ(channelEnergy(235, 0.1f).code, 235);
    EXPECT_EQ(channelEnergy(234, 0.1f).code, 230);
    EXPECT_EQ(channelEnergy(802, 0.1f).code, 800);
    EXPECT_EQ(channelEnergy(50, 0.1f).code, 50);
    // Energies with no response table at all stop the run instead of
    // producing a table name that cannot exist.
    EXPECT_THROW(channelEnergy(1000, 1.0f), StripArithmeticError);
    EXPECT_THROW(channelEnergy(3, 1.0e38f), StripArithmeticError);
}

TEST(ChannelEnergyTest, BinsBelowHalfAKeVAndBeyondTheTable)
{
    EXPECT_EQ(channelBin(4, 0.1f), 0);  // 0.4 keV
    EXPECT_EQ(channelBin(5, 0.1f), 1);  // 0.5 keV
    EXPECT_EQ(channelBin(1024, 1.0f), kResponseBins + 1);
    ResponseTable r = rampTable();
    EXPECT_EQ(responseAt(r, 0), 0.0f);
    EXPECT_EQ(responseAt(r, 300), 300.0f);
    EXPECT_EQ(responseAt(r, 301), 0.0f);
    EXPECT_EQ(responseAt(r, -1), 0.0f);
}

// One corrected channel at a time (w = 0.1, V = 80): the contents of the
// other channels are chosen so that they never qualify for correction.
class SingleChannelTest : public ::testing::Test {
protected:
    StripPlan plan = planStripping(80, 0.1f);

    WorkingSpectrum run(int channel, float content, const ResponseTable& table, WorkingSpectrum s,
                        std::vector<int>* codes = nullptr)
    {
        s[static_cast<std::size_t>(channel)] = content;
        RecordingLoader loader{table, {}};
        stripChannels(s, plan, std::ref(loader), {});
        if (codes)
            *codes = loader.codes;
        return s;
    }
};

TEST_F(SingleChannelTest, Channel240GetsOnlyTheCdKAlphaEscape)
{
    WorkingSpectrum before{};
    before[9] = 3.0f;
    const WorkingSpectrum after = run(240, 1000.0f, uniformTable(100.0f), before);
    EXPECT_EQ(after[240], 2500000.0f);  // 500000 / 200 x 1000
    EXPECT_EQ(after[9], 3.0f - 500.0f);  // R(1) x C / T
    WorkingSpectrum start = before;
    start[240] = 1000.0f;
    EXPECT_EQ(changedChannels(start, after), (std::vector<int>{9, 240}));
}

TEST_F(SingleChannelTest, Channel232GetsNoEscapeAndNoContinuum)
{
    std::vector<int> codes;
    const WorkingSpectrum after = run(232, 1000.0f, uniformTable(100.0f), WorkingSpectrum{}, &codes);
    WorkingSpectrum start{};
    start[232] = 1000.0f;
    EXPECT_EQ(changedChannels(start, after), (std::vector<int>{232}));
    EXPECT_EQ(codes, (std::vector<int>{230}));
}

TEST_F(SingleChannelTest, Channel231BelowTheEscapeEnergyGetsTheContinuum)
{
    // ratio x C x P = 0.2 x 1000 x 0.5 = 100 from every channel whose energy
    // reaches bin 1; channels 1..4 (below 0.495 keV) read R(0) = 0.
    const WorkingSpectrum after = run(231, 1000.0f, uniformTable(100.0f), filledUpTo(230, 50.0f));
    for (int m = 5; m <= 230; ++m)
        ASSERT_EQ(after[static_cast<std::size_t>(m)], -50.0f) << "channel " << m;
    for (int m = 1; m <= 4; ++m)
        EXPECT_EQ(after[static_cast<std::size_t>(m)], 50.0f) << "channel " << m;
    EXPECT_EQ(after[231], 2500000.0f);
    EXPECT_EQ(after[232], 0.0f);
}

TEST_F(SingleChannelTest, Channel312GetsThreeEscapesAndNoContinuum)
{
    // k = 62, T = R(61) + R(62) = 123; escape channels 81, 50, 38 and 1.
    const WorkingSpectrum after = run(312, 1000.0f, rampTable(), WorkingSpectrum{});
    EXPECT_NEAR(after[81], -15.0 * 1000.0 / 123.0, 1e-3);
    EXPECT_NEAR(after[50], -9.0 * 1000.0 / 123.0, 1e-3);
    EXPECT_NEAR(after[38], -7.0 * 1000.0 / 123.0, 1e-3);
    WorkingSpectrum start{};
    start[312] = 1000.0f;
    EXPECT_EQ(changedChannels(start, after), (std::vector<int>{38, 50, 81, 312}));
}

TEST_F(SingleChannelTest, Channel400GetsTheContinuumOnlyBelowItsTeKBetaEscape)
{
    // k = 80; escape channels 169, 138, 126 and 89; continuum over 88..1.
    const WorkingSpectrum after = run(400, 1000.0f, uniformTable(100.0f), filled(1.0f));
    const std::vector<int> escapes{89, 126, 138, 169};
    for (int m = 90; m < 400; ++m) {
        const bool escape = std::find(escapes.begin(), escapes.end(), m) != escapes.end();
        ASSERT_EQ(after[static_cast<std::size_t>(m)], escape ? 1.0f - 500.0f : 1.0f) << "channel " << m;
    }
    EXPECT_EQ(after[88], 1.0f - 100.0f);
    EXPECT_EQ(after[5], 1.0f - 100.0f);
    EXPECT_EQ(after[4], 1.0f);
}

TEST_F(SingleChannelTest, OnlyContentAboveFiveIsCorrected)
{
    WorkingSpectrum after = run(300, 5.0f, uniformTable(100.0f), WorkingSpectrum{});
    EXPECT_EQ(after[300], 5.0f);
    EXPECT_EQ(after[69], 0.0f);

    after = run(300, 5.0001f, uniformTable(100.0f), WorkingSpectrum{});
    EXPECT_NEAR(after[300], 12500.25, 1e-2);
    EXPECT_LT(after[69], 0.0f);
}

TEST_F(SingleChannelTest, EmptyFullEnergyRegionLeavesTheChannelAlone)
{
    ResponseTable r = uniformTable(100.0f);
    r[59] = 0.0f;  // channel 300: k = 60
    r[60] = 0.0f;
    const WorkingSpectrum after = run(300, 1000.0f, r, filled(1.0f));
    WorkingSpectrum start = filled(1.0f);
    start[300] = 1000.0f;
    EXPECT_TRUE(changedChannels(start, after).empty());
}

TEST_F(SingleChannelTest, SmallContinuumFractionsAreNotSubtracted)
{
    // T = 2; R(b) = 2e-5 gives q = 1e-5, which is not above 1.0E-5.
    ResponseTable r = uniformTable(2.0e-5f);
    r[39] = 1.0f;  // channel 200: k = 40
    r[40] = 1.0f;
    r[10] = 3.0e-5f;  // channels 50..54: q = 1.5e-5
    const WorkingSpectrum after = run(200, 1000.0f, r, filled(1.0f));
    for (int m = 50; m <= 54; ++m)
        EXPECT_LT(after[static_cast<std::size_t>(m)], 1.0f) << "channel " << m;
    EXPECT_EQ(after[55], 1.0f);
    EXPECT_EQ(after[49], 1.0f);
}

TEST(StripSpectrumTest, EachCodeIsLoadedOnceFromTheTopDown)
{
    // A table whose only response is its full-energy peak: a channel loses
    // only a tenth of a higher neighbour's content in the same bins, so every
    // channel still holds far more than 5 when it is reached.
    std::map<int, ResponseTable> tables;
    std::vector<int> codes;
    auto loader = [&](int code) -> const ResponseTable& {
        codes.push_back(code);
        ResponseTable r{};
        r[static_cast<std::size_t>(code / 5 - 1)] = 125000.0f;  // T = 250000: twice the content
        r[static_cast<std::size_t>(code / 5)] = 125000.0f;
        return tables[code] = r;
    };
    Counts in;
    in.fill(1000);
    std::vector<int> visited;
    const Counts out = stripSpectrum(in, 80, 0.1f, loader, [&](int j) { visited.push_back(j); });

    ASSERT_EQ(visited.size(), 753u);
    EXPECT_EQ(visited.front(), 802);
    EXPECT_EQ(visited.back(), 50);
    ASSERT_EQ(codes.size(), 151u);  // 800, 795, ..., 50
    for (std::size_t i = 0; i < codes.size(); ++i)
        EXPECT_EQ(codes[i], 800 - 5 * static_cast<int>(i));

    for (int i = 1; i <= kChannels; ++i) {
        const bool kept = i >= 100 && i <= 802;  // above 10 keV and not above the start channel
        ASSERT_EQ(out[static_cast<std::size_t>(i - 1)] > 0, kept) << "channel " << i;
    }
    EXPECT_EQ(out[801], 2000);  // channel 802: nothing above it
}

TEST(StripSpectrumTest, ChannelsAboveThe300thBinReadAsEmptyResponse)
{
    // w = 0.5, V = 200: channel 400 is 200 keV (bin 400): T = 0, so it is
    // only carried over; channel 200 (100 keV) is rescaled.
    const ResponseTable r = uniformTable(100.0f);
    Counts in{};
    in[399] = 1000;
    in[199] = 10;
    std::vector<int> codes;
    const Counts out = stripSpectrum(in, 200, 0.5f, [&](int code) -> const ResponseTable& {
        codes.push_back(code);
        return r;
    });
    EXPECT_EQ(out[399], 1000);
    EXPECT_EQ(out[199], 25000);
    EXPECT_EQ(codes, (std::vector<int>{2000, 1000}));
}

TEST(FinishSpectrumTest, ZeroesLowChannelsClampsAndTruncates)
{
    const StripPlan plan = planStripping(80, 0.1f);
    WorkingSpectrum s = filled(7.0f);
    s[99] = 50.0f;
    s[100] = 12.9f;
    s[101] = -3.5f;
    s[102] = 0.999f;
    s[1024] = 9999999.0f;
    const Counts out = finishSpectrum(s, plan);
    EXPECT_EQ(out[98], 0);
    EXPECT_EQ(out[99], 12);
    EXPECT_EQ(out[100], 0);
    EXPECT_EQ(out[101], 0);
    EXPECT_EQ(out[102], 7);
    EXPECT_EQ(out[1023], 9999999);

    WorkingSpectrum huge = filled(0.0f);
    huge[500] = 3.0e9f;
    EXPECT_THROW(finishSpectrum(huge, plan), StripArithmeticError);
}

TEST(PrepareSpectrumTest, EmptiesChannelOneAndChannelsAboveTheStart)
{
    Counts counts;
    counts.fill(42);
    const WorkingSpectrum s = prepareSpectrum(counts, planStripping(80, 0.1f));
    EXPECT_EQ(counts[0], 0);
    EXPECT_EQ(counts[801], 42);  // channel 802
    EXPECT_EQ(counts[802], 0);   // channel 803
    EXPECT_EQ(s[1], 0.0f);
    EXPECT_EQ(s[802], 42.0f);
    EXPECT_EQ(s[803], 0.0f);
}

TEST(StripOverflowTest, OverflowStopsTheRunAndSaysWhatWasComputed)
{
    const StripPlan plan = planStripping(80, 0.1f);
    // A denormal full-energy sum makes the rescaled content too large for
    // single precision.
    ResponseTable tiny = uniformTable(1.0e-44f);
    WorkingSpectrum s{};
    s[300] = 1.0e6f;
    RecordingLoader loader{tiny, {}};
    try {
        stripChannels(s, plan, std::ref(loader), {});
        FAIL() << "overflow not detected";
    } catch (const StripArithmeticError& e) {
        EXPECT_NE(std::string(e.what()).find("rescaling channel 300"), std::string::npos) << e.what();
    }

    // A continuum fraction too large for single precision.
    ResponseTable steep = uniformTable(3.0e38f);
    steep[39] = 0.25f;  // channel 200: k = 40, no escape lines below 23.108 keV
    steep[40] = 0.25f;  // q = 3e38 / 0.5 does not fit single precision
    s = WorkingSpectrum{};
    s[200] = 6.0f;
    RecordingLoader steepLoader{steep, {}};
    try {
        stripChannels(s, plan, std::ref(steepLoader), {});
        FAIL() << "overflow not detected";
    } catch (const StripArithmeticError& e) {
        EXPECT_NE(std::string(e.what()).find("continuum"), std::string::npos) << e.what();
    }

    // A subtraction that leaves single precision: the message names the
    // highest such channel, the first one the correction reaches going down.
    ResponseTable flat = uniformTable(1.0e6f);
    s = WorkingSpectrum{};
    s[200] = 1.0e35f;
    for (int m : {120, 151, 152}) s[static_cast<std::size_t>(m)] = -std::numeric_limits<float>::max();
    RecordingLoader flatLoader{flat, {}};
    try {
        stripChannels(s, plan, std::ref(flatLoader), {});
        FAIL() << "overflow not detected";
    } catch (const StripArithmeticError& e) {
        EXPECT_NE(std::string(e.what()).find("continuum of channel 200 from channel 152"), std::string::npos)
            << e.what();
    }
}

} // namespace
} // namespace tvstrip
