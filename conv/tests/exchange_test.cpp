#include "conv/exchange.h"
#include "test_tables.h"

#include <gtest/gtest.h>

#include <bit>
#include <filesystem>
#include <random>
#include <string>

namespace tvconv {
namespace {

namespace fs = std::filesystem;

// TempFile2.dat as the conversion dialog writes it: channel i holds i·3 + 1,
// written with " 000000" fields.
std::string requestText(const std::string& resultPath, const std::string& voltageLine = "80",
                        const std::string& angleLine = "090", const std::string& lengthLine = "01.00")
{
    fixedio::LineWriter w;
    w.line(resultPath);
    w.line(angleLine);
    w.line(lengthLine);
    w.line("Carbon.dat");
    w.line(voltageLine);
    w.line("0.150");
    std::string counts;
    for (int i = 1; i <= channelCount; ++i) {
        char f[16];
        std::snprintf(f, sizeof f, " %06d", i * 3 + 1);
        counts += f;
        if (i % 10 == 0 || i == channelCount) {
            w.line(counts);
            counts.clear();
        }
    }
    return w.content();
}

ConversionRequest read(const std::string& text)
{
    fixedio::LineReader in = fixedio::LineReader::fromText("TempFile2.dat", text);
    return readConversionRequest(in);
}

std::string refusal(const std::string& text)
{
    try {
        read(text);
    } catch (const fixedio::Error& e) {
        return e.what();
    }
    ADD_FAILURE() << "accepted";
    return {};
}

TEST(ConversionRequest, ReadsWhatTheDialogWrites)
{
    const ConversionRequest r = read(requestText("Tarvik_data\\run1.mca2"));
    EXPECT_EQ(r.resultName, "Tarvik_data\\run1.mca2");
    EXPECT_EQ(r.resultPath, fs::path("Tarvik_data") / "run1.mca2");
    EXPECT_EQ(r.input.angle, 90);
    EXPECT_EQ(r.input.attenuationLength, 1.0f);
    EXPECT_EQ(r.scattererPath, fs::path("Carbon.dat"));
    EXPECT_EQ(r.voltage, 80);
    EXPECT_EQ(r.input.channelWidth, 0.15f);
    for (int i = 1; i <= channelCount; ++i) ASSERT_EQ(r.input.counts[std::size_t(i - 1)], i * 3 + 1) << i;

    const ConversionRequest spaced = read(requestText("Tarvik_data\\a.mca2", "", "  45  ", " 00.50 , x"));
    EXPECT_EQ(spaced.input.angle, 45);
    EXPECT_EQ(spaced.input.attenuationLength, 0.5f);
}

TEST(ConversionRequest, EmptyVoltageLineDoesNotShiftTheValues)
{
    const ConversionRequest r = read(requestText("Tarvik_data\\v0.mca2", ""));
    EXPECT_EQ(r.voltage, 0);
    EXPECT_EQ(r.input.channelWidth, 0.15f);
    EXPECT_EQ(r.input.counts[0], 4);
    EXPECT_EQ(r.input.counts[1023], 1024 * 3 + 1);
}

TEST(ConversionRequest, CountFields)
{
    std::string t = requestText("Tarvik_data\\c.mca2");
    // Line 7 (channels 1-10): a blank field, a field with inner blanks, a short line.
    const std::size_t start = t.find(" 000004");
    const std::size_t end = t.find("\r\n", start);
    t.replace(start, end - start, "        12 34  999999");
    const ConversionRequest r = read(t);
    EXPECT_EQ(r.input.counts[0], 0);
    EXPECT_EQ(r.input.counts[1], 1234);
    EXPECT_EQ(r.input.counts[2], 999999);
    EXPECT_EQ(r.input.counts[3], 0) << "a line shorter than its fields reads blanks";
    EXPECT_EQ(r.input.counts[10], 34);
}

TEST(ConversionRequest, RefusesShortOrBrokenFiles)
{
    const std::string full = requestText("Tarvik_data\\x.mca2");
    std::string m = refusal(full.substr(0, full.rfind("\r\n", full.size() - 3) + 2));
    EXPECT_NE(m.find("TempFile2.dat, line 109"), std::string::npos) << m;
    EXPECT_NE(m.find("channels 1021 to 1024"), std::string::npos) << m;

    m = refusal(requestText("Tarvik_data\\x.mca2", "80", "abc"));
    EXPECT_NE(m.find("line 2"), std::string::npos) << m;
    EXPECT_NE(m.find("scattering angle"), std::string::npos) << m;

    m = refusal(requestText("Tarvik_data\\x.mca2", "eighty"));
    EXPECT_NE(m.find("line 5"), std::string::npos) << m;

    m = refusal(requestText("   "));
    EXPECT_NE(m.find("line 1: the path of the result file is empty"), std::string::npos) << m;
}

TEST(ConversionRequest, ResultPathCutAndMapped)
{
    // Cut after byte 60.
    const std::string longName = "Tarvik_data\\" + std::string(60, 'n') + ".mca2";
    EXPECT_EQ(read(requestText(longName)).resultName, longName.substr(0, 60));

    // "表" is 0x95 0x5C in Shift_JIS: its second byte is no separator.
    const std::string sjis = "Tarvik_data\\\x95\x5C.mca2";
    const ConversionRequest r = read(requestText(sjis));
    EXPECT_EQ(r.resultPath, fs::path("Tarvik_data") / "\xE8\xA1\xA8.mca2");

    // A double-byte character across bytes 60 and 61 is not split.
    const std::string across = "Tarvik_data\\" + std::string(47, 'a') + "\x95\x5C" + "b.mca2";
    EXPECT_EQ(read(requestText(across)).resultName, across.substr(0, 59));
}

TEST(ResultFile, RecordLayout)
{
    // Channel in columns 1-4, energy in 6-12, count in 14-20.
    EXPECT_EQ(formatRecord(5, float(5 * double(0.15f)), 1234), "   5" " " "    .75" " " "   1234");
    EXPECT_EQ(formatRecord(10, float(10 * double(0.15f)), 0), "  10    1.50       0");
    EXPECT_EQ(formatRecord(1024, 10240.0f, 10000000), "1024 ******* *******");
    EXPECT_EQ(formatRecord(1024, 9999.99f, 9999999), "1024 9999.99 9999999");
}

TEST(ResultFile, RecordsWrittenDirectlyAreThoseOfTheGeneralFormatting)
{
    // Records of the plain kind are written without the general field
    // formatting; both must give the same 20 columns for every value.
    const auto general = [](int channel, float energy, std::int32_t count) {
        return fixedio::formatI(channel, 4) + " " + fixedio::formatF(double(energy), 7, 2) + " " +
               fixedio::formatI(count, 7);
    };
    std::mt19937 rng(1209);
    std::vector<float> energies = {0.0f, -0.0f, 0.005f, 0.125f, 0.375f, 1.005f, 2.675f, 9998.995f, 9999.0f,
                                   9999.994f, 9999.995f, 9999.996f, 1e-30f, 1e-45f, -0.004f, -1.0f, 3e9f};
    for (float w : {0.03f, 0.05f, 0.1f, 0.15f, 0.2f, 0.3f, 1.0f / 3.0f, 9.77f})
        for (int i = 1; i <= 1024; ++i) energies.push_back(float(double(i) * double(w)));
    std::uniform_int_distribution<std::uint32_t> bits(0, 0x461c4000);  // floats from 0 to 10000
    for (int k = 0; k < 200000; ++k) energies.push_back(std::bit_cast<float>(bits(rng)));
    // Ties at the second decimal: multiples of 1/8 between whole hundredths.
    for (int k = 0; k < 80000; ++k) energies.push_back(float(k) / 8.0f + 0.005f * float(k % 3 == 0));
    std::uniform_int_distribution<std::int32_t> count(-100, 12'000'000);
    std::size_t n = 0;
    for (float e : energies) {
        const int channel = int(n % 1024) + 1;
        const std::int32_t c = n % 7 == 0 ? std::int32_t(n % 9999999) : count(rng);
        ASSERT_EQ(formatRecord(channel, e, c), general(channel, e, c)) << "energy " << e << ", count " << c;
        ++n;
    }
    EXPECT_EQ(formatRecord(0, 1.0f, 1), general(0, 1.0f, 1));
    EXPECT_EQ(formatRecord(12345, 1.0f, 1), general(12345, 1.0f, 1));
    EXPECT_EQ(formatRecord(-1, 1.0f, 1), general(-1, 1.0f, 1));
}

TEST(ResultFile, HeaderAndRecords)
{
    const fs::path dir = fs::temp_directory_path() / "tvconv_exchange_header";
    fs::create_directories(dir);
    fixedio::LineWriter com;
    com.line("");                                       // empty comment box
    com.line(std::string(59, 'c') + "\x95\x5C" + "tail");  // double-byte character across 60/61
    for (int k = 3; k <= 22; ++k) com.line("header " + std::to_string(k) + std::string(70, '-'));
    com.line("line 23 is not used");
    testing::writeFile(dir / "Com.dat", com.content());
    const std::vector<std::string> header = readResultHeader(dir / "Com.dat");
    ASSERT_EQ(header.size(), 22u);
    EXPECT_EQ(header[0], std::string(60, ' '));
    EXPECT_EQ(header[1], std::string(59, 'c') + " ");
    EXPECT_EQ(header[21], ("header 22" + std::string(70, '-')).substr(0, 60));

    Spectrum q{};
    q[4] = 1234;
    const std::string text = formatResult(header, 0.15f, q);
    EXPECT_EQ(text.size(), 22u * 62u + 1024u * 22u);
    EXPECT_EQ(text.substr(22 * 62 + 4 * 22, 22), "   5     .75    1234\r\n");
    EXPECT_EQ(text.substr(text.size() - 22), "1024  153.60       0\r\n");

    // A lone CR inside a header line would end the line early in the
    // result file and shift every record for the front end (found by fuzzing).
    fixedio::LineWriter damaged;
    for (int k = 1; k <= 22; ++k) damaged.line(k == 2 ? std::string("two\rthree") : "line " + std::to_string(k));
    testing::writeFile(dir / "Com.dat", damaged.content());
    try {
        readResultHeader(dir / "Com.dat");
        ADD_FAILURE() << "a CR inside header line 2 was accepted";
    } catch (const fixedio::Error& e) {
        EXPECT_NE(std::string(e.what()).find("line 2: header line 2 holds a carriage return"), std::string::npos)
            << e.what();
    }

    // Fewer than 22 lines.
    testing::writeFile(dir / "Com.dat", "one\r\ntwo\r\n");
    try {
        readResultHeader(dir / "Com.dat");
        ADD_FAILURE() << "accepted";
    } catch (const fixedio::Error& e) {
        EXPECT_NE(std::string(e.what()).find("line 3"), std::string::npos) << e.what();
    }
    fs::remove_all(dir);
}

} // namespace
} // namespace tvconv
