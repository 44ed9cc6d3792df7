// Reading TempFile.dat, Com.txt and response tables, and the layout of the
// ".mca1" result file.
#include <gtest/gtest.h>

#include <string>

#include "fixedio/fixedio.h"
#include "strip/exchange.h"
#include "strip/response_table.h"

namespace tvstrip {
namespace {

// "表" in Shift_JIS: its second byte is a backslash.
const std::string kHyou = "\x95\x5c";
// "日本" in Shift_JIS.
const std::string kNihon = "\x93\xfa\x96\x7b";

std::string countLines(int countPerChannel)
{
    std::string text;
    char field[16];
    for (int first = 1; first <= kChannels; first += 10) {
        for (int c = first; c <= std::min(first + 9, kChannels); ++c) {
            std::snprintf(field, sizeof field, " %06d", (c * countPerChannel) % 1000000);
            text += field;
        }
        text += "\r\n";
    }
    return text;
}

std::string tempFile(const std::string& path, const std::string& voltageLine, const std::string& widthLine)
{
    return path + "\r\n" + "-- No comment --\r\n" + kNihon + "\r\n" + voltageLine + "\r\n" + widthLine +
           "\r\n" + countLines(7);
}

TEST(TempFileTest, ReadsPathCommentsVoltageWidthAndCounts)
{
    auto in = fixedio::LineReader::fromText("TempFile.dat", tempFile("Tarvik_data\\" + kHyou + "x.mca1", " 80 ", "0.100"));
    StripJob job;
    readTempFile(in, job);
    EXPECT_EQ(job.resultPath, "Tarvik_data\\" + kHyou + "x.mca1");
    EXPECT_EQ(job.comment1, "-- No comment --" + std::string(44, ' '));
    EXPECT_EQ(job.comment2, kNihon + std::string(56, ' '));
    EXPECT_EQ(job.voltage, 80);
    EXPECT_EQ(job.kevPerChannel, 0.1f);
    EXPECT_EQ(job.counts[0], 7);
    EXPECT_EQ(job.counts[1019], 7140);
    EXPECT_EQ(job.counts[1023], 7168);  // channel 1024 on the short last line
}

TEST(TempFileTest, ResultPathIsCutAt60BytesWithoutHalfCharacters)
{
    // 12 + 47 = 59 single bytes, then a double-byte character over bytes 60-61.
    const std::string name = "Tarvik_data\\" + std::string(47, 'a') + kNihon + ".mca1";
    auto in = fixedio::LineReader::fromText("TempFile.dat", tempFile(name, "80", "0.100"));
    StripJob job;
    readTempFile(in, job);
    EXPECT_EQ(job.resultPath, "Tarvik_data\\" + std::string(47, 'a'));

    const std::string longAscii = "Tarvik_data\\" + std::string(60, 'b') + ".mca1";
    auto in2 = fixedio::LineReader::fromText("TempFile.dat", tempFile(longAscii, "80", "0.100"));
    readTempFile(in2, job);
    EXPECT_EQ(job.resultPath.size(), 60u);
}

TEST(TempFileTest, BadInputNamesTheFileAndLine)
{
    StripJob job;
    auto emptyVoltage = fixedio::LineReader::fromText("TempFile.dat", tempFile("Tarvik_data\\a.mca1", "", "0.100"));
    try {
        readTempFile(emptyVoltage, job);
        FAIL() << "an empty voltage line must be refused";
    } catch (const fixedio::Error& e) {
        EXPECT_NE(std::string(e.what()).find("TempFile.dat, line 4"), std::string::npos) << e.what();
    }

    std::string shortFile = tempFile("Tarvik_data\\a.mca1", "80", "0.100");
    shortFile.resize(shortFile.rfind("\r\n", shortFile.size() - 3) + 2);  // drop line 108
    auto shortIn = fixedio::LineReader::fromText("TempFile.dat", shortFile);
    try {
        readTempFile(shortIn, job);
        FAIL() << "a missing count line must be reported";
    } catch (const fixedio::Error& e) {
        EXPECT_NE(std::string(e.what()).find("line 108"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("channels 1021 to 1024"), std::string::npos) << e.what();
    }

    auto blankPath = fixedio::LineReader::fromText("TempFile.dat", tempFile("   ", "80", "0.100"));
    EXPECT_THROW(readTempFile(blankPath, job), fixedio::Error);
}

TEST(HeaderLinesTest, SeventeenLinesAreKeptAndFewerAreAnError)
{
    std::string text;
    for (int i = 1; i <= 31; ++i)
        text += "line " + std::to_string(i) + (i == 4 ? std::string(70, '#') : "") + "\r\n";
    auto in = fixedio::LineReader::fromText("Com.txt", text);
    StripJob job;
    readHeaderLines(in, job);
    EXPECT_EQ(job.header[0], "line 1" + std::string(54, ' '));
    EXPECT_EQ(job.header[3], "line 4" + std::string(54, '#'));
    EXPECT_EQ(job.header[16].substr(0, 8), "line 17 ");

    std::string sixteen;
    for (int i = 1; i <= 16; ++i)
        sixteen += "x\n";
    auto shortIn = fixedio::LineReader::fromText("Com.txt", sixteen);
    try {
        readHeaderLines(shortIn, job);
        FAIL() << "16 header lines must be refused";
    } catch (const fixedio::Error& e) {
        EXPECT_NE(std::string(e.what()).find("Com.txt, line 17"), std::string::npos) << e.what();
    }
}

// A lone CR inside a text that goes into the result file would end that
// line early there: the front end would read every record after it one line
// off.  Found by fuzz_tempfile with a damaged comment line.
TEST(TextLinesTest, ACarriageReturnInsideACopiedTextIsRefused)
{
    const std::string damaged = "Demo: W80kV_2.5mmAl_direct\r00 00000000 00";
    std::string withDamage = tempFile("Tarvik_data\\a.mca1", "80", "0.100");
    withDamage.replace(withDamage.find("-- No comment --"), 16, damaged);
    StripJob job;
    auto in = fixedio::LineReader::fromText("TempFile.dat", withDamage);
    try {
        readTempFile(in, job);
        FAIL() << "a CR inside comment line 1 must be refused";
    } catch (const fixedio::Error& e) {
        const std::string what = e.what();
        EXPECT_NE(what.find("TempFile.dat, line 2: comment line 1"), std::string::npos) << what;
        EXPECT_NE(what.find("carriage return (CR) at column 27"), std::string::npos) << what;
    }

    // The second comment, and a header line of Com.txt.
    std::string second = tempFile("Tarvik_data\\a.mca1", "80", "0.100");
    second.replace(second.find(kNihon), kNihon.size(), kNihon + "\r" + kNihon);
    auto in2 = fixedio::LineReader::fromText("TempFile.dat", second);
    EXPECT_THROW(readTempFile(in2, job), fixedio::Error);

    std::string header;
    for (int i = 1; i <= 17; ++i)
        header += "line " + std::to_string(i) + (i == 5 ? "\r" : "") + "\r\n";
    auto hin = fixedio::LineReader::fromText("Com.txt", header);
    try {
        readHeaderLines(hin, job);
        FAIL() << "a CR inside header line 5 must be refused";
    } catch (const fixedio::Error& e) {
        EXPECT_NE(std::string(e.what()).find("Com.txt, line 5: header line 5"), std::string::npos) << e.what();
    }
}

TEST(TextLinesTest, LineEndsAndCarriageReturnsBeyondTheFieldStillPass)
{
    // CR LF and LF line ends, and a CR after column 60 that the cut drops.
    std::string file = tempFile("Tarvik_data\\a.mca1", "80", "0.100");
    file.replace(file.find("-- No comment --"), 16, std::string(60, 'x') + "\ry");
    auto in = fixedio::LineReader::fromText("TempFile.dat", file);
    StripJob job;
    ASSERT_NO_THROW(readTempFile(in, job));
    EXPECT_EQ(job.comment1, std::string(60, 'x'));

    std::string header;
    for (int i = 1; i <= 17; ++i)
        header += "line " + std::to_string(i) + (i % 2 ? "\n" : "\r\n");
    auto hin = fixedio::LineReader::fromText("Com.txt", header);
    ASSERT_NO_THROW(readHeaderLines(hin, job));
    EXPECT_EQ(job.header[16], "line 17" + std::string(53, ' '));
}

TEST(ResponseTableTest, ReadsEveryNumberFormAndShortRecords)
{
    std::string text;
    // Record 1: with and without point, exponent forms, blanks inside, blank field.
    for (const char* field : {"     125", "  12.5E1", " 1.25D+2", "   1 2 5", "        ", "    -3.5", "    .5E3",
                              "  1250-1", "   125.0", " 0.125E3"}) {
        ASSERT_EQ(std::string(field).size(), 8u);
        text += field;
    }
    text += "\r\n";
    for (int r = 2; r <= 29; ++r)
        text += "       1       2       3       4       5       6       7       8       9      10  trailing\r\n";
    text += "      42\r\n";  // record 30 ends after its first field
    text += "99999999\r\n";  // past the 30th record: ignored
    auto in = fixedio::LineReader::fromText("RES\\235kev.dat", text);
    const ResponseTable r = readResponseTable(in);
    EXPECT_EQ(r[0], 0.0f);
    EXPECT_EQ(r[1], 125.0f);
    EXPECT_EQ(r[2], 125.0f);
    EXPECT_EQ(r[3], 125.0f);
    EXPECT_EQ(r[4], 125.0f);
    EXPECT_EQ(r[5], 0.0f);
    EXPECT_EQ(r[6], -3.5f);
    EXPECT_EQ(r[7], 500.0f);
    EXPECT_EQ(r[8], 125.0f);
    EXPECT_EQ(r[9], 125.0f);
    EXPECT_EQ(r[10], 125.0f);
    EXPECT_EQ(r[20], 10.0f);
    EXPECT_EQ(r[291], 42.0f);
    EXPECT_EQ(r[300], 0.0f);
}

TEST(ResponseTableTest, ShortFilesAndHugeValuesAreErrors)
{
    auto shortIn = fixedio::LineReader::fromText("RES\\235kev.dat", "       1\r\n       2\r\n");
    try {
        readResponseTable(shortIn);
        FAIL();
    } catch (const fixedio::Error& e) {
        EXPECT_NE(std::string(e.what()).find("RES\\235kev.dat, line 3"), std::string::npos) << e.what();
    }
    auto huge = fixedio::LineReader::fromText("RES\\235kev.dat", "   1E+39\r\n");
    EXPECT_THROW(readResponseTable(huge), fixedio::Error);
    EXPECT_THROW(loadResponseTable("no/such/folder/235kev.dat"), fixedio::Error);
}

TEST(ResponseTableTest, AFaultyRecordIsNamedWithItsBins)
{
    // The record's description is rebuilt for every record: a fault in a late
    // record (two-digit and three-digit bin numbers, after shorter texts of
    // earlier records) and in the first one must each name exactly its own bins.
    const std::string good =
        "       1       2       3       4       5       6       7       8       9      10\r\n";
    const auto faultAt = [&](int badRecord, const std::string& badLine) {
        std::string text;
        for (int r = 1; r < badRecord; ++r) text += good;
        text += badLine;
        auto in = fixedio::LineReader::fromText("RES\\235kev.dat", text);
        try {
            readResponseTable(in);
        } catch (const fixedio::Error& e) {
            return std::string(e.what());
        }
        return std::string("accepted");
    };
    std::string m = faultAt(12, "       1       2     abc\r\n");
    EXPECT_NE(m.find("line 12: expected response record 12 (bins 111 to 120), field 3 (columns 17-24)"),
              std::string::npos) << m;
    m = faultAt(1, "   1E+39\r\n");
    EXPECT_NE(m.find("expected response record 1 (bins 1 to 10), field 1"), std::string::npos) << m;
    m = faultAt(30, "");  // the file ends before the last record
    EXPECT_NE(m.find("response record 30 (bins 291 to 300)"), std::string::npos) << m;
    EXPECT_EQ(m.find("record 29 "), std::string::npos) << m;
}

TEST(ResponseTableTest, FileNamesHaveNoBlanks)
{
    EXPECT_EQ(responseFileName(50), "RES\\50kev.dat");
    EXPECT_EQ(responseFileName(235), "RES\\235kev.dat");
    EXPECT_EQ(responseFileName(1000), "RES\\1000kev.dat");
    EXPECT_EQ(responseFileName(9995), "RES\\9995kev.dat");
}

TEST(ResultFileTest, ChannelRecords)
{
    EXPECT_EQ(formatChannelRecord(1, 0.1f, 0), "   1     .10       0");
    EXPECT_EQ(formatChannelRecord(10, 0.1f, 123), "  10    1.00     123");
    EXPECT_EQ(formatChannelRecord(1024, 0.1f, 9999999), "1024  102.40 9999999");
    EXPECT_EQ(formatChannelRecord(1024, 0.1f, 10000000), "1024  102.40 *******");
    // 0.12 x 1023 = 122.76 in single precision is 122.7599945; it prints .76.
    EXPECT_EQ(formatChannelRecord(1023, 0.12f, 5), "1023  122.76       5");
    // 0.125 x 1 is exactly 0.125: the tie rounds up.
    EXPECT_EQ(formatChannelRecord(1, 0.125f, 5), "   1     .13       5");
}

TEST(ResultFileTest, LayoutOfTheWholeFile)
{
    StripJob job;
    job.comment1 = std::string(30, 'c');  // padded to 60 when written
    job.comment2 = kNihon;
    job.voltage = 120;
    job.kevPerChannel = 0.12f;
    for (int i = 0; i < kHeaderLines; ++i)
        job.header[static_cast<std::size_t>(i)] = std::string("h").append(std::to_string(i + 1));
    Counts counts{};
    counts[99] = 4321;
    const std::string text = formatResult(job, counts);

    std::vector<std::string> lines;
    std::size_t pos = 0;
    for (std::size_t end; (end = text.find("\r\n", pos)) != std::string::npos; pos = end + 2)
        lines.push_back(text.substr(pos, end - pos));
    EXPECT_EQ(pos, text.size());  // every line ends with CR LF
    ASSERT_EQ(lines.size(), 1046u);
    EXPECT_EQ(lines[0], std::string(30, 'c') + std::string(30, ' '));
    EXPECT_EQ(lines[1], kNihon + std::string(56, ' '));
    EXPECT_EQ(lines[2], "120");
    EXPECT_EQ(lines[3], "  .120");
    EXPECT_EQ(lines[4], "h1" + std::string(58, ' '));
    EXPECT_EQ(lines[20].substr(0, 4), "h17 ");
    EXPECT_EQ(lines[21], "  Ch.   KeV    Counts");
    EXPECT_EQ(lines[22], "   1     .12       0");
    EXPECT_EQ(lines[121], " 100   12.00    4321");

    job.voltage = 1000;
    EXPECT_EQ(formatResult(job, counts).substr(124, 5), "***\r\n");
}

} // namespace
} // namespace tvstrip
