#include "language.h"

#include "exchange.h"
#include "texts.h"

#include "fixedio/files.h"
#include "fixedio/fixedio.h"

#include <cctype>

namespace tarvik {

namespace {
// One short line; anything larger is not this file.
constexpr std::size_t kMaxLanguageBytes = 256;

std::string_view trimmed(std::string_view s) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

std::string shown(const std::filesystem::path& file) {
    auto u8 = file.u8string();
    return std::string(u8.begin(), u8.end());
}
} // namespace

std::optional<Language> parseLanguage(std::string_view word) {
    std::string w(trimmed(word));
    for (char& c : w) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (w == "ja") return Language::Japanese;
    if (w == "en") return Language::English;
    return std::nullopt;
}

std::string_view languageCode(Language language) { return language == Language::English ? "en" : "ja"; }

LanguageSetting readLanguageSetting(const std::filesystem::path& file) {
    LanguageSetting out;
    std::string bytes;
    bool complete = false;
    const std::string name = shown(file);
    switch (fixedio::readFileHead(file, kMaxLanguageBytes, bytes, complete)) {
    case fixedio::ReadStatus::Ok:
        break;
    case fixedio::ReadStatus::Missing:
        return out;
    case fixedio::ReadStatus::NotAFile:
    case fixedio::ReadStatus::Special:
        out.problem = name + " is not a regular file";
        return out;
    case fixedio::ReadStatus::CannotOpen:
    case fixedio::ReadStatus::CannotRead:
        out.problem = name + " cannot be read";
        return out;
    }
    if (!complete) {
        out.problem = name + " is too large for a language setting";
        return out;
    }
    const std::string_view first = std::string_view(bytes).substr(0, bytes.find('\n'));
    out.language = parseLanguage(first);
    if (!out.language) out.problem = name + " names no language (expected \"ja\" or \"en\")";
    return out;
}

void writeLanguageSetting(const std::filesystem::path& file, Language language) {
    try {
        fixedio::writeFileAtomically(file, std::string(languageCode(language)) + "\r\n");
    } catch (const fixedio::Error&) {
        auto name = file.filename().u8string();
        throw ExchangeError(withArgs(translate("SettingsFile", "%1 を書き込めません"),
                                     {std::string(name.begin(), name.end())}));
    }
}

} // namespace tarvik
