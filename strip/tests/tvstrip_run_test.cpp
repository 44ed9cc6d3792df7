// Runs the built tvstrip in a temporary working folder with generated
// response tables, Enter piped in, and checks the result file byte for byte,
// the console texts and every refused or failed run.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>

#include "fixedio/fixedio.h"
#include "strip/driver.h"
#include "strip/exchange.h"
#include "strip/response_table.h"
#include "strip/stripping.h"
#include "strip/tests/synthetic_response.h"
#include "strip/unfold.h"

namespace tvstrip {
namespace {

namespace fs = std::filesystem;

// "表" in Shift_JIS (second byte 0x5C) and in UTF-8.
const std::string kHyouSjis = "\x95\x5c";
const std::string kHyouUtf8 = "\xe8\xa1\xa8";
// "日本" in Shift_JIS.
const std::string kNihon = "\x93\xfa\x96\x7b";

std::string readFile(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const fs::path& p, const std::string& content)
{
    std::ofstream out(p, std::ios::binary);
    out << content;
}

// A response table in the file layout, using every number form a field may
// take: whole numbers without a point, fixed point, exponents with E and D,
// blank fields (zeros) and a short last record.
std::string responseTableText(int code)
{
    const int peak = code / 5;
    std::string text;
    char field[32];
    for (int record = 1; record <= kResponseRecords; ++record) {
        const int fields = record == kResponseRecords ? 6 : 10;
        for (int f = 0; f < fields; ++f) {
            const int b = 10 * record - 9 + f;
            double v = 0.0;
            if (b == peak - 1 || b == peak)
                v = 90000.0 + 7.0 * code + 1000.0 * (b - peak);
            else if (b == peak - 47 || b == peak - 53 || b == peak - 55 || b == peak - 63)
                v = 3000.0 + code % 97;
            else if (b < peak - 1)
                v = 0.5 + (b * 37 + code) % 90;
            if (v == 0.0)
                std::snprintf(field, sizeof field, "%8s", "");
            else if (b % 4 == 0)
                std::snprintf(field, sizeof field, "%8d", static_cast<int>(v));
            else if (b % 4 == 1)
                std::snprintf(field, sizeof field, "%8.2f", v);
            else if (b % 4 == 2)
                std::snprintf(field, sizeof field, "%8.2E", v);
            else if (v < 10000.0)
                std::snprintf(field, sizeof field, "%6.1fD0", v);
            else
                std::snprintf(field, sizeof field, "%8.0f", v);
            text += field;
        }
        text += "\r\n";
    }
    return text;
}

struct Case {
    std::string resultPath = "Tarvik_data\\run1.mca1";
    std::string voltageLine = "80";
    std::string widthLine = "0.100";
    int headerLines = 31;
    Counts counts{};
    std::optional<std::string> line109;  // the method line, when there is one
};

Counts sampleCounts()
{
    Counts c{};
    for (int i = 1; i <= kChannels; ++i) {
        int v = (i * 7919) % 3000;
        if (i > 300 && i < 320)
            v += 60000;  // a line of the tube
        c[static_cast<std::size_t>(i - 1)] = i < 850 ? v : 0;
    }
    return c;
}

std::string tempFileText(const Case& k)
{
    std::string t = k.resultPath + "\r\n" + kNihon + " comment with a long tail " + std::string(50, '.') +
                    "\r\n-- No comment --\r\n" + k.voltageLine + "\r\n" + k.widthLine + "\r\n";
    char field[16];
    for (int first = 1; first <= kChannels; first += 10) {
        for (int c = first; c <= std::min(first + 9, kChannels); ++c) {
            std::snprintf(field, sizeof field, " %06d", k.counts[static_cast<std::size_t>(c - 1)]);
            t += field;
        }
        t += "\r\n";
    }
    if (k.line109) t += *k.line109 + "\r\n";
    return t;
}

std::string headerText(int lines)
{
    std::string t;
    for (int i = 1; i <= lines; ++i)
        t += "Header " + std::to_string(i) + (i % 5 == 0 ? " " + std::string(30, 'x') + kNihon + std::string(40, 'y') : "") +
             "\r\n";
    return t;
}

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

class TvstripRunTest : public ::testing::Test {
protected:
    fs::path root;
    fs::path work;

    void SetUp() override
    {
        std::string tmpl = (fs::temp_directory_path() / "tvstrip_run_XXXXXX").string();
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        root = tmpl;
        work = root / "work";
        fs::create_directories(work / "Tarvik_data");
        fs::create_directories(work / "RES");
        for (int code = 50; code <= 1500; code += 5)
            writeFile(work / "RES" / (std::to_string(code) + "kev.dat"), responseTableText(code));
    }

    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(root, ec);
    }

    void prepare(const Case& k)
    {
        writeFile(work / "TempFile.dat", tempFileText(k));
        writeFile(work / "Com.txt", headerText(k.headerLines));
    }

    RunResult run(const std::string& input = "\n\n")
    {
        writeFile(root / "stdin.txt", input);
        const std::string cmd = "cd '" + work.string() + "' && '" + std::string(TVSTRIP_EXECUTABLE) + "' < '" +
                                (root / "stdin.txt").string() + "' > '" + (root / "stdout.txt").string() +
                                "' 2> '" + (root / "stderr.txt").string() + "'";
        const int rc = std::system(cmd.c_str());
        RunResult r;
        r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
        r.out = readFile(root / "stdout.txt");
        r.err = readFile(root / "stderr.txt");
        return r;
    }

    // The result the library computes for the case, from the same texts.
    std::string expectedResult(const Case& k)
    {
        StripJob job;
        auto tin = fixedio::LineReader::fromText("TempFile.dat", tempFileText(k));
        readTempFile(tin, job);
        auto hin = fixedio::LineReader::fromText("Com.txt", headerText(k.headerLines));
        readHeaderLines(hin, job);
        std::map<int, ResponseTable> tables;
        auto loader = [&](int code) -> const ResponseTable& {
            auto in = fixedio::LineReader::fromText("table", responseTableText(code));
            return tables[code] = readResponseTable(in);
        };
        return formatResult(job, stripSpectrum(job.counts, job.voltage, job.kevPerChannel, loader));
    }

    // Refused before the start prompt: non-zero status, the reason on
    // stderr, no prompt and no result file.
    void expectRefused(const RunResult& r, const std::string& reason)
    {
        EXPECT_NE(r.status, 0);
        EXPECT_NE(r.err.find(reason), std::string::npos) << "stderr: " << r.err;
        EXPECT_EQ(r.out.find("Push Enter key to start"), std::string::npos) << r.out;
        EXPECT_TRUE(fs::is_empty(work / "Tarvik_data"));
    }
};

std::string expectedConsole(int first, int last)
{
    std::string t = " \n  ----- Stripping correction -----\n \n      Push Enter key to start\n";
    for (int j = first; j >= last; --j)
        t += " Channel No = " + std::to_string(j) + "\n";
    t += " \n    ----- Finished -----\n \n  Push Enter key to END\nStop - Program terminated.\n";
    return t;
}

TEST_F(TvstripRunTest, WritesTheResultByteForByteAndTalksAsExpected)
{
    Case k;
    k.counts = sampleCounts();
    prepare(k);
    const RunResult r = run();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, expectedConsole(802, 50));

    const std::string result = readFile(work / "Tarvik_data" / "run1.mca1");
    EXPECT_EQ(result, expectedResult(k));
    // Independent of the library: the layout's fixed lines.
    EXPECT_EQ(result.substr(0, 4), kNihon);
    EXPECT_NE(result.find("\r\n 80\r\n  .100\r\nHeader 1 "), std::string::npos);
    EXPECT_NE(result.find("\r\n  Ch.   KeV    Counts\r\n   1     .10       0\r\n"), std::string::npos);
    EXPECT_EQ(result.find("Header 18"), std::string::npos);
    EXPECT_EQ(result.substr(result.size() - 22), "1024  102.40       0\r\n");

    // The scratch file stays behind with the name of the last table read.
    const std::string scratch = readFile(work / "Dataname.kat");
    EXPECT_EQ(scratch.substr(0, 4), "RES\\");
    EXPECT_EQ(scratch.substr(scratch.size() - 9), "kev.dat\r\n");
    // Nothing but the result in the data folder.
    EXPECT_EQ(std::distance(fs::directory_iterator(work / "Tarvik_data"), fs::directory_iterator()), 1);
}

TEST_F(TvstripRunTest, TableFilesHoldTheLastTableAndNameTheLastNewOne)
{
    // Only the table asked for last is held; a code asked for again is read
    // again, and the scratch file keeps naming the last code read first.
    ResponseTableFiles tables(work);
    const ResponseTable t800 = loadResponseTable(work / "RES" / "800kev.dat");
    const ResponseTable t795 = loadResponseTable(work / "RES" / "795kev.dat");
    EXPECT_EQ(tables(800), t800);
    EXPECT_EQ(&tables(800), &tables(800));
    EXPECT_EQ(tables(795), t795);
    EXPECT_EQ(tables(800), t800);
    tables.leaveScratch();
    EXPECT_EQ(readFile(work / "Dataname.kat"), "RES\\795kev.dat\r\n");
    // A missing table stops the loading and is the name left behind.
    fs::remove(work / "RES" / "790kev.dat");
    EXPECT_THROW(tables(790), fixedio::Error);
    EXPECT_EQ(tables(795), t795);
    tables.leaveScratch();
    EXPECT_EQ(readFile(work / "Dataname.kat"), "RES\\790kev.dat\r\n");
}

TEST_F(TvstripRunTest, EndOfInputCountsAsEnterAndTypedTextIsIgnored)
{
    Case k;
    k.counts = sampleCounts();
    k.voltageLine = "  120 , 5";
    k.widthLine = "0.120";
    prepare(k);
    RunResult r = run("");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, expectedConsole(1003, 42));  // 120 / 0.119999997 = 1000.00002
    EXPECT_EQ(readFile(work / "Tarvik_data" / "run1.mca1"), expectedResult(k));

    // An existing result is replaced.
    r = run("go\nend\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFile(work / "Tarvik_data" / "run1.mca1"), expectedResult(k));
}

TEST_F(TvstripRunTest, JapaneseResultNameLandsInTheDataFolder)
{
    Case k;
    k.counts = sampleCounts();
    k.resultPath = "Tarvik_data\\" + kHyouSjis + "1.mca1";
    prepare(k);
    const RunResult r = run();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::is_regular_file(work / "Tarvik_data" / (kHyouUtf8 + "1.mca1")));
}

TEST_F(TvstripRunTest, MissingExchangeFilesAreReportedAndNeverCreated)
{
    Case k;
    prepare(k);
    fs::remove(work / "TempFile.dat");
    expectRefused(run(), "TempFile.dat");
    EXPECT_FALSE(fs::exists(work / "TempFile.dat"));

    prepare(k);
    fs::remove(work / "Com.txt");
    expectRefused(run(), "Com.txt");
    EXPECT_FALSE(fs::exists(work / "Com.txt"));

    k.headerLines = 16;
    prepare(k);
    expectRefused(run(), "Com.txt, line 17");
}

TEST_F(TvstripRunTest, BadValuesAreRefusedBeforeTheStartPrompt)
{
    Case k;
    k.widthLine = "0.000";
    prepare(k);
    expectRefused(run(), "energy width per channel");

    k = Case{};
    k.voltageLine = "";
    prepare(k);
    expectRefused(run(), "TempFile.dat, line 4");

    k = Case{};
    k.voltageLine = "4";
    prepare(k);
    expectRefused(run(), "too low");

    k = Case{};
    k.resultPath = "Tarvik_dat\\run1.mca1";
    prepare(k);
    expectRefused(run(), "does not exist");

    k = Case{};
    prepare(k);
    fs::remove_all(work / "RES");
    expectRefused(run(), "RES");
}

TEST_F(TvstripRunTest, MissingResponseTableKeepsTheEarlierResult)
{
    Case k;
    k.counts = sampleCounts();
    prepare(k);
    writeFile(work / "Tarvik_data" / "run1.mca1", "earlier result\r\n");
    fs::remove(work / "RES" / "300kev.dat");
    const RunResult r = run();
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("RES/300kev.dat"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(work / "RES" / "300kev.dat"));
    EXPECT_EQ(readFile(work / "Tarvik_data" / "run1.mca1"), "earlier result\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(work / "Tarvik_data"), fs::directory_iterator()), 1);
    EXPECT_EQ(r.out.find("Finished"), std::string::npos);
    // The scratch file names the table the run stopped at, cut to its line.
    EXPECT_EQ(readFile(work / "Dataname.kat"), "RES\\300kev.dat\r\n");
}

TEST_F(TvstripRunTest, BrokenResponseTableNamesFileAndLine)
{
    Case k;
    k.counts = sampleCounts();
    prepare(k);
    std::string table = responseTableText(800);
    table[8 * 3 + 3] = 'x';  // a letter inside bin 4
    writeFile(work / "RES" / "800kev.dat", table);
    const RunResult r = run();
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("RES/800kev.dat, line 1"), std::string::npos) << r.err;
    EXPECT_TRUE(fs::is_empty(work / "Tarvik_data"));
}

// ---- line 109: the correction method

std::string withMethodLine(const std::string& console, const std::string& methodLine)
{
    const std::string heading = "  ----- Stripping correction -----\n";
    std::string t = console;
    return t.insert(t.find(heading) + heading.size(), methodLine + "\n");
}

TEST_F(TvstripRunTest, StandardWordOrBlankLine109GivesTheStandardResult)
{
    Case k;
    k.counts = sampleCounts();
    prepare(k);
    ASSERT_EQ(run().status, 0);
    const std::string standard = readFile(work / "Tarvik_data" / "run1.mca1");
    EXPECT_EQ(standard, expectedResult(k));

    for (const std::string line : {"standard", "  standard  ", "", "   "}) {
        SCOPED_TRACE("line 109 \"" + line + "\"");
        fs::remove(work / "Tarvik_data" / "run1.mca1");
        k.line109 = line;
        prepare(k);
        const RunResult r = run();
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(readFile(work / "Tarvik_data" / "run1.mca1"), standard);
        // Only a named method is named on the console.
        const bool named = line.find_first_not_of(' ') != std::string::npos;
        EXPECT_EQ(r.out, named ? withMethodLine(expectedConsole(802, 50),
                                                "  Method: standard (stripping with the response tables)")
                               : expectedConsole(802, 50));
    }
}

TEST_F(TvstripRunTest, UnknownMethodIsRefusedBeforeTheStartPrompt)
{
    for (const std::string word : {"Unfold", "unfold2", "strip", "unfold standard", "\x93\xfa"}) {
        Case k;
        k.line109 = word;
        prepare(k);
        SCOPED_TRACE(word);
        expectRefused(run(), "TempFile.dat, line 109: unknown correction method");
    }
}

class TvstripUnfoldRunTest : public TvstripRunTest {
protected:
    void SetUp() override
    {
        TvstripRunTest::SetUp();
        writeFile(work / "RES" / kDetectorProfileName, kProfileText);
        writeFile(work / "RES" / kUnfoldResponseName, formatUnfoldResponse(syntheticResponse(testProfile())));
    }

    static Case unfoldCase()
    {
        Case k;
        k.counts = sampleCounts();
        k.line109 = "unfold";
        return k;
    }
};

TEST_F(TvstripUnfoldRunTest, UnfoldWordRunsTheUnfoldingIntoTheSameLayout)
{
    const Case k = unfoldCase();
    prepare(k);
    const RunResult r = run();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("  Method: unfold (maximum-likelihood unfolding with the detector response)\n \n"
                         "      Push Enter key to start\n  Unfolding channels 51 to 802\n  Converged after "),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("Channel No"), std::string::npos);
    EXPECT_NE(r.out.find("    ----- Finished -----"), std::string::npos);

    StripJob job;
    auto tin = fixedio::LineReader::fromText("TempFile.dat", tempFileText(k));
    readTempFile(tin, job);
    auto hin = fixedio::LineReader::fromText("Com.txt", headerText(k.headerLines));
    readHeaderLines(hin, job);
    ASSERT_EQ(job.method, StripMethod::Unfold);
    const UnfoldResponse response = loadUnfoldResponse(work / "RES");
    const std::string result = readFile(work / "Tarvik_data" / "run1.mca1");
    // The unfolding takes the counts as measured, also above the start
    // channel (this spectrum has some up to 85 kV: pile-up to the model).
    UnfoldReport report;
    EXPECT_EQ(result,
              formatResult(job, unfoldSpectrum(job.counts, job.kevPerChannel, job.voltage, response, {}, &report)));
    EXPECT_EQ(report.pileup.source, PileupSource::Counts);
    char line[120];
    std::snprintf(line, sizeof line, "  Pile-up: %.2f %% of the recorded pulses (fitted", 100.0 * report.pileup.share);
    EXPECT_NE(r.out.find(line), std::string::npos) << r.out;
    // A different spectrum from the standard method's, in the same layout.
    EXPECT_NE(result, expectedResult(k));
    EXPECT_EQ(result.size(), expectedResult(k).size());
    // No response table was read.
    EXPECT_FALSE(fs::exists(work / "Dataname.kat"));
}

TEST_F(TvstripUnfoldRunTest, MissingDamagedOrForeignDataAreRefusedBeforeTheStartPrompt)
{
    const Case k = unfoldCase();
    prepare(k);
    writeFile(work / "Tarvik_data" / "run1.mca1", "earlier result\r\n");
    auto refused = [&](const std::string& reason) {
        const RunResult r = run();
        EXPECT_NE(r.status, 0);
        EXPECT_NE(r.err.find(reason), std::string::npos) << r.err;
        EXPECT_EQ(r.out.find("Push Enter key to start"), std::string::npos) << r.out;
        EXPECT_EQ(readFile(work / "Tarvik_data" / "run1.mca1"), "earlier result\r\n");
    };
    const std::string data = readFile(work / "RES" / kUnfoldResponseName);
    const std::string profile = readFile(work / "RES" / kDetectorProfileName);

    writeFile(work / "RES" / kUnfoldResponseName, data.substr(0, data.size() / 2));
    refused("RES/unfold.rsp");
    fs::remove(work / "RES" / kUnfoldResponseName);
    refused("RES/unfold.rsp of the unfolding method are missing");
    writeFile(work / "RES" / kUnfoldResponseName, data);

    std::string thin = profile;
    thin.replace(thin.find("crystal_thickness_mm = 1"), 24, "crystal_thickness_mm = 0");
    writeFile(work / "RES" / kDetectorProfileName, thin);
    refused("RES/detector.txt, line 5: the crystal thickness (crystal_thickness_mm) must be above 0, found 0");
    std::string other = profile;
    other.replace(other.find("bias_V = 500"), 12, "bias_V = 900");
    writeFile(work / "RES" / kDetectorProfileName, other);
    refused("made for another detector");
    fs::remove(work / "RES" / kDetectorProfileName);
    refused("RES/detector.txt");
    writeFile(work / "RES" / kDetectorProfileName, profile);

    // A named pipe in place of the data is refused without waiting on it.
    fs::remove(work / "RES" / kUnfoldResponseName);
    ASSERT_EQ(::mkfifo((work / "RES" / kUnfoldResponseName).c_str(), 0600), 0);
    refused("RES/unfold.rsp: cannot read the response data");
    fs::remove(work / "RES" / kUnfoldResponseName);

    // Data that end below the tube voltage.
    writeFile(work / "RES" / kUnfoldResponseName, formatUnfoldResponse(syntheticResponse(testProfile(), 60.0)));
    refused("reach 60.0 keV");
}

} // namespace
} // namespace tvstrip
