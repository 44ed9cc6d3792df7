// Sharing counts onto the system's channels, and the measured .csv that
// `tarvik import` writes.
#include "formats/measuredcsv_writer.h"
#include "formats/pmca_writer.h"
#include "formats/rebin.h"
#include "formats/spectrum.h"
#include "sjis/sjis.h"
#include "writers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

namespace formats {
namespace {

Spectrum calibrated(std::vector<std::uint64_t> counts, std::vector<double> coefficients,
                    ChannelPoint point = ChannelPoint::LowerEdge)
{
    Spectrum s;
    s.format = Format::PmcaMca;
    s.calibration = makeCalibration(std::move(coefficients), point, counts.size(), "test");
    s.counts = std::move(counts);
    return s;
}

double sum(const std::vector<double>& v) { return std::accumulate(v.begin(), v.end(), 0.0); }

TEST(FormatsRebin, FinerChannelsAddUpAndCoarserOnesSpread)
{
    const std::vector<std::uint64_t> fine = testing::someCounts(2048);
    const Shared halves = shareOnto(calibrated(fine, {0.0, 0.05}), 0.1, 1024);
    for (std::size_t j = 0; j < 1024; ++j)
        ASSERT_NEAR(halves.counts[j], static_cast<double>(fine[2 * j] + fine[2 * j + 1]), 1e-6) << j;
    EXPECT_EQ(halves.belowZero, 0);
    EXPECT_EQ(halves.aboveTop, 0);

    const std::vector<std::uint64_t> coarse = testing::someCounts(256);
    const Shared quarters = shareOnto(calibrated(coarse, {0.0, 0.4}), 0.1, 1024);
    for (std::size_t j = 0; j < 1024; ++j)
        ASSERT_NEAR(quarters.counts[j], static_cast<double>(coarse[j / 4]) / 4, 1e-9) << j;
}

TEST(FormatsRebin, HalfAChannelOffAndCountsOutsideTheRange)
{
    // Channel centres at 0.1 k keV: channel k spans [0.1 k - 0.05, 0.1 k + 0.05).
    std::vector<std::uint64_t> c(1024, 0);
    c[0] = 10;
    c[500] = 40;
    c[1023] = 8;
    const Spectrum s = calibrated(c, {0.0, 0.1}, ChannelPoint::Centre);
    ASSERT_TRUE(directScaleProblem(s, 0.1));
    EXPECT_NE(directScaleProblem(s, 0.1)->find("starts the first channel at -0.05 keV"), std::string::npos);
    const Shared r = shareOnto(s, 0.1, 1024);
    EXPECT_NEAR(r.belowZero, 5, 1e-9);
    EXPECT_NEAR(r.counts[0], 5, 1e-9);
    EXPECT_NEAR(r.counts[499], 20, 1e-9);
    EXPECT_NEAR(r.counts[500], 20, 1e-9);
    EXPECT_NEAR(r.counts[1022], 4, 1e-9);
    EXPECT_NEAR(r.counts[1023], 4, 1e-9);
    EXPECT_EQ(r.aboveTop, 0);
    EXPECT_NEAR(sum(r.counts), 53, 1e-9);
    // Onto 512 channels: the last source channels lie above the top.
    const Shared half = shareOnto(s, 0.1, 512);
    EXPECT_NEAR(half.aboveTop, 8, 1e-9);
    EXPECT_NEAR(half.counts[500], 20, 1e-9);
}

TEST(FormatsRebin, PolynomialScaleKeepsTheCountsOfAnEnergyWindow)
{
    const std::vector<std::uint64_t> c = testing::someCounts(4096);
    const Spectrum s = calibrated(c, {-0.3, 0.025, 1e-6}, ChannelPoint::Centre);
    const Shared r = shareOnto(s, 0.1, 1024);
    const double total = static_cast<double>(s.total());
    EXPECT_NEAR(sum(r.counts) + r.belowZero + r.aboveTop, total, 1e-6 * total);
    // The counts between the edges of source channels 1000 and 2000 lie
    // between the sums of the new channels inside those energies and of
    // those that touch them.
    const double lo = s.calibration->edgeKeV(1000), hi = s.calibration->edgeKeV(2000);
    double source = 0;
    for (std::size_t k = 1000; k < 2000; ++k) source += static_cast<double>(c[k]);
    double inside = 0, touching = 0;
    for (std::size_t j = 0; j < 1024; ++j) {
        const double a = 0.1 * static_cast<double>(j), b = a + 0.1;
        if (a >= lo && b <= hi) inside += r.counts[j];
        if (b > lo && a < hi) touching += r.counts[j];
    }
    EXPECT_LE(inside, source + 1e-6);
    EXPECT_GE(touching, source - 1e-6);
    EXPECT_LT(touching - inside, 0.02 * source);
}

TEST(FormatsRebin, WholeCountsKeepTheTotalAndStayWithinOneCount)
{
    const std::vector<double> shares = {0.4, 0.4, 0.4, 2.5, 0.0, 7.25, 1.1, 0.6};
    const std::vector<std::uint64_t> w = wholeCounts(shares);
    const std::uint64_t total = std::accumulate(w.begin(), w.end(), std::uint64_t{0});
    EXPECT_EQ(total, static_cast<std::uint64_t>(std::llround(sum(shares))));
    for (std::size_t j = 0; j < shares.size(); ++j) EXPECT_LT(std::fabs(static_cast<double>(w[j]) - shares[j]), 1.0) << j;
}

TEST(FormatsRebin, DirectScaleOnlyForTheSameChannels)
{
    const std::vector<std::uint64_t> c = testing::someCounts(1024);
    EXPECT_FALSE(directScaleProblem(calibrated(c, {0.0, 0.1}), 0.1));
    EXPECT_FALSE(directScaleProblem(calibrated(c, {0.05, 0.1}, ChannelPoint::Centre), 0.1));
    const auto gain = directScaleProblem(calibrated(c, {0.0, 0.0293}), 0.03);
    ASSERT_TRUE(gain);
    EXPECT_NE(gain->find("0.0293 keV per channel, not 0.03 keV"), std::string::npos) << *gain;
    const auto bent = directScaleProblem(calibrated(c, {0.0, 0.1, 2e-6}), 0.1);
    ASSERT_TRUE(bent);
    Spectrum bare;
    bare.counts = c;
    EXPECT_FALSE(directScaleProblem(bare, 0.1));
}

// ---------------------------------------------------------------- import

std::vector<std::string> linesOf(const std::string& bytes)
{
    std::vector<std::string> out;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const std::size_t end = bytes.find("\r\n", pos);
        EXPECT_NE(end, std::string::npos) << "every line ends in CR LF";
        if (end == std::string::npos) break;
        out.push_back(bytes.substr(pos, end - pos));
        pos = end + 2;
    }
    return out;
}

TEST(FormatsImportCsv, LayoutTheDialogReads)
{
    testing::Truth t;
    t.counts = testing::someCounts(1024);
    Spectrum s = parseSpectra(testing::pmcaFile(t), "x.mca").front();
    s.headerLines.push_back("DESCRIPTION - 測定, 80 kV");
    MeasuredCsvOptions o;
    o.sourceName = "x.mca";
    const MeasuredCsv csv = toMeasuredCsv(s, o);
    EXPECT_FALSE(csv.rebinned);
    EXPECT_NEAR(csv.kevPerChannel, 0.1, 1e-12);
    const std::vector<std::string> lines = linesOf(csv.bytes);
    ASSERT_EQ(lines.size(), 31u + 1024u);
    for (int i = 0; i < 31; ++i) {
        EXPECT_LE(lines[static_cast<std::size_t>(i)].size(), 60u) << i;
        EXPECT_EQ(lines[static_cast<std::size_t>(i)].find(','), std::string::npos) << lines[static_cast<std::size_t>(i)];
        EXPECT_EQ(sjis::toUtf8ForDisplay(lines[static_cast<std::size_t>(i)]).find("\xEF\xBF\xBD"), std::string::npos);
    }
    EXPECT_EQ(lines[0], "Imported by tarvik from a <<PMCA SPECTRUM>> .mca file");
    EXPECT_EQ(lines[2], "Start time: 2024-05-01T10:20:30");
    EXPECT_EQ(lines[3], "test spectrum");
    EXPECT_EQ(lines[4], "Live time: 9.500 s");
    EXPECT_EQ(lines[5], "Real time: 10.000 s");
    EXPECT_EQ(lines[6], "Dead time: 5.000 % of the real time");
    EXPECT_EQ(lines[30], "Channel  Energy  Count");
    bool japanese = false;
    for (const auto& l : lines) japanese = japanese || sjis::toUtf8ForDisplay(l) == "| DESCRIPTION - 測定; 80 kV";
    EXPECT_TRUE(japanese);
    EXPECT_EQ(lines[31], "1,0.1000," + std::to_string(t.counts[0]));
    EXPECT_EQ(lines[31 + 511], "512,51.2000," + std::to_string(t.counts[511]));

    // Read back as a measured .csv: the same counts.
    const Spectrum back = parseSpectra(csv.bytes, "x.csv").front();
    EXPECT_EQ(back.format, Format::MeasuredCsv);
    EXPECT_EQ(back.counts, t.counts);
    EXPECT_EQ(back.name, "test spectrum");
}

TEST(FormatsImportCsv, RebinningIsAskedForAndSaidInTheHeader)
{
    testing::Truth t;
    t.counts = testing::someCounts(2048);
    t.gainKeV = 0.05;
    t.offsetKeV = 0.025;  // centres: channel k starts at 0.05 k keV
    const Spectrum s = parseSpectra(testing::speFile(t), "x.spe").front();
    MeasuredCsvOptions o;
    o.sourceName = "x.spe";
    try {
        toMeasuredCsv(s, o);
        ADD_FAILURE() << "2048 channels written without rebinning";
    } catch (const ImportError& e) {
        EXPECT_NE(std::string(e.what()).find("--rebin-kev-per-channel"), std::string::npos) << e.what();
    }
    o.rebinKevPerChannel = 0.1;
    const MeasuredCsv csv = toMeasuredCsv(s, o);
    EXPECT_TRUE(csv.rebinned);
    const Spectrum back = parseSpectra(csv.bytes, "x.csv").front();
    ASSERT_EQ(back.counts.size(), 1024u);
    for (std::size_t j = 0; j < 1024; ++j) ASSERT_EQ(back.counts[j], t.counts[2 * j] + t.counts[2 * j + 1]) << j;
    EXPECT_NE(csv.bytes.find("REBINNED"), std::string::npos);

    Spectrum bare = s;
    bare.calibration.reset();
    EXPECT_THROW(toMeasuredCsv(bare, o), ImportError);
    Spectrum loud = parseSpectra(testing::pmcaFile([] {
                                     testing::Truth u;
                                     u.counts = testing::someCounts(1024);
                                     u.counts[700] = 1000000;
                                     return u;
                                 }()),
                                 "y.mca")
                        .front();
    o.rebinKevPerChannel.reset();
    try {
        toMeasuredCsv(loud, o);
        ADD_FAILURE() << "a count of 1000000 written";
    } catch (const ImportError& e) {
        EXPECT_NE(std::string(e.what()).find("channel 701 holds 1000000"), std::string::npos) << e.what();
    }
}

TEST(FormatsImportCsv, TimesReadBackFromTheHeaderTarvikWrote)
{
    testing::Truth t;
    t.counts = testing::someCounts(1024);
    t.liveS = 58.2;
    t.realS = 60.0;
    MeasuredCsvOptions o;
    o.sourceName = "x.mca";
    const MeasuredCsv csv = toMeasuredCsv(parseSpectra(testing::pmcaFile(t), "x.mca").front(), o);
    Spectrum back = parseSpectra(csv.bytes, "x.csv").front();
    ASSERT_TRUE(back.liveTimeS && back.realTimeS);
    EXPECT_DOUBLE_EQ(*back.liveTimeS, 58.2);
    EXPECT_DOUBLE_EQ(*back.realTimeS, 60.0);
    const HeaderTimes fromBytes = importedTimesOfBytes(csv.bytes, "x.csv");
    EXPECT_EQ(fromBytes.liveTimeS, back.liveTimeS);
    EXPECT_EQ(fromBytes.realTimeS, back.realTimeS);

    // A file without times says "not given"; a header tarvik did not write
    // is not read for times, whatever its lines say.
    Spectrum plain = parseSpectra(testing::pmcaFile(t), "x.mca").front();
    plain.liveTimeS.reset();
    plain.realTimeS.reset();
    back = parseSpectra(toMeasuredCsv(plain, o).bytes, "x.csv").front();
    EXPECT_FALSE(back.liveTimeS || back.realTimeS);
    std::string foreign = csv.bytes;
    foreign.replace(0, 8, "Exported");
    back = parseSpectra(foreign, "x.csv").front();
    EXPECT_FALSE(back.liveTimeS || back.realTimeS);
    EXPECT_FALSE(importedTimesOfBytes(foreign, "x.csv").liveTimeS);

    // The source's own name, copied into line 4, may read like a time
    // (a fuzzed .mca named "Real time:rum"): only lines 5 and 6 hold them.
    Spectrum named = parseSpectra(testing::pmcaFile(t), "x.mca").front();
    named.name = "Real time:rum";
    back = parseSpectra(toMeasuredCsv(named, o).bytes, "x.csv").front();
    ASSERT_TRUE(back.realTimeS);
    EXPECT_DOUBLE_EQ(*back.realTimeS, 60.0);

    // Edited times that contradict each other, or are no times, are refused
    // with the line.
    auto edited = [&](const std::string& from, const std::string& to) {
        std::string b = csv.bytes;
        b.replace(b.find(from), from.size(), to);
        return b;
    };
    const std::pair<std::string, std::string> bad[] = {
        {edited("Live time: 58.200 s", "Live time: 61.000 s"), "x.csv, line 6: the live time 61 s is longer"},
        {edited("Live time: 58.200 s", "Live time: soon"), "x.csv, line 5: expected the live time as seconds"},
        {edited("Real time: 60.000 s", "Real time: 0.000 s"), "x.csv, line 6: the real time is zero"},
    };
    for (const auto& [bytes, message] : bad) {
        try {
            parseSpectra(bytes, "x.csv");
            ADD_FAILURE() << message;
        } catch (const FormatError& e) {
            EXPECT_EQ(std::string(e.what()).rfind(message, 0), 0u) << e.what();
        }
        EXPECT_THROW(importedTimesOfBytes(bytes, "x.csv"), FormatError);
    }
}

TEST(FormatsImportCsv, HeaderLinesAreShiftJisWithinSixtyBytes)
{
    std::string long_ja;
    for (int i = 0; i < 40; ++i) long_ja += "測";
    const std::string cut = dialogHeaderLine(long_ja);
    EXPECT_EQ(cut.size(), 60u);
    EXPECT_EQ(sjis::toUtf8ForDisplay(cut).size(), 30u * 3);
    EXPECT_EQ(dialogHeaderLine("a,b\tc\xF0\x9F\x98\x80"), "a;b c?");
}

} // namespace
} // namespace formats

// ---- the .mca writer (the demo's analyser file) read back by the reader ----
namespace formats {
namespace {

TEST(FormatsPmcaWriter, ReadsBackToTheSameRecord)
{
    Spectrum s;
    s.format = Format::PmcaMca;
    s.name = "demo";
    s.headerLines = {"Simulated spectrum - NOT a measurement", "W 80 kV + 2.5 mm Al"};
    s.counts = testing::someCounts(1024);
    s.calibration = makeCalibration({-0.0375, 0.1003}, ChannelPoint::LowerEdge, s.counts.size(), "test");
    s.liveTimeS = 97.25;
    s.realTimeS = 100.0;
    s.startTime = "2026-12-01T09:30:00";
    PulseProcessor p;
    p.peakingTimeUs = 1.6;
    p.pileUpRejection = false;
    p.inputCounts = 123456;
    p.outputCounts = 120001;
    p.accumulationTimeS = 97.25;
    p.deadTimePercent = 2.75;
    s.processor = p;

    const std::string bytes = formatPmca(s);
    const std::vector<Spectrum> back = parseSpectra(bytes, "demo.mca");
    ASSERT_EQ(back.size(), 1u);
    const Spectrum& r = back[0];
    EXPECT_EQ(r.format, Format::PmcaMca);
    EXPECT_EQ(r.counts, s.counts);
    ASSERT_TRUE(r.calibration);
    EXPECT_NEAR(r.calibration->gainKeV, 0.1003, 1e-9);
    EXPECT_NEAR(r.calibration->offsetKeV, -0.0375, 1e-7);
    EXPECT_EQ(r.liveTimeS, s.liveTimeS);
    EXPECT_EQ(r.realTimeS, s.realTimeS);
    EXPECT_EQ(r.startTime, s.startTime);
    ASSERT_TRUE(r.processor);
    EXPECT_EQ(r.processor->peakingTimeUs, 1.6);
    EXPECT_EQ(r.processor->pileUpRejection, false);
    EXPECT_EQ(r.processor->inputCounts, 123456u);
    EXPECT_EQ(r.processor->outputCounts, 120001u);
    EXPECT_EQ(r.processor->deadTimePercent, 2.75);

    // What the format cannot hold is refused, not written wrongly.
    Spectrum lying = s;
    lying.liveTimeS = 101.0;
    EXPECT_THROW(formatPmca(lying), std::invalid_argument);
    Spectrum badTime = s;
    badTime.startTime = "yesterday";
    EXPECT_THROW(formatPmca(badTime), std::invalid_argument);
    EXPECT_THROW(formatPmca(Spectrum{}), std::invalid_argument);
}

} // namespace
} // namespace formats
