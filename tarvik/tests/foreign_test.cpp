// Files of other formats in the commands, below the command line: which
// reader a file goes to, the keV per channel the stripping is given or why
// none, the channels for the beam quality, and the export table.
#include "support.h"

#include "engine.h"
#include "foreign.h"

#include "formats/spectrum.h"

#include <functional>

namespace {

using namespace clitest;
using namespace tarvikcli;

formats::Spectrum spectrum(std::size_t channels, std::optional<std::vector<double>> coefficients,
                           formats::ChannelPoint point = formats::ChannelPoint::LowerEdge)
{
    formats::Spectrum s;
    for (std::size_t k = 0; k < channels; ++k) s.counts.push_back(10 + k % 7);
    if (coefficients) s.calibration = formats::makeCalibration(*coefficients, point, channels, "test");
    return s;
}

std::string failureOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const FileFailure& e) {
        return e.what();
    }
    return "(no failure)";
}

TEST(OtherFormats, WhichReaderAFileGoesTo)
{
    const fs::path d = scratch("which");
    spit(d / "columns.csv", "channel,count\n0,5\n1,6\n");
    fs::copy_file(fs::path(TARVIK_DATA_DIR) / "Tarvik_data" / "W80kV_2.5mmAl_direct.csv", d / "measured.csv");
    spit(d / "x.mca1", "");
    EXPECT_TRUE(isOtherFormat(d / "columns.csv", std::nullopt));
    EXPECT_FALSE(isOtherFormat(d / "measured.csv", std::nullopt));
    EXPECT_FALSE(isOtherFormat(d / "x.mca1", std::nullopt));
    EXPECT_FALSE(isOtherFormat(d / "x.mca2", formats::Format::N42));
    EXPECT_TRUE(isOtherFormat(d / "run.mca", std::nullopt));
    EXPECT_TRUE(isOtherFormat(d / "RUN.CSV", std::nullopt));
    EXPECT_TRUE(isOtherFormat(d / "measured.csv", formats::Format::PlainText));
    EXPECT_FALSE(isOtherFormat(d / "measured.csv", formats::Format::MeasuredCsv));
    EXPECT_TRUE(isOtherFormat(d / "elsewhere.txt", formats::Format::MeasuredCsv));
    fs::remove_all(d);
}

TEST(OtherFormats, StrippingWidthOnlyFromAScaleOfThreeDecimalsFromZero)
{
    EXPECT_EQ(stripWidth(spectrum(1024, std::vector<double>{0.0, 0.1}), std::nullopt, false), "0.100");
    EXPECT_EQ(stripWidth(spectrum(1024, std::vector<double>{0.05, 0.1}, formats::ChannelPoint::Centre), std::nullopt,
                         false),
              "0.100");
    const std::string gain = failureOf([] { stripWidth(spectrum(1024, std::vector<double>{0.0, 0.0293}), std::nullopt, false); });
    EXPECT_NE(gain.find("0.0293 keV per channel, not 0.029 keV"), std::string::npos) << gain;
    EXPECT_NE(gain.find("--rebin-kev-per-channel W"), std::string::npos) << gain;
    const std::string offset =
        failureOf([] { stripWidth(spectrum(1024, std::vector<double>{0.0, 0.1}, formats::ChannelPoint::Centre), std::nullopt, false); });
    EXPECT_NE(offset.find("starts the first channel at -0.05 keV"), std::string::npos) << offset;
    const std::string channels = failureOf([] { stripWidth(spectrum(2048, std::vector<double>{0.0, 0.05}), std::nullopt, false); });
    EXPECT_NE(channels.find("it has 2048 channels; the stripping takes 1024"), std::string::npos) << channels;
    const std::string none = failureOf([] { stripWidth(spectrum(1024, std::nullopt), std::nullopt, false); });
    EXPECT_NE(none.find("no energy calibration"), std::string::npos) << none;
    // Rebinning, or a width given on the command line, decide themselves.
    EXPECT_EQ(stripWidth(spectrum(2048, std::vector<double>{0.0, 0.05}), 0.2, false), "0.2");
    formats::Spectrum given = withGivenScale(spectrum(1024, std::nullopt), GivenScale{0.0293, 0.0});
    EXPECT_EQ(stripWidth(given, std::nullopt, true), "0.0293");
}

TEST(OtherFormats, BeamQualityChannelsFromZeroKeV)
{
    const formats::Spectrum onScale = spectrum(512, std::vector<double>{0.0, 0.2});
    ZeroScale z = ontoZeroScale(onScale);
    EXPECT_DOUBLE_EQ(z.kevPerChannel, 0.2);
    EXPECT_EQ(z.counts.size(), 512u);
    EXPECT_TRUE(z.note.empty());
    // Half a channel off: shared, the half below 0 keV left out and said.
    const formats::Spectrum centred = spectrum(512, std::vector<double>{0.0, 0.2}, formats::ChannelPoint::Centre);
    z = ontoZeroScale(centred);
    EXPECT_EQ(z.counts.size(), 512u);
    EXPECT_DOUBLE_EQ(z.counts[0], (10 + 11) / 2.0);
    EXPECT_NE(z.note.find("(5 counts below 0 keV left out)"), std::string::npos) << z.note;
    const std::string none = failureOf([] { ontoZeroScale(spectrum(64, std::nullopt)); });
    EXPECT_NE(none.find("--kev-per-channel W"), std::string::npos);
    // A scale given on the command line replaces the file's.
    z = ontoZeroScale(withGivenScale(centred, GivenScale{0.5, 0.0}));
    EXPECT_DOUBLE_EQ(z.kevPerChannel, 0.5);
    EXPECT_TRUE(z.note.empty());
}

TEST(OtherFormats, ExportTableWithEachSpectrumsOwnEnergies)
{
    SpectrumData result;  // a result file: channel i ends at i·0.1 keV
    result.counts.assign(1024, 3.0);
    result.kevPerChannel = 0.1;
    const SpectrumData sameScale = exportData(spectrum(1024, std::vector<double>{0.0, 0.1}));
    std::string t = exportCsv({"a.mca1", "b.mca"}, {result, sameScale});
    EXPECT_EQ(t.substr(0, t.find('\n', t.find('\n') + 1) + 1), "channel,energy,a.mca1,b.mca\n,keV,counts,counts\n");
    EXPECT_NE(t.find("\n2,0.2,3,11\n"), std::string::npos);

    const SpectrumData other = exportData(spectrum(3, std::vector<double>{1.0, 0.5}));
    t = exportCsv({"a.mca1", "c.spe"}, {result, other});
    EXPECT_EQ(t.substr(0, t.find('\n') + 1), "channel,energy a.mca1,a.mca1,energy c.spe,c.spe\n");
    EXPECT_NE(t.find("\n3,0.3,3,2.5,12\n4,0.4,3,,\n"), std::string::npos) << t.substr(0, 200);
    EXPECT_THROW(exportData(spectrum(3, std::nullopt)), FileFailure);
}

TEST(OtherFormats, CountRateForThePileUpFromTheFileAndThePulseProcessor)
{
    formats::Spectrum s = spectrum(1024, std::vector<double>{0.0, 0.1});
    const double total = static_cast<double>(s.total());
    // Without a pulse processor: the times only.
    s.liveTimeS = 9.5;
    s.realTimeS = 10.0;
    tvstrip::PileupInput in = pileupInputOf(s);
    EXPECT_EQ(in.liveTimeS, 9.5);
    EXPECT_EQ(in.realTimeS, 10.0);
    EXPECT_FALSE(in.resolvingTimeUs);
    EXPECT_FALSE(in.inputCounts);
    // Pile-up rejection on: the fast channel resolves the pulses.
    formats::PulseProcessor p;
    p.pileUpRejection = true;
    p.peakingTimeUs = 6.4;
    p.flatTopUs = 0.2;
    p.fastPeakingTimeNs = 100;
    p.inputCounts = static_cast<std::uint64_t>(3 * total);
    p.accumulationTimeS = 5.0;
    s.processor = p;
    in = pileupInputOf(s);
    ASSERT_TRUE(in.resolvingTimeUs);
    EXPECT_DOUBLE_EQ(*in.resolvingTimeUs, 0.1);
    // Counted in 5 s of the 10 s: twice as many in the real time.
    ASSERT_TRUE(in.inputCounts);
    EXPECT_DOUBLE_EQ(*in.inputCounts, 6 * total);
    // Off: a pulse during the slow channel's peaking time and flat top adds.
    s.processor->pileUpRejection = false;
    in = pileupInputOf(s);
    ASSERT_TRUE(in.resolvingTimeUs);
    EXPECT_DOUBLE_EQ(*in.resolvingTimeUs, 6.6);
    // A fast channel that counted fewer pulses than the spectrum holds is
    // not a rate of the photons.
    s.processor->inputCounts = static_cast<std::uint64_t>(total / 4);
    EXPECT_FALSE(pileupInputOf(s).inputCounts);
    // The console's note says where the share came from, with the dead time.
    tvstrip::PileupReport r = tvstrip::pileupFromRates(pileupInputOf(s), total);
    EXPECT_EQ(pileupNote(r).substr(0, 8), "pile-up ");
    EXPECT_NE(pileupNote(r).find("(from the count rate); dead time 5.00 %"), std::string::npos) << pileupNote(r);
    EXPECT_EQ(pileupNote({}), "no pile-up in the model (no count rate known, no counts above the tube voltage)");
}

} // namespace
