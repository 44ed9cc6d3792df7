#include "dialogs.h"

#include "exchange.h"
#include "resultname.h"
#include "sjis/sjis.h"
#include "spectrumfiles.h"
#include "texts.h"
#include "values.h"

#include <fstream>

namespace tarvik {
namespace {

constexpr const char* kNoComment = "-- No comment --";

Notice warning(std::string text) { return {BoxKind::Warning, std::move(text)}; }
Notice plain(std::string text) { return {BoxKind::Plain, std::move(text)}; }

// Result names: representable in Shift_JIS, and the whole result path
// within the 60 bytes that the console programs keep.
std::optional<Notice> checkResultName(const std::string& name, std::string_view extension) {
    auto bytes = sjis::encodedLength(resultPathFor(name, extension));
    if (!bytes) return warning(translate("DialogChecks", "ファイル名に使用できない文字が含まれています !"));
    if (*bytes > kMaxResultPathBytes) {
        std::size_t room = kMaxResultPathBytes - kDataFolder.size() - 1 - extension.size();
        return warning(withArgs(translate("DialogChecks", "ファイル名が長すぎます。半角 %1 文字（全角 %2 文字）以内にして下さい"),
                                {std::to_string(room), std::to_string(room / 2)}));
    }
    return std::nullopt;
}

std::optional<Notice> checkComments(const std::string& c1, const std::string& c2) {
    if (!sjis::fromUtf8(c1) || !sjis::fromUtf8(c2))
        return warning(translate("DialogChecks", "コメント／メモに使用できない文字が含まれています"));
    return std::nullopt;
}

std::optional<Notice> checkDataFolder(const std::filesystem::path& workDir) {
    std::error_code ec;
    if (!std::filesystem::is_directory(workDir / kDataFolder, ec))
        return warning(translate("DialogChecks", "データフォルダ Tarvik_data が見つかりません\n結果を書き込むことができません"));
    return std::nullopt;
}

bool canOpenForReading(const std::filesystem::path& p) {
    std::error_code ec;
    if (std::filesystem::is_directory(p, ec)) return false;
    std::ifstream in(p, std::ios::binary);
    return static_cast<bool>(in);
}

GoOutcome startProgram(const std::string& program, const std::filesystem::path& workDir,
                       UserPrompt& prompt, ProgramLauncher& launcher) {
    if (auto failure = launcher.start(program, workDir)) {
        prompt.tell(warning(withArgs(translate("DialogChecks", "%1 を起動できません\n%2"), {program, *failure})));
        return GoOutcome::Refused;
    }
    return GoOutcome::Started;
}

} // namespace

std::filesystem::path pathFromUtf8(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string joinPath(const std::string& folder, const std::string& fileName) {
    if (!folder.empty() && folder.back() == '/') return folder + fileName;
    return folder + "/" + fileName;
}

// Every count must fit the 7 columns of its field: 0 to 999999.
std::optional<Notice> checkCounts(const Counts& counts) {
    for (int ch = 1; ch <= kChannels; ++ch) {
        double c = counts[static_cast<std::size_t>(ch)];
        if (c >= 999999.5 || c <= -0.5)
            return warning(withArgs(translate("DialogChecks", "チャネル %1 のカウント %2 が 0 ～ 999999 の範囲外のため処理できません"),
                                    {std::to_string(ch), numberAsText(c)}));
    }
    return std::nullopt;
}

// ---------------- stripping dialog ----------------

StripClick stripFileClicked(AppState& state, const std::string& folder, const std::string& fileName) {
    StripClick click;
    state.dataFilePath = joinPath(folder, fileName);
    try {
        click.lines = numberedLines(pathFromUtf8(state.dataFilePath));
    } catch (const SpectrumFileError& e) {
        click.error = warning(e.what());
    }
    click.proposedName = dropLastCharacters(fileName, 4);
    return click;
}

std::optional<Notice> checkStripValues(const StripEntries& e) {
    if (e.selectedFile.empty()) return warning(translate("DialogChecks", "ファイルを選択して下さい"));
    if (e.text4.empty()) return warning(translate("DialogChecks", "ファイル名が入力されていません"));
    if (e.text3.empty()) return warning(translate("DialogChecks", "Ｘ線管電圧が入力されていません"));
    if (e.text6.empty()) return warning(translate("DialogChecks", "スペクトルデータの先頭行が入力されていません"));
    if (hasForbiddenCharacter(e.text4)) return warning(translate("DialogChecks", "ファイル名に禁止文字が含まれています !"));

    // Values that tvstrip cannot work with.  "####" writes nothing for a
    // voltage below 0.5 and the result shows 1000 kV or more as "***".
    double v = leadingNumber(e.text3);
    if (v < 0.5 || v >= 999.5) return warning(translate("DialogChecks", "Ｘ線管電圧には 0.5 ～ 999 kV の値を入力して下さい"));
    // "0.000" must leave a width above zero, and the result header has 6 columns.
    double w = leadingNumber(e.text5);
    if (w < 0.0005 || w >= 99.9995)
        return warning(translate("DialogChecks", "エネルギー幅 / チャネル には 0.001 ～ 99.999 keV の値を入力して下さい"));
    // tvstrip takes 17 header lines into the result.
    if (leadingNumber(e.text6) < 18)
        return warning(translate("DialogChecks", "スペクトルデータの先頭行には 18 以上の値を入力して下さい\n（先頭行より前に 17 行以上のヘッダーが必要です）"));
    if (auto n = checkResultName(e.text4, ".mca1")) return n;
    return checkComments(e.text1, e.text2);
}

std::optional<Notice> checkStripEntries(const StripEntries& e, const std::filesystem::path& workDir) {
    if (auto n = checkStripValues(e)) return n;
    return checkDataFolder(workDir);
}

void takeStripEntries(AppState& state, const StripEntries& e) {
    state.commentLine1 = e.text1.empty() ? kNoComment : e.text1;
    state.commentLine2 = e.text2.empty() ? kNoComment : e.text2;
    state.tubeVoltage = leadingNumber(e.text3);
    state.kevPerChannel = leadingNumber(e.text5);
    state.resultPath = resultPathFor(e.text4, ".mca1");
    state.stripUnfold = e.unfold;
}

std::variant<StripExchange, Notice> buildStripExchange(AppState& state, const StripEntries& e) {
    state.dataFilePath = joinPath(e.folder, e.selectedFile);
    MeasuredSpectrum m;
    try {
        m = readMeasuredFile(pathFromUtf8(state.dataFilePath), leadingNumber(e.text6));
    } catch (const SpectrumFileError& err) {
        return warning(err.what());
    }
    return stripExchangeFor(state, m);
}

std::variant<StripExchange, Notice> stripExchangeFor(AppState& state, const MeasuredSpectrum& m) {
    if (auto n = checkCounts(m.counts)) return *n;
    state.counts = m.counts;
    try {
        StripExchange x;
        x.tempFile = tempFileContent(state);
        x.comTxt = comTxtContent(m.headerLines);
        return x;
    } catch (const ExchangeError& err) {
        return warning(err.what());
    }
}

GoOutcome stripGo(AppState& state, const StripEntries& e, const std::filesystem::path& workDir,
                  UserPrompt& prompt, ProgramLauncher& launcher) {
    if (auto n = checkStripEntries(e, workDir)) {
        prompt.tell(*n);
        return GoOutcome::Refused;
    }
    takeStripEntries(state, e);

    if (canOpenForReading(localPath(workDir, state.resultPath)) &&
        !prompt.askYesNo({BoxKind::Question, translate("DialogChecks", "同名のファイルが既に存在します。上書きしますか？")}))
        return GoOutcome::Declined;

    // Read and check everything before the first exchange file is written.
    auto built = buildStripExchange(state, e);
    if (auto* n = std::get_if<Notice>(&built)) {
        prompt.tell(*n);
        return GoOutcome::Refused;
    }
    const auto& x = std::get<StripExchange>(built);
    try {
        writeFileBytes(workDir / kComTxt, x.comTxt);
        writeFileBytes(workDir / kTempFile, x.tempFile);
    } catch (const ExchangeError& err) {
        prompt.tell(warning(err.what()));
        return GoOutcome::Refused;
    }
    return startProgram("tvstrip", workDir, prompt, launcher);
}

// ---------------- conversion dialog ----------------

ConvertClick convertFileClicked(AppState& state, const std::string& folder, const std::string& fileName) {
    state.dataFilePath = joinPath(folder, fileName);
    try {
        return convertClickFor(state, readResultPreview(pathFromUtf8(state.dataFilePath)), fileName);
    } catch (const SpectrumFileError& e) {
        ConvertClick click;
        click.error = warning(e.what());
        click.proposedName = dropLastCharacters(fileName, 5);
        return click;
    }
}

ConvertClick convertClickFor(AppState& state, const ResultPreview& p, const std::string& fileName) {
    ConvertClick click;
    state.commentLine1 = p.commentLine1;
    state.commentLine2 = p.commentLine2;
    state.tubeVoltage = p.tubeVoltage;
    state.kevPerChannel = p.kevPerChannel;
    click.listItems = {p.commentLine1, p.commentLine2, numberAsText(p.tubeVoltage), numberAsText(p.kevPerChannel)};
    for (const auto& l : p.remainingLines) click.listItems.push_back(" " + l);
    click.text1 = state.commentLine1;
    click.text2 = state.commentLine2;
    click.text3 = numberAsText(state.tubeVoltage);
    click.proposedName = dropLastCharacters(fileName, 5);
    return click;
}

std::optional<Notice> checkConvertValues(const ConvertEntries& e) {
    if (e.selectedFile.empty()) return plain(translate("DialogChecks", "目的のファイルをクリックして下さい"));
    if (e.text4.empty()) return plain(translate("DialogChecks", "変換後のファイル名を入力して下さい"));
    if (e.text5.empty()) return plain(translate("DialogChecks", "散乱角度を入力して下さい"));
    if (hasForbiddenCharacter(e.text4)) return warning(translate("DialogChecks", "変換後のファイル名に禁止文字が含まれています !"));
    if (auto n = checkResultName(e.text4, ".mca2")) return n;
    return checkComments(e.text1, e.text2);
}

std::optional<Notice> checkConvertEntries(const ConvertEntries& e, const std::filesystem::path& workDir) {
    if (auto n = checkConvertValues(e)) return n;
    return checkDataFolder(workDir);
}

std::variant<ConvertExchange, Notice> buildConvertExchange(AppState& state, const ConvertEntries& e) {
    state.resultPath = resultPathFor(e.text4, ".mca2");
    state.convertUnfold = e.unfold;
    state.dataFilePath = joinPath(e.folder, e.selectedFile);
    ResultSpectrum s;
    try {
        s = readResultFile(pathFromUtf8(state.dataFilePath));
    } catch (const SpectrumFileError& err) {
        return warning(err.what());
    }
    return convertExchangeFor(state, e, s);
}

std::variant<ConvertExchange, Notice> convertExchangeFor(AppState& state, const ConvertEntries& e,
                                                        const ResultSpectrum& s) {
    state.resultPath = resultPathFor(e.text4, ".mca2");
    state.convertUnfold = e.unfold;
    double angle = leadingNumber(e.text5);
    double lengthCm = leadingNumber(e.text6) * 0.1;
    const char* scatterer = e.carbon ? "Carbon.dat" : "PMMA.dat";
    if (auto n = checkCounts(s.counts)) return *n;
    state.counts = s.counts;
    try {
        ConvertExchange x;
        x.comDat = comDatContent(e.text1, e.text2, s.headerLines3to22);
        x.tempFile2 = tempFile2Content(state, angle, lengthCm, scatterer);
        return x;
    } catch (const ExchangeError& err) {
        return warning(err.what());
    }
}

GoOutcome convertGo(AppState& state, const ConvertEntries& e, const std::filesystem::path& workDir,
                    UserPrompt& prompt, ProgramLauncher& launcher) {
    if (auto n = checkConvertEntries(e, workDir)) {
        prompt.tell(*n);
        return GoOutcome::Refused;
    }
    auto built = buildConvertExchange(state, e);
    if (auto* n = std::get_if<Notice>(&built)) {
        prompt.tell(*n);
        return GoOutcome::Refused;
    }
    const auto& x = std::get<ConvertExchange>(built);
    try {
        writeFileBytes(workDir / kComDat, x.comDat);
        writeFileBytes(workDir / kTempFile2, x.tempFile2);
    } catch (const ExchangeError& err) {
        prompt.tell(warning(err.what()));
        return GoOutcome::Refused;
    }
    return startProgram("tvconv", workDir, prompt, launcher);
}

// ---------------- settings window ----------------

std::optional<Notice> checkSettingsEntries(const std::string& text1, const std::string& text2,
                                           const std::string& text3) {
    if (text1.empty() || text2.empty() || text3.empty()) return warning(translate("DialogChecks", " 名称を入力して下さい "));
    return std::nullopt;
}

} // namespace tarvik
