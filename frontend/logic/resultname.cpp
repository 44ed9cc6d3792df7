#include "resultname.h"

#include <cctype>
#include <vector>

namespace tarvik {

bool hasForbiddenCharacter(std::string_view name) {
    // All eight are ASCII, so a byte test on UTF-8 text is exact.
    return name.find_first_of("\\/:*?<>|") != std::string_view::npos;
}

std::string dropLastCharacters(std::string_view fileName, std::size_t count) {
    std::vector<std::size_t> starts;  // byte offset of every character
    for (std::size_t i = 0; i < fileName.size(); ++i)
        if ((static_cast<unsigned char>(fileName[i]) & 0xC0) != 0x80) starts.push_back(i);
    if (starts.size() <= count) return {};
    return std::string(fileName.substr(0, starts[starts.size() - count]));
}

std::string resultPathFor(std::string_view name, std::string_view extension) {
    std::string p(kDataFolder);
    p += '\\';
    p += name;
    p += extension;
    return p;
}

std::filesystem::path localPath(const std::filesystem::path& workDir, std::string_view backslashPath) {
    std::filesystem::path p = workDir;
    std::size_t start = 0;
    while (true) {
        std::size_t sep = backslashPath.find('\\', start);
        std::string_view part = backslashPath.substr(start, sep == std::string_view::npos ? sep : sep - start);
        if (!part.empty()) p /= std::filesystem::path(std::u8string(part.begin(), part.end()));
        if (sep == std::string_view::npos) break;
        start = sep + 1;
    }
    return p;
}

namespace {

// Wildcard match on bytes; ASCII letters compared without case.  Non-ASCII
// bytes of UTF-8 names compare exactly, and "?" takes one whole character.
bool wildcardMatch(std::string_view name, std::string_view pat) {
    auto lower = [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); };
    auto charLen = [&](std::size_t i) {
        std::size_t n = 1;
        while (i + n < name.size() && (static_cast<unsigned char>(name[i + n]) & 0xC0) == 0x80) ++n;
        return n;
    };
    std::size_t n = 0, p = 0, starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pat.size() && pat[p] == '*') {
            starP = p++;
            starN = n;
        } else if (p < pat.size() && pat[p] == '?') {
            n += charLen(n);
            ++p;
        } else if (p < pat.size() && lower(pat[p]) == lower(name[n])) {
            ++n;
            ++p;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            starN += charLen(starN);
            n = starN;
        } else {
            return false;
        }
    }
    while (p < pat.size() && pat[p] == '*') ++p;
    return p == pat.size();
}

} // namespace

bool matchesPattern(std::string_view fileName, std::string_view patterns) {
    std::size_t start = 0;
    while (start <= patterns.size()) {
        std::size_t sep = patterns.find(';', start);
        std::string_view one = patterns.substr(start, sep == std::string_view::npos ? sep : sep - start);
        if (!one.empty() && wildcardMatch(fileName, one)) return true;
        if (sep == std::string_view::npos) break;
        start = sep + 1;
    }
    return false;
}

} // namespace tarvik
