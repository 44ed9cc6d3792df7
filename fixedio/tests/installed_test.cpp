// Finding the installed data from a program's location, and the working
// folder's own data taking precedence over it.
#include "fixedio/installed.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

class InstalledDataTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = fs::temp_directory_path() /
               ("installed_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
        fs::remove_all(root);
        fs::create_directories(root / "usr/bin");
        fs::create_directories(root / "usr/share/tarvik/RES");
        fs::create_directories(root / "work");
        std::ofstream(root / "usr/share/tarvik/Carbon.dat") << "installed\n";
    }
    void TearDown() override { fs::remove_all(root); }
    fs::path root;
};

} // namespace

TEST_F(InstalledDataTest, FolderBesideTheProgramsBinFolder)
{
    auto found = fixedio::installedDataFolderFor(root / "usr/bin/tvstrip");
    ASSERT_TRUE(found);
    EXPECT_TRUE(fs::equivalent(*found, root / "usr/share/tarvik"));
    // A build tree has no share/tarvik beside the program's folder.
    fs::create_directories(root / "build/strip");
    EXPECT_FALSE(fixedio::installedDataFolderFor(root / "build/strip/tvstrip"));
    EXPECT_FALSE(fixedio::installedDataFolderFor(fs::path()));
}

TEST_F(InstalledDataTest, WorkingFolderFirstThenInstalledThenMissing)
{
    const auto installed = fixedio::installedDataFolderFor(root / "usr/bin/tvconv");
    const fs::path work = root / "work";
    // Nothing in the working folder: the installed copy.
    EXPECT_EQ(fixedio::dataPath("Carbon.dat", work, installed), *installed / "Carbon.dat");
    EXPECT_EQ(fixedio::dataPath("RES", work, installed), *installed / "RES");
    // The working folder's own file wins.
    std::ofstream(work / "Carbon.dat") << "mine\n";
    EXPECT_EQ(fixedio::dataPath("Carbon.dat", work, installed), work / "Carbon.dat");
    // Missing everywhere, or nothing installed: the working folder's path,
    // which the caller then reports as missing.
    EXPECT_EQ(fixedio::dataPath("PMMA.dat", work, installed), work / "PMMA.dat");
    EXPECT_EQ(fixedio::dataPath("RES", work, std::nullopt), work / "RES");
    // An absolute path is taken as it is.
    EXPECT_EQ(fixedio::dataPath(root / "elsewhere.dat", work, installed), root / "elsewhere.dat");
}
