#include "sjis.h"

namespace fixedio {

std::filesystem::path exchangePath(std::string_view sjisPath)
{
    std::size_t start = 0;
    std::size_t i = 0;
    std::string converted;
    while (i < sjisPath.size()) {
        unsigned char c = static_cast<unsigned char>(sjisPath[i]);
        if (sjis::isLeadByte(c) && i + 1 < sjisPath.size()) {
            i += 2;
        } else if (c == '\\') {
            converted += sjis::toUtf8ForPath(sjisPath.substr(start, i - start));
            converted += std::filesystem::path::preferred_separator;
            ++i;
            start = i;
        } else {
            ++i;
        }
    }
    converted += sjis::toUtf8ForPath(sjisPath.substr(start));
    return std::filesystem::path(converted);
}

} // namespace fixedio
