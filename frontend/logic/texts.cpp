#include "texts.h"

#include <atomic>
#include <vector>

namespace tarvik {

namespace {
std::atomic<Translator> currentTranslator{nullptr};
}

void setTranslator(Translator translator) { currentTranslator.store(translator); }

std::string translate(const char* context, const char* source) {
    if (Translator t = currentTranslator.load()) {
        std::string s = t(context, source);
        if (!s.empty()) return s;
    }
    return source;
}

std::string withArgs(std::string_view pattern, std::initializer_list<std::string_view> args) {
    const std::vector<std::string_view> given(args);
    std::string out;
    out.reserve(pattern.size() + 32);
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c == '%' && i + 1 < pattern.size() && pattern[i + 1] >= '1' && pattern[i + 1] <= '9') {
            const auto n = static_cast<std::size_t>(pattern[i + 1] - '1');
            if (n < given.size()) {
                out += given[n];
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

} // namespace tarvik
