#include "exchange.h"
#include "settings.h"
#include "spectrumfiles.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include "fixedio/files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

using namespace tarvik;
using namespace tarvik::test;

TEST(TextFileReaderTest, LinesEndAtCrLfCrOrLf) {
    ScratchFolder dir;
    writeBytes(dir.path() / "f.txt", "one\r\ntwo\nthree\rfour");
    TextFileReader r(dir.path() / "f.txt");
    EXPECT_EQ(r.readLine(), "one");
    EXPECT_EQ(r.readLine(), "two");
    EXPECT_EQ(r.readLine(), "three");
    EXPECT_EQ(r.readLine(), "four");
    EXPECT_TRUE(r.atEnd());
    EXPECT_THROW(r.readLine(), FileReadError);
}

TEST(TextFileReaderTest, FieldRules) {
    ScratchFolder dir;
    writeBytes(dir.path() / "f.txt",
               "  12 34,  text with blanks  ,\"quoted, with comma\" junk,5\r\n,7\r\n");
    TextFileReader r(dir.path() / "f.txt");
    EXPECT_EQ(r.readField(), "12");  // a number ends at a blank
    EXPECT_EQ(r.readField(), "34");
    EXPECT_EQ(r.readField(), "text with blanks");
    EXPECT_EQ(r.readField(), "quoted, with comma");
    EXPECT_EQ(r.readField(), "5");
    EXPECT_EQ(r.readField(), "");  // empty field before the comma
    EXPECT_DOUBLE_EQ(r.readNumberField(), 7);
    EXPECT_TRUE(r.atEnd());
    EXPECT_THROW(r.readField(), FileReadError);
}

TEST(TextFileReaderTest, ShiftJisLinesComeBackAsUtf8AndRawLinesUnchanged) {
    ScratchFolder dir;
    writeBytes(dir.path() / "f.txt", "\x83\x65\x83\x58\x83\x67\r\n\x83\x65\r\n");
    TextFileReader r(dir.path() / "f.txt");
    EXPECT_EQ(r.readLine(), "テスト");
    EXPECT_EQ(r.readRawLine(), "\x83\x65");
}

TEST(MeasuredFileTest, ReadsHeaderAndThirdFields) {
    for (std::string eol : {"\r\n", "\n"}) {
        ScratchFolder dir;
        writeBytes(dir.path() / "m.csv", measuredFile(31, [](int ch) { return ch * 3; }, eol));
        MeasuredSpectrum m = readMeasuredFile(dir.path() / "m.csv", 32);
        ASSERT_EQ(m.headerLines.size(), 31u);
        EXPECT_EQ(m.headerLines[3], "Header line 4");
        EXPECT_EQ(m.counts[1], 3);
        EXPECT_EQ(m.counts[1024], 3072);
    }
}

TEST(MeasuredFileTest, DataLineEndingInCommaShiftsLaterChannels) {
    ScratchFolder dir;
    std::string s = measuredFile(31, [](int ch) { return 1000 + ch; });
    // channel 2's line gets a trailing comma, and a spare record at the end
    // keeps the file long enough
    std::size_t at = s.find("\r\n2,");
    at = s.find("\r\n", at + 2);
    s.insert(at, ",");
    s += "1025,0,9999\r\n";
    writeBytes(dir.path() / "m.csv", s);
    MeasuredSpectrum m = readMeasuredFile(dir.path() / "m.csv", 32);
    EXPECT_EQ(m.counts[2], 1002);
    // channel 3 now reads "", "3", "0.3..." : its count is the energy field
    EXPECT_NEAR(m.counts[3], 0.3, 1e-9);
    EXPECT_NEAR(m.counts[4], 0.4, 1e-9);  // ... and so on, every later channel shifted
}

TEST(MeasuredFileTest, FirstDataLineRules) {
    ScratchFolder dir;
    writeBytes(dir.path() / "m.csv", measuredFile(1, [](int ch) { return ch; }));
    EXPECT_EQ(readMeasuredFile(dir.path() / "m.csv", 2.5).headerLines.size(), 1u);  // i <= 1.5
    writeBytes(dir.path() / "n.csv", measuredFile(0, [](int ch) { return ch; }));
    auto m = readMeasuredFile(dir.path() / "n.csv", 0);
    EXPECT_TRUE(m.headerLines.empty());
    EXPECT_EQ(m.counts[5], 5);
}

TEST(MeasuredFileTest, MissingOrShortFilesAreReportedInTheUsersTerms) {
    ScratchFolder dir;
    try {
        readMeasuredFile(dir.path() / "none.csv", 32);
        FAIL() << "no error";
    } catch (const SpectrumFileError& e) {
        EXPECT_NE(std::string(e.what()).find("データファイルを開けません"), std::string::npos);
    }
    std::string s = measuredFile(31, [](int) { return 1; });
    writeBytes(dir.path() / "short.csv", s.substr(0, s.find("\r\n1000,")));
    try {
        readMeasuredFile(dir.path() / "short.csv", 32);
        FAIL() << "no error";
    } catch (const SpectrumFileError& e) {
        EXPECT_NE(std::string(e.what()).find("チャネル 1000 以降"), std::string::npos) << e.what();
    }
    writeBytes(dir.path() / "head.csv", "a\r\nb\r\n");
    EXPECT_THROW(readMeasuredFile(dir.path() / "head.csv", 32), SpectrumFileError);
}

namespace {
// A stripping result as tvstrip lays it out.
std::string resultFile(const std::string& c1, int v, const std::string& w, int countBase) {
    std::string s = c1 + "\r\n" + std::string(60, ' ') + "\r\n";
    s += (v < 100 ? " " : "") + std::to_string(v) + "\r\n" + w + "\r\n";
    for (int i = 1; i <= 17; ++i) s += "Header line " + std::to_string(i) + "\r\n";
    s += "  Ch.   KeV    Counts\r\n";
    char buf[64];
    for (int ch = 1; ch <= 1024; ++ch) {
        std::snprintf(buf, sizeof buf, "%4d %7.2f %7d\r\n", ch, ch * 0.1, countBase + ch);
        std::string line = buf;
        if (ch * 0.1 < 1) line[line.find("0.")] = ' ';  // no 0 before the point
        s += line;
    }
    return s;
}
} // namespace

TEST(ResultFileTest, PreviewAndSpectrum) {
    ScratchFolder dir;
    writeBytes(dir.path() / "r.mca1", resultFile("first comment", 80, "  .100", 500));
    ResultPreview p = readResultPreview(dir.path() / "r.mca1");
    EXPECT_EQ(p.commentLine1, "first comment");
    EXPECT_EQ(p.commentLine2, std::string(60, ' '));
    EXPECT_EQ(p.tubeVoltage, 80);
    EXPECT_DOUBLE_EQ(p.kevPerChannel, 0.1);
    ASSERT_EQ(p.remainingLines.size(), 1042u);
    EXPECT_EQ(p.remainingLines.front(), "Header line 1");

    ResultSpectrum s = readResultFile(dir.path() / "r.mca1");
    ASSERT_EQ(s.headerLines3to22.size(), 20u);
    EXPECT_EQ(s.headerLines3to22[0], " 80");
    EXPECT_EQ(s.headerLines3to22[19], "  Ch.   KeV    Counts");
    EXPECT_EQ(s.counts[1], 501);
    EXPECT_EQ(s.counts[1024], 1524);
}

TEST(ResultFileTest, TruncatedResultIsReported) {
    ScratchFolder dir;
    std::string s = resultFile("c", 80, "  .100", 0);
    writeBytes(dir.path() / "r.mca1", s.substr(0, s.size() / 2));
    EXPECT_THROW(readResultFile(dir.path() / "r.mca1"), SpectrumFileError);
    writeBytes(dir.path() / "h.mca1", "c1\r\nc2\r\n");
    EXPECT_THROW(readResultPreview(dir.path() / "h.mca1"), SpectrumFileError);
}

TEST(SettingsFileTest, ReadsFourLinesAndWritesThemBack) {
    ScratchFolder dir;
    auto file = dir.path() / "UserName.txt";
    writeSettings(file, "病院, 放射線科", "RAMTEC-413", "XR-100T-CdTe", "0.25");
    EXPECT_EQ(readBytes(file), "\x95\x61\x89\x40, \x95\xfa\x8e\xcb\x90\xfc\x89\xc8\r\nRAMTEC-413\r\n"
                               "XR-100T-CdTe\r\n0.25\r\n");
    auto s = readSettings(file);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->facilityName, "病院, 放射線科");  // commas stay in a whole-line read
    EXPECT_DOUBLE_EQ(s->kevPerChannel, 0.25);

    writeBytes(file, "a\r\nb\r\nc\r\n0,2\r\n");
    EXPECT_EQ(readSettings(file)->kevPerChannel, 0);  // a decimal comma ends the field
    writeBytes(file, "a\r\nb\r\nc\r\n");
    EXPECT_FALSE(readSettings(file));  // ends before its fourth line
    EXPECT_FALSE(readSettings(dir.path() / "missing.txt"));
    EXPECT_THROW(writeSettings(file, "\xF0\x9F\x98\x80", "b", "c", ""), ExchangeError);
}

// ---- a settings file that is damaged, cut short or not a file at all ----

namespace {

std::size_t diskRoom = 0;
ssize_t fullDisk(int fd, const void* data, std::size_t size) {
    if (diskRoom == 0) {
        errno = ENOSPC;
        return -1;
    }
    const std::size_t n = std::min(size, diskRoom);
    diskRoom -= n;
    return ::write(fd, data, n);
}

} // namespace

TEST(DamagedSettingsFileTest, FirstStartIsNoProblemButEveryCutIsNamed) {
    ScratchFolder dir;
    const auto file = dir.path() / "UserName.txt";
    auto missing = readSettingsAtStart(file);
    EXPECT_FALSE(missing.settings);
    EXPECT_EQ(missing.problem, "");

    const std::pair<std::string, std::string> cuts[] = {
        {"", "ファイルが空です"},
        {"Lab", "2 行目の測定器名がありません"},
        {"Lab\r\nMCA", "3 行目の検出器名がありません"},
        {"Lab\r\nMCA\r\nDet\r\n", "4 行目のエネルギー幅がありません"},
        // a crash can leave a file of zero bytes in place of the text
        {std::string(4096, '\0'), "2 行目の測定器名がありません"},
    };
    for (const auto& [bytes, reason] : cuts) {
        writeBytes(file, bytes);
        auto r = readSettingsAtStart(file);
        EXPECT_FALSE(r.settings) << reason;
        EXPECT_NE(r.problem.find("UserName.txt を読めませんでした"), std::string::npos) << r.problem;
        EXPECT_NE(r.problem.find(reason), std::string::npos) << r.problem;
    }
    // The fourth line without its line end is complete.
    writeBytes(file, "Lab\r\nMCA\r\nDet\r\n0.25");
    auto whole = readSettingsAtStart(file);
    ASSERT_TRUE(whole.settings);
    EXPECT_EQ(whole.problem, "");
    EXPECT_DOUBLE_EQ(whole.settings->kevPerChannel, 0.25);
}

TEST(DamagedSettingsFileTest, FolderPipeAndHugeFileAreReportedWithoutWaiting) {
    ScratchFolder dir;
    const auto file = dir.path() / "UserName.txt";
    std::filesystem::create_directory(file);
    EXPECT_NE(readSettingsAtStart(file).problem.find("フォルダー"), std::string::npos);
    std::filesystem::remove(file);

    ASSERT_EQ(::mkfifo(file.c_str(), 0644), 0);  // with no writer: a plain read would wait for ever
    EXPECT_NE(readSettingsAtStart(file).problem.find("通常のファイルではありません"), std::string::npos);
    std::filesystem::remove(file);

    writeBytes(file, "Lab\r\nMCA\r\nDet\r\n0.2\r\n");
    ASSERT_EQ(::truncate(file.c_str(), off_t{6} << 30), 0);  // sparse: no disk used
    auto huge = readSettingsAtStart(file);
    EXPECT_FALSE(huge.settings);
    EXPECT_NE(huge.problem.find("大きすぎます"), std::string::npos) << huge.problem;
}

TEST(DamagedSettingsFileTest, FullDiskWhileSavingKeepsTheOldSettings) {
    ScratchFolder dir;
    const auto file = dir.path() / "UserName.txt";
    writeSettings(file, "Lab", "MCA", "Det", "0.2");
    const std::string before = readBytes(file);
    fixedio::setWriteFunction(fullDisk);
    diskRoom = 5;
    EXPECT_THROW(writeSettings(file, "新しい施設", "MCA", "Det", "0.1"), ExchangeError);
    fixedio::setWriteFunction(nullptr);
    EXPECT_EQ(readBytes(file), before);
    int entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) entries += e.is_regular_file();
    EXPECT_EQ(entries, 1) << "a temporary file was left behind";
}
