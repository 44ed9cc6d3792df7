// Analysers' files through the command line: `import` to the dialog's
// ".csv", and `strip`, `quality`, `export`, `plot` taking them directly.
// The spectrum is the 80 kV demo's; the files are written by the formats
// tests' own writers.
#include "support.h"

#include "cli.h"
#include "formats/tests/writers.h"

#include <cstdlib>

#include <vector>

namespace {

using namespace clitest;
using formats::testing::Truth;

const char* kDemo = "W80kV_2.5mmAl_direct.csv";

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> out;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string l = text.substr(pos, end - pos);
        if (!l.empty() && l.back() == '\r') l.pop_back();
        out.push_back(l);
        pos = end + 1;
    }
    return out;
}

// The demo's counts, on 0.1 keV channels from 0 keV.
Truth demoTruth()
{
    Truth t;
    const auto lines = linesOf(slurp(fs::path(TARVIK_DATA_DIR) / "Tarvik_data" / kDemo));
    for (std::size_t i = 31; i < 31 + 1024; ++i) t.counts.push_back(std::stoull(lines[i].substr(lines[i].rfind(',') + 1)));
    t.offsetKeV = 0.05;  // channel centres: channel k from 0.1 k keV
    t.gainKeV = 0.1;
    return t;
}

std::string columns(const Truth& t)
{
    std::string s = "channel,energy (keV),counts\n";
    for (std::size_t k = 0; k < t.counts.size(); ++k)
        s += std::to_string(k) + "," + formats::testing::fmt("%.4f", 0.05 + 0.1 * static_cast<double>(k)) + "," +
             std::to_string(t.counts[k]) + "\n";
    return s;
}

double jsonNumber(const std::string& record, const std::string& key)
{
    const std::size_t at = record.find("\"" + key + "\":");
    EXPECT_NE(at, std::string::npos) << key;
    return at == std::string::npos ? 0 : std::strtod(record.c_str() + at + key.size() + 3, nullptr);
}

struct Sample {
    const char* name;
    std::string bytes;
};

std::vector<Sample> samples()
{
    const Truth t = demoTruth();
    Truth edge = t;  // N42 coefficients give the start of a channel
    edge.offsetKeV = 0;
    return {{"a.mca", formats::testing::pmcaFile(t)},
            {"b.spe", formats::testing::speFile(t)},
            {"c.chn", formats::testing::chnFile(t)},
            {"d.n42", formats::testing::n42File({edge})},
            {"e.txt", columns(t)}};
}

// The result's lines without its header lines 5 to 21 (the input's lines 1
// to 17, which say where the spectrum came from).
std::vector<std::string> withoutHeader(const std::string& result)
{
    std::vector<std::string> l = linesOf(result);
    if (l.size() > 21) l.erase(l.begin() + 4, l.begin() + 21);
    return l;
}

TEST(TarvikImport, EachFormatThroughImportAndThroughStripEqualsTheCsv)
{
    const fs::path w = workingFolder("roundtrip");
    fs::copy_file(fs::path(TARVIK_DATA_DIR) / "Tarvik_data" / kDemo, w / "Tarvik_data" / kDemo);
    ASSERT_EQ(runIn(w, tarvikExe() + " strip --kv 80 --kev-per-channel 0.1 Tarvik_data/" + kDemo).status, 0);
    const std::string fromCsv = slurp(w / "Tarvik_data" / "W80kV_2.5mmAl_direct.mca1");
    ASSERT_GT(fromCsv.size(), 20000u);
    fs::create_directory(w / "imported");
    fs::create_directory(w / "direct");
    fs::create_directory(w / "viacsv");
    for (const Sample& s : samples()) {
        SCOPED_TRACE(s.name);
        spit(w / "Tarvik_data" / s.name, s.bytes);
        const std::string stem = fs::path(s.name).stem().string();
        const Result imp = runIn(w, tarvikExe() + " import --outdir imported Tarvik_data/" + s.name);
        ASSERT_EQ(imp.status, 0) << imp.err;
        const std::string csv = slurp(w / "imported" / (stem + ".csv"));
        const std::vector<std::string> lines = linesOf(csv);
        ASSERT_EQ(lines.size(), 31u + 1024u);
        EXPECT_EQ(lines[0].rfind("Imported by tarvik from a ", 0), 0u) << lines[0];
        // The specified reader takes it: tvstrip through the dialog's logic.
        const Result viaCsv =
            runIn(w, tarvikExe() + " strip --kv 80 --kev-per-channel 0.1 --outdir viacsv imported/" + stem + ".csv");
        ASSERT_EQ(viaCsv.status, 0) << viaCsv.err;
        // And directly, the keV per channel from the file's calibration.
        const Result direct = runIn(w, tarvikExe() + " strip --kv 80 --outdir direct Tarvik_data/" + s.name);
        ASSERT_EQ(direct.status, 0) << direct.err;
        const std::string a = slurp(w / "viacsv" / (stem + ".mca1")), b = slurp(w / "direct" / (stem + ".mca1"));
        EXPECT_EQ(withoutHeader(a), withoutHeader(fromCsv));
        EXPECT_EQ(a, b);
        EXPECT_NE(a.find("Imported by tarvik"), std::string::npos);
    }
    fs::remove_all(w);
}

TEST(TarvikImport, OtherChannelCountsOnlyWithRebinningAndNeverOverItself)
{
    const fs::path w = workingFolder("import");
    Truth fine = demoTruth();
    Truth twice;  // 2048 channels of 0.05 keV: each demo channel split in two
    for (std::uint64_t c : fine.counts) {
        twice.counts.push_back(c / 2);
        twice.counts.push_back(c - c / 2);
    }
    twice.offsetKeV = 0.025;
    twice.gainKeV = 0.05;
    spit(w / "Tarvik_data" / "fine.spe", formats::testing::speFile(twice));
    Result r = runIn(w, tarvikExe() + " import Tarvik_data/fine.spe");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("2048 channels; the stripping dialog takes 1024"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("--rebin-kev-per-channel W"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(w / "Tarvik_data" / "fine.csv"));
    r = runIn(w, tarvikExe() + " strip --kv 80 Tarvik_data/fine.spe");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("it has 2048 channels; the stripping takes 1024"), std::string::npos) << r.err;

    r = runIn(w, tarvikExe() + " import --rebin-kev-per-channel 0.1 Tarvik_data/fine.spe");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string csv = slurp(w / "Tarvik_data" / "fine.csv");
    EXPECT_NE(csv.find("REBINNED"), std::string::npos);
    const std::vector<std::string> lines = linesOf(csv);
    ASSERT_EQ(lines.size(), 31u + 1024u);
    // Shared back onto the demo's channels: the demo's counts.
    for (std::size_t k = 0; k < 1024; ++k)
        ASSERT_EQ(lines[31 + k].substr(lines[31 + k].rfind(',') + 1), std::to_string(fine.counts[k])) << k;
    // Written before: kept without --force.
    r = runIn(w, tarvikExe() + " import --rebin-kev-per-channel 0.1 Tarvik_data/fine.spe");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("exists (use --force to overwrite)"), std::string::npos);

    // Strip with the same sharing gives the demo's result.
    fs::copy_file(fs::path(TARVIK_DATA_DIR) / "Tarvik_data" / kDemo, w / "Tarvik_data" / kDemo);
    ASSERT_EQ(runIn(w, tarvikExe() + " strip --kv 80 --kev-per-channel 0.1 Tarvik_data/" + kDemo).status, 0);
    r = runIn(w, tarvikExe() + " strip --kv 80 --rebin-kev-per-channel 0.1 --force Tarvik_data/fine.spe");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(withoutHeader(slurp(w / "Tarvik_data" / "fine.mca1")),
              withoutHeader(slurp(w / "Tarvik_data" / "W80kV_2.5mmAl_direct.mca1")));

    // Several spectra in one file: one .csv each.
    spit(w / "Tarvik_data" / "two.n42", formats::testing::n42File({fine, fine}));
    r = runIn(w, tarvikExe() + " import Tarvik_data/two.n42");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(w / "Tarvik_data" / "two_1.csv"));
    EXPECT_TRUE(fs::exists(w / "Tarvik_data" / "two_2.csv"));

    // A text-column ".csv" would be replaced by its own import.
    spit(w / "Tarvik_data" / "cols.csv", columns(fine));
    r = runIn(w, tarvikExe() + " import Tarvik_data/cols.csv");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("would replace the file itself"), std::string::npos) << r.err;
    EXPECT_EQ(slurp(w / "Tarvik_data" / "cols.csv"), columns(fine));
    fs::create_directory(w / "out");
    EXPECT_EQ(runIn(w, tarvikExe() + " import --outdir out Tarvik_data/cols.csv").status, 0);
    // A measured ".csv" is in the layout already.
    r = runIn(w, tarvikExe() + " import --outdir out Tarvik_data/" + kDemo);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("already a measured .csv"), std::string::npos) << r.err;
    // A file that is no spectrum: the reader's reason with the place.
    spit(w / "Tarvik_data" / "bad.mca", "<<PMCA SPECTRUM>>\r\n<<DATA>>\r\n5\r\n-1\r\n<<END>>\r\n");
    r = runIn(w, tarvikExe() + " import Tarvik_data/bad.mca");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Tarvik_data/bad.mca: line 4: channel 1: the count \"-1\" is negative"), std::string::npos)
        << r.err;
    fs::remove_all(w);
}

TEST(TarvikImport, QualityExportAndPlotTakeTheFilesDirectly)
{
    const fs::path w = workingFolder("direct");
    fs::copy_file(fs::path(TARVIK_DATA_DIR) / "Tarvik_data" / kDemo, w / "Tarvik_data" / kDemo);
    for (const Sample& s : samples()) spit(w / "Tarvik_data" / s.name, s.bytes);
    // The beam quality of each is the demo's at 0.1 keV per channel.
    const std::string options = " quality --json --resamples 0 ";
    const Result csv = runIn(w, tarvikExe() + options + "--kev-per-channel 0.1 Tarvik_data/" + kDemo);
    ASSERT_EQ(csv.status, 0) << csv.err;
    for (const Sample& s : samples()) {
        const Result r = runIn(w, tarvikExe() + options + "Tarvik_data/" + s.name);
        ASSERT_EQ(r.status, 0) << s.name << r.err;
        // The .Chn keeps its calibration in single precision: 0.1 keV to 1.5e-8.
        for (const char* key : {"kev_per_channel", "total", "mean_energy_keV", "kerma_mean_energy_keV", "hvl1_al_mm",
                                "hvl2_cu_mm", "end_point_keV"})
            EXPECT_NEAR(jsonNumber(r.out, key), jsonNumber(csv.out, key), 1e-6 * jsonNumber(csv.out, key))
                << s.name << " " << key;
    }
    // 2048 channels of 0.05 keV: their own keV per channel, one export row each.
    Truth fine;
    fine.counts = formats::testing::someCounts(2048);
    fine.offsetKeV = 0.025;
    fine.gainKeV = 0.05;
    spit(w / "Tarvik_data" / "fine.spe", formats::testing::speFile(fine));
    const Result q = runIn(w, tarvikExe() + options + "Tarvik_data/fine.spe");
    ASSERT_EQ(q.status, 0) << q.err;
    EXPECT_NE(q.out.find("\"kev_per_channel\":0.05"), std::string::npos) << q.out;
    Result e = runIn(w, tarvikExe() + " export --csv t.csv Tarvik_data/fine.spe Tarvik_data/a.mca");
    ASSERT_EQ(e.status, 0) << e.err;
    const std::vector<std::string> table = linesOf(slurp(w / "t.csv"));
    ASSERT_EQ(table.size(), 2u + 2048u);
    EXPECT_EQ(table[0], "channel,energy Tarvik_data/fine.spe,Tarvik_data/fine.spe,energy Tarvik_data/a.mca,Tarvik_data/a.mca");
    EXPECT_EQ(table[2].substr(0, table[2].find(',', 2) + 1), "1,0.05,");
    EXPECT_EQ(table[2 + 2047].substr(table[2 + 2047].size() - 2), ",,");  // a.mca has 1024 channels
    // Without a calibration the keV per channel must be given.
    spit(w / "Tarvik_data" / "bare.txt", "channel count\n0 5\n1 6\n2 7\n");
    e = runIn(w, tarvikExe() + " export --csv u.csv Tarvik_data/bare.txt");
    EXPECT_EQ(e.status, 1);
    EXPECT_NE(e.err.find("no energy calibration: give --kev-per-channel W"), std::string::npos) << e.err;
    EXPECT_EQ(runIn(w, tarvikExe() + " export --csv u.csv --kev-per-channel 0.5 Tarvik_data/bare.txt").status, 0);
    EXPECT_EQ(linesOf(slurp(w / "u.csv"))[4], "3,1.5,7");
    if (tarvikcli::plotAvailable()) {
        const Result p = runIn(w, tarvikExe() + " plot --out p.svg Tarvik_data/fine.spe Tarvik_data/c.chn");
        EXPECT_EQ(p.status, 0) << p.err;
        EXPECT_TRUE(fs::exists(w / "p.svg"));
    }
    fs::remove_all(w);
}

// The unfolding of an analyser's file takes its count rate: the pile-up
// share from the recorded pulses per second and the fast channel's
// resolving time (pile-up rejection on: 100 ns), the dead time from live and
// real time, both on the console; a rate whose pile-up the spectrum cannot
// support is refused with the figure and nothing is written.
TEST(TarvikImport, TheUnfoldingTakesTheFilesCountRate)
{
    const fs::path w = workingFolder("rates");
    Truth t = demoTruth();
    double total = 0;
    for (std::uint64_t c : t.counts) total += static_cast<double>(c);
    auto expectedShare = [&](double realS) {
        const double x = total / realS * 0.1e-6, mu = x / (1 - x);
        return 1 - 1 / (1 + mu + mu * mu / 2);
    };
    t.liveS = 95;
    t.realS = 100;
    spit(w / "Tarvik_data" / "slow.mca", formats::testing::pmcaFile(t));
    const Result r = runIn(w, tarvikExe() + " strip --method unfold --kv 80 --outdir . Tarvik_data/slow.mca");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string note = "tarvik strip: Tarvik_data/slow.mca: pile-up " +
                             formats::testing::fmt("%.2f", 100 * expectedShare(100)) +
                             " % of the recorded pulses (from the count rate); dead time 5.00 %\n";
    EXPECT_NE(r.err.find(note), std::string::npos) << note << r.err;
    // The beam quality through the unfolding reports the share it used.
    const Result q =
        runIn(w, tarvikExe() + " quality --json --resamples 2 --kv 80 --method unfold Tarvik_data/slow.mca");
    ASSERT_EQ(q.status, 0) << q.err;
    EXPECT_NEAR(jsonNumber(q.out, "pileup_share"), expectedShare(100), 1e-9) << q.out;
    EXPECT_NEAR(jsonNumber(q.out, "dead_time_fraction"), 0.05, 1e-9) << q.out;
    // The same counts at a tenth of the time: about 40 % of the pulses piled up.
    t.liveS = 2.4;
    t.realS = 2.5;
    spit(w / "Tarvik_data" / "fast.mca", formats::testing::pmcaFile(t));
    ASSERT_GT(expectedShare(2.5), 0.3);
    const Result f = runIn(w, tarvikExe() + " strip --method unfold --kv 80 --outdir . Tarvik_data/fast.mca");
    EXPECT_EQ(f.status, 1);
    EXPECT_NE(f.err.find("the pile-up share of " + formats::testing::fmt("%.1f", 100 * expectedShare(2.5)) +
                         " % is more than the 30 % the unfolding can correct"),
              std::string::npos)
        << f.err;
    EXPECT_FALSE(fs::exists(w / "fast.mca1"));
    // The profile's pulse-pair resolving time (1 us) replaces the file's.
    fs::remove(w / "RES");
    fs::create_directory(w / "RES");
    const fs::path shipped = fs::path(TARVIK_DATA_DIR) / "RES";
    fs::create_symlink(shipped / "unfold.rsp", w / "RES" / "unfold.rsp");
    spit(w / "RES" / "detector.txt", slurp(shipped / "detector.txt") + "pulse_pair_resolving_time_us = 1\n");
    const Result p = runIn(w, tarvikExe() + " strip --method unfold --kv 80 --force --outdir . Tarvik_data/slow.mca");
    ASSERT_EQ(p.status, 0) << p.err;
    const double x = total / 100 * 1e-6, mu = x / (1 - x);
    EXPECT_NE(p.err.find("pile-up " + formats::testing::fmt("%.2f", 100 * (1 - 1 / (1 + mu + mu * mu / 2))) +
                         " % of the recorded pulses (from the count rate)"),
              std::string::npos)
        << p.err;
    fs::remove_all(w);
}

} // namespace
