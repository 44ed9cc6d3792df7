#include "spectrumfiles.h"

#include "texts.h"
#include "values.h"

namespace tarvik {
namespace {

std::string shown(const std::filesystem::path& file) {
    auto u8 = file.u8string();
    return std::string(u8.begin(), u8.end());
}

TextFileReader openSpectrum(const std::filesystem::path& file) {
    try {
        return TextFileReader(file);
    } catch (const FileReadError&) {
        throw SpectrumFileError(translate("SpectrumFiles", "データファイルを開けません") + "\n" + shown(file));
    }
}

} // namespace

std::vector<std::string> numberedLines(const std::filesystem::path& file) {
    TextFileReader r = openSpectrum(file);
    std::vector<std::string> lines;
    for (int n = 1; !r.atEnd(); ++n) lines.push_back(formatPattern(n, "0000") + " : " + r.readLine());
    return lines;
}

void readCountRecords(TextFileReader& reader, Counts& counts, const std::filesystem::path& file) {
    for (int ch = 1; ch <= kChannels; ++ch) {
        try {
            reader.readField();
            reader.readField();
            counts[static_cast<std::size_t>(ch)] = reader.readNumberField();
        } catch (const FileReadError&) {
            throw SpectrumFileError(
                withArgs(translate("SpectrumFiles", "データファイルが途中で終わっています（チャネル %1 以降のデータがありません）"),
                         {std::to_string(ch)}) +
                "\n" + shown(file));
        }
    }
}

namespace {

MeasuredSpectrum readMeasured(TextFileReader& r, const std::filesystem::path& file, double firstDataLine) {
    MeasuredSpectrum m;
    try {
        for (int i = 1; i <= firstDataLine - 1; ++i) m.headerLines.push_back(r.readRawLine());
    } catch (const FileReadError&) {
        throw SpectrumFileError(translate("SpectrumFiles", "データファイルがスペクトルデータの先頭行より前で終わっています") +
                                "\n" + shown(file));
    }
    readCountRecords(r, m.counts, file);
    return m;
}

ResultPreview readPreview(TextFileReader& r, const std::filesystem::path& file) {
    ResultPreview p;
    try {
        p.commentLine1 = r.readLine();
        p.commentLine2 = r.readLine();
        p.tubeVoltage = r.readNumberField();
        p.kevPerChannel = r.readNumberField();
    } catch (const FileReadError&) {
        throw SpectrumFileError(
            translate("SpectrumFiles", "データファイルの先頭部分（コメント、管電圧、エネルギー幅）が欠けています") + "\n" +
            shown(file));
    }
    while (!r.atEnd()) p.remainingLines.push_back(r.readLine());
    return p;
}

ResultSpectrum readResult(TextFileReader& r, const std::filesystem::path& file) {
    ResultSpectrum s;
    try {
        s.commentLines.push_back(r.readRawLine());
        s.commentLines.push_back(r.readRawLine());
        for (int line = 3; line <= 22; ++line) s.headerLines3to22.push_back(r.readRawLine());
    } catch (const FileReadError&) {
        throw SpectrumFileError(translate("SpectrumFiles", "データファイルのヘッダー（22 行）が途中で終わっています") + "\n" +
                                shown(file));
    }
    readCountRecords(r, s.counts, file);
    return s;
}

} // namespace

MeasuredSpectrum readMeasuredFile(const std::filesystem::path& file, double firstDataLine) {
    TextFileReader r = openSpectrum(file);
    return readMeasured(r, file, firstDataLine);
}

MeasuredSpectrum readMeasuredContent(const std::filesystem::path& file, std::string content, double firstDataLine) {
    TextFileReader r(file, std::move(content));
    return readMeasured(r, file, firstDataLine);
}

ResultPreview readResultPreview(const std::filesystem::path& file) {
    TextFileReader r = openSpectrum(file);
    return readPreview(r, file);
}

ResultPreview readResultPreviewContent(const std::filesystem::path& file, std::string content) {
    TextFileReader r(file, std::move(content));
    return readPreview(r, file);
}

ResultSpectrum readResultFile(const std::filesystem::path& file) {
    TextFileReader r = openSpectrum(file);
    return readResult(r, file);
}

ResultSpectrum readResultContent(const std::filesystem::path& file, std::string content) {
    TextFileReader r(file, std::move(content));
    return readResult(r, file);
}

} // namespace tarvik
