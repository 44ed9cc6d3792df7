// The quality window's text: one block per loaded spectrum with the figures
// of its own counts at the display's keV per channel, a spectrum that has
// no figures named with its reason without hiding the others.
#include "qualityreport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>

using namespace tarvik;

namespace {

// The number after "label: " on the first line holding it; NaN if none.
double figure(const std::string& text, const std::string& label, std::size_t from = 0) {
    std::size_t at = text.find("  " + label + ": ", from);
    if (at == std::string::npos) return std::nan("");
    return std::strtod(text.c_str() + at + label.size() + 4, nullptr);
}

void loadSlot(AppState& st, int slot, const std::string& name, int channel, double count) {
    const auto s = static_cast<std::size_t>(slot);
    for (int ch = 1; ch <= kChannels; ++ch) st.spectrumCounts[s][static_cast<std::size_t>(ch)] = 0.0;
    if (channel > 0) st.spectrumCounts[s][static_cast<std::size_t>(channel)] = count;
    st.spectrumMax[s] = count;
    st.spectrumFile[s] = name;
}

} // namespace

TEST(QualityReportTest, OneBlockPerSpectrumWithItsOwnFigures) {
    AppState st;
    st.kevPerChannel = 0.1;
    st.spectrumCount = 3;
    loadSlot(st, 1, "mono30.mca1", 300, 1e6);    // all photons at 29.95 keV
    loadSlot(st, 2, "empty.mca1", 0, 0);         // no counts at all
    loadSlot(st, 3, "raw60.csv", 600, 1e6);      // 59.95 keV, not corrected
    loadSlot(st, 4, "stale.mca1", 500, 1e6);     // beyond spectrumCount: not shown

    quality::Options options;
    options.resamples = 5;
    const std::string report = qualityReport(st, options);

    const std::size_t b1 = report.find("[1] mono30.mca1\n");
    const std::size_t b2 = report.find("[2] empty.mca1\n");
    const std::size_t b3 = report.find("[3] raw60.csv\n");
    ASSERT_NE(b1, std::string::npos) << report;
    ASSERT_NE(b2, std::string::npos) << report;
    ASSERT_NE(b3, std::string::npos) << report;
    EXPECT_LT(b1, b2);
    EXPECT_LT(b2, b3);
    EXPECT_EQ(report.find("stale"), std::string::npos);

    // A single energy: HVL = ln 2 / mu at the channel centre (i - 0.5) w,
    // and the mean energy is that centre.
    const double hvl30 = std::log(2.0) / quality::aluminiumMuPerMm(29.95);
    EXPECT_NEAR(figure(report, "HVL1 Al", b1), hvl30, 1e-4 + 1e-3 * hvl30);
    EXPECT_NEAR(figure(report, "mean energy (fluence)", b1), 29.95, 1e-3);
    const double hvl60 = std::log(2.0) / quality::aluminiumMuPerMm(59.95);
    EXPECT_NEAR(figure(report, "HVL1 Al", b3), hvl60, 1e-4 + 1e-3 * hvl60);

    // The empty spectrum has its reason, and no figures of its own.
    const std::string block2 = report.substr(b2, b3 - b2);
    EXPECT_NE(block2.find("計算できません"), std::string::npos) << block2;
    EXPECT_EQ(block2.find("HVL1 Al"), std::string::npos);
    // Only the measured spectrum is marked as uncorrected.
    EXPECT_NE(report.find("補正前", b3), std::string::npos);
    EXPECT_EQ(report.substr(0, b3).find("補正前"), std::string::npos);
}

TEST(QualityReportTest, NothingLoadedNothingReported) {
    AppState st;
    st.kevPerChannel = 0.1;
    EXPECT_EQ(qualityReport(st), "");
}
