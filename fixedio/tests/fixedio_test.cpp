// Fixed-column reading and writing as the console programs' files need it.
#include "fixedio/fixedio.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

using namespace fixedio;

namespace {

std::uint32_t bitsOf(float f)
{
    std::uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

} // namespace

TEST(FixedFieldRead, TextFieldsArePaddedAndCut)
{
    EXPECT_EQ(textField("abc", 5), "abc  ");
    EXPECT_EQ(textField("abcdefgh", 5), "abcde");
    EXPECT_EQ(textField("", 3), "   ");
    EXPECT_EQ(trimTrailing("Tarvik_data\\x.mca1   "), "Tarvik_data\\x.mca1");
    EXPECT_EQ(trimTrailing("   "), "");
}

TEST(FixedFieldRead, IntegerFieldsIgnoreBlanksAndReadBlankAsZero)
{
    EXPECT_EQ(parseIntField(" 000123"), 123);
    EXPECT_EQ(parseIntField(" 1 2 3 "), 123);
    EXPECT_EQ(parseIntField("       "), 0);
    EXPECT_EQ(parseIntField(""), 0);
    EXPECT_EQ(parseIntField("  -42"), -42);
    EXPECT_EQ(parseIntField("+7"), 7);
    EXPECT_THROW(parseIntField("12a"), std::invalid_argument);
    EXPECT_THROW(parseIntField("1.5"), std::invalid_argument);
    EXPECT_THROW(parseIntField(" - "), std::invalid_argument);
    EXPECT_THROW(parseIntField("99999999999"), std::invalid_argument);
}

TEST(FixedFieldRead, RealFieldsWithImpliedDecimalsAndExponents)
{
    // F8.0: a whole number as it stands.
    EXPECT_EQ(parseRealFieldFloat("   12345", 0), 12345.0f);
    // Implied decimals only when there is no point.
    EXPECT_EQ(parseRealFieldDouble("12345", 2), 123.45);
    EXPECT_EQ(parseRealFieldDouble("123.45", 4), 123.45);
    // Exponent with letter E or D, either case, or a bare sign.
    EXPECT_EQ(parseRealFieldDouble(" .150E+01", 3), 1.5);
    EXPECT_EQ(parseRealFieldDouble("1.5d2", 0), 150.0);
    EXPECT_EQ(parseRealFieldDouble("1.5-2", 0), 0.015);
    EXPECT_EQ(parseRealFieldDouble("15E1", 1), 15.0);  // 1.5 implied, times 10
    // Blanks inside are ignored, an all-blank field reads 0.
    EXPECT_EQ(parseRealFieldDouble(" 1 2. 5 ", 0), 12.5);
    EXPECT_EQ(parseRealFieldFloat("        ", 0), 0.0f);
    EXPECT_EQ(parseRealFieldDouble("-.5", 0), -0.5);
    EXPECT_THROW(parseRealFieldDouble("abc", 0), std::invalid_argument);
    EXPECT_THROW(parseRealFieldDouble("1.2.3", 0), std::invalid_argument);
    EXPECT_THROW(parseRealFieldDouble("1.5E+x", 0), std::invalid_argument);
}

TEST(FixedFieldRead, RealFieldsRoundOnceToFloat)
{
    // 0.1 read straight to binary32 is the nearest float, not a double
    // rounded twice.
    EXPECT_EQ(bitsOf(parseRealFieldFloat("0.1", 0)), bitsOf(0.1f));
    // A decimal just above a float midpoint must round up: 1 + 2^-24 + tiny.
    EXPECT_EQ(bitsOf(parseRealFieldFloat("1.00000005960464477539062500001", 0)),
              bitsOf(std::nextafter(1.0f, 2.0f)));
    EXPECT_EQ(parseRealFieldFloat("1E-60", 0), 0.0f);
    EXPECT_THROW(parseRealFieldFloat("1E+60", 0), std::invalid_argument);
}

TEST(FixedFieldRead, LongExponentsUnderflowOrOverflowLikeShortOnes)
{
    // Eight columns leave room for a six-digit exponent after a bare sign.
    EXPECT_EQ(parseRealFieldFloat("3-370590", 0), 0.0f);
    EXPECT_EQ(parseRealFieldDouble("1E-99999", 0), 0.0);
    EXPECT_EQ(parseRealFieldFloat("0+540448", 0), 0.0f);
    EXPECT_THROW(parseRealFieldFloat("1+999999", 0), std::invalid_argument);
    EXPECT_THROW(parseRealFieldDouble("1D123456", 0), std::invalid_argument);
}

TEST(LineReaderTest, RealTooLargeForSinglePrecisionIsNamedSo)
{
    auto in = LineReader::fromText("RES/600kev.dat", "    1E39\r\n");
    try {
        in.floats(2, RealField{8, 0}, "response record 1");
        FAIL() << "1E39 does not fit single precision";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "RES/600kev.dat, line 1: expected response record 1, field 1 (columns 1-8) "
                               "is too large for single precision: \"    1E39\"");
    }
}

TEST(FixedFieldRead, ListItemsEndAtBlankCommaOrSlash)
{
    EXPECT_EQ(firstListItem("  80  "), "80");
    EXPECT_EQ(firstListItem("0.100,junk"), "0.100");
    EXPECT_EQ(firstListItem("45 90"), "45");
    EXPECT_EQ(firstListItem("12/"), "12");
    EXPECT_EQ(firstListItem("   "), "");
}

TEST(LineReaderTest, AcceptsCrLfAndLfAndCountsLines)
{
    auto in = LineReader::fromText("T.dat", "first\r\nsecond\nthird");
    EXPECT_EQ(in.line("a"), "first");
    EXPECT_EQ(in.line("b"), "second");
    EXPECT_EQ(in.lineNumber(), 2);
    EXPECT_EQ(in.line("c"), "third");
    EXPECT_TRUE(in.atEnd());
}

TEST(LineReaderTest, LineStartTakesTheHeadOfALineEvenPastTheReadPart)
{
    auto in = LineReader::fromText("T.dat", "abcdef\r\nxy\r\n", false);
    EXPECT_EQ(in.lineStart(3, "a"), "abc");
    EXPECT_EQ(in.lineStart(3, "b"), "xy");
    EXPECT_EQ(in.lineNumber(), 2);
    EXPECT_THROW(in.lineStart(3, "c"), Error);
    // A line cut off by the size limit: its head is there when long enough.
    auto cut = LineReader::fromText("C.dat", "one\r\n" + std::string(100, '\0'), true);
    EXPECT_EQ(cut.line("a"), "one");
    EXPECT_EQ(cut.lineStart(60, "b"), std::string(60, '\0'));
    EXPECT_THROW(cut.line("c"), Error);
    auto shortCut = LineReader::fromText("S.dat", "one\r\nab", true);
    shortCut.line("a");
    EXPECT_THROW(shortCut.lineStart(60, "b"), Error);
}

TEST(LineReaderTest, ReadsRecordsOfTheExchangeFiles)
{
    auto in = LineReader::fromText("TempFile.dat",
                  "Tarvik_data\\a.mca1\r\n"
                  "  80  \r\n"
                  "0.100\r\n"
                  " 000001 000002      7\r\n"
                  "  12.5    -3\r\n");
    EXPECT_EQ(in.text(60, "the result path").size(), 60u);
    EXPECT_EQ(in.listInt("the tube voltage"), 80);
    EXPECT_EQ(bitsOf(in.listFloat("keV per channel")), bitsOf(0.1f));
    // A short record supplies blanks, which read 0.
    EXPECT_EQ(in.ints(4, 7, "counts"), (std::vector<std::int32_t>{1, 2, 7, 0}));
    auto r = in.floats(3, RealField{6, 0}, "response");
    EXPECT_EQ(r, (std::vector<float>{12.5f, -3.0f, 0.0f}));
}

TEST(LineReaderTest, ErrorsNameFileLineAndExpectation)
{
    auto in = LineReader::fromText("TempFile.dat", "Tarvik_data\\a.mca1\r\n\r\nabc\r\n");
    in.line("the result path");
    try {
        in.listInt("the tube voltage in kV");
        FAIL() << "an empty line must not read as a number";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "TempFile.dat, line 2: expected the tube voltage in kV as a whole number, "
                               "found an empty line");
    }
    try {
        in.listFloat("keV per channel");
        FAIL();
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "TempFile.dat, line 3: expected keV per channel as a number, found \"abc\"");
    }
    try {
        in.line("the counts of channels 1 to 10");
        FAIL();
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "TempFile.dat, line 4: the file ends early, expected the counts of channels 1 to 10");
    }
    auto counts = LineReader::fromText("TempFile.dat", " 000001 00x002\r\n");
    EXPECT_THROW(counts.ints(10, 7, "counts"), Error);
}

TEST(LineReaderTest, MissingFileIsReportedAndNotCreated)
{
    auto path = std::filesystem::temp_directory_path() / "fixedio-no-such-file.dat";
    std::filesystem::remove(path);
    EXPECT_THROW(LineReader(path, "Com.txt"), Error);
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(FixedFieldWrite, IntegerFields)
{
    EXPECT_EQ(formatI(80, 3), " 80");
    EXPECT_EQ(formatI(120, 3), "120");
    EXPECT_EQ(formatI(1000, 3), "***");
    EXPECT_EQ(formatI(1234, 7), "   1234");
    EXPECT_EQ(formatI(10000000, 7), "*******");
    EXPECT_EQ(formatI(-5, 4), "  -5");
}

TEST(FixedFieldWrite, FixedPointHasNoLeadingZero)
{
    EXPECT_EQ(formatF(0.1f, 7, 2), "    .10");
    EXPECT_EQ(formatF(1.0, 7, 2), "   1.00");
    EXPECT_EQ(formatF(0.1f, 6, 3), "  .100");
    EXPECT_EQ(formatF(0.12f, 6, 3), "  .120");
    EXPECT_EQ(formatF(0.75, 7, 2), "    .75");
    EXPECT_EQ(formatF(0.0, 7, 2), "    .00");
    EXPECT_EQ(formatF(-0.5, 7, 2), "   -.50");
    EXPECT_EQ(formatF(10000.0, 7, 2), "*******");
    EXPECT_EQ(formatF(9999.994, 7, 2), "9999.99");
    EXPECT_EQ(formatF(9999.996, 7, 2), "*******");
}

TEST(FixedFieldWrite, RoundingUsesTheExactBinaryValueWithTiesUp)
{
    // Exact binary ties round up (away from zero), not to even.
    EXPECT_EQ(formatF(0.125, 7, 2), "    .13");
    EXPECT_EQ(formatF(0.375, 7, 2), "    .38");
    EXPECT_EQ(formatF(2.5, 4, 0), "  3.");
    // 1.005 is stored just below the tie and rounds down.
    EXPECT_EQ(formatF(1.005, 7, 2), "   1.00");
    // The float nearest 0.15 * 3 lies above .45 and rounds up.
    EXPECT_EQ(formatF(static_cast<float>(3 * 0.15f), 7, 2), "    .45");
    // A float channel energy: 0.3f*5 rounded to single.
    float e = static_cast<float>(5 * static_cast<double>(0.15f));
    EXPECT_EQ(formatF(e, 7, 2), "    .75");
}

TEST(FixedFieldWrite, ExponentFields)
{
    EXPECT_EQ(formatE(1.5, 9, 3), " .150E+01");
    EXPECT_EQ(formatE(0.001, 9, 3), " .100E-02");
    EXPECT_EQ(formatE(0.0, 9, 2), "  .00E+00");
    EXPECT_EQ(formatE(0.9996, 9, 3), " .100E+01");
    EXPECT_EQ(formatE(-2.25e-5, 12, 5), " -.22500E-04");
    EXPECT_EQ(formatE(1.0e-120, 10, 3), "  .100-119");
    EXPECT_EQ(formatE(123.0, 6, 3), "******");
    // What is written reads back to the same number with the field reader.
    for (double v : {0.0123, 4.567e-3, 0.5, 987.0, 1.0e-6}) {
        std::string f = formatE(v, 12, 5);
        EXPECT_NEAR(parseRealFieldDouble(f, 5), v, std::fabs(v) * 1e-5) << f;
    }
}

TEST(FixedFieldWrite, LinesEndInCrLf)
{
    LineWriter out;
    out.line("a");
    out.line("");
    EXPECT_EQ(out.content(), "a\r\n\r\n");
}

// formatF takes its digits from std::to_chars with a precision, which must
// give the text of printf's "%.*f" (the console programs' results depend on
// every digit): checked on record energies, counts and random magnitudes.
TEST(FixedFormatting, FastDecimalTextEqualsPrintf)
{
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> u(0.0, 1e6);
    char a[512], b[512];
    int differ = 0;
    for (int i = 0; i < 200000; ++i) {
        double v;
        switch (i % 4) {
        case 0: v = u(rng); break;
        case 1: v = static_cast<float>((i % 1024 + 1) * static_cast<float>((rng() % 3000 + 1) * 0.001)); break;
        case 2: v = std::ldexp(static_cast<double>(rng() >> 11), static_cast<int>(rng() % 80) - 60); break;
        default: v = std::round(u(rng) * 100) / 100; break;
        }
        const int p = static_cast<int>(rng() % 8) + 24;
        std::snprintf(a, sizeof a, "%.*f", p, v);
        const auto r = std::to_chars(b, b + sizeof b - 1, v, std::chars_format::fixed, p);
        *r.ptr = '\0';
        differ += std::strcmp(a, b) != 0;
    }
    EXPECT_EQ(differ, 0);
}

// formatF rounds most values by integer arithmetic on their binary form; the
// text must be what the exact decimal expansion rounded half away from zero
// gives (printf prints the exact expansion at any precision): channel
// energies, exact ties, values beside ties, huge and tiny magnitudes.
TEST(FixedFormatting, RoundingByIntegersEqualsTheExactExpansion)
{
    const auto reference = [](double v, int width, int decimals) {
        char buf[1600];
        std::snprintf(buf, sizeof buf, "%.*f", decimals + 400, std::fabs(v));
        std::string s(buf);
        const std::size_t dot = s.find('.');
        std::string kept = s.substr(0, dot) + s.substr(dot + 1, static_cast<std::size_t>(decimals));
        if (s[dot + 1 + static_cast<std::size_t>(decimals)] >= '5') {
            int i = static_cast<int>(kept.size()) - 1;
            for (; i >= 0 && kept[static_cast<std::size_t>(i)] == '9'; --i) kept[static_cast<std::size_t>(i)] = '0';
            if (i < 0) kept.insert(kept.begin(), '1');
            else ++kept[static_cast<std::size_t>(i)];
        }
        const std::size_t intLen = kept.size() - static_cast<std::size_t>(decimals);
        std::string ip = kept.substr(0, intLen);
        const std::string fp = kept.substr(intLen);
        ip.erase(0, std::min(ip.find_first_not_of('0'), ip.size()));
        const bool zero = ip.empty() && fp.find_first_not_of('0') == std::string::npos;
        std::string text = (v < 0 && !zero ? "-" : "") + ip + "." + fp;
        return static_cast<int>(text.size()) > width ? std::string(static_cast<std::size_t>(width), '*')
                                                     : std::string(static_cast<std::size_t>(width) - text.size(), ' ') + text;
    };
    std::mt19937_64 rng(2026);
    int differ = 0;
    for (int i = 0; i < 300000 && differ < 5; ++i) {
        const int decimals = static_cast<int>(rng() % 7);
        double v = 0;
        switch (i % 6) {
        case 0: v = static_cast<float>((i % 1024 + 1) * static_cast<double>(static_cast<float>((rng() % 5000 + 1) * 0.001))); break;
        case 1: v = std::ldexp(static_cast<double>(rng() >> 11), static_cast<int>(rng() % 200) - 120); break;
        case 2: v = (static_cast<double>(rng() % 2000000) + 0.5) / std::pow(10.0, decimals); break;  // near ties
        case 3: v = std::ldexp(static_cast<double>(rng() % 4096) * 2 + 1, -static_cast<int>(rng() % 12));  // exact ties and halves
            break;
        case 4: v = std::nextafter(std::ldexp(static_cast<double>(rng() % 100000) * 2 + 1, -3), (rng() & 1) ? 1e300 : -1e300); break;
        default: v = std::ldexp(static_cast<double>(rng() >> 11), static_cast<int>(rng() % 140) - 70); break;
        }
        if (rng() % 3 == 0) v = -v;
        const int width = 4 + static_cast<int>(rng() % 30);
        if (formatF(v, width, decimals) != reference(v, width, decimals)) {
            ADD_FAILURE() << std::hexfloat << v << " width " << width << " decimals " << decimals << ": "
                          << formatF(v, width, decimals) << " vs " << reference(v, width, decimals);
            ++differ;
        }
    }
    for (double v : {0.0, -0.0, 0.125, -0.125, 0.375, 2.5, 1e18, 1.8e19, 1e25, 5e-21, 1e-300, 0.005, 0.015})
        for (int decimals : {0, 1, 2, 3, 9})
            EXPECT_EQ(formatF(v, 40, decimals), reference(v, 40, decimals)) << v << " " << decimals;
}

// Plain decimal fields take a shortcut past from_chars; every value must
// still be the correctly rounded one from_chars finds, in both precisions,
// around the limits of the shortcut (2^24 and 2^53 digits, 10^10 and 10^22).
TEST(FixedFieldRead, PlainDecimalsReadExactlyAsCorrectRounding)
{
    std::mt19937_64 rng(12345);
    const std::vector<std::string> edges = {"16777216.", "16777217.", "1.6777217", "16777215.0", "167772160.",
                                            "0.16777217", "9999999.", "99999999.", "9007199254740993.",
                                            "0.0000000001", "1.0000000001", "123.4567891", "0.", ".5", "5.",
                                            "-0.0", "-.5", "0000000000000000000001.5", "3.4028235e38"};
    std::vector<std::string> cases = edges;
    for (int n = 0; n < 200000; ++n) {
        const int digits = 1 + static_cast<int>(rng() % 20);
        std::string s = rng() % 4 == 0 ? "-" : "";
        const int point = static_cast<int>(rng() % (digits + 1));
        for (int d = 0; d < digits; ++d) {
            if (d == point) s += '.';
            s += static_cast<char>('0' + rng() % 10);
        }
        if (point == digits) s += '.';
        cases.push_back(s);
    }
    for (const std::string& s : cases) {
        if (s.find('e') != std::string::npos) continue;
        float f = 0;
        double d = 0;
        std::from_chars(s.data(), s.data() + s.size(), f);
        std::from_chars(s.data(), s.data() + s.size(), d);
        const float gotF = parseRealFieldFloat(s, 3);
        const double gotD = parseRealFieldDouble(s, 3);
        ASSERT_EQ(std::memcmp(&gotF, &f, sizeof f), 0) << s << ": " << gotF << " instead of " << f;
        ASSERT_EQ(std::memcmp(&gotD, &d, sizeof d), 0) << s << ": " << gotD << " instead of " << d;
    }
}
