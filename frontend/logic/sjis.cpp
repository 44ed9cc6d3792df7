#include "sjis.h"

#include <cerrno>
#include <iconv.h>
#include <stdexcept>
#include <vector>

namespace tarvik {
namespace {

// One iconv conversion descriptor, closed again at scope end.
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
        if (cd_ == reinterpret_cast<iconv_t>(-1))
            throw std::runtime_error(std::string("text conversion ") + from + " -> " + to +
                                     " is not available");
    }
    ~Converter() { iconv_close(cd_); }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Converts as much as possible.  On a byte sequence that does not
    // convert, calls onBad(out) and skips `skip` input bytes; returns false
    // when onBad says to stop.
    template <typename OnBad>
    bool convert(std::string_view in, std::string& out, OnBad onBad) {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char* src = const_cast<char*>(in.data());
        std::size_t srcLeft = in.size();
        std::vector<char> buf(in.size() * 4 + 16);
        while (srcLeft > 0) {
            char* dst = buf.data();
            std::size_t dstLeft = buf.size();
            std::size_t r = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
            out.append(buf.data(), buf.size() - dstLeft);
            if (r != static_cast<std::size_t>(-1)) continue;
            if (errno == E2BIG) continue;
            // EILSEQ or EINVAL (an incomplete sequence at the end)
            if (!onBad(out)) return false;
            std::size_t skip = 1;
            src += skip;
            srcLeft -= skip;
        }
        return true;
    }

private:
    iconv_t cd_;
};

} // namespace

std::optional<std::string> toSjis(std::string_view utf8) {
    Converter c("CP932", "UTF-8");
    std::string out;
    if (!c.convert(utf8, out, [](std::string&) { return false; })) return std::nullopt;
    return out;
}

std::string fromSjis(std::string_view sjis) {
    Converter c("UTF-8", "CP932");
    std::string out;
    c.convert(sjis, out, [](std::string& o) {
        o += "\xEF\xBF\xBD";
        return true;
    });
    return out;
}

std::optional<std::size_t> sjisLength(std::string_view utf8) {
    auto s = toSjis(utf8);
    if (!s) return std::nullopt;
    return s->size();
}

} // namespace tarvik
