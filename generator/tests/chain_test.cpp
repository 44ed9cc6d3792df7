// The whole measurement chain of a scattered beam: scattered spectrum ->
// detector (charge loss, calibrated scale) -> detector correction ->
// conversion back to the primary beam, against the known primary beam.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <sstream>

#include "generator/roundtrip_conv.h"

namespace tvgen {
namespace {

const std::filesystem::path kShippedData = std::filesystem::path(TARVIK_SOURCE_DIR) / "data";

TEST(WholeChainTest, UnfoldedMeasurementConvertsBackToThePrimaryBeam)
{
    ConversionCheckOptions o;
    o.dataFolder = kShippedData;
    o.kilovolts = {80};
    o.widths = {0.15};
    o.angles = {120};
    o.lengths = {1.0};
    o.detectorPhotons = 2000000;
    std::ostringstream log;
    const std::vector<ConversionCheckRow> rows = conversionCheck(o, log);

    // Both scatterers through every chain with both conversions, nothing
    // skipped by an error.
    std::map<std::string, int> perChain;
    for (const auto& r : rows) ++perChain[r.chain + "/" + r.method];
    EXPECT_EQ(perChain["scattered/unfold"], 2) << log.str();
    EXPECT_EQ(perChain["detector+stripping/standard"], 2) << log.str();
    EXPECT_EQ(perChain["detector+unfold/unfold"], 2) << log.str();
    EXPECT_EQ(rows.size(), 12u) << log.str();

    for (const auto& r : rows) {
        SCOPED_TRACE(r.material + " " + std::to_string(r.angle) + " deg L=" + std::to_string(r.length) + " " +
                     r.chain + " " + r.method);
        if (r.method != "unfold" || r.chain == "detector+stripping") continue;
        // The detector unfolded and the scattering unfolded: the primary
        // beam's mean energy within 0.15 keV and its first HVL within 1 %.
        EXPECT_LE(std::abs(r.meanError), 0.15);
        EXPECT_LE(std::abs(r.hvlError), 1.0);
    }
    // The unfolding removes the charge-loss tail that the complete-collection
    // stripping leaves in: its HVL is closer to the truth in every geometry.
    for (const auto& a : rows) {
        for (const auto& b : rows) {
            if (a.chain == "detector+unfold" && b.chain == "detector+stripping" && a.method == b.method &&
                a.material == b.material && a.angle == b.angle && a.length == b.length) {
                EXPECT_LT(std::abs(a.hvlError), std::abs(b.hvlError)) << a.material << " " << a.angle << " " << a.method;
            }
        }
    }
}

TEST(WholeChainTest, RefusesADataFolderWithoutTheDetectorProfile)
{
    const auto dir = std::filesystem::temp_directory_path() /
                     ("tvgen_chain_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::create_directories(dir / "RES");
    ConversionCheckOptions o;
    o.dataFolder = dir;
    o.kilovolts = {50};
    o.widths = {0.2};
    std::ostringstream log;
    EXPECT_THROW(conversionCheck(o, log), std::exception);
    EXPECT_TRUE(log.str().empty()) << "nothing is measured without the detector's profile";
    std::filesystem::remove_all(dir);
}

} // namespace
} // namespace tvgen
