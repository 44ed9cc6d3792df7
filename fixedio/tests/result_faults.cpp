#include "fixedio/tests/result_faults.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>

#include "fixedio/files.h"

namespace faulttest {

namespace fs = std::filesystem;

const std::string kEarlier = "an earlier result that must survive\r\n";

void writeFile(const fs::path& p, const std::string& s) { std::ofstream(p, std::ios::binary) << s; }

std::string countBlock(const std::function<int(int)>& count)
{
    std::string t;
    char field[16];
    for (int first = 1; first <= 1024; first += 10) {
        for (int c = first; c <= std::min(first + 9, 1024); ++c) {
            std::snprintf(field, sizeof field, " %06d", count(c));
            t += field;
        }
        t += "\r\n";
    }
    return t;
}

ResultFaults::ResultFaults(std::string program_, std::string resultName_)
    : program(std::move(program_)), resultName(std::move(resultName_))
{
}

void ResultFaults::SetUp()
{
    std::string tmpl = (fs::temp_directory_path() / (fs::path(program).filename().string() + "_faults_XXXXXX")).string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    work = tmpl;
    data = work / "Tarvik_data";
    result = data / resultName;
    fs::create_directories(data);
    writeInputs();
    writeFile(result, kEarlier);
}

void ResultFaults::TearDown()
{
    std::error_code ec;
    fs::permissions(data, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(work, ec);
}

std::vector<std::string> ResultFaults::strayFiles() const
{
    std::vector<std::string> v;
    for (const auto& e : fs::directory_iterator(data))
        if (e.path() != result) v.push_back(e.path().filename().string());
    return v;
}

void ResultFaults::expectEarlierKept(const Outcome& r, const std::string& reason)
{
    EXPECT_TRUE(r.exited) << "the run hung or crashed";
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find(reason), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("no result file was written"), std::string::npos) << r.err;
    EXPECT_EQ(fileText(result), kEarlier);
    EXPECT_TRUE(strayFiles().empty()) << strayFiles().front();
}

void ResultFaults::expectRefused(const std::string& reason)
{
    RunOptions o;
    o.timeoutSeconds = 20;
    const auto r = runIn(work, program, o);
    expectEarlierKept(r, reason);
    EXPECT_LT(r.seconds, 15);
}

void ResultFaults::checkProtectedResultFolder()
{
    fs::permissions(data, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                              fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    const auto r = runIn(work, program);
    expectEarlierKept(r, "write-protected");
    EXPECT_EQ(r.out.find("Push Enter key to start"), std::string::npos) << r.out;
}

void ResultFaults::checkProtectedResultFile()
{
    fs::permissions(result, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    expectEarlierKept(runIn(work, program), "write-protected");
}

void ResultFaults::checkFullDisk()
{
    // Files may not grow beyond 4 KiB: the small files a run writes besides
    // the result (tvstrip's Dataname.kat) still fit, the 22 KiB result does not.
    RunOptions o;
    o.fileSizeLimit = 4096;
    const auto r = runIn(work, program, o);
    expectEarlierKept(r, resultName + ": cannot write the file");
    EXPECT_EQ(r.out.find("Finished"), std::string::npos) << "a failed write was reported as finished";
}

void ResultFaults::checkKilledAtRandomMoments()
{
    auto complete = runIn(work, program);
    ASSERT_EQ(complete.status, 0) << complete.err;
    const std::string fresh = fileText(result);
    ASSERT_EQ(std::count(fresh.begin(), fresh.end(), '\n'), 1046);
    ASSERT_NE(fresh, kEarlier);

    // 250 runs, or as many as fit in 20 s when the program runs slowly (a
    // sanitizer build); TARVIK_KILL_RUNS asks for more by hand, unbounded.
    int runs = 250;
    auto budget = std::chrono::seconds(20);
    if (const char* n = std::getenv("TARVIK_KILL_RUNS")) {
        runs = std::atoi(n);
        budget = std::chrono::hours(24);
    }
    const auto start = std::chrono::steady_clock::now();
    std::mt19937 rng(20261208);
    std::uniform_real_distribution<double> moment(0.0, complete.seconds * 1.3);
    int kept = 0, replaced = 0, temporariesSeen = 0;
    int done = 0;
    for (; done < runs && std::chrono::steady_clock::now() - start < budget; ++done) {
        const int i = done;
        writeFile(result, kEarlier);
        RunOptions o;
        o.killAfterSeconds = moment(rng);
        runIn(work, program, o);
        const std::string now = fileText(result);
        if (now == kEarlier)
            ++kept;
        else if (now == fresh)
            ++replaced;
        else
            FAIL() << "run " << i << " killed after " << o.killAfterSeconds << " s left a mixed result of "
                   << now.size() << " bytes";
        for (const std::string& name : strayFiles()) {
            pid_t pid = 0;
            ASSERT_TRUE(fixedio::isTemporaryResultName(name, pid)) << name;
            ASSERT_EQ(name[0], '.') << name;
            ++temporariesSeen;
        }
    }
    std::printf("%d killed runs: earlier result kept %d, new result complete %d, temporary files seen %d\n", done,
                kept, replaced, temporariesSeen);
    EXPECT_GT(kept, 0) << "no kill fell inside the run";

    // The next complete run removes what the killed ones left.
    complete = runIn(work, program);
    ASSERT_EQ(complete.status, 0) << complete.err;
    EXPECT_EQ(fileText(result), fresh);
    EXPECT_TRUE(strayFiles().empty()) << strayFiles().front();
}

} // namespace faulttest
