// The two decoding rules on bytes that do not convert, the encoder, and
// both on the parts of code page 932 that differ from plain JIS.
#include "sjis/sjis.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <iconv.h>
#include <random>
#include <set>
#include <string>

namespace {

const std::string kFffd = "\xEF\xBF\xBD";  // U+FFFD

std::string bytes2(int lead, int trail) { return {static_cast<char>(lead), static_cast<char>(trail)}; }

// Whether the text is well-formed UTF-8 (shortest forms, no surrogates).
bool isValidUtf8(const std::string& s)
{
    std::size_t i = 0;
    while (i < s.size()) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        std::size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        if (n == 2 && c < 0xC2) return false;
        for (std::size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        if (n == 3) {
            const unsigned char d = static_cast<unsigned char>(s[i + 1]);
            if ((c == 0xE0 && d < 0xA0) || (c == 0xED && d >= 0xA0)) return false;
        }
        i += n;
    }
    return true;
}

// The C library's CP932 converter, run over the whole text, with the two
// rules for a byte that does not convert: the decoding table must give
// exactly what it gives.
std::string converterDecode(iconv_t cd, const std::string& in, bool keepBadBytes)
{
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    std::string out;
    char* src = const_cast<char*>(in.data());
    std::size_t left = in.size();
    char buf[256];
    while (left > 0) {
        char* dst = buf;
        std::size_t room = sizeof buf;
        const std::size_t r = iconv(cd, &src, &left, &dst, &room);
        out.append(buf, sizeof buf - room);
        if (r != static_cast<std::size_t>(-1) || errno == E2BIG) continue;
        if (keepBadBytes)
            out += *src;
        else
            out += kFffd;
        ++src;
        --left;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    return out;
}

} // namespace

// The table is made from the converter when the project is built; these
// compare the decoder built on it with the converter itself.
TEST(SjisDecodingTable, AgreesWithTheConverterOnEveryOneAndTwoByteText)
{
    iconv_t cd = iconv_open("UTF-8", "CP932");
    ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
    int differ = 0;
    for (int a = 0; a < 256; ++a) {
        const std::string one(1, static_cast<char>(a));
        differ += sjis::toUtf8ForPath(one) != converterDecode(cd, one, true);
        differ += sjis::toUtf8ForDisplay(one) != converterDecode(cd, one, false);
        for (int b = 0; b < 256; ++b) {
            const std::string two = bytes2(a, b);
            const std::string path = sjis::toUtf8ForPath(two);
            const std::string display = sjis::toUtf8ForDisplay(two);
            if (path != converterDecode(cd, two, true) || display != converterDecode(cd, two, false)) {
                ADD_FAILURE() << "bytes " << a << ' ' << b;
                if (++differ > 10) break;
            }
        }
    }
    iconv_close(cd);
    EXPECT_EQ(differ, 0);
}

TEST(SjisDecodingTable, AgreesWithTheConverterOnRandomTexts)
{
    iconv_t cd = iconv_open("UTF-8", "CP932");
    ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
    // Mostly first and second halves of double-byte characters, so that
    // characters, broken pairs and lone halves follow each other closely.
    std::mt19937 rng(932);
    const std::string pool = "\x81\x82\x83\x87\x88\x9F\xE0\xEA\xED\xF0\xFA\xFC\x40\x7F\x80\x9E\xA0"
                             "\xA1\xDF\xFC\xFD\xFF\x5C\x7E aZ";
    int differ = 0;
    for (int n = 0; n < 100000 && differ < 10; ++n) {
        std::string text(rng() % 12, ' ');
        for (char& c : text) c = rng() % 3 ? pool[rng() % pool.size()] : static_cast<char>(rng() % 256);
        if (sjis::toUtf8ForPath(text) != converterDecode(cd, text, true) ||
            sjis::toUtf8ForDisplay(text) != converterDecode(cd, text, false)) {
            ADD_FAILURE() << "text of " << text.size() << " bytes, case " << n;
            ++differ;
        }
    }
    iconv_close(cd);
}

// Damaged input: the path rule keeps the bytes, the display rule marks them.
TEST(SjisBadBytes, LoneFirstHalfAtTheEnd)
{
    EXPECT_EQ(sjis::toUtf8ForPath("ab\x95"), "ab\x95");
    EXPECT_EQ(sjis::toUtf8ForDisplay("ab\x95"), "ab" + kFffd);
    // Directly after a valid double-byte character ("表" 0x95 0x5C).
    EXPECT_EQ(sjis::toUtf8ForPath("\x95\x5C\x95"), "\xE8\xA1\xA8\x95");
    EXPECT_EQ(sjis::toUtf8ForDisplay("\x95\x5C\x95"), "\xE8\xA1\xA8" + kFffd);
}

TEST(SjisBadBytes, InvalidSecondByteCostsOnlyTheFirstByte)
{
    // 0x81 followed by a blank or a control byte is no character: only the
    // 0x81 is bad, the byte after it is read again as a character of its own.
    EXPECT_EQ(sjis::toUtf8ForPath("x\x81 y"), "x\x81 y");
    EXPECT_EQ(sjis::toUtf8ForDisplay("x\x81 y"), "x" + kFffd + " y");
    EXPECT_EQ(sjis::toUtf8ForDisplay("\x81\x0D\x0A"), kFffd + "\r\n");
    // 0x7F is never a second byte: the DEL after the bad 0x81 stays, and
    // the valid pair after it ("表" 0x95 0x5C) is read as such.
    EXPECT_EQ(sjis::toUtf8ForDisplay("\x81\x7F\x95\x5C"), kFffd + "\x7F\xE8\xA1\xA8");
    EXPECT_EQ(sjis::toUtf8ForPath("\x81\x7F\x95\x5C"), "\x81\x7F\xE8\xA1\xA8");
}

TEST(SjisBadBytes, BytesThatAreNeverCharacters)
{
    for (int b : {0x80, 0xA0, 0xFD, 0xFE, 0xFF}) {
        const std::string one(1, static_cast<char>(b));
        EXPECT_EQ(sjis::toUtf8ForPath("a" + one + "b"), "a" + one + "b") << b;
        EXPECT_EQ(sjis::toUtf8ForDisplay("a" + one + "b"), "a" + kFffd + "b") << b;
    }
}

TEST(SjisBadBytes, DisplayRuleAlwaysGivesValidUtf8AndPathRuleKeepsEveryByte)
{
    // Every single byte and every pair of bytes.
    for (int a = 0; a < 256; ++a) {
        const std::string one(1, static_cast<char>(a));
        EXPECT_TRUE(isValidUtf8(sjis::toUtf8ForDisplay(one))) << a;
        for (int b = 0; b < 256; ++b) {
            const std::string two = bytes2(a, b);
            const std::string shown = sjis::toUtf8ForDisplay(two);
            ASSERT_TRUE(isValidUtf8(shown)) << a << ' ' << b;
            // The path rule's text is the display rule's with each U+FFFD
            // replaced by the raw byte it stands for.
            const std::string kept = sjis::toUtf8ForPath(two);
            std::size_t i = 0, j = 0;
            while (i < shown.size() && j < kept.size()) {
                if (shown.compare(i, 3, kFffd) == 0) {
                    const unsigned char raw = static_cast<unsigned char>(kept[j]);
                    ASSERT_TRUE(raw >= 0x80 && (raw == a || raw == b)) << a << ' ' << b;
                    i += 3;
                } else {
                    ASSERT_EQ(shown[i], kept[j]) << a << ' ' << b;
                    ++i;
                }
                ++j;
            }
            ASSERT_TRUE(i == shown.size() && j == kept.size()) << a << ' ' << b;
        }
    }
}

// The parts of code page 932 beyond plain JIS X 0208.
TEST(SjisCodePage932, HalfWidthKatakanaAreSingleBytes)
{
    // "ｱｲｳ" 0xB1 0xB2 0xB3 -> U+FF71..U+FF73; 0xDF is the last one (U+FF9F).
    EXPECT_EQ(sjis::toUtf8ForDisplay("\xB1\xB2\xB3"), "\xEF\xBD\xB1\xEF\xBD\xB2\xEF\xBD\xB3");
    EXPECT_EQ(sjis::toUtf8ForPath("\xDF"), "\xEF\xBE\x9F");
    EXPECT_EQ(sjis::fromUtf8("\xEF\xBD\xB1\xEF\xBD\xB2"), "\xB1\xB2");
    EXPECT_EQ(sjis::encodedLength("\xEF\xBD\xB1\xEF\xBD\xB2\xEF\xBD\xB3"), 3u);
    EXPECT_FALSE(sjis::isLeadByte(0xB1));
    EXPECT_FALSE(sjis::isLeadByte(0xDF));
    // Cutting after a katakana keeps it; the next character is not a half.
    EXPECT_EQ(sjis::cutField("\xB1\x95\x5C", 1), "\xB1");
    EXPECT_EQ(sjis::cutField("\xB1\x95\x5C", 2), "\xB1 ");
}

TEST(SjisCodePage932, UserDefinedAreaMapsToPrivateUseAndBack)
{
    // 0xF040 is the first user-defined character (U+E000), 0xF9FC the last (U+E757).
    EXPECT_EQ(sjis::toUtf8ForDisplay("\xF0\x40"), "\xEE\x80\x80");
    EXPECT_EQ(sjis::toUtf8ForDisplay("\xF9\xFC"), "\xEE\x9D\x97");
    for (int lead = 0xF0; lead <= 0xF9; ++lead)
        for (int trail : {0x40, 0x7E, 0x80, 0xFC}) {
            const std::string s = bytes2(lead, trail);
            EXPECT_EQ(sjis::fromUtf8(sjis::toUtf8ForDisplay(s)), s) << lead << ' ' << trail;
        }
    // A user-defined character is two bytes for the cut as well.
    EXPECT_EQ(sjis::cutField("a\xF0\x40", 2), "a ");
}

TEST(SjisCodePage932, NecSpecialCharacters)
{
    // Row 13: circled digits and units, 0x8740 "①", 0x875F "㍉".
    EXPECT_EQ(sjis::toUtf8ForDisplay("\x87\x40"), "\xE2\x91\xA0");
    EXPECT_EQ(sjis::toUtf8ForDisplay("\x87\x5F"), "\xE3\x8D\x89");
    EXPECT_EQ(sjis::fromUtf8("\xE2\x91\xA0"), "\x87\x40");
    EXPECT_EQ(sjis::encodedLength("\xE2\x91\xA0\xE2\x91\xA1"), 4u);
    // "ⅰ" has an NEC-selected code (0xEEEF) and an IBM one (0xFA40): both
    // read as the same character, which is written with the IBM code.
    EXPECT_EQ(sjis::toUtf8ForDisplay("\xEE\xEF"), "\xE2\x85\xB0");
    EXPECT_EQ(sjis::toUtf8ForDisplay("\xFA\x40"), "\xE2\x85\xB0");
    EXPECT_EQ(sjis::fromUtf8("\xE2\x85\xB0"), "\xFA\x40");
}

TEST(SjisCodePage932, EveryCharacterSurvivesARoundTrip)
{
    // Text read from a file and written back is the same text; the bytes
    // change only for the duplicate codes of the NEC and IBM extensions.
    const std::set<int> duplicateRows = {0x87, 0xED, 0xEE, 0xFA, 0xFB, 0xFC};
    int characters = 0;
    int recoded = 0;
    for (int lead = 0x81; lead <= 0xFC; ++lead) {
        if (!sjis::isLeadByte(static_cast<unsigned char>(lead))) continue;
        for (int trail = 0x40; trail <= 0xFC; ++trail) {
            const std::string s = bytes2(lead, trail);
            const std::string text = sjis::toUtf8ForDisplay(s);
            if (text.find(kFffd) != std::string::npos) continue;
            ++characters;
            const auto back = sjis::fromUtf8(text);
            ASSERT_TRUE(back) << lead << ' ' << trail;
            ASSERT_EQ(back->size(), 2u);
            if (*back != s) {
                ++recoded;
                EXPECT_TRUE(duplicateRows.count(lead)) << lead << ' ' << trail;
                EXPECT_EQ(sjis::toUtf8ForDisplay(*back), text);
            }
        }
    }
    // JIS X 0208 alone has 6879 characters; the user-defined area adds 1880.
    EXPECT_GT(characters, 6879 + 1880);
    EXPECT_LT(recoded, characters / 10);
}

TEST(SjisReplacementCharacter, IsNeverWrittenBack)
{
    // U+FFFD has no code in Shift_JIS: a text that was shown damaged cannot
    // be written as if it were whole.
    EXPECT_FALSE(sjis::fromUtf8(kFffd));
    EXPECT_FALSE(sjis::encodedLength("ab" + kFffd));
    EXPECT_FALSE(sjis::fromUtf8(sjis::toUtf8ForDisplay("memo \x81 1")));
    // What the path rule kept is not UTF-8 either, so it is refused too.
    EXPECT_FALSE(sjis::fromUtf8(sjis::toUtf8ForPath("memo \x81 1")));
    // An undamaged text goes back byte for byte.
    const std::string memo = "\x83\x81\x83\x82 80kV \xB1";  // "メモ 80kV ｱ"
    EXPECT_EQ(sjis::fromUtf8(sjis::toUtf8ForDisplay(memo)), memo);
    EXPECT_EQ(sjis::fromUtf8(sjis::toUtf8ForPath(memo)), memo);
}
