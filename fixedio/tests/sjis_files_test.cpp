// Shift_JIS-aware cutting and path mapping, and safe result writing.
#include "fixedio/files.h"
#include "fixedio/fixedio.h"
#include "fixedio/sjis.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace fixedio;

namespace {

std::string readAll(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct TempDir {
    std::filesystem::path path;
    TempDir()
    {
        path = std::filesystem::temp_directory_path() /
               ("fixedio-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(path);
        std::filesystem::create_directories(path);
    }
    ~TempDir() { std::filesystem::remove_all(path); }
};

} // namespace

TEST(ShiftJis, CutNeverSplitsADoubleByteCharacter)
{
    // "表" is 0x95 0x5C in Shift_JIS.
    const std::string hyo = "\x95\x5C";
    std::string text = "a" + hyo + hyo;  // 5 bytes
    EXPECT_EQ(sjisTextField(text, 5), text);
    EXPECT_EQ(sjisTextField(text, 4), "a" + hyo + " ");  // orphaned lead byte becomes a blank
    EXPECT_EQ(sjisTextField(text, 7), text + "  ");
    // Forty double-byte characters keep their first thirty in 60 bytes.
    std::string forty;
    for (int i = 0; i < 40; ++i) forty += hyo;
    EXPECT_EQ(sjisTextField(forty, 60), forty.substr(0, 60));
    std::string shifted = "x" + forty;
    std::string cut = sjisTextField(shifted, 60);
    EXPECT_EQ(cut.substr(0, 59), shifted.substr(0, 59));
    EXPECT_EQ(cut[59], ' ');
    // Half-width katakana are single bytes and are never taken as lead bytes.
    EXPECT_EQ(sjisTextField("\xB1\xB2\xB3", 2), "\xB1\xB2");
    // A second byte in the lead-byte range ("亜" is 0x88 0x9F) ending at byte n is kept.
    const std::string a = "\x88\x9F";
    EXPECT_EQ(sjisTextField("xx" + a + "yy", 4), "xx" + a);
}

TEST(ShiftJis, UncutLineEndingInALoneFirstHalfPassesUnchanged)
{
    // A header line that was already cut at 60 bytes with its lead byte kept
    // is copied again: nothing is cut now, so every byte stays.
    const std::string line = std::string(59, 'a') + "\x95";
    EXPECT_EQ(sjisTextField(line, 60), line);
    EXPECT_EQ(sjisTextField("ab\x95", 60), "ab\x95" + std::string(57, ' '));
    // The same line with one more byte is cut, and then the lone half goes.
    EXPECT_EQ(sjisTextField(line + "\x5C", 60), std::string(59, 'a') + " ");
}

TEST(ShiftJis, OnlyStandaloneBackslashesSeparatePaths)
{
    // "ソ" (0x83 0x5C) and "表" (0x95 0x5C) end in the backslash byte.
    std::string name = std::string("Tarvik_data\\") + "\x83\x5C\x95\x5C" + ".mca1";
    std::filesystem::path p = exchangePath(name);
    EXPECT_EQ(p.parent_path().string(), "Tarvik_data");
    EXPECT_EQ(p.filename().string(), "\xE3\x82\xBD\xE8\xA1\xA8.mca1");  // "ソ表.mca1" in UTF-8
    EXPECT_EQ(exchangePath("RES\\235kev.dat"), std::filesystem::path("RES") / "235kev.dat");
    EXPECT_EQ(sjisToUtf8("abc"), "abc");
}

TEST(SafeWrite, ReplacesTheFileOnlyWhenComplete)
{
    TempDir dir;
    auto file = dir.path / "r.mca1";
    writeFileAtomically(file, "old\r\n");
    writeFileAtomically(file, "new\r\n");
    EXPECT_EQ(readAll(file), "new\r\n");
    // No temporary file stays behind.
    int entries = 0;
    for (auto& e : std::filesystem::directory_iterator(dir.path)) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 1);
}

TEST(SafeWrite, MissingFolderIsReportedBeforeAnyWork)
{
    TempDir dir;
    auto file = dir.path / "Tarvik_data" / "r.mca1";
    try {
        requireParentFolder(file, "result file");
        FAIL();
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("does not exist"), std::string::npos);
    }
    EXPECT_THROW(writeFileAtomically(file, "x"), Error);
    EXPECT_FALSE(std::filesystem::exists(dir.path / "Tarvik_data"));
    EXPECT_NO_THROW(requireParentFolder(dir.path / "r.mca1", "result file"));
    EXPECT_NO_THROW(requireParentFolder("relative.mca1", "result file"));
}
