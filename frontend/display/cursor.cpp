#include "cursor.h"

#include "graph.h"
#include "values.h"

#include <cmath>

namespace tarvik {

int channelUnderMouse(const AppState& st, double x) {
    double range = st.energyMax - st.energyMin;
    double k = valueOr0(st.kevPerChannel);
    double energy = st.energyMin + range * (x - plot::Left) / plot::Width;
    int ch = 1;
    // The search ends at the table's end however small k is (or when k is 0
    // or less, which the window refuses before any spectrum is drawn).
    while (ch < kCursorChannelMax && ch * k < energy) ++ch;
    return ch;
}

bool stepCursorDown(AppState& st) {
    double k = valueOr0(st.kevPerChannel);
    int next = st.cursorChannel - 1;
    if (next < kCursorChannelMin || !(next * k >= st.energyMin)) return false;
    st.cursorChannel = next;
    return true;
}

bool stepCursorUp(AppState& st) {
    double k = valueOr0(st.kevPerChannel);
    int next = st.cursorChannel + 1;
    if (next > kCursorChannelMax || !(next * k <= st.energyMax)) return false;
    st.cursorChannel = next;
    return true;
}

CursorReadout cursorReadout(const AppState& st, bool withUnit, const CountAxis& axis) {
    CursorReadout r;
    const int ch = st.cursorChannel;
    const int n = st.spectrumCount;
    const double k = valueOr0(st.kevPerChannel);
    const double range = st.energyMax - st.energyMin;
    r.channelText = formatPattern(ch, withUnit ? "###0 ch" : "###0");
    r.energyText = formatPattern(ch * k, "##0.00 keV");

    const bool inTable = ch >= 0 && ch < kCountCells;
    if (n >= 1 && n <= kMaxSpectra && inTable) {
        const auto& cell = st.spectrumCounts[static_cast<std::size_t>(n)][static_cast<std::size_t>(ch)];
        r.countText = numberAsText(cell);
        double max = st.spectrumMax[static_cast<std::size_t>(n)];
        double y = axis.log ? plot::Bottom - plot::Height * countAxisShare(axis, valueOr0(cell) / max)
                             : plot::Bottom - valueOr0(cell) * plot::Height / max;
        if (max > 0 && std::isfinite(y)) r.line6Y = y;
    }
    double x = plot::Left + plot::Width * (ch * k - st.energyMin) / range;
    if (range != 0 && std::isfinite(x)) r.line5X = x;
    return r;
}

} // namespace tarvik
