// tarvik characterize: the result folder from spectra files, refusals that
// leave nothing behind, and the profile each run names.
#include "characterize_cmd.h"
#include "support.h"

#include "detector/source_sim.h"
#include "strip/unfold_response.h"

#include <nlohmann/json.hpp>

#include <cstdio>

namespace {

using namespace clitest;
using namespace tarvikcli;

// A calibration source measured by a detector other than the shipped one,
// as the analyser's ".csv" with 31 header lines (0.15 keV per channel nominal).
std::vector<double> sourceCounts(const std::string& nuclide, double photons, std::uint64_t seed)
{
    tvdet::SimulatedDetector d;
    d.config.mutauHoles = 1.5e-4;
    d.config.mutauElectrons = 1.2e-3;
    d.config.biasVolts = 400;
    d.gain = 0.1495;
    d.offset = 0.18;
    tvdet::SourceSetup s;
    s.nuclide = nuclide;
    s.photons = photons;
    s.scatterShare = 0.03;
    return tvdet::simulateSourceMeasurement(d, s, seed, 2);
}

// The same as an analyser's "<<PMCA SPECTRUM>>" file with its calibration
// (two points in eV, channel centres, 0.15 keV per channel nominal).
std::string sourceMca(const std::string& nuclide, double photons, std::uint64_t seed)
{
    const auto counts = sourceCounts(nuclide, photons, seed);
    std::string s = "<<PMCA SPECTRUM>>\r\nTAG - calibration source\r\nLIVE_TIME - 300\r\nREAL_TIME - 301\r\n"
                    "<<CALIBRATION>>\r\nLABEL - Energy (eV)\r\n100 15075\r\n900 135075\r\n<<DATA>>\r\n";
    for (double c : counts) s += std::to_string(static_cast<long long>(c)) + "\r\n";
    return s + "<<END>>\r\n";
}

std::string sourceCsv(const std::string& nuclide, double photons, std::uint64_t seed)
{
    tvdet::SimulatedDetector d;
    d.config.mutauHoles = 1.5e-4;
    d.config.mutauElectrons = 1.2e-3;
    d.config.biasVolts = 400;
    d.gain = 0.1495;
    d.offset = 0.18;
    tvdet::SourceSetup s;
    s.nuclide = nuclide;
    s.photons = photons;
    s.scatterShare = 0.03;
    const auto counts = tvdet::simulateSourceMeasurement(d, s, seed, 2);
    std::string out;
    for (int i = 1; i <= 31; ++i) out += "header " + std::to_string(i) + "\r\n";
    for (int ch = 1; ch <= 1024; ++ch)
        out += std::to_string(ch) + "," + std::to_string(ch * 0.15) + "," +
               std::to_string(static_cast<long long>(counts[static_cast<std::size_t>(ch - 1)])) + "\r\n";
    return out;
}

// The shipped RES with a few of its tables.
void prepareRes(const fs::path& dir)
{
    fs::create_directories(dir / "RES");
    for (const char* f : {"595kev.dat", "600kev.dat", "detector.txt"})
        fs::copy_file(fs::path(TARVIK_DATA_DIR) / "RES" / f, dir / "RES" / f);
}

struct Captured {
    int status = 0;
    std::string out, err;
};

Captured run(const CharacterizeRequest& q, const fs::path& dir)
{
    const fs::path before = fs::current_path();
    fs::current_path(dir);
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    Io io{out, err, false};
    Locations where;
    where.dataDir = TARVIK_DATA_DIR;
    Captured c;
    c.status = characterizeCommand(q, where, io);
    auto text = [](std::FILE* f) {
        std::string s;
        std::rewind(f);
        char buf[4096];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) s.append(buf, n);
        std::fclose(f);
        return s;
    };
    c.out = text(out);
    c.err = text(err);
    fs::current_path(before);
    return c;
}

CharacterizeRequest request()
{
    CharacterizeRequest q;
    q.sources = {{"241Am", "am.csv"}, {"57Co", "co.csv"}};
    q.kevPerChannel = 0.15;
    q.biasVolts = 400;
    q.out = "mine";
    q.threads = 2;
    q.photonsPerNode = 1000;
    q.eventsPerCount = 1;
    return q;
}

TEST(CharacterizeCommand, WritesTheResultFolderAndSaysWhichTablesItUsed)
{
    const fs::path dir = scratch("characterize_ok");
    spit(dir / "am.csv", sourceCsv("241Am", 6e4, 1));
    spit(dir / "co.csv", sourceCsv("57Co", 1.2e5, 2));
    prepareRes(dir);
    const Captured c = run(request(), dir);
    ASSERT_EQ(c.status, 0) << c.err;
    EXPECT_NE(c.err.find("standard tables from RES"), std::string::npos) << c.err;
    EXPECT_NE(c.out.find("energy gain"), std::string::npos);
    const auto j = nlohmann::json::parse(slurp(dir / "mine" / "characterization.json"));
    EXPECT_NEAR(j["kev_per_channel"].get<double>(), 0.1495, 0.0005);
    EXPECT_NEAR(j["offset_keV"].get<double>(), 0.18, 0.05);
    EXPECT_EQ(j["sources"][1]["file"], "co.csv");
    EXPECT_EQ(j["bias_V"].get<double>(), 400);
    const tvstrip::UnfoldResponse r = tvstrip::loadUnfoldResponse(dir / "mine" / "RES");
    EXPECT_TRUE(r.profile.energyGainKevPerChannel.has_value());
    EXPECT_EQ(slurp(dir / "mine" / "RES" / "595kev.dat"), slurp(dir / "RES" / "595kev.dat"));
    // The profile a run uses is named, with what it describes.
    const std::string said = describeProfile(dir / "mine" / "RES");
    EXPECT_NE(said.find("mine/RES/detector.txt"), std::string::npos) << said;
    EXPECT_NE(said.find("energy scale 0.149"), std::string::npos) << said;
    EXPECT_NE(describeProfile(dir / "RES").find("at 500 V"), std::string::npos);

    // A second run does not replace the folder unless asked.
    const Captured again = run(request(), dir);
    EXPECT_EQ(again.status, 1);
    EXPECT_NE(again.err.find("mine exists already"), std::string::npos) << again.err;
    EXPECT_NE(again.err.find("nothing was written"), std::string::npos);
    fs::remove_all(dir);
}

TEST(CharacterizeCommand, TakesAnAnalysersFileWithItsCalibration)
{
    const fs::path dir = scratch("characterize_mca");
    spit(dir / "am.mca", sourceMca("241Am", 6e4, 5));
    spit(dir / "co.csv", sourceCsv("57Co", 1.2e5, 6));
    prepareRes(dir);
    CharacterizeRequest q = request();
    q.sources[0].second = "am.mca";
    q.kevPerChannel = 0;  // from the .mca's calibration
    const Captured c = run(q, dir);
    ASSERT_EQ(c.status, 0) << c.err;
    const auto j = nlohmann::json::parse(slurp(dir / "mine" / "characterization.json"));
    EXPECT_NEAR(j["nominal_kev_per_channel"].get<double>(), 0.15, 1e-9);
    EXPECT_NEAR(j["kev_per_channel"].get<double>(), 0.1495, 0.0005);
    EXPECT_EQ(j["sources"][0]["file"], "am.mca");
    // Without a calibration or --kev-per-channel a .csv says what it needs.
    q = request();
    q.kevPerChannel = 0;
    q.out = "other";
    q.sources = {{"57Co", "co.csv"}};
    const Captured d = run(q, dir);
    EXPECT_EQ(d.status, 1);
    EXPECT_NE(d.err.find("co.csv: a .csv carries no keV per channel: give --kev-per-channel W"), std::string::npos) << d.err;
    fs::remove_all(dir);
}

TEST(CharacterizeCommand, RefusesAndWritesNothing)
{
    const fs::path dir = scratch("characterize_refused");
    spit(dir / "am.csv", sourceCsv("241Am", 6e4, 3));
    spit(dir / "co.csv", sourceCsv("57Co", 1.2e5, 4));
    prepareRes(dir);
    auto nothing = [&] {
        for (const auto& e : fs::directory_iterator(dir)) {
            const std::string n = e.path().filename().string();
            if (n.find("mine") != std::string::npos) return false;
        }
        return true;
    };
    CharacterizeRequest q = request();
    q.sources[1].second = "missing.csv";
    Captured c = run(q, dir);
    EXPECT_EQ(c.status, 1);
    EXPECT_NE(c.err.find("missing.csv"), std::string::npos) << c.err;
    EXPECT_TRUE(nothing());

    q = request();
    q.kevPerChannel = 0.11;  // the peaks say 0.1495
    c = run(q, dir);
    EXPECT_EQ(c.status, 1);
    EXPECT_NE(c.err.find("keV per channel"), std::string::npos) << c.err;
    EXPECT_TRUE(nothing());

    q = request();
    q.res = dir / "no_such_RES";
    c = run(q, dir);
    EXPECT_EQ(c.status, 1);
    EXPECT_NE(c.err.find("no_such_RES does not exist"), std::string::npos) << c.err;
    EXPECT_TRUE(nothing());

    q = request();
    q.sources[0].first = "241Xx";
    c = run(q, dir);
    EXPECT_EQ(c.status, 1);
    EXPECT_NE(c.err.find("am.csv: unknown radionuclide"), std::string::npos) << c.err;
    EXPECT_TRUE(nothing());
    fs::remove_all(dir);
}

} // namespace
