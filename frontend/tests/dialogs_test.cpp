#include "exchange.h"
#include "testutil.h"
#include "values.h"

#include <gtest/gtest.h>

using namespace tarvik;
using namespace tarvik::test;

namespace {

// Entries of a stripping run that passes every check.
StripEntries goodStrip(const ScratchFolder& dir) {
    StripEntries e;
    e.folder = dir.dataUtf8();
    e.selectedFile = "sample.csv";
    e.text3 = "80";
    e.text4 = "sample";
    e.text5 = "0.1";
    e.text6 = "32";
    return e;
}

int countOf(int ch) { return ch == 1024 ? 999999 : ch * 7; }

} // namespace

TEST(StripChecksTest, FiveChecksInTheirOrder) {
    ScratchFolder dir;
    StripEntries e;  // everything empty: each fix reveals the next message
    std::vector<std::string> seen;
    auto next = [&] {
        auto n = checkStripEntries(e, dir.path());
        if (!n) return false;
        EXPECT_EQ(n->kind, BoxKind::Warning);
        seen.push_back(n->text);
        return true;
    };
    ASSERT_TRUE(next());
    e.selectedFile = "sample.csv";
    ASSERT_TRUE(next());
    e.text4 = "a|b";
    ASSERT_TRUE(next());
    e.text3 = " ";  // a blank is content
    ASSERT_TRUE(next());
    e.text6 = "32";
    ASSERT_TRUE(next());
    EXPECT_EQ(seen, (std::vector<std::string>{"ファイルを選択して下さい", "ファイル名が入力されていません",
                                              "Ｘ線管電圧が入力されていません",
                                              "スペクトルデータの先頭行が入力されていません",
                                              "ファイル名に禁止文字が含まれています !"}));
}

TEST(StripChecksTest, RefusesValuesTheStrippingProgramCannotUse) {
    ScratchFolder dir;
    auto messageFor = [&](auto change) {
        StripEntries e = goodStrip(dir);
        change(e);
        auto n = checkStripEntries(e, dir.path());
        return n ? n->text : std::string();
    };
    EXPECT_EQ(messageFor([](StripEntries&) {}), "");
    EXPECT_NE(messageFor([](StripEntries& e) { e.text3 = "kV"; }).find("Ｘ線管電圧には"), std::string::npos);
    EXPECT_NE(messageFor([](StripEntries& e) { e.text3 = "0.4"; }).find("Ｘ線管電圧には"), std::string::npos);
    EXPECT_EQ(messageFor([](StripEntries& e) { e.text3 = "0.5"; }), "");
    EXPECT_NE(messageFor([](StripEntries& e) { e.text3 = "1000"; }).find("Ｘ線管電圧には"), std::string::npos);
    EXPECT_NE(messageFor([](StripEntries& e) { e.text5 = ""; }).find("エネルギー幅"), std::string::npos);
    EXPECT_NE(messageFor([](StripEntries& e) { e.text5 = "-0.1"; }).find("エネルギー幅"), std::string::npos);
    EXPECT_NE(messageFor([](StripEntries& e) { e.text5 = "0.0004"; }).find("エネルギー幅"), std::string::npos);
    EXPECT_NE(messageFor([](StripEntries& e) { e.text6 = "17"; }).find("18 以上"), std::string::npos);
    EXPECT_EQ(messageFor([](StripEntries& e) { e.text6 = "18"; }), "");
    // "Tarvik_data\" + 43 bytes + ".mca1" is exactly 60 bytes
    EXPECT_EQ(messageFor([](StripEntries& e) { e.text4 = std::string(43, 'a'); }), "");
    EXPECT_NE(messageFor([](StripEntries& e) { e.text4 = std::string(44, 'a'); }).find("長すぎます"),
              std::string::npos);
    std::string kanji;
    for (int i = 0; i < 22; ++i) kanji += "測";  // 44 bytes in Shift_JIS
    EXPECT_NE(messageFor([&](StripEntries& e) { e.text4 = kanji; }).find("長すぎます"), std::string::npos);
    EXPECT_NE(messageFor([](StripEntries& e) { e.text1 = "\xF0\x9F\x98\x80"; }).find("コメント"),
              std::string::npos);
    std::filesystem::remove(dir.data());
    EXPECT_NE(messageFor([](StripEntries&) {}).find("Tarvik_data"), std::string::npos);
}

TEST(StripGoTest, WritesComTxtAndTempFileByteForByte) {
    ScratchFolder dir;
    writeBytes(dir.data() / "sample.csv", measuredFile(31, countOf));
    AppState state;
    StripEntries e = goodStrip(dir);
    e.text1 = "コメント";
    e.text3 = "79.5";
    e.text5 = " 0.1 keV";
    ScriptedUser user;
    RecordingLauncher launcher;
    ASSERT_EQ(stripGo(state, e, dir.path(), user, launcher), GoOutcome::Started) << user.lastText();
    EXPECT_TRUE(user.told.empty());
    EXPECT_TRUE(user.asked.empty());
    ASSERT_EQ(launcher.started.size(), 1u);
    EXPECT_EQ(launcher.started[0].program, "tvstrip");

    auto com = splitCrLf(readBytes(dir.path() / "Com.txt"));
    ASSERT_EQ(com.size(), 31u);
    EXPECT_EQ(com[30], "Header line 31");

    auto t = splitCrLf(readBytes(dir.path() / "TempFile.dat"));
    ASSERT_EQ(t.size(), 108u);
    EXPECT_EQ(t[0], "Tarvik_data\\sample.mca1");
    EXPECT_EQ(t[1], "\x83\x52\x83\x81\x83\x93\x83\x67");  // "コメント" in Shift_JIS
    EXPECT_EQ(t[2], "-- No comment --");
    EXPECT_EQ(t[3], "80");
    EXPECT_EQ(t[4], "0.100");
    EXPECT_EQ(t[5], " 000007 000014 000021 000028 000035 000042 000049 000056 000063 000070");
    for (int r = 6; r <= 106; ++r) EXPECT_EQ(t[static_cast<std::size_t>(r)].size(), 70u);
    EXPECT_EQ(t[107], " 007147 007154 007161 999999");
    EXPECT_EQ(state.commentLine2, "-- No comment --");
    EXPECT_EQ(state.resultPath, "Tarvik_data\\sample.mca1");
    EXPECT_DOUBLE_EQ(valueOr0(state.tubeVoltage), 79.5);
}

TEST(StripGoTest, OverwriteQuestion) {
    ScratchFolder dir;
    writeBytes(dir.data() / "sample.csv", measuredFile(31, countOf));
    writeBytes(dir.data() / "sample.mca1", "old result");
    AppState state;
    ScriptedUser user;
    RecordingLauncher launcher;
    user.answer = false;
    EXPECT_EQ(stripGo(state, goodStrip(dir), dir.path(), user, launcher), GoOutcome::Declined);
    ASSERT_EQ(user.asked.size(), 1u);
    EXPECT_EQ(user.asked[0].text, "同名のファイルが既に存在します。上書きしますか？");
    EXPECT_EQ(user.asked[0].kind, BoxKind::Question);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "TempFile.dat"));
    EXPECT_TRUE(launcher.started.empty());
    EXPECT_DOUBLE_EQ(valueOr0(state.kevPerChannel), 0.1);  // entries stay taken after No

    user.answer = true;
    EXPECT_EQ(stripGo(state, goodStrip(dir), dir.path(), user, launcher), GoOutcome::Started);
    EXPECT_EQ(launcher.started.size(), 1u);
    EXPECT_EQ(readBytes(dir.data() / "sample.mca1"), "old result");  // tvstrip replaces it, not the dialog
}

TEST(StripGoTest, UnusableSpectraWriteNothing) {
    ScratchFolder dir;
    AppState state;
    ScriptedUser user;
    RecordingLauncher launcher;
    // missing measured file
    EXPECT_EQ(stripGo(state, goodStrip(dir), dir.path(), user, launcher), GoOutcome::Refused);
    EXPECT_NE(user.lastText().find("データファイルを開けません"), std::string::npos);
    // a count that does not fit its 7 columns
    writeBytes(dir.data() / "sample.csv", measuredFile(31, [](int ch) { return ch == 77 ? 1000000 : 1; }));
    EXPECT_EQ(stripGo(state, goodStrip(dir), dir.path(), user, launcher), GoOutcome::Refused);
    EXPECT_NE(user.lastText().find("チャネル 77 のカウント 1000000"), std::string::npos) << user.lastText();
    // a file that ends early
    std::string s = measuredFile(31, countOf);
    writeBytes(dir.data() / "sample.csv", s.substr(0, s.size() - 100));
    EXPECT_EQ(stripGo(state, goodStrip(dir), dir.path(), user, launcher), GoOutcome::Refused);
    EXPECT_NE(user.lastText().find("途中で終わっています"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "Com.txt"));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "TempFile.dat"));
    EXPECT_TRUE(launcher.started.empty());
}

TEST(StripGoTest, TerminalThatCannotStartIsReported) {
    ScratchFolder dir;
    writeBytes(dir.data() / "sample.csv", measuredFile(31, countOf));
    AppState state;
    ScriptedUser user;
    RecordingLauncher launcher;
    launcher.failure = "no terminal";
    EXPECT_EQ(stripGo(state, goodStrip(dir), dir.path(), user, launcher), GoOutcome::Refused);
    EXPECT_EQ(user.lastText(), "tvstrip を起動できません\nno terminal");
}

TEST(StripClickTest, NumberedLinesAndProposedName) {
    ScratchFolder dir;
    writeBytes(dir.data() / "Meas80.CSV", "\x83\x65\r\nb\r\n");
    AppState state;
    StripClick c = stripFileClicked(state, dir.dataUtf8(), "Meas80.CSV");
    EXPECT_FALSE(c.error);
    EXPECT_EQ(c.lines, (std::vector<std::string>{"0001 : テ", "0002 : b"}));
    EXPECT_EQ(c.proposedName, "Meas80");
    EXPECT_EQ(state.dataFilePath, dir.dataUtf8() + "/Meas80.CSV");
    EXPECT_TRUE(stripFileClicked(state, dir.dataUtf8(), "gone.csv").error);
}

namespace {

// A stripping result (what tvstrip writes) for the conversion dialog.
std::string strippedResult(int countBase) {
    std::string s = "comment one" + std::string(49, ' ') + "\r\n" + std::string(60, ' ') + "\r\n 80\r\n  .100\r\n";
    for (int i = 1; i <= 17; ++i) s += "Header " + std::to_string(i) + "\r\n";
    s += "  Ch.   KeV    Counts\r\n";
    for (int ch = 1; ch <= 1024; ++ch) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%4d %7.2f %7d\r\n", ch, ch * 0.1, countBase + ch);
        s += buf;
    }
    return s;
}

ConvertEntries goodConvert(const ScratchFolder& dir) {
    ConvertEntries e;
    e.folder = dir.dataUtf8();
    e.selectedFile = "scat.mca1";
    e.text4 = "prim";
    e.text5 = "90";
    e.text6 = "10";
    return e;
}

} // namespace

TEST(ConvertChecksTest, FourChecksInTheirOrder) {
    ScratchFolder dir;
    ConvertEntries e;
    e.text5.clear();
    std::vector<Notice> seen;
    auto next = [&] {
        auto n = checkConvertEntries(e, dir.path());
        if (n) seen.push_back(*n);
        return n.has_value();
    };
    ASSERT_TRUE(next());
    e.selectedFile = "x.mca1";
    ASSERT_TRUE(next());
    e.text4 = "a?";
    ASSERT_TRUE(next());
    e.text5 = "45";
    ASSERT_TRUE(next());
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[0].text, "目的のファイルをクリックして下さい");
    EXPECT_EQ(seen[1].text, "変換後のファイル名を入力して下さい");
    EXPECT_EQ(seen[2].text, "散乱角度を入力して下さい");
    EXPECT_EQ(seen[3].text, "変換後のファイル名に禁止文字が含まれています !");
    EXPECT_EQ(seen[0].kind, BoxKind::Plain);
    EXPECT_EQ(seen[2].kind, BoxKind::Plain);
    EXPECT_EQ(seen[3].kind, BoxKind::Warning);
    e.text4 = std::string(44, 'x');
    ASSERT_TRUE(next());
    EXPECT_NE(seen.back().text.find("長すぎます"), std::string::npos);
    e.text4 = "ok";
    EXPECT_FALSE(next());
}

TEST(ConvertGoTest, ClickThenGoWritesComDatAndTempFile2ByteForByte) {
    ScratchFolder dir;
    writeBytes(dir.data() / "scat.mca1", strippedResult(100));
    AppState state;
    ConvertClick c = convertFileClicked(state, dir.dataUtf8(), "scat.mca1");
    ASSERT_FALSE(c.error);
    EXPECT_EQ(c.proposedName, "scat");
    EXPECT_EQ(c.text3, "80");
    ASSERT_GE(c.listItems.size(), 5u);
    EXPECT_EQ(c.listItems[2], "80");
    EXPECT_EQ(c.listItems[3], "0.1");
    EXPECT_EQ(c.listItems[4], " Header 1");

    ConvertEntries e = goodConvert(dir);
    e.text1 = c.text1;  // the padded comment line as the box shows it
    e.text2 = "";
    e.text3 = "120";    // edited voltage box: not used
    e.text5 = "45.5";
    e.text6 = "5";
    e.carbon = false;
    ScriptedUser user;
    RecordingLauncher launcher;
    ASSERT_EQ(convertGo(state, e, dir.path(), user, launcher), GoOutcome::Started) << user.lastText();
    ASSERT_EQ(launcher.started.size(), 1u);
    EXPECT_EQ(launcher.started[0].program, "tvconv");

    auto com = splitCrLf(readBytes(dir.path() / "Com.dat"));
    ASSERT_EQ(com.size(), 22u);
    EXPECT_EQ(com[0], "comment one" + std::string(49, ' '));
    EXPECT_EQ(com[1], "");
    EXPECT_EQ(com[2], " 80");
    EXPECT_EQ(com[3], "  .100");
    EXPECT_EQ(com[21], "  Ch.   KeV    Counts");

    auto t = splitCrLf(readBytes(dir.path() / "TempFile2.dat"));
    ASSERT_EQ(t.size(), 109u);
    EXPECT_EQ(t[0], "Tarvik_data\\prim.mca2");
    EXPECT_EQ(t[1], "046");
    EXPECT_EQ(t[2], "00.50");
    EXPECT_EQ(t[3], "PMMA.dat");
    EXPECT_EQ(t[4], "80");
    EXPECT_EQ(t[5], "0.100");
    EXPECT_EQ(t[6], " 000101 000102 000103 000104 000105 000106 000107 000108 000109 000110");
    EXPECT_EQ(t[108], " 001121 001122 001123 001124");
}

TEST(ConvertGoTest, DefaultsAndExistingResult) {
    ScratchFolder dir;
    writeBytes(dir.data() / "scat.mca1", strippedResult(0));
    writeBytes(dir.data() / "prim.mca2", "old");
    AppState state;
    convertFileClicked(state, dir.dataUtf8(), "scat.mca1");
    ConvertEntries e = goodConvert(dir);
    e.text6 = "mm";  // not validated: written as 00.00
    ScriptedUser user;
    RecordingLauncher launcher;
    ASSERT_EQ(convertGo(state, e, dir.path(), user, launcher), GoOutcome::Started);
    EXPECT_TRUE(user.asked.empty());  // no overwrite question here
    auto t = splitCrLf(readBytes(dir.path() / "TempFile2.dat"));
    EXPECT_EQ(t[1], "090");
    EXPECT_EQ(t[2], "00.00");
    EXPECT_EQ(t[3], "Carbon.dat");
}

TEST(ConvertGoTest, ShortResultFileIsReported) {
    ScratchFolder dir;
    std::string s = strippedResult(0);
    writeBytes(dir.data() / "scat.mca1", s.substr(0, 3000));
    AppState state;
    ScriptedUser user;
    RecordingLauncher launcher;
    EXPECT_EQ(convertGo(state, goodConvert(dir), dir.path(), user, launcher), GoOutcome::Refused);
    EXPECT_NE(user.lastText().find("途中で終わっています"), std::string::npos) << user.lastText();
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "Com.dat"));
    EXPECT_TRUE(launcher.started.empty());
}

TEST(ExitTest, RemovesTheExchangeFilesOnly) {
    ScratchFolder dir;
    for (const char* f : {"TempFile.dat", "Com.txt", "Dataname.kat", "UserName.txt"})
        writeBytes(dir.path() / f, "x");
    removeExchangeFiles(dir.path());
    for (const char* f : {"TempFile.dat", "Com.txt", "Dataname.kat"})
        EXPECT_FALSE(std::filesystem::exists(dir.path() / f)) << f;
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "UserName.txt"));
}

TEST(SettingsChecksTest, NamesMustBeGiven) {
    EXPECT_EQ(checkSettingsEntries("", "b", "c")->text, " 名称を入力して下さい ");
    EXPECT_TRUE(checkSettingsEntries("a", "", "c"));
    EXPECT_TRUE(checkSettingsEntries("a", "b", ""));
    EXPECT_FALSE(checkSettingsEntries("a", "b", "c"));
}

// The check boxes of the two dialogs: checked, the exchange file gains one
// last line "unfold"; unchecked, it is the file of the standard method.
namespace {

// Runs "補正 GO" in a fresh folder and returns TempFile.dat.
std::string stripTempFile(bool unfold, AppState& state) {
    ScratchFolder dir;
    writeBytes(dir.data() / "sample.csv", measuredFile(31, countOf));
    StripEntries e = goodStrip(dir);
    e.text1 = "メモ";
    e.unfold = unfold;
    ScriptedUser user;
    RecordingLauncher launcher;
    EXPECT_EQ(stripGo(state, e, dir.path(), user, launcher), GoOutcome::Started) << user.lastText();
    return readBytes(dir.path() / "TempFile.dat");
}

// Runs a click and "変換 Go" in a fresh folder and returns TempFile2.dat.
std::string convertTempFile(bool unfold, AppState& state) {
    ScratchFolder dir;
    writeBytes(dir.data() / "scat.mca1", strippedResult(100));
    convertFileClicked(state, dir.dataUtf8(), "scat.mca1");
    ConvertEntries e = goodConvert(dir);
    e.unfold = unfold;
    ScriptedUser user;
    RecordingLauncher launcher;
    EXPECT_EQ(convertGo(state, e, dir.path(), user, launcher), GoOutcome::Started) << user.lastText();
    return readBytes(dir.path() / "TempFile2.dat");
}

} // namespace

TEST(UnfoldChoiceTest, StrippingWritesLine109OnlyWhenChosen) {
    AppState plainState;
    const std::string standard = stripTempFile(false, plainState);
    auto lines = splitCrLf(standard);
    ASSERT_EQ(lines.size(), 108u);
    EXPECT_EQ(lines[107].size(), 28u);  // the line of four counts stays the last
    EXPECT_FALSE(plainState.stripUnfold);

    AppState unfoldState;
    const std::string unfold = stripTempFile(true, unfoldState);
    EXPECT_EQ(unfold, standard + "unfold\r\n");
    EXPECT_EQ(splitCrLf(unfold).size(), 109u);
    EXPECT_TRUE(unfoldState.stripUnfold);  // remembered for the next opening

    // The choice of one dialog never reaches the other's file.
    EXPECT_EQ(splitCrLf(convertTempFile(false, unfoldState)).size(), 109u);
}

TEST(UnfoldChoiceTest, ConversionWritesLine110OnlyWhenChosen) {
    AppState plainState;
    const std::string standard = convertTempFile(false, plainState);
    auto lines = splitCrLf(standard);
    ASSERT_EQ(lines.size(), 109u);
    EXPECT_EQ(lines[108].size(), 28u);
    EXPECT_FALSE(plainState.convertUnfold);

    AppState unfoldState;
    const std::string unfold = convertTempFile(true, unfoldState);
    EXPECT_EQ(unfold, standard + "unfold\r\n");
    EXPECT_EQ(splitCrLf(unfold)[109], "unfold");
    EXPECT_TRUE(unfoldState.convertUnfold);

    EXPECT_EQ(splitCrLf(stripTempFile(false, unfoldState)).size(), 108u);
}

TEST(UnfoldChoiceTest, RefusedRunWritesNoMethodLine) {
    // A run refused by a check neither writes the files nor takes the choice.
    ScratchFolder dir;
    writeBytes(dir.data() / "sample.csv", measuredFile(31, countOf));
    AppState state;
    StripEntries e = goodStrip(dir);
    e.text3 = "";
    e.unfold = true;
    ScriptedUser user;
    RecordingLauncher launcher;
    EXPECT_EQ(stripGo(state, e, dir.path(), user, launcher), GoOutcome::Refused);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "TempFile.dat"));
    EXPECT_FALSE(state.stripUnfold);
}
