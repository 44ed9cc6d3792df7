// Each format written by the independent writers of writers.h and read back:
// counts, calibration, times, start and the pulse processor's settings.
#include "formats/spectrum.h"
#include "writers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>

namespace formats {
namespace {

using testing::Truth;

Truth truth(std::size_t channels = 1024)
{
    Truth t;
    t.counts = testing::someCounts(channels);
    return t;
}

Spectrum one(const std::string& bytes, const std::string& name = "test", ReadOptions o = {})
{
    std::vector<Spectrum> all = parseSpectra(bytes, name, o);
    EXPECT_EQ(all.size(), 1u);
    return all.front();
}

// The system's scale: channel k from gain·k + offset.
void expectScale(const Spectrum& s, double gain, double offset, double tol)
{
    ASSERT_TRUE(s.calibration.has_value());
    EXPECT_NEAR(s.calibration->gainKeV, gain, tol);
    EXPECT_NEAR(s.calibration->offsetKeV, offset, tol);
    EXPECT_NEAR(s.calibration->edgeKeV(512), offset + 512 * gain, 1000 * tol);
}

TEST(FormatsRead, PmcaWithCalibrationInEvSettingsAndStatus)
{
    const Truth t = truth();
    const std::string bytes = testing::pmcaFile(t);
    EXPECT_EQ(recogniseFormat(bytes), Format::PmcaMca);
    const Spectrum s = one(bytes);
    EXPECT_EQ(s.format, Format::PmcaMca);
    EXPECT_EQ(s.counts, t.counts);
    EXPECT_EQ(s.name, "test spectrum");
    ASSERT_TRUE(s.liveTimeS && s.realTimeS);
    EXPECT_DOUBLE_EQ(*s.liveTimeS, 9.5);
    EXPECT_DOUBLE_EQ(*s.realTimeS, 10.0);
    EXPECT_EQ(s.startTime, "2024-05-01T10:20:30");
    // Points at channel centres 100 and 900 (in eV): channel k starts at 0.1 k keV.
    expectScale(s, 0.1, 0.0, 1e-9);
    EXPECT_EQ(s.calibration->point, ChannelPoint::Centre);
    ASSERT_EQ(s.calibration->points.size(), 2u);
    EXPECT_NEAR(s.calibration->points[1].energyKeV, 90.05, 1e-9);
    ASSERT_TRUE(s.processor.has_value());
    const PulseProcessor& p = *s.processor;
    EXPECT_EQ(p.device, "DP5");
    EXPECT_DOUBLE_EQ(*p.peakingTimeUs, 6.4);
    EXPECT_DOUBLE_EQ(*p.flatTopUs, 0.2);
    EXPECT_DOUBLE_EQ(*p.fastPeakingTimeNs, 100);
    EXPECT_EQ(p.pileUpRejection, true);
    EXPECT_EQ(p.riseTimeDiscrimination, false);
    EXPECT_DOUBLE_EQ(*p.fastThreshold, 12.5);
    EXPECT_DOUBLE_EQ(*p.slowThresholdPercent, 1.953);
    EXPECT_EQ(p.inputCounts, 123456u);
    EXPECT_EQ(p.outputCounts, 120001u);
    EXPECT_DOUBLE_EQ(*p.accumulationTimeS, 9.985);
    EXPECT_DOUBLE_EQ(*p.deadTimePercent, 2.8);
    EXPECT_EQ(p.settings.size(), 9u);
    EXPECT_EQ(p.settings[1].first, "TPEA");
    EXPECT_EQ(p.settings[1].second, "6.400");
    // Header lines of the spectrum section, as written.
    ASSERT_FALSE(s.headerLines.empty());
    EXPECT_EQ(s.headerLines.front(), "TAG - test spectrum");
}

TEST(FormatsRead, PmcaWithoutSettingsLfLinesAndOtherLengths)
{
    for (std::size_t n : {256u, 1024u, 2048u, 8192u}) {
        const Truth t = truth(n);
        const Spectrum s = one(testing::pmcaFile(t, false, "\n"));
        EXPECT_EQ(s.counts, t.counts) << n;
        EXPECT_FALSE(s.processor.has_value());
        expectScale(s, 0.1, 0.0, 1e-9);
    }
}

TEST(FormatsRead, PmcaPileUpRejectionMaxAndOff)
{
    Truth t = truth(512);
    std::string bytes = testing::pmcaFile(t);
    std::string maxed = bytes;
    maxed.replace(maxed.find("PURE=ON;"), 8, "PURE=MAX 1.50us;");
    const Spectrum a = one(maxed);
    EXPECT_EQ(a.processor->pileUpRejection, true);
    EXPECT_DOUBLE_EQ(*a.processor->pileUpRejectionMaxUs, 1.5);
    std::string off = bytes;
    off.replace(off.find("PURE=ON;"), 8, "PURE=OFF;");
    EXPECT_EQ(one(off).processor->pileUpRejection, false);
}

TEST(FormatsRead, SpeWithFitCalibrationAndFirstChannel)
{
    Truth t = truth(1024);
    t.liveS = 9.25;
    const std::string bytes = testing::speFile(t);
    EXPECT_EQ(recogniseFormat(bytes), Format::Spe);
    const Spectrum s = one(bytes);
    EXPECT_EQ(s.counts, t.counts);
    EXPECT_EQ(s.name, "spe test");
    EXPECT_DOUBLE_EQ(*s.liveTimeS, 9.25);
    EXPECT_DOUBLE_EQ(*s.realTimeS, 10.0);
    EXPECT_EQ(s.startTime, "2024-05-01T10:20:30");
    expectScale(s, 0.1, 0.0, 1e-9);

    // Channels numbered from 100: the calibration of the file's numbers is
    // moved onto the record's (the first channel read is 0).
    const Spectrum shifted = one(testing::speFile(t, 100));
    EXPECT_EQ(shifted.counts, t.counts);
    expectScale(shifted, 0.1, 10.0, 1e-9);
}

TEST(FormatsRead, SpeQuadraticMcaCal)
{
    Truth t = truth(2048);
    t.offsetKeV = -0.2;
    t.gainKeV = 0.05;
    t.quadratic = 2e-6;
    const Spectrum s = one(testing::speFile(t, 0, true));
    ASSERT_TRUE(s.calibration);
    ASSERT_EQ(s.calibration->coefficients.size(), 3u);
    EXPECT_NEAR(s.calibration->coefficients[2], 2e-6, 1e-15);
    // The polynomial itself is kept: channel 1000 starts at E(999.5).
    const double x = 999.5;
    EXPECT_NEAR(s.calibration->edgeKeV(1000), -0.2 + 0.05 * x + 2e-6 * x * x, 1e-9);
    // The line is the least-squares fit; a parabola a x^2 over n channels
    // strays from it by a n^2 / 6 at both ends.
    EXPECT_NEAR(s.calibration->linearityKeV, 2e-6 * 2048.0 * 2048.0 / 6, 0.01);
    EXPECT_NEAR(s.calibration->gainKeV, 0.05 + 2e-6 * 2048, 1e-4);
}

TEST(FormatsRead, ChnHeaderTimesTrailerAndDescriptions)
{
    Truth t = truth(1024);
    t.liveS = 9.48;
    const std::string bytes = testing::chnFile(t);
    EXPECT_EQ(recogniseFormat(bytes), Format::Chn);
    const Spectrum s = one(bytes);
    EXPECT_EQ(s.counts, t.counts);
    EXPECT_NEAR(*s.liveTimeS, 9.48, 1e-9);
    EXPECT_NEAR(*s.realTimeS, 10.0, 1e-9);
    EXPECT_EQ(s.startTime, "2024-05-01T10:20:30");
    expectScale(s, 0.1, 0.0, 1e-6);
    EXPECT_EQ(s.name, "tube 80 kV");
    bool detector = false;
    for (const auto& l : s.headerLines) detector = detector || l == "Detector: CdTe 3x3x1 mm";
    EXPECT_TRUE(detector);

    // Without a trailer: no calibration; 4096 channels from channel 16.
    const Truth big = truth(4096);
    const Spectrum bare = one(testing::chnFile(big, false, 16));
    EXPECT_EQ(bare.counts, big.counts);
    EXPECT_FALSE(bare.calibration);

    // A quadratic trailer (-102) of a file starting at channel 16.
    Truth q = truth(1024);
    q.quadratic = 1e-6;
    const Spectrum sq = one(testing::chnFile(q, true, 16));
    ASSERT_TRUE(sq.calibration);
    const double x = 16 + 99.5;
    EXPECT_NEAR(sq.calibration->edgeKeV(100), 0.05 + 0.1 * x + 1e-6 * x * x, 1e-5);
}

TEST(FormatsRead, N42SeveralSpectraDurationsAndChannelStarts)
{
    Truth a = truth(1024), b = truth(4096);
    b.counts = testing::someCounts(4096, 7);
    b.liveS = 55.5;
    b.realS = 60.0;
    const std::string bytes = testing::n42File({a, b});
    EXPECT_EQ(recogniseFormat(bytes), Format::N42);
    const std::vector<Spectrum> all = parseSpectra(bytes, "two.n42");
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].counts, a.counts);
    EXPECT_EQ(all[1].counts, b.counts);
    EXPECT_DOUBLE_EQ(*all[1].liveTimeS, 55.5);
    EXPECT_DOUBLE_EQ(*all[1].realTimeS, 60.0);
    EXPECT_EQ(all[0].startTime, "2024-05-01T10:20:30");
    EXPECT_EQ(all[1].name, "M2/M2S");
    // N42 coefficients give the start of a channel: 0.05 keV is the offset.
    expectScale(all[0], 0.1, 0.05, 1e-9);
    EXPECT_EQ(all[0].calibration->point, ChannelPoint::LowerEdge);
    // readSpectrum wants one spectrum.
    EXPECT_THROW(
        {
            const std::string path = ::testing::TempDir() + "/two.n42";
            std::ofstream(path, std::ios::binary) << bytes;
            readSpectrum(path);
        },
        FormatError);
}

TEST(FormatsRead, N42CountedZeroesAndDurationForms)
{
    Truth t = truth(1024);
    const Spectrum s = one(testing::n42File({t}, true));
    EXPECT_EQ(s.counts, t.counts);

    std::string bytes = testing::n42File({t});
    bytes.replace(bytes.find("PT10.000S"), 9, "P0DT0H1M0.5S");
    bytes.replace(bytes.find("PT9.500S"), 8, "PT1M");
    const Spectrum d = one(bytes);
    EXPECT_DOUBLE_EQ(*d.realTimeS, 60.5);
    EXPECT_DOUBLE_EQ(*d.liveTimeS, 60.0);
}

TEST(FormatsRead, N42SchemaOf2006)
{
    std::string counts;
    for (int k = 0; k < 300; ++k) counts += std::to_string(k % 7) + " ";
    const std::string bytes =
        "<?xml version=\"1.0\"?>\n<n42:N42InstrumentData xmlns:n42=\"http://physics.nist.gov/Divisions/Div846/Gp4/ANSIN4242/2005/ANSIN4242\">"
        "<n42:Measurement><n42:Spectrum><n42:StartTime>2024-05-01T10:20:30</n42:StartTime>"
        "<n42:RealTime>PT100S</n42:RealTime><n42:LiveTime>PT99.5S</n42:LiveTime>"
        "<n42:Calibration Type=\"Energy\"><n42:Equation Model=\"Polynomial\"><n42:Coefficients>0 0.2 0</n42:Coefficients></n42:Equation></n42:Calibration>"
        "<n42:ChannelData>" + counts + "</n42:ChannelData></n42:Spectrum></n42:Measurement></n42:N42InstrumentData>";
    const Spectrum s = one(bytes);
    ASSERT_EQ(s.counts.size(), 300u);
    EXPECT_EQ(s.counts[13], 6u);
    EXPECT_DOUBLE_EQ(*s.liveTimeS, 99.5);
    EXPECT_DOUBLE_EQ(*s.realTimeS, 100.0);
    expectScale(s, 0.2, 0.0, 1e-12);
}

TEST(FormatsRead, PlainColumnsWithEverySeparatorAndHeader)
{
    const std::vector<std::uint64_t> c = testing::someCounts(1024);
    auto table = [&](const std::string& head, const char* row, bool energies) {
        std::string s = head;
        for (std::size_t k = 0; k < c.size(); ++k) {
            char buf[96];
            const double e = 0.05 + 0.1 * static_cast<double>(k);  // channel centres
            if (energies) std::snprintf(buf, sizeof buf, row, k + 1, e, static_cast<unsigned long long>(c[k]));
            else std::snprintf(buf, sizeof buf, row, k, static_cast<unsigned long long>(c[k]));
            s += buf;
        }
        return s;
    };
    struct Case {
        std::string head;
        const char* row;
        bool energies;
    };
    const Case cases[] = {
        {"channel,energy,counts\n", "%zu,%.4f,%llu\n", true},
        {"", "%zu,%.4f,%llu\r\n", true},
        {"# from a spreadsheet\nKanal;Energie (keV);Counts\n", "%zu;%.4f;%llu\n", true},
        {"ch\tkeV\tcnt\n", "%zu\t%.4f\t%llu\n", true},
        {"", "  %zu   %.4f   %llu\n", true},
        {"channel count\n", "%zu %llu\n", false},
        {"", "%zu,%llu\n", false},
    };
    for (const Case& k : cases) {
        const std::string bytes = table(k.head, k.row, k.energies);
        EXPECT_EQ(recogniseFormat(bytes), Format::PlainText) << k.row;
        const Spectrum s = one(bytes);
        EXPECT_EQ(s.counts, c) << k.row;
        if (k.energies) {
            expectScale(s, 0.1, 0.0, 1e-6);
            EXPECT_NE(s.calibration->basis.find("energy column"), std::string::npos);
        } else {
            EXPECT_FALSE(s.calibration) << k.row;
        }
    }

    // Two columns that do not count up are energy and count; a decimal
    // comma with semicolons.
    std::string ec = "Energy;Counts\n";
    for (std::size_t k = 0; k < 100; ++k) ec += std::to_string(k) + ",25;" + std::to_string(c[k]) + "\n";
    const Spectrum e = one(ec);
    expectScale(e, 1.0, -0.25, 1e-9);
    std::string bare;
    for (std::size_t k = 0; k < 100; ++k) bare += std::to_string(0.5 + 2.0 * static_cast<double>(k)) + " " + std::to_string(c[k]) + "\n";
    expectScale(one(bare), 2.0, -0.5, 1e-9);
}

TEST(FormatsRead, MeasuredCsvOfTheDemoData)
{
    const std::string path = std::string(TARVIK_DEMO_DIR) + "/W80kV_2.5mmAl_direct.csv";
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(recogniseFormat(bytes), Format::MeasuredCsv);
    const Spectrum s = readSpectrum(path);
    EXPECT_EQ(s.format, Format::MeasuredCsv);
    ASSERT_EQ(s.counts.size(), 1024u);
    ASSERT_EQ(s.headerLines.size(), 31u);
    EXPECT_EQ(s.name, "SIMULATED: W 80 kV + 2.5 mm Al direct beam (not measured)");
    EXPECT_FALSE(s.calibration);
    EXPECT_FALSE(s.liveTimeS);
    // The third field of each line from line 32, read here by hand.
    std::size_t pos = 0;
    for (int line = 1; line < 32; ++line) pos = bytes.find('\n', pos) + 1;
    for (std::size_t k = 0; k < 1024; ++k) {
        const std::size_t end = bytes.find('\n', pos);
        std::string rec = bytes.substr(pos, end - pos);
        if (!rec.empty() && rec.back() == '\r') rec.pop_back();
        EXPECT_EQ(std::to_string(s.counts[k]), rec.substr(rec.rfind(',') + 1)) << k;
        pos = end + 1;
    }
}

TEST(FormatsRead, FormatNamesAndKeys)
{
    for (Format f : {Format::PmcaMca, Format::Spe, Format::Chn, Format::N42, Format::PlainText, Format::MeasuredCsv})
        EXPECT_EQ(formatFromKey(formatKey(f)), f);
    EXPECT_FALSE(formatFromKey("xls"));
}

} // namespace
} // namespace formats
