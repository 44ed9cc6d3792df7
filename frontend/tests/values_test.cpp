#include "exchange.h"
#include "resultname.h"
#include "sjis/sjis.h"
#include "values.h"

#include <cmath>
#include <random>

#include <gtest/gtest.h>

using namespace tarvik;

TEST(LeadingNumberTest, TakesTheNumberTheTextBeginsWith) {
    EXPECT_DOUBLE_EQ(leadingNumber("80"), 80);
    EXPECT_DOUBLE_EQ(leadingNumber(" 80 kV"), 80);
    EXPECT_DOUBLE_EQ(leadingNumber("1 5"), 15);  // blanks are removed from the whole text first
    EXPECT_DOUBLE_EQ(leadingNumber("0.2keV"), 0.2);
    EXPECT_DOUBLE_EQ(leadingNumber("\t-1.5e2x"), -150);
    EXPECT_DOUBLE_EQ(leadingNumber(".5"), 0.5);
    EXPECT_DOUBLE_EQ(leadingNumber("2E"), 2);  // an exponent needs digits
}

TEST(LeadingNumberTest, NoNumberGivesZero) {
    EXPECT_EQ(leadingNumber("kV"), 0);
    EXPECT_EQ(leadingNumber(""), 0);
    EXPECT_EQ(leadingNumber("0,2"), 0);  // a comma is no decimal separator
    EXPECT_EQ(leadingNumber("-"), 0);
    EXPECT_EQ(leadingNumber("１２"), 0);  // full-width digits are no digits
}

TEST(LeadingNumberTest, HugeExponentStaysFinite) {
    double v = leadingNumber("1E999");
    EXPECT_TRUE(std::isfinite(v));
    EXPECT_GT(v, 1e300);
}

TEST(NumberAsTextTest, ShortestDecimalForm) {
    EXPECT_EQ(numberAsText(0.2), "0.2");
    EXPECT_EQ(numberAsText(150.0), "150");
    EXPECT_EQ(numberAsText(0.25), "0.25");
    EXPECT_EQ(numberAsText(0.1 + 0.2), "0.3");  // 15 significant digits
    EXPECT_EQ(numberAsText(-3.5), "-3.5");
    EXPECT_EQ(numberAsText(0.0), "0");
    EXPECT_EQ(numberAsText(std::optional<double>{}), "");
    EXPECT_EQ(numberAsText(std::optional<double>{80.0}), "80");
}

TEST(FormatPatternTest, PatternsOfTheExchangeFiles) {
    EXPECT_EQ(formatPattern(80, "####"), "80");
    EXPECT_EQ(formatPattern(2.5, "####"), "3");
    EXPECT_EQ(formatPattern(0, "####"), "");
    EXPECT_EQ(formatPattern(0.4, "####"), "");
    EXPECT_EQ(formatPattern(0.2, "0.000"), "0.200");
    EXPECT_EQ(formatPattern(0.0004, "0.000"), "0.000");
    EXPECT_EQ(formatPattern(123, " 000000"), " 000123");
    EXPECT_EQ(formatPattern(1234567, " 000000"), " 1234567");
    EXPECT_EQ(formatPattern(90, "000"), "090");
    EXPECT_EQ(formatPattern(45.5, "000"), "046");
    EXPECT_EQ(formatPattern(1, "00.00"), "01.00");
    EXPECT_EQ(formatPattern(0.5, "00.00"), "00.50");
    EXPECT_EQ(formatPattern(7, "0000"), "0007");
    EXPECT_EQ(formatPattern(12345, "0000"), "12345");
}

TEST(FormatPatternTest, RoundsHalvesAwayFromZeroAsTheNumberReads) {
    EXPECT_EQ(formatPattern(1.005, "0.00"), "1.01");  // binary 1.00499... reads as 1.005
    EXPECT_EQ(formatPattern(0.125, "0.00"), "0.13");
    EXPECT_EQ(formatPattern(9.9996, "0.000"), "10.000");  // carry into a new digit
    EXPECT_EQ(formatPattern(-2.5, "####"), "-3");
    EXPECT_EQ(formatPattern(-0.2, "0.0"), "-0.2");
    EXPECT_EQ(formatPattern(-0.01, "0.0"), "0.0");  // no sign on a rounded zero
}

TEST(FormatPatternTest, LiteralsAndOptionalDigits) {
    EXPECT_EQ(formatPattern(0.75, "##0.00 keV"), "0.75 keV");
    EXPECT_EQ(formatPattern(123.456, "##0.00 keV"), "123.46 keV");
    EXPECT_EQ(formatPattern(1234.5, "###0"), "1235");
    EXPECT_EQ(formatPattern(0, "###0"), "0");
}

// The count block writes whole counts directly; every field must read as
// the pattern writes it, whatever the value.
TEST(FormatPatternTest, CountBlockWritesEveryValueAsThePatternDoes) {
    std::mt19937_64 rng(1024);
    const double special[] = {0.0, -0.0, 1.0, 999999.0, 1000000.0, 9999999.0, 123456789012.0, 999999999999999.0,
                              1e15, 1e15 + 2, 1e300, 0.5, 1.5, 2.5, 999999.5, 0.49999999999999994, -1.0, -0.4,
                              -0.5, 12.345, 1e-300, std::nan(""), INFINITY, -INFINITY};
    Counts counts{};
    for (int round = 0; round < 40; ++round) {
        for (std::size_t ch = 1; ch < counts.size(); ++ch) {
            const int kind = static_cast<int>(rng() % 4);
            if (kind == 0) counts[ch] = static_cast<double>(rng() % 1000000);
            else if (kind == 1) counts[ch] = static_cast<double>(rng() % 100000000000000000ULL);
            else if (kind == 2) counts[ch] = std::ldexp(static_cast<double>(rng() % (1ULL << 53)), -static_cast<int>(rng() % 60));
            else counts[ch] = special[rng() % std::size(special)];
        }
        std::string expected;
        for (int ch = 1; ch <= kChannels; ++ch) {
            expected += formatPattern(counts[static_cast<std::size_t>(ch)], " 000000");
            if (ch % 10 == 0 || ch == kChannels) expected += "\r\n";
        }
        ASSERT_EQ(countBlock(counts), expected) << "round " << round;
    }
}

TEST(ResultNameTest, ForbiddenCharacters) {
    for (const char* bad : {"a\\b", "a/b", "a:b", "a*b", "a?b", "a<b", "a>b", "a|b"})
        EXPECT_TRUE(hasForbiddenCharacter(bad)) << bad;
    for (const char* ok : {"a b", "a.b.c", "測定 1", "a\"b"})
        EXPECT_FALSE(hasForbiddenCharacter(ok)) << ok;
}

TEST(ResultNameTest, ProposedNameDropsCharactersNotBytes) {
    EXPECT_EQ(dropLastCharacters("meas80.csv", 4), "meas80");
    EXPECT_EQ(dropLastCharacters("管電圧80kV.CSV", 4), "管電圧80kV");
    EXPECT_EQ(dropLastCharacters(".csv", 4), "");
    EXPECT_EQ(dropLastCharacters("散乱.mca1", 5), "散乱");
    EXPECT_EQ(resultPathFor("散乱", ".mca2"), "Tarvik_data\\散乱.mca2");
}

TEST(ResultNameTest, PatternsIgnoreCase) {
    EXPECT_TRUE(matchesPattern("a.csv", kMeasuredPattern));
    EXPECT_TRUE(matchesPattern("A.CSV", kMeasuredPattern));
    EXPECT_FALSE(matchesPattern("a.csv1", kMeasuredPattern));
    EXPECT_FALSE(matchesPattern("a.mca2", kStrippedPattern));
    EXPECT_TRUE(matchesPattern("測定.Mca1", kStrippedPattern));
    for (const char* f : {"x.mca", "x.MCA1", "x.mca2", "x.csv", "x.csv1", "x.csv2"})
        EXPECT_TRUE(matchesPattern(f, kDisplayPattern)) << f;
    EXPECT_FALSE(matchesPattern("x.txt", kDisplayPattern));
}

TEST(SjisTest, RoundTripAndUnrepresentable) {
    auto s = sjis::fromUtf8("テスト");
    ASSERT_TRUE(s);
    EXPECT_EQ(*s, "\x83\x65\x83\x58\x83\x67");
    EXPECT_EQ(sjis::toUtf8ForDisplay(*s), "テスト");
    EXPECT_EQ(sjis::encodedLength("ab漢字"), 6u);
    EXPECT_FALSE(sjis::fromUtf8("\xF0\x9F\x98\x80"));  // an emoji has no Shift_JIS code
    EXPECT_EQ(sjis::toUtf8ForDisplay("a\x83"), "a\xEF\xBF\xBD");  // cut double-byte character
}
