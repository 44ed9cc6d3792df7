#include "exchange.h"

#include "sjis/sjis.h"
#include "texts.h"
#include "values.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <fstream>

namespace tarvik {
namespace {
constexpr std::string_view kCrLf = "\r\n";
}

std::string sjisOrThrow(std::string_view utf8, const char* what) {
    auto s = sjis::fromUtf8(utf8);
    if (!s)
        throw ExchangeError(withArgs(translate("ExchangeFiles", "%1に Shift_JIS で書けない文字が含まれています"),
                                     {translate("ExchangeFiles", what)}));
    return *s;
}

namespace {

// A count with " 000000".  A whole count from 0 to 10^15 (every count a
// measured file holds) is a blank and its digits with zeros in front up to
// six, written directly; any other value goes through the pattern.
void appendCountField(std::string& out, double value) {
    if (value >= 0.0 && value < 1e15 && value == std::floor(value)) {
        char digits[24];
        const auto r = std::to_chars(digits, digits + sizeof digits, static_cast<std::uint64_t>(value));
        const auto n = static_cast<std::size_t>(r.ptr - digits);
        out += ' ';
        if (n < 6) out.append(6 - n, '0');
        out.append(digits, n);
        return;
    }
    out += formatPattern(value, " 000000");
}

} // namespace

std::string countBlock(const Counts& counts) {
    std::string out;
    out.reserve(static_cast<std::size_t>(kChannels) * 7 + 2 * 103);
    for (int ch = 1; ch <= kChannels; ++ch) {
        appendCountField(out, counts[static_cast<std::size_t>(ch)]);
        if (ch % 10 == 0 || ch == kChannels) out += kCrLf;
    }
    return out;
}

std::string comTxtContent(const std::vector<std::string>& rawHeaderLines) {
    std::string out;
    for (const auto& l : rawHeaderLines) {
        out += l;
        out += kCrLf;
    }
    return out;
}

std::string tempFileContent(const AppState& state) {
    std::string out;
    auto line = [&](std::string_view s) {
        out += s;
        out += kCrLf;
    };
    line(sjisOrThrow(state.resultPath, TARVIK_TEXT("ExchangeFiles", "ファイル名")));
    line(sjisOrThrow(state.commentLine1, TARVIK_TEXT("ExchangeFiles", "コメント１")));
    line(sjisOrThrow(state.commentLine2, TARVIK_TEXT("ExchangeFiles", "コメント２")));
    line(formatPattern(valueOr0(state.tubeVoltage), "####"));
    line(formatPattern(valueOr0(state.kevPerChannel), "0.000"));
    out += countBlock(state.counts);
    if (state.stripUnfold) line(kUnfoldMethod);
    return out;
}

std::string comDatContent(std::string_view comment1, std::string_view comment2,
                          const std::vector<std::string>& rawLines3to22) {
    std::string out;
    out += sjisOrThrow(comment1, TARVIK_TEXT("ExchangeFiles", "コメント１"));
    out += kCrLf;
    out += sjisOrThrow(comment2, TARVIK_TEXT("ExchangeFiles", "コメント２"));
    out += kCrLf;
    out += comTxtContent(rawLines3to22);
    return out;
}

std::string tempFile2Content(const AppState& state, double angleDegrees, double lengthCm,
                             std::string_view scattererFile) {
    std::string out;
    auto line = [&](std::string_view s) {
        out += s;
        out += kCrLf;
    };
    line(sjisOrThrow(state.resultPath, TARVIK_TEXT("ExchangeFiles", "ファイル名")));
    line(formatPattern(angleDegrees, "000"));
    line(formatPattern(lengthCm, "00.00"));
    line(scattererFile);
    line(formatPattern(valueOr0(state.tubeVoltage), "####"));
    line(formatPattern(valueOr0(state.kevPerChannel), "0.000"));
    out += countBlock(state.counts);
    if (state.convertUnfold) line(kUnfoldMethod);
    return out;
}

void writeFileBytes(const std::filesystem::path& file, std::string_view bytes) {
    std::ofstream o(file, std::ios::binary | std::ios::trunc);
    if (o) o.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (o) o.close();
    if (!o) {
        auto name = file.filename().u8string();
        throw ExchangeError(
            withArgs(translate("ExchangeFiles", "%1 を書き込めません"), {std::string(name.begin(), name.end())}));
    }
}

void removeExchangeFiles(const std::filesystem::path& workDir) {
    for (std::string_view name : {kTempFile, kTempFile2, kComDat, kComTxt, kDatanameKat}) {
        std::error_code ec;
        std::filesystem::remove(workDir / name, ec);  // a missing or locked file is skipped
    }
}

} // namespace tarvik
