// The texts of the rules in another language, and the remembered language
// choice: a setting that cannot be read must never stop the start.
#include "dialogs.h"
#include "exchange.h"
#include "language.h"
#include "testutil.h"
#include "texts.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace tarvik;
using namespace tarvik::test;

namespace {

// A translator that knows two texts of the dialogs and nothing else.
std::string fewTexts(const char* context, const char* source) {
    const std::string c = context, s = source;
    if (c == "DialogChecks" && s == " 名称を入力して下さい ") return "Please enter the names";
    if (c == "DialogChecks" && s == "チャネル %1 のカウント %2 が 0 ～ 999999 の範囲外のため処理できません")
        return "count %2 of channel %1 is out of range";
    return {};
}

struct TranslatorInstalled {
    explicit TranslatorInstalled(Translator t) { setTranslator(t); }
    ~TranslatorInstalled() { setTranslator(nullptr); }
};

} // namespace

TEST(TextsTest, PlaceholdersAreFilledInAnyOrderAndOthersKept) {
    EXPECT_EQ(withArgs("チャネル %1 のカウント %2 が", {"12", "1e+06"}), "チャネル 12 のカウント 1e+06 が");
    EXPECT_EQ(withArgs("%2 before %1", {"a", "b"}), "b before a");
    // No argument for %3, a % that is no placeholder, an argument holding %1.
    EXPECT_EQ(withArgs("%1 %3 100% %", {"%2"}), "%2 %3 100% %");
}

TEST(TextsTest, WithoutATranslatorEveryTextIsItsJapaneseSource) {
    auto n = checkSettingsEntries("", "a", "b");
    ASSERT_TRUE(n);
    EXPECT_EQ(n->text, " 名称を入力して下さい ");

    TranslatorInstalled english(&fewTexts);
    n = checkSettingsEntries("", "a", "b");
    ASSERT_TRUE(n);
    EXPECT_EQ(n->text, "Please enter the names");
    // A text the translator does not know stays Japanese rather than empty.
    StripEntries e;
    n = checkStripValues(e);
    ASSERT_TRUE(n);
    EXPECT_EQ(n->text, "ファイルを選択して下さい");
}

TEST(LanguageSettingTest, WordsAndFiles) {
    EXPECT_EQ(parseLanguage("en"), Language::English);
    EXPECT_EQ(parseLanguage(" EN\r\n"), Language::English);
    EXPECT_EQ(parseLanguage("ja"), Language::Japanese);
    EXPECT_FALSE(parseLanguage("english"));
    EXPECT_FALSE(parseLanguage(""));

    ScratchFolder dir;
    const auto file = dir.path() / std::string(kLanguageFile);
    // No file: no choice and nothing to say (the first start).
    LanguageSetting s = readLanguageSetting(file);
    EXPECT_FALSE(s.language);
    EXPECT_EQ(s.problem, "");

    writeLanguageSetting(file, Language::English);
    EXPECT_EQ(readBytes(file), "en\r\n");
    EXPECT_EQ(readLanguageSetting(file).language, Language::English);
    writeLanguageSetting(file, Language::Japanese);
    EXPECT_EQ(readLanguageSetting(file).language, Language::Japanese);
}

TEST(LanguageSettingTest, UnreadableSettingsGiveNoChoiceAndSayWhy) {
    ScratchFolder dir;
    const auto file = dir.path() / std::string(kLanguageFile);
    const std::string cases[] = {"", "fr\r\n", "\xff\xfe", std::string(4096, 'e')};
    for (const std::string& bytes : cases) {
        writeBytes(file, bytes);
        const LanguageSetting s = readLanguageSetting(file);
        EXPECT_FALSE(s.language) << bytes.size();
        EXPECT_NE(s.problem.find(std::string(kLanguageFile)), std::string::npos) << s.problem;
    }
    std::filesystem::remove(file);
    std::filesystem::create_directory(file);
    EXPECT_FALSE(readLanguageSetting(file).language);
    EXPECT_NE(readLanguageSetting(file).problem, "");
    // A choice that cannot be written is reported, not lost silently.
    EXPECT_THROW(writeLanguageSetting(dir.path() / "missing" / "Language.txt", Language::English), ExchangeError);
}
