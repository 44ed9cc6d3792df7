// The language of the front end's windows: Japanese unless the user chose
// English, in the settings window (kept in Language.txt of the working
// folder, beside UserName.txt, whose four lines stay as they are) or with
// `Tarvik_CdTe --lang en` for one run.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tarvik {

enum class Language { Japanese, English };

inline constexpr std::string_view kLanguageFile = "Language.txt";

// "ja" or "en" (letter case and surrounding blanks do not matter).
std::optional<Language> parseLanguage(std::string_view word);
// "ja" or "en".
std::string_view languageCode(Language language);

// The remembered choice.  A missing file is no choice and no problem; a
// file that cannot be read or does not name a language gives no choice and
// says why in `problem` (English, for the console: the windows start in
// the default language then).
struct LanguageSetting {
    std::optional<Language> language;
    std::string problem;
};
LanguageSetting readLanguageSetting(const std::filesystem::path& file);

// Writes the choice as one line ("en" CR LF), through a temporary file and a
// rename.  Throws ExchangeError (message for the user) when it cannot.
void writeLanguageSetting(const std::filesystem::path& file, Language language);

} // namespace tarvik
