#include "spectrumload.h"

#include "textfile.h"
#include "values.h"

#include <cmath>

namespace tarvik {

namespace {

constexpr int kResultHeaderLines = 22;
constexpr int kMeasuredHeaderLines = 31;

bool endsWith(std::string_view s, std::string_view tail) {
    return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

// A field holds a number when it begins with one (sign, digits or a point
// followed by a digit); an empty field counts as 0.
bool isNumberField(std::string_view f) {
    std::size_t i = 0;
    while (i < f.size() && (f[i] == ' ' || f[i] == '\t')) ++i;
    if (i == f.size()) return true;
    if (f[i] == '+' || f[i] == '-') ++i;
    auto digit = [&](std::size_t j) { return j < f.size() && f[j] >= '0' && f[j] <= '9'; };
    if (digit(i)) return true;
    return i < f.size() && f[i] == '.' && digit(i + 1);
}

double numberField(TextFileReader& in, int channel) {
    std::string f = in.readField();
    if (!isNumberField(f))
        throw SpectrumLoadError("channel " + std::to_string(channel) + ": \"" + f + "\" is not a number");
    return leadingNumber(f);
}

} // namespace

SpectrumKind spectrumKindOf(std::string_view path) {
    if (endsWith(path, "mca1") || endsWith(path, "mca2")) return SpectrumKind::Result;
    if (endsWith(path, ".csv")) return SpectrumKind::Measured;
    return SpectrumKind::Other;
}

std::string readPreview(const std::filesystem::path& path, AppState& st) {
    st.commentLine1 = std::string(" ");
    st.commentLine2 = std::string(" ");
    st.tubeVoltage = 150;
    st.kevPerChannel = 0.2;
    switch (spectrumKindOf(path.string())) {
    case SpectrumKind::Result: {
        TextFileReader in(path);
        st.commentLine1 = in.readLine();
        st.commentLine2 = in.readLine();
        st.tubeVoltage = in.readNumberField();
        st.kevPerChannel = in.readNumberField();
        for (int i = 5; i <= 7; ++i) in.readLine();
        return in.readLine();
    }
    case SpectrumKind::Measured: {
        TextFileReader in(path);
        for (int i = 1; i <= 3; ++i) in.readLine();
        return in.readLine();
    }
    case SpectrumKind::Other:
        break;
    }
    return {};
}

std::optional<LoadedSpectrum> loadSpectrum(const std::filesystem::path& path) {
    SpectrumKind kind = spectrumKindOf(path.string());
    if (kind == SpectrumKind::Other) return std::nullopt;
    try {
        TextFileReader in(path);
        int header = kind == SpectrumKind::Result ? kResultHeaderLines : kMeasuredHeaderLines;
        for (int i = 0; i < header; ++i) in.readRawLine();
        LoadedSpectrum s;
        for (int c = 1; c <= kChannels; ++c) {
            numberField(in, c);  // channel number, not used
            numberField(in, c);  // energy, not used
            double count = numberField(in, c);
            if (!std::isfinite(count) || std::fabs(count) >= 1e300)
                throw SpectrumLoadError("channel " + std::to_string(c) + ": count out of range");
            s.counts[static_cast<std::size_t>(c)] = count;
            if (count >= s.max) s.max = count;
        }
        return s;
    } catch (const FileReadError& e) {
        throw SpectrumLoadError(e.what());
    }
}

} // namespace tarvik
