#include "settings.h"

#include "exchange.h"
#include "textfile.h"
#include "texts.h"

#include "fixedio/files.h"
#include "fixedio/fixedio.h"

#include <utility>

namespace tarvik {

namespace {
// Four short lines; anything far larger is not a settings file.
constexpr std::size_t kMaxSettingsBytes = 1 << 20;
} // namespace

std::optional<Settings> readSettings(const std::filesystem::path& file) {
    return readSettingsAtStart(file).settings;
}

SettingsAtStart readSettingsAtStart(const std::filesystem::path& file) {
    SettingsAtStart out;
    const std::string lead =
        withArgs(translate("SettingsFile", "%1 を読めませんでした：\n"), {std::string(kSettingsFile)});
    std::string bytes;
    bool complete = false;
    switch (fixedio::readFileHead(file, kMaxSettingsBytes, bytes, complete)) {
    case fixedio::ReadStatus::Ok:
        break;
    case fixedio::ReadStatus::Missing:
        return out;  // a first start: nothing to tell
    case fixedio::ReadStatus::NotAFile:
        out.problem = lead + translate("SettingsFile", "同じ名前のフォルダーがあります。");
        return out;
    case fixedio::ReadStatus::Special:
        out.problem = lead + translate("SettingsFile", "通常のファイルではありません。");
        return out;
    case fixedio::ReadStatus::CannotOpen:
    case fixedio::ReadStatus::CannotRead:
        out.problem = lead + translate("SettingsFile", "ファイルを開けません。");
        return out;
    }
    if (!complete) {
        out.problem = lead + translate("SettingsFile", "ファイルが大きすぎます（設定は 4 行です）。");
        return out;
    }

    TextFileReader r(file, std::move(bytes));
    Settings s;
    int line = 1;
    try {
        s.facilityName = r.readLine();
        ++line;
        s.analyserName = r.readLine();
        ++line;
        s.detectorName = r.readLine();
        ++line;
        s.kevPerChannel = r.readNumberField();
    } catch (const FileReadError&) {
        static const char* const what[] = {
            TARVIK_TEXT("SettingsFile", "施設名"), TARVIK_TEXT("SettingsFile", "測定器名"),
            TARVIK_TEXT("SettingsFile", "検出器名"), TARVIK_TEXT("SettingsFile", "エネルギー幅")};
        out.problem =
            lead + (line == 1 ? translate("SettingsFile", "ファイルが空です。")
                              : withArgs(translate("SettingsFile", "ファイルが途中で終わっています（%1 行目の%2がありません）。"),
                                         {std::to_string(line), translate("SettingsFile", what[line - 1])}));
        return out;
    }
    out.settings = s;
    return out;
}

void writeSettings(const std::filesystem::path& file, std::string_view facility,
                   std::string_view analyser, std::string_view detector, std::string_view kevText) {
    std::string out;
    for (auto [text, what] : {std::pair{facility, TARVIK_TEXT("ExchangeFiles", "施設名")},
                              std::pair{analyser, TARVIK_TEXT("ExchangeFiles", "測定器名")},
                              std::pair{detector, TARVIK_TEXT("ExchangeFiles", "検出器名")},
                              std::pair{kevText, TARVIK_TEXT("ExchangeFiles", "エネルギー幅")}}) {
        out += sjisOrThrow(text, what);
        out += "\r\n";
    }
    try {
        fixedio::writeFileAtomically(file, out);
    } catch (const fixedio::Error&) {
        auto name = file.filename().u8string();
        throw ExchangeError(
            withArgs(translate("ExchangeFiles", "%1 を書き込めません"), {std::string(name.begin(), name.end())}));
    }
}

} // namespace tarvik
