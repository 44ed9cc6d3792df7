#include "sjis.h"

#include <algorithm>
#include <cerrno>
#include <iconv.h>

namespace fixedio {

bool isSjisLeadByte(unsigned char byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

std::string sjisTextField(std::string_view line, std::size_t n)
{
    std::string out(line.substr(0, std::min(n, line.size())));
    // Only a line that goes on beyond byte n is cut; a shorter one passes
    // byte for byte, even when it ends in a lone first half (a header line
    // cut at 60 bytes elsewhere may do so).
    if (line.size() > n) {
        // Walk the characters from the start: only there is it known which
        // bytes are first halves of double-byte characters.
        std::size_t i = 0;
        while (i < out.size()) {
            if (isSjisLeadByte(static_cast<unsigned char>(out[i]))) {
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

std::string sjisToUtf8(std::string_view text)
{
    // Plain ASCII is the same in both encodings.
    if (std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return std::string(text);
    iconv_t cd = iconv_open("UTF-8", "CP932");
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(text);
    std::string out;
    std::string in(text);
    char* inPtr = in.data();
    std::size_t inLeft = in.size();
    char buf[256];
    while (inLeft > 0) {
        char* outPtr = buf;
        std::size_t outLeft = sizeof buf;
        std::size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        out.append(buf, static_cast<std::size_t>(outPtr - buf));
        if (rc == static_cast<std::size_t>(-1)) {
            if (errno == E2BIG) continue;
            // A byte that does not convert is kept as it is.
            out += *inPtr;
            ++inPtr;
            --inLeft;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    iconv_close(cd);
    return out;
}

std::filesystem::path exchangePath(std::string_view sjisPath)
{
    std::string mapped;
    mapped.reserve(sjisPath.size());
    std::size_t start = 0;
    std::size_t i = 0;
    std::string converted;
    while (i < sjisPath.size()) {
        unsigned char c = static_cast<unsigned char>(sjisPath[i]);
        if (isSjisLeadByte(c) && i + 1 < sjisPath.size()) {
            i += 2;
        } else if (c == '\\') {
            converted += sjisToUtf8(sjisPath.substr(start, i - start));
            converted += std::filesystem::path::preferred_separator;
            ++i;
            start = i;
        } else {
            ++i;
        }
    }
    converted += sjisToUtf8(sjisPath.substr(start));
    return std::filesystem::path(converted);
}

} // namespace fixedio
