// tvstrip under faults: a protected result folder or file, a full disk, a
// run killed at random moments, response tables that are not files.  Runs
// the built program on the shipped response tables.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "fixedio/tests/result_faults.h"

namespace {

namespace fs = std::filesystem;
using faulttest::writeFile;

class TvstripFaults : public faulttest::ResultFaults {
protected:
    TvstripFaults() : ResultFaults(TVSTRIP_EXECUTABLE, "run.mca1") {}

    void writeInputs() override
    {
        fs::copy(fs::path(TARVIK_DATA_DIR) / "RES", work / "RES");
        writeFile(work / "TempFile.dat",
                  "Tarvik_data\\run.mca1\r\n\x93\xfa\x96\x7b comment\r\n-- No comment --\r\n80\r\n0.100\r\n" +
                      faulttest::countBlock([](int c) {
                          return c < 800 ? (c * 7919) % 5000 + (c > 300 && c < 320 ? 60000 : 0) : 0;
                      }));
        std::string header;
        for (int i = 1; i <= 31; ++i) header += "header line " + std::to_string(i) + "\r\n";
        writeFile(work / "Com.txt", header);
    }
};

TEST_F(TvstripFaults, ProtectedResultFolderIsReportedBeforeTheWork) { checkProtectedResultFolder(); }

TEST_F(TvstripFaults, ProtectedResultFileIsNotReplaced) { checkProtectedResultFile(); }

TEST_F(TvstripFaults, FullDiskDuringTheWriteKeepsTheEarlierResult) { checkFullDisk(); }

TEST_F(TvstripFaults, KilledAtRandomMomentsLeavesTheOldOrTheNewResultNeverAMixture) { checkKilledAtRandomMoments(); }

// Every response table replaced by something that is not a readable file.
class TvstripUnusualTables : public TvstripFaults {
protected:
    template <class Make>
    void replaceTables(Make make)
    {
        for (const auto& e : fs::directory_iterator(work / "RES")) {
            const fs::path p = e.path();
            fs::remove(p);
            make(p);
        }
    }
};

TEST_F(TvstripUnusualTables, NamedPipesDoNotBlockTheRun)
{
    replaceTables([](const fs::path& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0); });
    expectRefused("cannot read the response table (a named pipe or device, not a file)");
}

TEST_F(TvstripUnusualTables, FoldersAreReported)
{
    replaceTables([](const fs::path& p) { fs::create_directory(p); });
    expectRefused("cannot read the response table");
}

TEST_F(TvstripUnusualTables, FilesOfGigabytesAreNotReadWhole)
{
    // Sparse: 8 GB each that take no disk space.
    replaceTables([](const fs::path& p) {
        writeFile(p, "");
        ASSERT_EQ(::truncate(p.c_str(), off_t{8} << 30), 0);
    });
    expectRefused("larger than 16 MiB");
}

} // namespace
