// Runs the built tvconv in a temporary working folder, as the front end
// starts it, and checks the console dialogue, the result file and the exit
// status, also for runs that must be refused.
#include "conv/exchange.h"
#include "conv/unfold.h"
#include "test_tables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>

namespace tvconv {
namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

struct RunOutcome {
    int status;
    std::string out;
    std::string err;
};

class TvconvRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() /
               (std::string("tvconv_run_") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "Tarvik_data");
        testing::writeFile(dir_ / "Carbon.dat", testing::scattererFileText(testing::syntheticScatterer()));
        fixedio::LineWriter com;
        com.line("\x8C\x8B\x89\xCA comment");  // "結果 comment" in Shift_JIS
        com.line("");
        for (int k = 3; k <= 22; ++k) com.line("header line " + std::to_string(k));
        testing::writeFile(dir_ / "Com.dat", com.content());
    }
    void TearDown() override { fs::remove_all(dir_); }

    // TempFile2.dat with the spectrum of humpSpectrum(W, lastNonZero).
    void writeRequest(const std::string& resultPath, const std::string& length = "01.00",
                      const std::string& width = "0.100", const std::string& scatterer = "Carbon.dat",
                      int lastNonZero = 700)
    {
        const Spectrum n = testing::humpSpectrum(std::stof(width) > 0 ? std::stof(width) : 0.1f, lastNonZero, 5);
        fixedio::LineWriter w;
        w.line(resultPath);
        w.line("090");
        w.line(length);
        w.line(scatterer);
        w.line("80");
        w.line(width);
        std::string line;
        for (int i = 1; i <= channelCount; ++i) {
            char f[16];
            std::snprintf(f, sizeof f, " %06d", n[std::size_t(i - 1)]);
            line += f;
            if (i % 10 == 0 || i == channelCount) {
                w.line(line);
                line.clear();
            }
        }
        testing::writeFile(dir_ / "TempFile2.dat", w.content());
    }

    RunOutcome run(const std::string& input = "\n\n")
    {
        testing::writeFile(dir_ / "stdin.txt", input);
        const std::string cmd = "cd '" + dir_.string() + "' && '" TVCONV_BINARY
                                "' < stdin.txt > stdout.txt 2> stderr.txt";
        const int rc = std::system(cmd.c_str());
        RunOutcome r{WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, slurp(dir_ / "stdout.txt"), slurp(dir_ / "stderr.txt")};
        fs::remove(dir_ / "stdin.txt");
        fs::remove(dir_ / "stdout.txt");
        fs::remove(dir_ / "stderr.txt");
        return r;
    }

    // The result as the library makes it from the files of the folder.
    std::string expectedResult()
    {
        const ConversionRequest req = readConversionRequest(dir_ / "TempFile2.dat");
        const ScattererData d = readScattererFile(dir_ / req.scattererPath);
        return formatResult(readResultHeader(dir_ / "Com.dat"), req.input.channelWidth,
                            convertSpectrum(req.input, d));
    }

    std::vector<std::string> dataFolder()
    {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_ / "Tarvik_data")) names.push_back(e.path().filename());
        return names;
    }

    void expectRefusedBeforeTitle(const RunOutcome& r, const std::string& named)
    {
        EXPECT_NE(r.status, 0);
        EXPECT_EQ(r.out, "") << "nothing printed before the refusal";
        EXPECT_NE(r.err.find(named), std::string::npos) << r.err;
        EXPECT_TRUE(dataFolder().empty());
    }

    fs::path dir_;
};

const std::string title = " ----- 散乱線 → 一次線スペクトル変換 -----";

TEST_F(TvconvRun, ConvertsAndWritesTheResult)
{
    writeRequest("Tarvik_data\\\x8C\x8B\x89\xCA.mca2");  // a Japanese result name
    const RunOutcome r = run("");                         // the end of input counts as Enter
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");

    std::string expectedOut = "\n" + title + "\n\n        Push Enter key to start\n\n";
    for (int i = 21; i <= 701; ++i) expectedOut += " Channel No = " + std::to_string(i) + "\n";
    expectedOut += "\n          ----- Finished -----\n\n          Push Enter key to END\nStop - Program terminated.\n";
    EXPECT_EQ(r.out, expectedOut);

    // Under its real name in the file system's encoding, and nothing else.
    ASSERT_EQ(dataFolder(), std::vector<std::string>{"結果.mca2"});
    const std::string result = slurp(dir_ / "Tarvik_data" / "結果.mca2");
    EXPECT_EQ(result, expectedResult());
    EXPECT_EQ(result.substr(0, 62), "\x8C\x8B\x89\xCA comment" + std::string(48, ' ') + "\r\n");
    EXPECT_EQ(result.substr(62, 62), std::string(60, ' ') + "\r\n");
    EXPECT_EQ(result.substr(22 * 62, 22), "   1     .10       0\r\n");
    EXPECT_EQ(std::count(result.begin(), result.end(), '\n'), 1046);
}

TEST_F(TvconvRun, MissingInputFilesAreReportedAndNotCreated)
{
    expectRefusedBeforeTitle(run(), "TempFile2.dat");
    EXPECT_FALSE(fs::exists(dir_ / "TempFile2.dat"));

    writeRequest("Tarvik_data\\p.mca2", "01.00", "0.100", "PMMA.dat");
    expectRefusedBeforeTitle(run(), "PMMA.dat");
    EXPECT_FALSE(fs::exists(dir_ / "PMMA.dat"));

    writeRequest("Tarvik_data\\p.mca2");
    fs::remove(dir_ / "Com.dat");
    expectRefusedBeforeTitle(run(), "Com.dat");
    EXPECT_FALSE(fs::exists(dir_ / "Com.dat"));
}

TEST_F(TvconvRun, UnusableRunsAreRefusedBeforeTheTitle)
{
    writeRequest("Tarvik_nodata\\r.mca2");
    expectRefusedBeforeTitle(run(), "Tarvik_nodata");

    writeRequest("Tarvik_data\\w0.mca2", "01.00", "0.000");
    expectRefusedBeforeTitle(run(), "channel width is 0");
}

TEST_F(TvconvRun, OverflowAfterConvertingKeepsTheEarlierResult)
{
    testing::writeFile(dir_ / "Tarvik_data" / "keep.mca2", "earlier result");
    writeRequest("Tarvik_data\\keep.mca2", "40.00");
    const RunOutcome r = run();
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.out.find(title), std::string::npos);
    EXPECT_NE(r.err.find("channel 117 (11.7 keV)"), std::string::npos) << r.err;
    EXPECT_EQ(slurp(dir_ / "Tarvik_data" / "keep.mca2"), "earlier result");
    EXPECT_EQ(dataFolder(), std::vector<std::string>{"keep.mca2"}) << "no temporary file left behind";
}

// ---- the method line 110 ----

void appendLine(const fs::path& file, const std::string& text)
{
    std::ofstream(file, std::ios::binary | std::ios::app) << text << "\r\n";
}

TEST_F(TvconvRun, MethodLineStandardOrEmptyChangesNothing)
{
    writeRequest("Tarvik_data\\plain.mca2");
    const RunOutcome plain = run();
    ASSERT_EQ(plain.status, 0) << plain.err;
    const std::string plainResult = slurp(dir_ / "Tarvik_data" / "plain.mca2");
    for (const std::string word : {"standard", "", " Standard "}) {
        writeRequest("Tarvik_data\\plain.mca2");
        appendLine(dir_ / "TempFile2.dat", word);
        const RunOutcome r = run();
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, plain.out) << "'" << word << "'";
        EXPECT_EQ(slurp(dir_ / "Tarvik_data" / "plain.mca2"), plainResult) << "'" << word << "'";
    }
}

TEST_F(TvconvRun, UnknownMethodIsRefusedBeforeTheTitle)
{
    writeRequest("Tarvik_data\\x.mca2");
    appendLine(dir_ / "TempFile2.dat", "unfolded");
    const RunOutcome r = run();
    expectRefusedBeforeTitle(r, "TempFile2.dat, line 110");
    EXPECT_NE(r.err.find("\"unfolded\""), std::string::npos) << r.err;
}

TEST_F(TvconvRun, UnfoldRunWithTheShippedData)
{
    const fs::path data = TARVIK_DATA_DIR;
    fs::copy_file(data / "PMMA.dat", dir_ / "PMMA.dat");
    writeRequest("Tarvik_data\\u.mca2", "01.00", "0.100", "PMMA.dat");
    appendLine(dir_ / "TempFile2.dat", "unfold");

    // Without the profile beside the scatterer file nothing starts.
    RunOutcome r = run();
    expectRefusedBeforeTitle(r, "PMMA_profile.dat");

    fs::copy_file(data / "PMMA_profile.dat", dir_ / "PMMA_profile.dat");
    r = run();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.find("Channel No"), std::string::npos) << "the standard method did not run";
    EXPECT_NE(r.out.find(" Method: unfold"), std::string::npos) << r.out;
    EXPECT_LT(r.out.find(" Method: unfold"), r.out.find("Push Enter key to start"));
    EXPECT_NE(r.out.find("Unfolding converged after"), std::string::npos) << r.out;

    const ConversionRequest req = readConversionRequest(dir_ / "TempFile2.dat");
    EXPECT_EQ(req.method, ConversionMethod::unfold);
    const std::string expected =
        formatResult(readResultHeader(dir_ / "Com.dat"), req.input.channelWidth,
                     unfoldPrimary(req.input, loadScatterModel(dir_ / "PMMA.dat")).primary);
    EXPECT_EQ(slurp(dir_ / "Tarvik_data" / "u.mca2"), expected);
}

TEST_F(TvconvRun, UnfoldRefusesAScattererFileWithoutFormFactors)
{
    // The synthetic Carbon.dat of these tests has no form-factor column.
    testing::writeFile(dir_ / "Carbon_profile.dat",
                       slurp(fs::path(TARVIK_DATA_DIR) / "Carbon_profile.dat"));
    writeRequest("Tarvik_data\\c.mca2");
    appendLine(dir_ / "TempFile2.dat", "unfold");
    const RunOutcome r = run();
    expectRefusedBeforeTitle(r, "Carbon.dat, line");
    EXPECT_NE(r.err.find("form factor"), std::string::npos) << r.err;
}

} // namespace
} // namespace tvconv
