#include "export.h"

#include "values.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace tarvik {

std::optional<GraphFileFormat> graphFileFormatOf(std::string_view fileName) {
    const std::size_t dot = fileName.rfind('.');
    if (dot == std::string_view::npos) return std::nullopt;
    std::string ext(fileName.substr(dot + 1));
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (ext == "png") return GraphFileFormat::Png;
    if (ext == "svg") return GraphFileFormat::Svg;
    if (ext == "pdf") return GraphFileFormat::Pdf;
    return std::nullopt;
}

std::string csvField(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + '"';
}

std::string spectraCsv(const AppState& st) {
    const int n = std::clamp(st.spectrumCount, 0, kMaxSpectra);
    if (n == 0) return {};
    const double k = valueOr0(st.kevPerChannel);
    std::string out = "channel,energy";
    for (int i = 1; i <= n; ++i) {
        out += ',';
        out += csvField(st.spectrumFile[static_cast<std::size_t>(i)]);
    }
    out += "\n,keV";
    for (int i = 1; i <= n; ++i) out += ",counts";
    out += '\n';
    char buf[64];
    for (int ch = 1; ch <= kChannels; ++ch) {
        // 6 significant digits of the energy: 3 × 0.1 is written 0.3.
        std::snprintf(buf, sizeof buf, "%d,%.6g", ch, ch * k);
        out += buf;
        for (int i = 1; i <= n; ++i) {
            const auto& cell = st.spectrumCounts[static_cast<std::size_t>(i)][static_cast<std::size_t>(ch)];
            out += ',';
            if (cell) {
                std::snprintf(buf, sizeof buf, "%.10g", *cell);
                out += buf;
            }
        }
        out += '\n';
    }
    return out;
}

} // namespace tarvik
