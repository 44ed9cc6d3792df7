// What a characterization leaves behind: a complete RES folder that the
// stripping's own readers accept, the JSON with its keys, and nothing at
// all when anything fails; an earlier result or RES is never half replaced.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "detector/characterize_output.h"
#include "detector/unfold_data.h"
#include "strip/response_table.h"
#include "strip/unfold_response.h"

namespace tvdet {
namespace {

namespace fs = std::filesystem;

class Scratch {
public:
    Scratch()
    {
        char pattern[] = "/tmp/tvdet_output_XXXXXX";
        path_ = mkdtemp(pattern);
    }
    ~Scratch() { fs::remove_all(path_); }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

std::string read(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// A characterization as the fit returns it (values of a plausible detector).
Characterization result()
{
    Characterization c;
    c.gain = {0.1508, 1e-5};
    c.offset = {-0.23, 0.003};
    c.fwhm2Constant = {0.30, 0.007};
    c.fwhm2Linear = {0.0035, 0.0003};
    c.fwhmProportional = {0.0025, 0.0008};
    c.mutauElectrons = {1.5e-3, 7e-5};
    c.mutauHoles = {2e-4, 1.3e-6};
    c.fwhmAt5954 = {0.7284, 0.003};
    c.deviance = 1900;
    c.channels = 1755;
    c.freeParameters = 35;
    c.deviancePerChannel = 1.1;
    c.construction.biasVolts = 400;
    c.nominalKevPerChannel = 0.15;
    c.thresholdKeV = 10;
    SourceFit s;
    s.nuclide = "241Am";
    s.name = "am.csv";
    s.firstChannel = 68;
    s.lastChannel = 70;
    s.measured = {10, 12, 9};
    s.model = {10.5, 11, 9.5};
    for (auto& p : s.parts) p = {2, 2, 2};
    s.counts = 31;
    s.decays = {1e5, 300};
    c.sources.push_back(s);
    return c;
}

// A RES with three tables and the shipped profile.
fs::path standardRes(const Scratch& s)
{
    const fs::path res = s.path() / "standard" / "RES";
    fs::create_directories(res);
    for (const char* f : {"595kev.dat", "600kev.dat", "1200kev.dat", "detector.txt"})
        fs::copy_file(fs::path(TARVIK_SOURCE_DIR) / "data" / "RES" / f, res / f);
    return res;
}

OutputOptions quick(const fs::path& res)
{
    OutputOptions o;
    o.standardRes = res;
    o.unfoldPhotonsPerNode = 500;
    o.threads = 2;
    return o;
}

TEST(CharacterizationOutput, IsACompleteResFolderTheStrippingReads)
{
    Scratch s;
    const fs::path out = s.path() / "mine";
    writeCharacterization(result(), out, quick(standardRes(s)));
    // The profile with the energy scale, the unfolding's data made for it,
    // the tables copied: the unfolding's own loader accepts them together.
    const tvstrip::UnfoldResponse r = tvstrip::loadUnfoldResponse(out / "RES");
    EXPECT_EQ(r.profile.energyGainKevPerChannel, 0.1508);
    EXPECT_EQ(r.profile.energyOffsetKeV, -0.23);
    EXPECT_EQ(r.profile.mutauHoles, 2e-4);
    EXPECT_EQ(r.profile.biasVolts, 400);
    EXPECT_EQ(r.nodes.size(), unfoldNodeEnergies().size());
    EXPECT_EQ(read(out / "RES" / "600kev.dat"), read(s.path() / "standard" / "RES" / "600kev.dat"));
    tvstrip::loadResponseTable(out / "RES" / "1200kev.dat");
    EXPECT_TRUE(fs::exists(out / "characterization.txt"));
    // Nothing else is left beside the result.
    int entries = 0;
    for (const auto& e : fs::directory_iterator(s.path())) entries += e.path().filename() != "standard";
    EXPECT_EQ(entries, 1);
}

TEST(CharacterizationOutput, JsonHoldsEveryKeyWithItsUncertainty)
{
    Characterization c = result();
    c.mutauElectrons.uncertainty = NAN;  // not determined
    const auto j = nlohmann::json::parse(characterizationJson(c));
    for (const char* key : {"kev_per_channel", "offset_keV", "fwhm2_constant_keV2", "fwhm2_linear_keV",
                            "fwhm_proportional", "mutau_electrons_cm2_per_V", "mutau_holes_cm2_per_V",
                            "fwhm_keV_at_59_54"}) {
        ASSERT_TRUE(j.contains(key)) << key;
        ASSERT_TRUE(j.contains(std::string(key) + "_u")) << key;
    }
    EXPECT_DOUBLE_EQ(j["kev_per_channel"].get<double>(), 0.1508);
    EXPECT_DOUBLE_EQ(j["offset_keV_u"].get<double>(), 0.003);
    EXPECT_TRUE(j["mutau_electrons_cm2_per_V_u"].is_null());
    EXPECT_DOUBLE_EQ(j["deviance_per_channel"].get<double>(), 1.1);
    ASSERT_EQ(j["sources"].size(), 1u);
    EXPECT_EQ(j["sources"][0]["nuclide"], "241Am");
    EXPECT_EQ(j["sources"][0]["file"], "am.csv");
}

TEST(CharacterizationOutput, AFailureWritesNothingAndKeepsAnEarlierResult)
{
    Scratch s;
    const fs::path res = standardRes(s);
    const fs::path out = s.path() / "mine";
    fs::create_directories(out);
    std::ofstream(out / "earlier.txt") << "kept";

    // An existing folder is not replaced unless asked.
    EXPECT_THROW(writeCharacterization(result(), out, quick(res)), OutputError);
    // A failure halfway (no tables to copy) leaves the earlier folder as it was.
    OutputOptions broken = quick(s.path() / "nowhere");
    broken.replace = true;
    try {
        writeCharacterization(result(), out, broken);
        FAIL() << "accepted a RES without tables";
    } catch (const OutputError& e) {
        EXPECT_NE(std::string(e.what()).find("nowhere"), std::string::npos) << e.what();
    }
    // The report drawing fails: the same.
    OutputOptions drawing = quick(res);
    drawing.replace = true;
    drawing.drawReport = [](const Characterization&, std::size_t, const fs::path&) { return std::string("no fonts"); };
    EXPECT_THROW(writeCharacterization(result(), out, drawing), OutputError);
    EXPECT_EQ(read(out / "earlier.txt"), "kept");
    int entries = 0;
    for (const auto& e : fs::directory_iterator(s.path())) entries += e.path().filename() != "standard";
    EXPECT_EQ(entries, 1);  // no temporary folder left

    // Replaced when asked, completely.
    OutputOptions replace = quick(res);
    replace.replace = true;
    writeCharacterization(result(), out, replace);
    EXPECT_FALSE(fs::exists(out / "earlier.txt"));
    EXPECT_TRUE(fs::exists(out / "RES" / "unfold.rsp"));

    // A parent folder that does not exist.
    EXPECT_THROW(writeCharacterization(result(), s.path() / "no" / "such", quick(res)), OutputError);
}

TEST(CharacterizationOutput, TablesAreSimulatedAgainForAnotherCrystal)
{
    Scratch s;
    const fs::path res = standardRes(s);
    tvstrip::DetectorProfile p = defaultDetectorProfile();
    EXPECT_TRUE(sameTableGeometry(res, p));
    p.biasVolts = 800;  // the tables hold no charge transport
    p.mutauHoles = 1e-3;
    EXPECT_TRUE(sameTableGeometry(res, p));
    p.crystalThicknessMm = 2;
    EXPECT_FALSE(sameTableGeometry(res, p));
    p = defaultDetectorProfile();
    p.windowThicknessUm = 200;
    EXPECT_FALSE(sameTableGeometry(res, p));
}

TEST(InstallRes, KeepsTheEarlierResAndRefusesAnIncompleteOne)
{
    Scratch s;
    const fs::path work = s.path() / "work";
    fs::create_directories(work / "RES");
    std::ofstream(work / "RES" / "595kev.dat") << "old";
    const fs::path mine = s.path() / "mine";
    writeCharacterization(result(), mine, quick(standardRes(s)));

    EXPECT_EQ(installRes(mine / "RES", work, "20250101-120000"), "RES.bak-20250101-120000");
    EXPECT_EQ(read(work / "RES.bak-20250101-120000" / "595kev.dat"), "old");
    EXPECT_EQ(read(work / "RES" / "unfold.rsp"), read(mine / "RES" / "unfold.rsp"));
    // Twice in the same second: the second backup gets its own name.
    EXPECT_EQ(installRes(mine / "RES", work, "20250101-120000"), "RES.bak-20250101-120000-2");
    // A folder without the profile is no RES; the working folder stays.
    fs::create_directories(s.path() / "half");
    EXPECT_THROW(installRes(s.path() / "half", work, "20250101-120001"), OutputError);
    EXPECT_TRUE(fs::exists(work / "RES" / "unfold.rsp"));
    // A working folder without a RES gets one, and nothing is kept.
    const fs::path fresh = s.path() / "fresh";
    fs::create_directories(fresh);
    EXPECT_EQ(installRes(mine / "RES", fresh, "20250101-120002"), "");
    EXPECT_TRUE(fs::exists(fresh / "RES" / "detector.txt"));
}

} // namespace
} // namespace tvdet
