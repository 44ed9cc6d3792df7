// The command line's transcript: every line of golden/cases.sh run in one
// working folder, its exit status, standard output and standard error
// compared byte for byte with golden/expected.txt.  It holds usage texts,
// refusals, progress lines and results of every command as they are, so a
// change in how the options are read or the records written shows here.
#include "support.h"

#include "cli.h"

#include <cstdlib>
#include <fstream>
#include <optional>
#include <vector>

namespace {

using namespace clitest;

const fs::path kGolden = TARVIK_GOLDEN_DIR;

std::vector<std::string> caseLines()
{
    std::ifstream in(kGolden / "cases.sh");
    std::vector<std::string> out;
    for (std::string l; std::getline(in, l);)
        if (!l.empty() && l[0] != '#') out.push_back(l);
    return out;
}

void replaceAll(std::string& s, const std::string& from, const std::string& to)
{
    for (std::size_t i = 0; (i = s.find(from, i)) != std::string::npos; i += to.size()) s.replace(i, from.size(), to);
}

// One stream of a case: the folders of this checkout and build replaced by
// names, Qt's note on a missing runtime folder dropped (it depends on the
// environment, not on the program), a missing final newline marked.
std::string stream(std::string s)
{
    replaceAll(s, TVSTRIP_EXECUTABLE, "<tvstrip>");
    replaceAll(s, TVCONV_EXECUTABLE, "<tvconv>");
    replaceAll(s, TARVIK_DATA_DIR, "<data>");
    std::string kept;
    std::stringstream ss(s);
    for (std::string l; std::getline(ss, l);)
        if (l.rfind("QStandardPaths: ", 0) != 0) kept += l + "\n";
    if (!s.empty() && s.back() != '\n') kept += "\\ no newline at end\n";
    return kept;
}

std::string block(const std::string& line, const Result& r)
{
    return "$ " + line + "\nstatus " + std::to_string(r.status) + "\n--- stdout\n" + stream(r.out) + "--- stderr\n" +
           stream(r.err);
}

// A line that only runs tarvik runs in this process, many times faster than
// starting the program (which loads Qt); its words are split by the shell.
// The plot command, which sets up Qt once per process, is started as a
// program like every other line.
std::optional<Result> inProcess(const fs::path& dir, const std::string& line)
{
    if (line.rfind("tarvik ", 0) != 0 || line.rfind("tarvik plot", 0) == 0 ||
        line.find_first_of(";|&<>`$\\") != std::string::npos)
        return std::nullopt;
    const Result split = runIn(dir, "printf '%s\\0' " + line);
    if (split.status != 0) return std::nullopt;
    std::vector<std::string> args;
    for (std::size_t at = 0, end; (end = split.out.find('\0', at)) != std::string::npos; at = end + 1)
        args.push_back(split.out.substr(at, end - at));
    return runTarvikInProcess(dir, args);
}

// expected.txt cut into the blocks of its cases.
std::vector<std::string> expectedBlocks()
{
    std::vector<std::string> out;
    std::ifstream in(kGolden / "expected.txt", std::ios::binary);
    for (std::string l; std::getline(in, l);) {
        if (l.rfind("$ ", 0) == 0) out.emplace_back();
        if (!out.empty()) out.back() += l + "\n";
    }
    return out;
}

TEST(TarvikGolden, EveryCaseWritesWhatItWroteBefore)
{
    // The transcript holds the plot command's drawings and messages.
    if (!tarvikcli::plotAvailable()) GTEST_SKIP() << "this build has no plot command";
    const fs::path w = workingFolder("golden");
    for (const char* f : {"W80kV_2.5mmAl_direct.csv", "W80kV_2.5mmAl_PMMA90deg.csv"})
        fs::copy_file(fs::path(TARVIK_DATA_DIR) / "Tarvik_data" / f, w / "Tarvik_data" / f);
    const std::vector<std::string> cases = caseLines();
    ASSERT_GT(cases.size(), 100u);
    std::vector<std::string> actual;
    for (const std::string& c : cases) {
        const std::optional<Result> here = inProcess(w, c);
        actual.push_back(block(c, here ? *here : runIn(w, "( tarvik() { " + tarvikExe() + " \"$@\"; }; " + c + " )")));
    }
    fs::remove_all(w);

    if (std::getenv("TARVIK_GOLDEN_UPDATE")) {
        std::ofstream out(kGolden / "expected.txt", std::ios::binary);
        for (const auto& b : actual) out << b;
        GTEST_SKIP() << "wrote " << (kGolden / "expected.txt");
    }
    const std::vector<std::string> expected = expectedBlocks();
    EXPECT_EQ(actual.size(), expected.size()) << "cases.sh and expected.txt hold different cases";
    for (std::size_t i = 0; i < std::min(actual.size(), expected.size()); ++i)
        EXPECT_EQ(actual[i], expected[i]) << "case " << i + 1 << ": " << cases[i];
}

} // namespace
