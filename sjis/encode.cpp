// Encoding into code page 932 through the C library's converter.  Only the
// front end encodes; the console programs, linked statically, only decode
// (sjis.cpp) and do without a converter.
#include "sjis/sjis.h"

#include <algorithm>
#include <cerrno>
#include <iconv.h>
#include <stdexcept>

namespace sjis {
namespace {

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
