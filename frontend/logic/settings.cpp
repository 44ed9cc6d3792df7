#include "settings.h"

#include "exchange.h"
#include "textfile.h"

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
    const std::string lead = std::string(kSettingsFile) + " を読めませんでした：\n";
    std::string bytes;
    bool complete = false;
    switch (fixedio::readFileHead(file, kMaxSettingsBytes, bytes, complete)) {
    case fixedio::ReadStatus::Ok:
        break;
    case fixedio::ReadStatus::Missing:
        return out;  // a first start: nothing to tell
    case fixedio::ReadStatus::NotAFile:
        out.problem = lead + "同じ名前のフォルダーがあります。";
        return out;
    case fixedio::ReadStatus::Special:
        out.problem = lead + "通常のファイルではありません。";
        return out;
    case fixedio::ReadStatus::CannotOpen:
    case fixedio::ReadStatus::CannotRead:
        out.problem = lead + "ファイルを開けません。";
        return out;
    }
    if (!complete) {
        out.problem = lead + "ファイルが大きすぎます（設定は 4 行です）。";
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
        static const char* const what[] = {"施設名", "測定器名", "検出器名", "エネルギー幅"};
        out.problem = lead + (line == 1 ? std::string("ファイルが空です。")
                                        : "ファイルが途中で終わっています（" + std::to_string(line) + " 行目の" +
                                              what[line - 1] + "がありません）。");
        return out;
    }
    out.settings = s;
    return out;
}

void writeSettings(const std::filesystem::path& file, std::string_view facility,
                   std::string_view analyser, std::string_view detector, std::string_view kevText) {
    std::string out;
    for (auto [text, what] : {std::pair{facility, "施設名"}, std::pair{analyser, "測定器名"},
                              std::pair{detector, "検出器名"}, std::pair{kevText, "エネルギー幅"}}) {
        out += sjisOrThrow(text, what);
        out += "\r\n";
    }
    try {
        fixedio::writeFileAtomically(file, out);
    } catch (const fixedio::Error&) {
        auto name = file.filename().u8string();
        throw ExchangeError(std::string(name.begin(), name.end()) + " を書き込めません");
    }
}

} // namespace tarvik
