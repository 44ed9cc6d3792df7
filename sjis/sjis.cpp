#include "sjis/sjis.h"

#include <algorithm>
#include <cerrno>
#include <iconv.h>
#include <stdexcept>

namespace sjis {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

bool isAscii(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// One iconv conversion descriptor, closed again at scope end.
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter()
    {
        if (ok()) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts all of `in` into `out`.  At a byte sequence that does not
    // convert (an invalid one, or an incomplete one at the end) it calls
    // onBad(out, byte): true skips that one byte and goes on, false stops
    // and makes convert return false.
    template <typename OnBad>
    bool convert(std::string_view in, std::string& out, OnBad onBad)
    {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char* src = const_cast<char*>(in.data());
        std::size_t srcLeft = in.size();
        char buf[256];
        while (srcLeft > 0) {
            char* dst = buf;
            std::size_t dstLeft = sizeof buf;
            const std::size_t r = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
            out.append(buf, sizeof buf - dstLeft);
            if (r != static_cast<std::size_t>(-1) || errno == E2BIG) continue;
            if (!onBad(out, *src)) return false;
            ++src;
            --srcLeft;
            iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        }
        return true;
    }

private:
    iconv_t cd_;
};

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
    Converter c("UTF-8", "CP932");
    if (!c.ok()) return std::string(text);  // no converter: every byte is kept
    std::string out;
    c.convert(text, out, [](std::string& o, char byte) {
        o += byte;
        return true;
    });
    return out;
}

std::string toUtf8ForDisplay(std::string_view text)
{
    if (isAscii(text)) return std::string(text);
    Converter c("UTF-8", "CP932");
    if (!c.ok()) throw std::runtime_error("text conversion CP932 -> UTF-8 is not available");
    std::string out;
    c.convert(text, out, [](std::string& o, char) {
        o += kReplacement;
        return true;
    });
    return out;
}

std::optional<std::string> fromUtf8(std::string_view utf8)
{
    if (isAscii(utf8)) return std::string(utf8);
    Converter c("CP932", "UTF-8");
    if (!c.ok()) throw std::runtime_error("text conversion UTF-8 -> CP932 is not available");
    std::string out;
    if (!c.convert(utf8, out, [](std::string&, char) { return false; })) return std::nullopt;
    return out;
}

std::optional<std::size_t> encodedLength(std::string_view utf8)
{
    auto s = fromUtf8(utf8);
    if (!s) return std::nullopt;
    return s->size();
}

} // namespace sjis
