// `tarvik quality` with the live and real time of a file: the keys and rates
// against a computation made here from the counts the test wrote (air data
// from xraylib's compound by name, units by another path than the
// library's), the same for the file's .csv of `tarvik import`, null keys for
// a plain measured .csv, and the refusals.
#include "support.h"

#include "formats/tests/writers.h"

#include <nlohmann/json.hpp>
#include <xraylib.h>
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include <algorithm>
#include <cmath>

namespace {

using namespace clitest;

const char* kDemo = "W80kV_2.5mmAl_direct.csv";

double muenAirCm2PerG(double e)
{
#if defined(__SANITIZE_ADDRESS__)
    __lsan::ScopedDisabler ignoreLibraryLeak;
#endif
    return CS_Energy_CP("Air, Dry (near sea level)", e, nullptr);
}

// The spectrum of the .mca: 1024 channels of 0.1 keV, channel k centred at
// 0.1 k + 0.05 keV, 58.2 s live in 60 s real.
formats::testing::Truth truth()
{
    formats::testing::Truth t;
    t.counts = formats::testing::someCounts(1024);
    t.offsetKeV = 0.05;
    t.gainKeV = 0.1;
    t.liveS = 58.2;
    t.realS = 60.0;
    return t;
}

struct Expected {
    double total = 0;
    double kermaUGy = 0;  // of all counts through 1 mm2
};

Expected byHand(const formats::testing::Truth& t)
{
    Expected x;
    for (std::size_t k = 0; k < t.counts.size(); ++k) {
        const double n = static_cast<double>(t.counts[k]);
        if (n == 0) continue;
        const double eKeV = t.offsetKeV + t.gainKeV * static_cast<double>(k);
        x.total += n;
        // photons/m2 * J * m2/kg = Gy; 1 mm2 = 1e-6 m2; (mu_en/rho) cm2/g -> m2/kg * 0.1.
        if (eKeV >= 1.0) x.kermaUGy += n / 1e-6 * (eKeV * 1.602176634e-16) * (muenAirCm2PerG(eKeV) * 0.1) * 1e6;
    }
    return x;
}

nlohmann::json record(const Result& r)
{
    EXPECT_EQ(r.status, 0) << r.err;
    return nlohmann::json::parse(r.out.substr(0, r.out.find('\n')));
}

const char* const kNewKeys[] = {"live_time_s",          "real_time_s",          "dead_time_fraction",
                                "pileup_share",         "count_rate_per_s",     "fluence_rate_per_mm2_s",
                                "air_kerma_rate_uGy_per_s", "counts_per_mAs",   "fluence_per_mm2_per_mAs",
                                "air_kerma_per_mAs_uGy"};

TEST(TarvikQualityRates, FileWithTimesAgainstAComputationByHand)
{
    const fs::path w = workingFolder("rates");
    const formats::testing::Truth t = truth();
    spit(w / "a.mca", formats::testing::pmcaFile(t));
    const Expected x = byHand(t);
    const double area = 0.5, mAs = 120.0;
    auto check = [&](const nlohmann::json& j, const std::string& what) {
        SCOPED_TRACE(what);
        EXPECT_NEAR(j["live_time_s"].get<double>(), 58.2, 1e-9);
        EXPECT_NEAR(j["real_time_s"].get<double>(), 60.0, 1e-9);
        EXPECT_NEAR(j["dead_time_fraction"].get<double>(), 1.8 / 60.0, 1e-9);
        EXPECT_TRUE(j["pileup_share"].is_null());
        EXPECT_NEAR(j["total"].get<double>(), x.total, 1e-9 * x.total);
        EXPECT_NEAR(j["count_rate_per_s"].get<double>(), x.total / 58.2, 1e-8 * x.total);
        EXPECT_NEAR(j["fluence_rate_per_mm2_s"].get<double>(), x.total / 58.2 / area, 1e-8 * x.total);
        EXPECT_NEAR(j["air_kerma_rate_uGy_per_s"].get<double>(), x.kermaUGy / area / 58.2, 1e-8 * x.kermaUGy);
        EXPECT_NEAR(j["counts_per_mAs"].get<double>(), x.total * (60.0 / 58.2) / mAs, 1e-8 * x.total);
        EXPECT_NEAR(j["air_kerma_per_mAs_uGy"].get<double>(), x.kermaUGy / area * (60.0 / 58.2) / mAs,
                    1e-8 * x.kermaUGy);
        EXPECT_NEAR(j["aperture_mm2"].get<double>(), area, 0);
        EXPECT_NEAR(j["mAs"].get<double>(), mAs, 0);
        // Counting uncertainties from the resamples: about sqrt(N) / live.
        EXPECT_NEAR(j["count_rate_per_s_u"].get<double>(), std::sqrt(x.total) / 58.2, 0.3 * std::sqrt(x.total) / 58.2);
    };
    const std::vector<std::string> q = {"tarvik", "quality", "--json", "--resamples", "50",
                                        "--aperture-mm2", "0.5", "--mas", "120"};
    auto with = [&](std::vector<std::string> more) {
        std::vector<std::string> a = q;
        a.insert(a.end(), more.begin(), more.end());
        return runTarvikInProcess(w, a);
    };
    check(record(with({"a.mca"})), "the .mca");
    // Its .csv of `tarvik import` keeps the times in its header.
    ASSERT_EQ(runTarvikInProcess(w, {"tarvik", "import", "a.mca"}).status, 0);
    check(record(with({"--kev-per-channel", "0.1", "a.csv"})), "the imported .csv");

    // The text report says what each figure is.
    Result text = runTarvikInProcess(w, {"tarvik", "quality", "--resamples", "0", "a.mca"});
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_NE(text.out.find("  live time: 58.200 s\n  real time: 60.000 s\n  dead time: 3.00 %\n  count rate: "),
              std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("need the detector's entrance area, --aperture-mm2"), std::string::npos) << text.out;

    // Through the stripping: the rates of the stripped spectrum.
    const nlohmann::json stripped = record(with({"--kv", "80", "a.mca"}));
    EXPECT_NEAR(stripped["count_rate_per_s"].get<double>() * 58.2, stripped["total"].get<double>(),
                1e-8 * stripped["total"].get<double>());
    EXPECT_GT(stripped["air_kerma_rate_uGy_per_s"].get<double>(), 0);

    // Edited times in the imported .csv that contradict each other fail the file.
    std::string csv = slurp(w / "a.csv");
    csv.replace(csv.find("Live time: 58.200 s"), 19, "Live time: 60.500 s");
    spit(w / "b.csv", csv);
    const Result lying = with({"--kev-per-channel", "0.1", "b.csv"});
    EXPECT_EQ(lying.status, 1);
    EXPECT_NE(lying.err.find("line 6: the live time 60.5 s is longer than the real time 60 s"), std::string::npos)
        << lying.err;
    EXPECT_EQ(lying.out, "");
    fs::remove_all(w);
}

TEST(TarvikQualityRates, PlainCsvAndResultFilesGiveNullKeys)
{
    const fs::path w = workingFolder("rates_null");
    fs::copy_file(fs::path(TARVIK_DATA_DIR) / "Tarvik_data" / kDemo, w / kDemo);
    const nlohmann::json j = record(runTarvikInProcess(
        w, {"tarvik", "quality", "--json", "--resamples", "0", "--kev-per-channel", "0.1", "--aperture-mm2", "1", kDemo}));
    for (const char* key : kNewKeys) {
        ASSERT_TRUE(j.contains(key)) << key;
        EXPECT_TRUE(j[key].is_null()) << key;
    }
    EXPECT_EQ(j["aperture_mm2"].get<double>(), 1.0);
    // CSV: the same columns after the figures, empty.
    const Result csv = runTarvikInProcess(
        w, {"tarvik", "quality", "--csv", "--resamples", "0", "--kev-per-channel", "0.1", kDemo});
    ASSERT_EQ(csv.status, 0) << csv.err;
    const std::string header = csv.out.substr(0, csv.out.find('\n'));
    EXPECT_NE(header.find(",end_point_keV_u,live_time_s,real_time_s,dead_time_fraction,pileup_share,"),
              std::string::npos)
        << header;
    const std::string row = csv.out.substr(header.size() + 1);
    EXPECT_EQ(std::count(header.begin(), header.end(), ','), std::count(row.begin(), row.end(), ','));
    // The end point's uncertainty (no resamples) and the 19 new columns empty.
    EXPECT_EQ(row.substr(row.size() - 21), std::string(20, ',') + "\n") << row;
    // The text report of a file without times is what it was: no new lines.
    const Result text = runTarvikInProcess(w, {"tarvik", "quality", "--resamples", "0", "--kev-per-channel", "0.1", kDemo});
    ASSERT_EQ(text.status, 0);
    EXPECT_EQ(text.out.find("time"), std::string::npos) << text.out;
    EXPECT_EQ(text.out.find("rate"), std::string::npos) << text.out;
    fs::remove_all(w);
}

TEST(TarvikQualityRates, NonsenseRefused)
{
    const fs::path w = workingFolder("rates_refused");
    spit(w / "a.mca", formats::testing::pmcaFile(truth()));
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {{"--aperture-mm2", "0"}, "--aperture-mm2 must be above 0"},
        {{"--aperture-mm2", "-2"}, "--aperture-mm2 must be above 0"},
        {{"--aperture-mm2", "wide"}, "--aperture-mm2 must be a number"},
        {{"--mas", "0"}, "--mas must be above 0"},
        {{"--mas", "nan"}, "--mas must be a number"},
        {{"--mas", "10", "--kv", "80", "--angle", "90", "--length-mm", "0", "--scatterer", "PMMA"},
         "--aperture-mm2 and --mas give figures at the detector; a converted spectrum"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> a{"tarvik", "quality"};
        a.insert(a.end(), c.args.begin(), c.args.end());
        a.push_back("a.mca");
        const Result r = runTarvikInProcess(w, a);
        EXPECT_EQ(r.status, 2) << c.message;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
    fs::remove_all(w);
}

} // namespace

namespace {

// The demo's analyser file: the direct beam measured at a count rate that
// piles up 3 % of the pulses.  The unfolding, told the rate by the file's
// times and counters, gives back the truth its header states; the standard
// stripping, which knows nothing of pile-up or charge loss, does not.
TEST(TarvikQualityRates, DemoAnalyserFileUnfoldedWithItsCountRate)
{
    const fs::path w = workingFolder("rates_demo_mca");
    const char* mca = "W80kV_2.5mmAl_direct.mca";
    fs::copy_file(fs::path(TARVIK_DATA_DIR) / "Tarvik_data" / mca, w / mca);
    const std::string text = slurp(w / mca);
    auto stated = [&](const std::string& label) {
        const auto at = text.find(label);
        EXPECT_NE(at, std::string::npos) << label;
        return at == std::string::npos ? std::nan("") : std::strtod(text.c_str() + at + label.size(), nullptr);
    };
    const double trueMean = stated("True mean energy at the detector:");
    const double trueHvl = stated("True HVL (air kerma):");
    const double share = stated("Pile-up:") / 100.0;

    auto quality = [&](const char* method) {
        return record(runTarvikInProcess(
            w, {"tarvik", "quality", "--json", "--resamples", "0", "--kv", "80", "--method", method, mca}));
    };
    const nlohmann::json unfold = quality("unfold");
    EXPECT_NEAR(unfold["mean_energy_keV"].get<double>(), trueMean, 0.05);
    EXPECT_NEAR(unfold["hvl1_al_mm"].get<double>() / trueHvl - 1.0, 0.0, 0.005);
    EXPECT_NEAR(unfold["pileup_share"].get<double>(), share, 0.002);
    const double dead = unfold["dead_time_fraction"].get<double>();
    EXPECT_GT(dead, 0.0);
    EXPECT_LT(dead, 0.1);

    const nlohmann::json standard = quality("standard");
    EXPECT_GT(standard["hvl1_al_mm"].get<double>() / trueHvl - 1.0, 0.05);
    EXPECT_TRUE(standard["pileup_share"].is_null());
}

} // namespace
