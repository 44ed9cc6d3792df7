#include "qualityreport.h"

#include "spectrumload.h"
#include "values.h"

#include <algorithm>
#include <exception>
#include <vector>

namespace tarvik {

std::string qualityReport(const AppState& st, const quality::Options& options) {
    const int n = std::clamp(st.spectrumCount, 0, kMaxSpectra);
    const double k = valueOr0(st.kevPerChannel);
    std::string out;
    // (Appended piece by piece: "x" + std::string trips a false -Wrestrict in GCC 12.)
    for (int i = 1; i <= n; ++i) {
        const auto slot = static_cast<std::size_t>(i);
        const std::string& name = st.spectrumFile[slot];
        if (i > 1) out += "\n";
        out += '[';
        out += std::to_string(i);
        out += "] ";
        out += name;
        out += '\n';
        if (spectrumKindOf(name) == SpectrumKind::Measured)
            out += "※ 補正前の測定スペクトル (.csv) の値です\n";
        std::vector<double> counts(kChannels);
        for (int ch = 1; ch <= kChannels; ++ch)
            counts[static_cast<std::size_t>(ch - 1)] = valueOr0(st.spectrumCounts[slot][static_cast<std::size_t>(ch)]);
        try {
            std::string text = quality::formatText(quality::computeBeamQuality(counts, k, options));
            if (!text.empty() && text.back() != '\n') text += '\n';
            out += text;
        } catch (const std::exception& e) {
            out += std::string("計算できません: ") + e.what() + "\n";
        }
    }
    return out;
}

} // namespace tarvik
