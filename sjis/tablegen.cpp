// sjis_tablegen: writes the decoding table of code page 932 (Shift_JIS as
// Windows writes it) as C++ source, taken from the C library's own CP932
// converter, so that the programs decode without a converter at run time
// (the console programs are linked statically) and still exactly as that
// converter does.
//
// The table holds, for each byte, the character it stands for alone, and for
// each byte that begins a two-byte character, the character of every second
// byte.  The decoder built on it reads a byte as a character of its own when
// it is one, else as the first of two bytes when the pair is one, else the
// byte does not convert.  The generator checks that the converter behaves by
// exactly this rule on every one- and two-byte input and stops otherwise.
//
// Usage: sjis_tablegen OUTPUT
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iconv.h>
#include <string>
#include <vector>

namespace {

constexpr unsigned kNone = 0xFFFF;

struct Outcome {
    std::size_t consumed = 0;        // bytes converted before the first failure
    std::vector<unsigned> chars;     // the characters they gave
};

// Decodes UTF-8 into code points; the converter's output is well formed.
std::vector<unsigned> codePoints(const std::string& utf8)
{
    std::vector<unsigned> out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        unsigned cp = 0;
        int extra = 0;
        if (b < 0x80) cp = b;
        else if (b >= 0xF0) { cp = b & 0x07u; extra = 3; }
        else if (b >= 0xE0) { cp = b & 0x0Fu; extra = 2; }
        else { cp = b & 0x1Fu; extra = 1; }
        for (int k = 1; k <= extra; ++k) cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3Fu);
        out.push_back(cp);
        i += 1 + extra;
    }
    return out;
}

Outcome convert(iconv_t cd, const unsigned char* bytes, std::size_t n)
{
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char in[4];
    for (std::size_t i = 0; i < n; ++i) in[i] = static_cast<char>(bytes[i]);
    char out[64];
    char* src = in;
    std::size_t srcLeft = n;
    char* dst = out;
    std::size_t dstLeft = sizeof out;
    iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    Outcome o;
    o.consumed = n - srcLeft;
    o.chars = codePoints(std::string(out, sizeof out - dstLeft));
    return o;
}

[[noreturn]] void fail(const char* what, unsigned a, unsigned b)
{
    std::fprintf(stderr, "sjis_tablegen: the CP932 converter %s (bytes %02X %02X); the table cannot describe it\n",
                 what, a, b);
    std::exit(1);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: sjis_tablegen OUTPUT\n");
        return 2;
    }
    iconv_t cd = iconv_open("UTF-8", "CP932");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        std::fprintf(stderr, "sjis_tablegen: the C library has no CP932 converter\n");
        return 1;
    }

    unsigned single[256];
    for (unsigned b = 0; b < 256; ++b) {
        const unsigned char in[1] = {static_cast<unsigned char>(b)};
        const Outcome o = convert(cd, in, 1);
        if (o.consumed == 1) {
            if (o.chars.size() != 1 || o.chars[0] >= kNone) fail("gives no single character", b, 0);
            single[b] = o.chars[0];
        } else {
            single[b] = kNone;
        }
    }

    // Rows of second bytes, for every byte that is no character alone.
    std::vector<int> rowOf(256, -1);
    std::vector<std::vector<unsigned>> rows;
    for (unsigned b = 0; b < 256; ++b) {
        std::vector<unsigned> row(256, kNone);
        bool any = false;
        for (unsigned t = 0; t < 256; ++t) {
            const unsigned char in[2] = {static_cast<unsigned char>(b), static_cast<unsigned char>(t)};
            const Outcome o = convert(cd, in, 2);
            if (single[b] != kNone) {
                // A character alone: the pair must read as it and then the
                // second byte on its own.
                const std::size_t expect = single[t] != kNone ? 2 : 1;
                if (o.consumed != expect || o.chars.size() != expect || o.chars[0] != single[b] ||
                    (expect == 2 && o.chars[1] != single[t]))
                    fail("reads a one-byte character differently before another byte", b, t);
                continue;
            }
            if (o.consumed == 2) {
                if (o.chars.size() != 1 || o.chars[0] >= kNone) fail("gives no single character for a pair", b, t);
                row[t] = o.chars[0];
                any = true;
            } else if (o.consumed != 0) {
                fail("converts half of a pair", b, t);
            }
        }
        if (any) {
            rowOf[b] = static_cast<int>(rows.size());
            rows.push_back(std::move(row));
        }
    }
    iconv_close(cd);

    std::FILE* f = std::fopen(argv[1], "w");
    if (!f) {
        std::perror(argv[1]);
        return 1;
    }
    std::fprintf(f, "// Generated by sjis_tablegen from the C library's CP932 converter.\n"
                    "// 0xFFFF: no character.\n");
    // Values, `perLine` to a line.
    const auto list = [f](const auto& values, unsigned perLine, const char* format) {
        for (std::size_t k = 0; k < values.size(); ++k) {
            std::fputs(k == 0 ? "\n    " : k % perLine == 0 ? ",\n    " : ", ", f);
            std::fprintf(f, format, values[k]);
        }
    };
    std::fprintf(f, "constexpr unsigned short kCp932Single[256] = {");
    list(std::vector<unsigned>(single, single + 256), 12, "0x%04X");
    std::fprintf(f, "};\n\nconstexpr short kCp932RowOf[256] = {");
    list(rowOf, 16, "%d");
    std::fprintf(f, "};\n\nconstexpr unsigned short kCp932Pairs[%zu][256] = {\n", rows.size());
    for (const auto& row : rows) {
        std::fprintf(f, "    {");
        list(row, 12, "0x%04X");
        std::fprintf(f, "},\n");
    }
    std::fprintf(f, "};\n");
    if (std::fclose(f) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
