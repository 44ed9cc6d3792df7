// `tarvik strip` and `tarvik convert` against the windows' route on random
// cases: the dialogs' own "GO" logic writes the exchange files and the
// console programs tvstrip and tvconv run on them in a working folder; the
// result files must be the same byte for byte, and a case one route refuses
// the other refuses too.
#include "support.h"

#include "dialogs.h"

#include <fcntl.h>
#include <sys/wait.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

using namespace clitest;

// Runs the console program of the working folder with Enter answered twice,
// and waits for it.
class ConsoleRunner : public tarvik::ProgramLauncher {
public:
    int status = -1;
    std::optional<std::string> start(const std::string& program, const fs::path& workDir) override
    {
        const std::string exe = program == "tvstrip" ? TVSTRIP_EXECUTABLE : TVCONV_EXECUTABLE;
        int in[2];
        if (pipe(in) != 0) return std::string("pipe");
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(in[0], 0);
            close(in[0]);
            close(in[1]);
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);
            if (chdir(workDir.c_str()) != 0) _exit(127);
            execl(exe.c_str(), program.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(in[0]);
        const ssize_t n = write(in[1], "\n\n", 2);
        (void)n;
        close(in[1]);
        int st = 0;
        waitpid(pid, &st, 0);
        status = WIFEXITED(st) ? WEXITSTATUS(st) : 128;
        return std::nullopt;
    }
};

class YesPrompt : public tarvik::UserPrompt {
public:
    std::string told;
    void tell(const tarvik::Notice& n) override { told = n.text; }
    bool askYesNo(const tarvik::Notice&) override { return true; }
};

// A measured file: 31 header lines of random length (some longer than the
// 60 columns kept, some with Shift_JIS text), then 1024 records.
std::string randomMeasurement(std::mt19937& rng, double kv, double w)
{
    std::uniform_int_distribution<int> len(0, 90), pick(0, 9);
    std::string out;
    for (int l = 1; l <= 31; ++l) {
        std::string line;
        const int n = len(rng);
        for (int k = 0; k < n; ++k) {
            if (pick(rng) == 0 && k + 2 <= n) { line += "\x83\x58"; ++k; }  // a double-byte character
            else line += static_cast<char>('A' + pick(rng));
        }
        out += line + "\r\n";
    }
    std::uniform_real_distribution<double> scale(10, 40000);
    const double a = scale(rng);
    for (int i = 1; i <= 1024; ++i) {
        const double e = i * w;
        double mean = e < kv ? a * (kv - e) / e * std::exp(-30.0 / (e + 1)) : 0.2;
        mean = std::min(mean, 900000.0);
        std::poisson_distribution<long> p(std::max(mean, 1e-9));
        char buf[64];
        std::snprintf(buf, sizeof buf, "%d,%.2f,%ld\r\n", i, e, p(rng));
        out += buf;
    }
    return out;
}

// The stripping dialog's entries for Tarvik_data/<name>.csv, its result <name>.mca1.
tarvik::StripEntries stripEntries(const fs::path& work, const std::string& name, const std::string& kv,
                                  const std::string& w, const std::string& comment, bool unfold)
{
    tarvik::StripEntries se;
    se.folder = (work / "Tarvik_data").string();
    se.selectedFile = name + ".csv";
    se.text1 = comment;
    se.text3 = kv;
    se.text4 = name;
    se.text5 = w;
    se.text6 = "32";
    se.unfold = unfold;
    return se;
}

TEST(TarvikIdentity, StripAndConvertWriteWhatTheDialogsAndProgramsWrite)
{
    const fs::path work = workingFolder("identity");
    std::mt19937 rng(20261208);
    const char* kvs[] = {"80", "50", "120", "72.6", "100", "35", "150", "60"};
    const char* widths[] = {"0.1", "0.15", "0.2", "0.05", "0.1", "0.25"};
    const char* comments[] = {"", "測定 A", "a comment of some length   "};
    const char* angles[] = {"90", "45", "120", "60.5"};
    const char* lengths[] = {"0", "12.5", "30"};
    int compared = 0, bothRefused = 0;
    for (int c = 0; c < 12; ++c) {
        const std::string kv = kvs[c % 8], w = widths[rng() % 6], comment = comments[rng() % 3];
        const std::string name = "case" + std::to_string(c);
        SCOPED_TRACE(name + " kv " + kv + " w " + w);
        spit(work / "Tarvik_data" / (name + ".csv"), randomMeasurement(rng, std::stod(kv), std::stod(w)));

        // The windows' route.
        tarvik::AppState state;
        YesPrompt prompt;
        ConsoleRunner runner;
        const tarvik::StripEntries se = stripEntries(work, name, kv, w, comment, false);
        const auto outcome = tarvik::stripGo(state, se, work, prompt, runner);
        ASSERT_EQ(outcome, tarvik::GoOutcome::Started) << prompt.told;
        const fs::path viaDialog = work / "Tarvik_data" / (name + ".mca1");

        // The command line.
        fs::create_directories(work / "cli");
        std::string cmd = tarvikExe() + " strip --kv " + kv + " --kev-per-channel " + w + " --outdir cli";
        if (!comment.empty()) cmd += " --comment '" + comment + "'";
        const Result r = runIn(work, cmd + " Tarvik_data/" + name + ".csv");
        const fs::path viaCli = work / "cli" / (name + ".mca1");
        if (runner.status != 0) {
            EXPECT_EQ(r.status, 1) << r.err;
            EXPECT_FALSE(fs::exists(viaCli));
            ++bothRefused;
            continue;
        }
        ASSERT_EQ(r.status, 0) << r.err;
        ASSERT_TRUE(fs::exists(viaDialog));
        EXPECT_EQ(slurp(viaCli), slurp(viaDialog));
        ++compared;

        // The conversion of that result, both ways.
        tarvik::ConvertEntries ce;
        const auto click = tarvik::convertFileClicked(state, se.folder, name + ".mca1");
        ce.folder = se.folder;
        ce.selectedFile = name + ".mca1";
        const bool ownComments = rng() % 2 == 0;
        ce.text1 = ownComments ? click.text1 : "変換 " + name;
        ce.text2 = click.text2;
        ce.text3 = click.text3;
        ce.text4 = name;
        ce.text5 = angles[rng() % 4];
        ce.text6 = lengths[rng() % 3];
        ce.carbon = rng() % 2 == 0;
        ASSERT_EQ(tarvik::convertGo(state, ce, work, prompt, runner), tarvik::GoOutcome::Started) << prompt.told;
        std::string ccmd = tarvikExe() + " convert --angle " + ce.text5 + " --length-mm " + ce.text6 + " --scatterer " +
                           (ce.carbon ? "Carbon" : "PMMA") + " --outdir cli";
        if (!ownComments) ccmd += " --comment '" + ce.text1 + "' --comment '" + ce.text2 + "'";
        const Result rc = runIn(work, ccmd + " Tarvik_data/" + name + ".mca1");
        const fs::path conv = work / "cli" / (name + ".mca2");
        if (runner.status != 0) {
            EXPECT_EQ(rc.status, 1) << rc.err;
            EXPECT_FALSE(fs::exists(conv));
            continue;
        }
        ASSERT_EQ(rc.status, 0) << rc.err;
        EXPECT_EQ(slurp(conv), slurp(work / "Tarvik_data" / (name + ".mca2")));
        ++compared;
    }
    // Most random cases must really be compared, not refused.
    EXPECT_GE(compared, 16) << bothRefused << " refused";
    fs::remove_all(work);
}

// The unfolding route: the dialog with its check box "unfold" checked and
// tvstrip against `tarvik strip --method unfold`, several files per call so
// that the response data read once serve every file of the batch.
TEST(TarvikIdentity, StripUnfoldWritesWhatTheDialogAndTvstripWrite)
{
    const fs::path work = workingFolder("identity_unfold");
    std::mt19937 rng(20261209);
    // Voltages within and beyond the reach of the unfolding's data, widths
    // whose start channel lies inside and above channel 1024.
    const char* kvs[] = {"80", "50", "120", "72.6", "100", "35", "150", "60"};
    const char* widths[] = {"0.1", "0.15", "0.2", "0.05", "0.1", "0.25"};
    const char* comments[] = {"", "測定 A"};
    int compared = 0, bothRefused = 0;
    for (int batch = 0; batch < 4; ++batch) {
        const std::string kv = kvs[rng() % 8], w = widths[rng() % 6], comment = comments[rng() % 2];
        SCOPED_TRACE("kv " + kv + " w " + w);
        fs::create_directories(work / "cli");
        std::string cmd = tarvikExe() + " strip --method unfold --kv " + kv + " --kev-per-channel " + w +
                          " --outdir cli";
        if (!comment.empty()) cmd += " --comment '" + comment + "'";
        std::vector<std::pair<std::string, int>> dialogStatus;  // name, tvstrip's exit status
        for (int k = 0; k < 2; ++k) {
            const std::string name = "unfold" + std::to_string(batch) + "_" + std::to_string(k);
            spit(work / "Tarvik_data" / (name + ".csv"), randomMeasurement(rng, std::stod(kv), std::stod(w)));
            tarvik::AppState state;
            YesPrompt prompt;
            ConsoleRunner runner;
            const tarvik::StripEntries se = stripEntries(work, name, kv, w, comment, true);
            ASSERT_EQ(tarvik::stripGo(state, se, work, prompt, runner), tarvik::GoOutcome::Started) << prompt.told;
            dialogStatus.emplace_back(name, runner.status);
            cmd += " Tarvik_data/" + name + ".csv";
        }
        const Result r = runIn(work, cmd);
        bool anyRefused = false;
        for (const auto& [name, status] : dialogStatus) {
            SCOPED_TRACE(name);
            const fs::path viaCli = work / "cli" / (name + ".mca1");
            if (status != 0) {
                anyRefused = true;
                EXPECT_FALSE(fs::exists(viaCli));
                EXPECT_NE(r.err.find("Tarvik_data/" + name + ".csv: "), std::string::npos) << r.err;
                ++bothRefused;
                continue;
            }
            ASSERT_TRUE(fs::exists(viaCli)) << r.err;
            EXPECT_EQ(slurp(viaCli), slurp(work / "Tarvik_data" / (name + ".mca1")));
            ++compared;
        }
        EXPECT_EQ(r.status, anyRefused ? 1 : 0) << r.err;
    }
    EXPECT_GE(compared, 6) << bothRefused << " refused";
    fs::remove_all(work);
}

// The conversion's unfolding route: results of the stripping converted by
// the dialog with its check box "unfold" checked and tvconv, against
// `tarvik convert --method unfold` of the same files in one call.
TEST(TarvikIdentity, ConvertUnfoldWritesWhatTheDialogAndTvconvWrite)
{
    const fs::path work = workingFolder("identity_convunfold");
    std::mt19937 rng(20261210);
    const char* kvs[] = {"80", "50", "120", "100", "60"};
    const char* widths[] = {"0.1", "0.15", "0.2", "0.25"};
    const char* angles[] = {"90", "45", "120", "60.5"};
    const char* lengths[] = {"0", "12.5", "30"};
    int compared = 0, bothRefused = 0;
    for (int batch = 0; batch < 3; ++batch) {
        const std::string kv = kvs[rng() % 5], w = widths[rng() % 4];
        const std::string angle = angles[rng() % 4], length = lengths[rng() % 3];
        const bool carbon = rng() % 2 == 0;
        SCOPED_TRACE("kv " + kv + " w " + w + " angle " + angle + " length " + length + (carbon ? " Carbon" : " PMMA"));
        std::string strip = tarvikExe() + " strip --kv " + kv + " --kev-per-channel " + w;
        std::string convert = tarvikExe() + " convert --method unfold --angle " + angle + " --length-mm " + length +
                              " --scatterer " + (carbon ? "Carbon" : "PMMA") + " --outdir cli";
        std::vector<std::string> names;
        for (int k = 0; k < 2; ++k) {
            names.push_back("conv" + std::to_string(batch) + "_" + std::to_string(k));
            spit(work / "Tarvik_data" / (names.back() + ".csv"), randomMeasurement(rng, std::stod(kv), std::stod(w)));
            strip += " Tarvik_data/" + names.back() + ".csv";
            convert += " Tarvik_data/" + names.back() + ".mca1";
        }
        ASSERT_EQ(runIn(work, strip).status, 0);
        fs::create_directories(work / "cli");
        std::vector<int> dialogStatus;
        for (const std::string& name : names) {
            tarvik::AppState state;
            YesPrompt prompt;
            ConsoleRunner runner;
            const std::string folder = (work / "Tarvik_data").string();
            const auto click = tarvik::convertFileClicked(state, folder, name + ".mca1");
            tarvik::ConvertEntries ce;
            ce.folder = folder;
            ce.selectedFile = name + ".mca1";
            ce.text1 = click.text1;
            ce.text2 = click.text2;
            ce.text3 = click.text3;
            ce.text4 = name;
            ce.text5 = angle;
            ce.text6 = length;
            ce.carbon = carbon;
            ce.unfold = true;
            ASSERT_EQ(tarvik::convertGo(state, ce, work, prompt, runner), tarvik::GoOutcome::Started) << prompt.told;
            dialogStatus.push_back(runner.status);
        }
        const Result r = runIn(work, convert);
        bool anyRefused = false;
        for (std::size_t k = 0; k < names.size(); ++k) {
            SCOPED_TRACE(names[k]);
            const fs::path viaCli = work / "cli" / (names[k] + ".mca2");
            if (dialogStatus[k] != 0) {
                anyRefused = true;
                EXPECT_FALSE(fs::exists(viaCli));
                ++bothRefused;
                continue;
            }
            ASSERT_TRUE(fs::exists(viaCli)) << r.err;
            EXPECT_EQ(slurp(viaCli), slurp(work / "Tarvik_data" / (names[k] + ".mca2")));
            ++compared;
        }
        EXPECT_EQ(r.status, anyRefused ? 1 : 0) << r.err;
    }
    EXPECT_GE(compared, 4) << bothRefused << " refused";
    fs::remove_all(work);
}

} // namespace
