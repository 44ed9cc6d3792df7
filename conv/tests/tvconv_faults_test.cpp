// tvconv under faults: a protected result folder or file, a full disk, a
// run killed at random moments, scatterer and exchange files that are not
// files.  Runs the built program on the shipped scatterer files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "fixedio/tests/result_faults.h"

namespace {

namespace fs = std::filesystem;
using faulttest::fileText;
using faulttest::kEarlier;
using faulttest::runIn;
using faulttest::writeFile;

class TvconvFaults : public faulttest::ResultFaults {
protected:
    TvconvFaults() : ResultFaults(TVCONV_BINARY, "run.mca2") {}

    void writeInputs() override
    {
        for (const char* f : {"Carbon.dat", "PMMA.dat"}) fs::copy(fs::path(TARVIK_DATA_DIR) / f, work / f);
        writeFile(work / "TempFile2.dat", "Tarvik_data\\run.mca2\r\n090\r\n01.00\r\nCarbon.dat\r\n80\r\n0.100\r\n" +
                                              faulttest::countBlock([](int c) {
                                                  return c < 700 ? (c * 7919) % 5000 + 100 : 0;
                                              }));
        std::string header;
        for (int i = 1; i <= 22; ++i) header += "header line " + std::to_string(i) + "\r\n";
        writeFile(work / "Com.dat", header);
    }
};

TEST_F(TvconvFaults, ProtectedResultFolderIsReportedBeforeTheWork) { checkProtectedResultFolder(); }

TEST_F(TvconvFaults, ProtectedResultFileIsNotReplaced) { checkProtectedResultFile(); }

TEST_F(TvconvFaults, FullDiskDuringTheWriteKeepsTheEarlierResult) { checkFullDisk(); }

TEST_F(TvconvFaults, KilledAtRandomMomentsLeavesTheOldOrTheNewResultNeverAMixture) { checkKilledAtRandomMoments(); }

// An input file replaced by something that is not a readable file.
class TvconvUnusualInputs : public TvconvFaults {};

TEST_F(TvconvUnusualInputs, NamedPipesDoNotBlockTheRun)
{
    for (const char* name : {"Carbon.dat", "TempFile2.dat", "Com.dat"}) {
        SCOPED_TRACE(name);
        const fs::path p = work / name;
        const std::string keep = fileText(p);
        fs::remove(p);
        ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0);
        expectRefused(std::string(name) + ": the file does not exist or is not a regular file");
        fs::remove(p);
        writeFile(p, keep);
    }
}

TEST_F(TvconvUnusualInputs, FolderInPlaceOfTheScattererFileIsReported)
{
    fs::remove(work / "Carbon.dat");
    fs::create_directory(work / "Carbon.dat");
    expectRefused("Carbon.dat: the file does not exist or is not a regular file");
}

TEST_F(TvconvUnusualInputs, FilesOfGigabytesAreNotReadWhole)
{
    for (const char* name : {"Carbon.dat", "TempFile2.dat", "Com.dat"}) {
        SCOPED_TRACE(name);
        const fs::path p = work / name;
        const std::string keep = fileText(p);
        // Sparse: 8 GB of zeros that take no disk space.
        writeFile(p, "");
        ASSERT_EQ(::truncate(p.c_str(), off_t{8} << 30), 0);
        expectRefused(std::string(name) + ", line 1: the file is larger than 16 MiB");
        writeFile(p, keep);
    }
}

TEST_F(TvconvUnusualInputs, GigabytesBehindTheNeededLinesAreNeverRead)
{
    const auto normal = runIn(work, TVCONV_BINARY);
    ASSERT_EQ(normal.status, 0) << normal.err;
    const std::string fresh = fileText(result);
    for (const char* name : {"Carbon.dat", "TempFile2.dat", "Com.dat"}) {
        SCOPED_TRACE(name);
        const fs::path p = work / name;
        const std::string keep = fileText(p);
        // Lines after those a run reads are ignored, however many there are.
        ASSERT_EQ(::truncate(p.c_str(), off_t{8} << 30), 0);
        writeFile(result, kEarlier);
        const auto r = runIn(work, TVCONV_BINARY);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(fileText(result), fresh);
        EXPECT_LT(r.maxResidentKiB, 512 * 1024) << "peak memory of the run";
        writeFile(p, keep);
    }
}

} // namespace
