// What the readers refuse, and that the refusal names the file, the place
// and what was expected: cut-short files, oversized files, text that is not
// text, counts that are negative, fractional or not numbers, and headers
// that disagree with the data.
#include "formats/spectrum.h"
#include "writers.h"

#include <gtest/gtest.h>

namespace formats {
namespace {

using testing::Truth;

Truth truth(std::size_t channels = 1024)
{
    Truth t;
    t.counts = testing::someCounts(channels);
    return t;
}

// The refusal's message holds every one of `parts`.
void expectRefusal(const std::string& bytes, std::initializer_list<const char*> parts, ReadOptions o = {})
{
    try {
        parseSpectra(bytes, "spectrum.file", o);
        ADD_FAILURE() << "accepted; expected a refusal with \"" << *parts.begin() << "\"";
    } catch (const FormatError& e) {
        const std::string m = e.what();
        EXPECT_EQ(m.rfind("spectrum.file", 0), 0u) << m;
        for (const char* p : parts) EXPECT_NE(m.find(p), std::string::npos) << "\"" << p << "\" not in: " << m;
    }
}

std::string replaced(std::string s, const std::string& from, const std::string& to)
{
    const std::size_t at = s.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) s.replace(at, from.size(), to);
    return s;
}

TEST(FormatsRefuse, CutShortFiles)
{
    const Truth t = truth();
    const std::string pmca = testing::pmcaFile(t, false);
    expectRefusal(pmca.substr(0, pmca.find("<<END>>")), {"line", "expected <<END>>", "channels of <<DATA>>"});
    const std::string spe = testing::speFile(t);
    expectRefusal(spe.substr(0, spe.size() / 2), {"$DATA: announces 1024 channels", "cut short"});
    const std::string chn = testing::chnFile(t);
    expectRefusal(chn.substr(0, 20), {"byte 20", "32-byte header"}, ReadOptions{Format::Chn, 32});
    expectRefusal(chn.substr(0, 32 + 4 * 1000), {"byte 4032", "ends inside the channel data", "1024 channels"});
    expectRefusal(chn.substr(0, 32 + 4 * 1024 + 10), {"trailer ends before its energy calibration"});
    const std::string n42 = testing::n42File({t});
    expectRefusal(n42.substr(0, n42.size() - 40), {"byte", "not well-formed XML"});
    std::string csv;
    for (int i = 1; i <= 20; ++i) csv += "header line " + std::to_string(i) + "\r\n";
    expectRefusal(csv, {"ends before its first data line 32"}, ReadOptions{Format::MeasuredCsv, 32});
    expectRefusal("channel,energy,count\n1,0.1,5\n2,0.2,6\n3,0.3\n", {"line 4", "expected 3 columns"});
}

TEST(FormatsRefuse, OversizedFiles)
{
    const std::string huge(kMaxFileBytes + 1, ' ');
    expectRefusal(huge, {"larger than 64 MiB"});
    // A run of zero channels that would make a spectrum of millions.
    std::string n42 = testing::n42File({truth(16)}, true);
    n42 = replaced(n42, "compressionCode=\"CountedZeroes\">", "compressionCode=\"CountedZeroes\">0 9999999 ");
    expectRefusal(n42, {"more than 65536 channels"});
    std::string spe = testing::speFile(truth(16));
    expectRefusal(replaced(spe, "0 15", "0 99999999"), {"more than 65536 channels"});
}

TEST(FormatsRefuse, TextThatIsNotText)
{
    const std::string pmca = testing::pmcaFile(truth(64), false);
    std::string utf16 = "\xFF\xFE";
    for (char c : pmca) {
        utf16 += c;
        utf16 += '\0';
    }
    expectRefusal(utf16, {"UTF-16", "save it as UTF-8"});
    std::string spe = testing::speFile(truth(64));
    spe[spe.size() / 2] = '\0';
    expectRefusal(spe, {"NUL byte", "not text"});
    // A binary file that is none of the formats.
    expectRefusal(std::string("\x7F" "ELF\x02\x01\x01\0\0\0", 10), {"not a spectrum file of a known format"});
}

TEST(FormatsRefuse, CountsThatAreNotCounts)
{
    const Truth t = truth(64);
    const std::string pmca = testing::pmcaFile(t, false, "\n");
    const std::string data = "<<DATA>>\n";
    const std::size_t at = pmca.find(data) + data.size();
    auto withFirstCount = [&](const std::string& c) {
        std::string s = pmca;
        s.replace(at, s.find('\n', at) - at, c);
        return s;
    };
    expectRefusal(withFirstCount("-3"), {"channel 0", "negative"});
    expectRefusal(withFirstCount("nan"), {"not a number"});
    expectRefusal(withFirstCount("12.5"), {"not a whole number"});
    expectRefusal(withFirstCount("1e300"), {"larger than any analyser counts"});
    expectRefusal(withFirstCount("12abc"), {"expected a whole count", "\"12abc\""});
    EXPECT_EQ(parseSpectra(withFirstCount("1.2E1"), "x").front().counts[0], 12u);  // a whole value in E notation

    const std::string spe = testing::speFile(t);
    expectRefusal(replaced(spe, "       0", "    -inf"), {"not a number"});
    std::string chn = testing::chnFile(t, false);
    chn[32 + 4 * 40 + 3] = '\xFF';  // channel 40 as a negative 32-bit number
    expectRefusal(chn, {"byte 192", "channel 40", "negative"});
    std::string n42 = testing::n42File({t});
    expectRefusal(replaced(n42, "\">0 ", "\">NaN "), {"<ChannelData>", "not a number"});
    expectRefusal("channel,count\n0,5\n1,-7\n", {"line 3", "negative"});
    std::string csv;
    for (int i = 1; i <= 31; ++i) csv += "h\r\n";
    expectRefusal(csv + "1,0.1,5\r\n2,0.2,x\r\n", {"line 33", "expected a whole count"}, ReadOptions{Format::MeasuredCsv, 32});
    // A record with a fourth field would shift every later channel.
    expectRefusal(csv + "1,0.1,5,\r\n2,0.2,6\r\n", {"line 32", "found 4 fields"}, ReadOptions{Format::MeasuredCsv, 32});
    expectRefusal(csv + "1,0.1,5\r\n\r\n2,0.2,6\r\n", {"line 33", "empty line between the records"},
                  ReadOptions{Format::MeasuredCsv, 32});
}

TEST(FormatsRefuse, HeadersThatDisagreeWithTheData)
{
    const Truth t = truth(1024);
    // Channel counts.
    expectRefusal(replaced(testing::pmcaFile(t), "MCAC=1024", "MCAC=2048"),
                  {"MCAC=2048 channels, <<DATA>> holds 1024"});
    expectRefusal(replaced(testing::speFile(t), "0 1023", "0 1000"), {"$DATA: announces 1001 channels, the block holds more"});
    std::string chn = testing::chnFile(t);
    // The header announces 1000 channels of the 1024 that follow.
    chn[30] = static_cast<char>(1000 & 0xFF);
    chn[31] = static_cast<char>(1000 >> 8);
    expectRefusal(chn, {"byte 4032", "expected the end of the file or a trailer", "channel count may be wrong"});
    // Live time longer than the real time, and zero.
    Truth longer = t;
    longer.liveS = 10.5;
    expectRefusal(testing::pmcaFile(longer), {"live time 10.5 s is longer than the real time 10 s"});
    expectRefusal(testing::speFile(longer), {"live time", "longer than the real time"});
    expectRefusal(testing::chnFile(longer), {"byte 8", "longer than the real time"});
    expectRefusal(testing::n42File({longer}), {"<Spectrum>", "longer than the real time"});
    Truth zero = t;
    zero.liveS = 0;
    expectRefusal(testing::pmcaFile(zero), {"live time is zero"});
    expectRefusal(testing::chnFile(zero), {"live time is zero"});
    expectRefusal(testing::n42File({zero}), {"live time is zero"});
    // A calibration that does not rise.
    Truth falling = t;
    falling.gainKeV = -0.1;
    expectRefusal(testing::speFile(falling), {"energies must rise"});
    expectRefusal(testing::n42File({falling}), {"<CoefficientValues>", "energies must rise"});
    // A keV per channel so small beside the offset that the energies do not
    // rise as numbers (found by fuzz_chn).
    Truth flat = t;
    flat.gainKeV = 1.88e-38;
    expectRefusal(testing::chnFile(flat), {"byte 4132", "stop rising at channel 1"});
    // Channels wider than any spectrometer's (found by fuzz_pmca: the
    // import's records then outgrew their line).
    Truth wide = t;
    wide.gainKeV = 1e10;
    expectRefusal(testing::pmcaFile(wide), {"<<CALIBRATION>>", "no spectrometer reaches that far"});
}

TEST(FormatsRefuse, StructureTheFormatNeeds)
{
    const Truth t = truth(128);
    std::string pmca = testing::pmcaFile(t, false);
    expectRefusal(replaced(pmca, "<<DATA>>", "<<DATUM>>"), {"<<END>> without <<DATA>>"});
    expectRefusal(replaced(pmca, "LIVE_TIME - 9.500000", "LIVE_TIME - soon"), {"line 8", "expected the live time in seconds"});
    expectRefusal(replaced(pmca, "<<PMCA SPECTRUM>>", "<<PMCA SPECTRUM>>\r\n<<PMCA SPECTRUM>>"), {"a second <<PMCA SPECTRUM>>"});
    std::string dp5 = testing::pmcaFile(t);
    expectRefusal(replaced(dp5, "PURE=ON", "PURE=SOMETIMES"), {"expected PURE=ON, OFF or MAX"});
    expectRefusal(replaced(dp5, "TPEA=6.400", "TPEA=fast"), {"expected the peaking time in microseconds"});
    expectRefusal(replaced(testing::speFile(t), "$DATA:", "$DATUM:"), {"no $DATA: block"});
    std::string n42 = testing::n42File({t});
    expectRefusal(replaced(n42, "energyCalibrationReference=\"EC1\"", "energyCalibrationReference=\"EC9\""),
                  {"names no EnergyCalibration"});
    expectRefusal(replaced(n42, "PT10.000S", "P1M"), {"years or months"});
    expectRefusal(replaced(n42, "PT10.000S", "-PT10S"), {"negative"});
    expectRefusal(replaced(n42, "compressionCode=\"None\"", "compressionCode=\"Zip\""), {"compression \"Zip\" is not read"});
    expectRefusal(replaced(replaced(n42, "<RadInstrumentData", "<Catalogue"), "</RadInstrumentData", "</Catalogue"),
                  {"expected an N42 document"});
    expectRefusal("channel,count\n0,5\n1,6\n3,7\n", {"line 4", "channel numbers jump from 1 to 3"});
    expectRefusal("energy,count\n1.0,5\n2.0,6\n1.5,7\n", {"line 4", "energies do not rise"});
    expectRefusal("a;b;c;d\n1;2;3;4\n", {"line 2", "expected two or three columns"}, ReadOptions{Format::PlainText, 32});
}

} // namespace
} // namespace formats
