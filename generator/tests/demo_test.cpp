// The shipped demo spectra: their layout, and the truth their headers state
// against the generator's model of the same beams.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

#include "generator/generate.h"
#include "generator/scatter_truth.h"
#include "generator/scatterer.h"
#include "generator/spectra.h"

namespace tvgen {
namespace {

namespace fs = std::filesystem;

const fs::path kDemoDir = fs::path(TARVIK_SOURCE_DIR) / "data" / "Tarvik_data";

std::vector<std::string> crlfLinesOf(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        EXPECT_TRUE(!line.empty() && line.back() == '\r') << file << " line " << lines.size() + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

double stated(const std::vector<std::string>& header, const std::string& label)
{
    for (const std::string& line : header)
        if (line.rfind(label, 0) == 0) return std::strtod(line.c_str() + label.size(), nullptr);
    ADD_FAILURE() << "no header line \"" << label << "\"";
    return std::nan("");
}

TEST(DemoSpectrumTest, AnalyserLayoutOfOneTenthKeVPerChannel)
{
    for (const char* name : {"W80kV_2.5mmAl_direct.csv", "W80kV_2.5mmAl_PMMA90deg.csv"}) {
        SCOPED_TRACE(name);
        const auto lines = crlfLinesOf(kDemoDir / name);
        ASSERT_EQ(lines.size(), 31u + 1024u);
        EXPECT_EQ(lines[0], "Simulated spectrum - NOT a measurement");
        EXPECT_EQ(lines[3].rfind("SIMULATED: W 80 kV + 2.5 mm Al", 0), 0u) << lines[3];
        EXPECT_EQ(lines[30], "Channel  Energy  Count");
        for (std::size_t i = 0; i < 31; ++i) {
            EXPECT_LE(lines[i].size(), 60u) << i + 1;
            EXPECT_EQ(lines[i].find(','), std::string::npos) << i + 1;
        }
        for (int ch = 1; ch <= 1024; ++ch) {
            char prefix[32];
            std::snprintf(prefix, sizeof prefix, "%d,%.2f,", ch, ch * 0.1);
            ASSERT_EQ(lines[30 + static_cast<std::size_t>(ch)].rfind(prefix, 0), 0u) << lines[30 + ch];
        }
    }
}

TEST(DemoSpectrumTest, HeadersStateTheTruthOfTheModelBeams)
{
    // The figures must be those of the generator's current beams: a change
    // of the tube or scattering model without new demo spectra fails here.
    // The tube spectrum on a grid of 0.1 keV instead of the demo's 0.01 keV
    // (a tenth of the time; the four figures agree to 0.0001).
    TubeModel tube;
    tube.stepKeV = 0.1;
    const PhotonSpectrum primary = tubeSpectrum(tube);
    const quality::BeamQuality direct = demoTruth(primary, 0.1);
    const PhotonSpectrum scattered =
        fineToPhotons(scatteredFine(primary, prepareScatterer(pmma()), std::numbers::pi / 2.0, 1.0));
    const quality::BeamQuality behind = demoTruth(scattered, 0.1);

    const auto a = crlfLinesOf(kDemoDir / "W80kV_2.5mmAl_direct.csv");
    const auto b = crlfLinesOf(kDemoDir / "W80kV_2.5mmAl_PMMA90deg.csv");
    ASSERT_EQ(a.size(), 1055u);
    ASSERT_EQ(b.size(), 1055u);
    const std::vector<std::string> ha(a.begin(), a.begin() + 31), hb(b.begin(), b.begin() + 31);
    EXPECT_NEAR(stated(ha, "True mean energy at the detector:"), direct.meanEnergyKeV.value, 0.006);
    EXPECT_NEAR(stated(ha, "True HVL (air kerma):"), direct.hvl1AlMm.value, 0.0006);
    EXPECT_NEAR(stated(hb, "True mean energy at the detector:"), behind.meanEnergyKeV.value, 0.006);
    EXPECT_NEAR(stated(hb, "True HVL (air kerma):"), behind.hvl1AlMm.value, 0.0006);
    EXPECT_NEAR(stated(hb, "True primary mean energy:"), direct.meanEnergyKeV.value, 0.006);
    EXPECT_NEAR(stated(hb, "True primary HVL (air kerma):"), direct.hvl1AlMm.value, 0.0006);
    // Scattering at 90 degrees softens the beam.
    EXPECT_LT(behind.meanEnergyKeV.value, direct.meanEnergyKeV.value - 2.0);
}

TEST(DemoSpectrumTest, TruthLeavesOutWhatTheCorrectionsEmpty)
{
    // Photons at or below 10 keV count in no stated figure: both
    // corrections empty those channels.
    const quality::BeamQuality alone = demoTruth(PhotonSpectrum{{30.0}, {1.0}}, 0.1);
    const quality::BeamQuality withSoft = demoTruth(PhotonSpectrum{{30.0, 9.95, 10.0}, {1.0, 1000.0, 1000.0}}, 0.1);
    EXPECT_EQ(withSoft.total.value, alone.total.value);
    EXPECT_EQ(withSoft.meanEnergyKeV.value, alone.meanEnergyKeV.value);
    EXPECT_EQ(withSoft.hvl1AlMm.value, alone.hvl1AlMm.value);
    // Just above the limit a photon counts, in the channel of its energy.
    const quality::BeamQuality above = demoTruth(PhotonSpectrum{{30.0, 10.05}, {1.0, 1.0}}, 0.1);
    EXPECT_EQ(above.total.value, 2.0);
    EXPECT_NEAR(above.meanEnergyKeV.value, (29.95 + 10.05) / 2, 1e-9);
}

} // namespace
} // namespace tvgen
