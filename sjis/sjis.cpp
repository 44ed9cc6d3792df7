#include "sjis/sjis.h"

#include <algorithm>

// kCp932Single, kCp932RowOf, kCp932Pairs: generated at build time by
// sjis_tablegen from the C library's CP932 converter.
#include "cp932_decode.inc"

namespace sjis {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD in UTF-8
constexpr unsigned kNone = 0xFFFF;

bool isAscii(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

void appendUtf8(std::string& out, unsigned cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Decodes `in` into UTF-8: a byte that is a character alone, else a pair
// that is a character, else a byte that does not convert, for which
// onBad(out, byte) appends what stands for it.
template <typename OnBad>
std::string decode(std::string_view in, OnBad onBad)
{
    std::string out;
    out.reserve(in.size() * 3 / 2);
    for (std::size_t i = 0; i < in.size();) {
        const auto b = static_cast<unsigned char>(in[i]);
        if (const unsigned cp = kCp932Single[b]; cp != kNone) {
            appendUtf8(out, cp);
            ++i;
            continue;
        }
        if (const int row = kCp932RowOf[b]; row >= 0 && i + 1 < in.size()) {
            const unsigned cp = kCp932Pairs[row][static_cast<unsigned char>(in[i + 1])];
            if (cp != kNone) {
                appendUtf8(out, cp);
                i += 2;
                continue;
            }
        }
        onBad(out, in[i]);
        ++i;
    }
    return out;
}

} // namespace

bool isLeadByte(unsigned char byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

std::string cutField(std::string_view line, std::size_t n)
{
    std::string out(line.substr(0, std::min(n, line.size())));
    if (line.size() > n) {
        // Walk the characters from the start: only there is it known which
        // bytes are first halves of double-byte characters.
        std::size_t i = 0;
        while (i < out.size()) {
            if (isLeadByte(static_cast<unsigned char>(out[i]))) {
                if (i + 1 >= out.size()) {
                    out[i] = ' ';  // its second half was cut off
                    break;
                }
                i += 2;
            } else {
                ++i;
            }
        }
    }
    out.resize(n, ' ');
    return out;
}

std::string toUtf8ForPath(std::string_view text)
{
    // Plain ASCII is the same in both encodings.
    if (isAscii(text)) return std::string(text);
    return decode(text, [](std::string& o, char byte) { o += byte; });
}

std::string toUtf8ForDisplay(std::string_view text)
{
    if (isAscii(text)) return std::string(text);
    return decode(text, [](std::string& o, char) { o += kReplacement; });
}

} // namespace sjis
