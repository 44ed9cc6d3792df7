// Spectra of other formats on the display: where their channels go, and the
// window's logic when one is added.
#include "displaylogic.h"
#include "otherformat.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

namespace tarvik {
namespace {

formats::Spectrum spectrum(std::size_t channels, std::optional<std::vector<double>> coefficients,
                           formats::ChannelPoint point = formats::ChannelPoint::LowerEdge)
{
    formats::Spectrum s;
    for (std::size_t k = 0; k < channels; ++k) s.counts.push_back(100 + (k * 37) % 91);
    if (coefficients) s.calibration = formats::makeCalibration(*coefficients, point, channels, "test");
    return s;
}

double total(const std::vector<double>& v) { return std::accumulate(v.begin(), v.end(), 0.0); }

TEST(OtherFormatPlacement, ChannelsTakenAsTheyAreOnlyOnTheSameScale)
{
    const formats::Spectrum s = spectrum(1024, std::vector<double>{0.0, 0.25});
    // Nothing loaded: the file brings its width.
    OtherFormatPlacement p = placeOtherFormat(s, 0, 0.2);
    EXPECT_EQ(p.way, OtherFormatPlacement::Way::AsTheyAre);
    EXPECT_DOUBLE_EQ(p.kevPerChannel, 0.25);
    ASSERT_EQ(p.counts.size(), 1024u);
    EXPECT_EQ(p.counts[5], static_cast<double>(s.counts[5]));
    // Spectra of 0.125 keV loaded: its counts are shared, half to each.
    p = placeOtherFormat(s, 0.125, 0.2);
    EXPECT_EQ(p.way, OtherFormatPlacement::Way::Shared);
    EXPECT_NE(p.why.find("0.25 keV per channel, not 0.125 keV"), std::string::npos) << p.why;
    ASSERT_EQ(p.counts.size(), 1024u);
    EXPECT_DOUBLE_EQ(p.counts[10], s.counts[5] / 2.0);
    EXPECT_DOUBLE_EQ(p.counts[11], s.counts[5] / 2.0);
    EXPECT_NEAR(total(p.counts) + p.leftOut, static_cast<double>(s.total()), 1e-6);
    double upper = 0;  // channels 512 on lie above 128 keV
    for (std::size_t k = 512; k < 1024; ++k) upper += static_cast<double>(s.counts[k]);
    EXPECT_NEAR(p.leftOut, upper, 1e-6);

    // Calibrated at channel centres from 0 keV: half a channel off the scale.
    const formats::Spectrum centred = spectrum(1024, std::vector<double>{0.0, 0.1}, formats::ChannelPoint::Centre);
    p = placeOtherFormat(centred, 0, 0.2);
    EXPECT_EQ(p.way, OtherFormatPlacement::Way::Shared);
    EXPECT_NE(p.why.find("starts the first channel at -0.05 keV"), std::string::npos) << p.why;
    EXPECT_NEAR(p.leftOut, centred.counts[0] / 2.0, 1e-9);
}

TEST(OtherFormatPlacement, UncalibratedFilesTakeTheBoxWidth)
{
    const formats::Spectrum small = spectrum(512, std::nullopt);
    OtherFormatPlacement p = placeOtherFormat(small, 0, 0.3);
    EXPECT_EQ(p.way, OtherFormatPlacement::Way::AsTheyAre);
    EXPECT_DOUBLE_EQ(p.kevPerChannel, 0.3);
    EXPECT_EQ(p.counts.size(), 512u);
    const formats::Spectrum big = spectrum(2048, std::nullopt);
    p = placeOtherFormat(big, 0.1, 0.3);
    EXPECT_EQ(p.way, OtherFormatPlacement::Way::FirstChannels);
    EXPECT_DOUBLE_EQ(p.kevPerChannel, 0.1);
    EXPECT_EQ(p.counts.size(), 1024u);
    double rest = 0;
    for (std::size_t k = 1024; k < 2048; ++k) rest += static_cast<double>(big.counts[k]);
    EXPECT_DOUBLE_EQ(p.leftOut, rest);
    EXPECT_THROW(placeOtherFormat(small, 0, 0), std::invalid_argument);
}

TEST(OtherFormatPlacement, WidthTextForTheBox)
{
    EXPECT_EQ(widthText(0.1), "0.100");
    EXPECT_EQ(widthText(0.25), "0.250");
    EXPECT_EQ(widthText(0.02931), "0.02931");
}

TEST(OtherFormatLogic, AddedLikeASpectrumOfTheListUpToFive)
{
    AppState st;
    DisplayLogic logic(st);
    RecordingSurface picture;
    logic.open(picture);
    EXPECT_EQ(logic.widthInUse(), 0);
    const formats::Spectrum s = spectrum(1024, std::vector<double>{0.0, 0.25});
    for (int n = 1; n <= 5; ++n) {
        picture.ops.clear();
        const OtherFormatPlacement p = placeOtherFormat(s, logic.widthInUse(), 0.2);
        EXPECT_FALSE(logic.addOtherFormat("tube.mca", p, picture));
        EXPECT_EQ(st.spectrumCount, n);
        EXPECT_FALSE(picture.ops.empty());
        EXPECT_EQ(logic.controls().command1Enabled, n < 5);
    }
    EXPECT_EQ(logic.controls().text6, "0.250");
    EXPECT_DOUBLE_EQ(logic.widthInUse(), 0.25);
    EXPECT_EQ(st.spectrumFile[3], "tube.mca");
    EXPECT_EQ(st.spectrumCounts[3][6], static_cast<double>(s.counts[5]));
    EXPECT_EQ(st.spectrumMax[3], static_cast<double>(*std::max_element(s.counts.begin(), s.counts.end())));
    EXPECT_TRUE(logic.controls().readoutsVisible);
    // A sixth is not taken.
    EXPECT_FALSE(logic.addOtherFormat("six.mca", placeOtherFormat(s, 0.25, 0.2), picture));
    EXPECT_EQ(st.spectrumCount, 5);

    // A spectrum without counts cannot be drawn: the window says so and keeps the count.
    logic.clear(picture);
    formats::Spectrum empty = s;
    std::fill(empty.counts.begin(), empty.counts.end(), 0);
    const auto m = logic.addOtherFormat("empty.mca", placeOtherFormat(empty, 0, 0.2), picture);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->text, display_text::CannotRead);
    EXPECT_EQ(st.spectrumCount, 0);
}

} // namespace
} // namespace tarvik
