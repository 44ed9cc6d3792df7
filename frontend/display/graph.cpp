#include "graph.h"

#include "values.h"

#include <cmath>

namespace tarvik {

namespace {

// Ranges reaching beyond this many keV from zero, or wider than it, are
// refused: the axis numbers are stepped by adding 10 or 20 keV, which stops
// advancing for huge values, and the grid has a line every 5 keV, so a range
// of 1e6 keV already takes 200000 lines and 50000 numbers (most of a second
// on screen); ten times more would freeze the window for many seconds.
constexpr double kRangeLimit = 1e6;

int paletteOfSlot(const AppState& s, int slot) { return s.spectrumColour[static_cast<std::size_t>(slot)]; }

double countAt(const AppState& s, int slot, int channel) {
    return valueOr0(s.spectrumCounts[static_cast<std::size_t>(slot)][static_cast<std::size_t>(channel)]);
}

// Vertical grid lines at x = left + offset + j·step (j = 0, 1, ...) while
// x <= right; nothing when the step is not positive (a reversed range).
void verticalLines(DrawSurface& s, double left, double right, double offset, double stepNumerator,
                   double range, double top, double bottom, int colour) {
    if (!(stepNumerator / range > 0)) return;
    for (long j = 0;; ++j) {
        double x = left + offset + static_cast<double>(j) * stepNumerator / range;
        if (x > right) break;
        s.line(x, top, x, bottom, colour);
    }
}

// Energy axis numbers from energyMin in steps of 20 keV (range >= 100) or
// 10 keV while e <= energyMax.
void energyAxisNumbers(DrawSurface& s, const AppState& st, double range, double xOffsetSmall,
                       double xOffsetLarge, double y) {
    double step = range >= 100 ? 20 : 10;
    for (double e = st.energyMin; e <= st.energyMax; e += step) {
        double x = (e - st.energyMin) * 7500.0 / range + (e >= 100 ? xOffsetLarge : xOffsetSmall);
        s.setPosition(x, y);
        s.print(axisNumberText(e));
    }
}

// Relative photon number labels 0.1 .. 1.0; v accumulates 0.1 and the loop
// ends once v exceeds 1, which gives exactly ten labels.
void relativeLabels(DrawSurface& s, double x, double yOfZero) {
    for (double v = 0.1; v <= 1.0; v += 0.1) {
        s.setPosition(x, yOfZero - 6500.0 * v);
        s.print(formatPattern(v, "0.0"));
    }
}

void italicText(DrawSurface& s, double x, double y, const char* text) {
    s.setItalic(true);
    s.setPosition(x, y);
    s.print(text);
    s.setItalic(false);
}

void checkSlotMaximum(const AppState& st, int slot) {
    double max = st.spectrumMax[static_cast<std::size_t>(slot)];
    if (!(max != 0) || !std::isfinite(max))
        throw GraphError(GraphError::Reason::EmptySpectrum,
                         "spectrum " + std::to_string(slot) + " has no count above 0");
}

// One curve: from the pen at the baseline's left end through every channel
// from c0 whose energy is within energyMax.  lineTo with the slot colour on
// screen, black on paper.
void curve(DrawSurface& s, const AppState& st, int slot, double left, double baseline, int colour) {
    double k = valueOr0(st.kevPerChannel);
    int c0 = firstChannel(st.energyMin, k);
    double range = st.energyMax - st.energyMin;
    checkSlotMaximum(st, slot);
    double max = st.spectrumMax[static_cast<std::size_t>(slot)];
    for (int ch = c0; ch <= kChannels; ++ch) {
        if (ch * k <= st.energyMax) {
            double x = left + (ch - c0) * k * 7500.0 / range;
            double y = baseline - countAt(st, slot, ch) * 6500.0 / max;
            s.lineTo(x, y, colour);
        }
    }
}

} // namespace

void checkRange(double energyMin, double energyMax) {
    double range = energyMax - energyMin;
    if (!std::isfinite(energyMin) || !std::isfinite(energyMax) || !std::isfinite(range) ||
        std::fabs(energyMin) > kRangeLimit || std::fabs(energyMax) > kRangeLimit ||
        std::fabs(range) > kRangeLimit)
        throw GraphError(GraphError::Reason::RangeOutOfReach, "the energy range is out of reach");
    if (range == 0)
        throw GraphError(GraphError::Reason::EmptyRange, "the energy range is empty");
}

int firstChannel(double energyMin, double kevPerChannel) {
    if (!(kevPerChannel > 0) || !std::isfinite(kevPerChannel))
        throw GraphError(GraphError::Reason::BadChannelWidth, "keV per channel is not above 0");
    int c = 1;
    while (c <= kChannels && c * kevPerChannel < energyMin) ++c;
    return c;
}

std::string axisNumberText(double value) {
    if (value == 0) value = 0.0;  // no "-0"
    std::string digits = numberAsText(value);
    return (value < 0 ? "" : " ") + digits + " ";
}

std::string legendName(const std::string& fileName) {
    // Count UTF-8 characters, not bytes: a Japanese name keeps whole characters.
    std::size_t chars = 0, i = 0;
    while (i < fileName.size() && chars < 15) {
        unsigned char c = static_cast<unsigned char>(fileName[i]);
        std::size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 1;
        i += len;
        ++chars;
    }
    return fileName.substr(0, std::min(i, fileName.size()));
}

void drawGraph(const AppState& st, DrawSurface& s) {
    const int n = st.spectrumCount;
    const double range = st.energyMax - st.energyMin;
    using namespace plot;

    for (int i = 1; i <= n; ++i) {
        if (i == 1) {
            // The empty graph.
            s.fillRect(0, 0, 10000, 8000, palette::White);
            s.setLineWidth(2);
            s.rectOutline(Left, Top, Right, Bottom, palette::Black);
            s.setLineWidth(1);
            s.setFontName("Times New Roman");
            s.setFontSize(16);
            checkRange(st.energyMin, st.energyMax);
            if (range >= 50) {
                verticalLines(s, Left, Right, 0, 75000, range, Top, Bottom, palette::Grey);
                verticalLines(s, Left, Right, 37500 / range, 75000, range, Top, Bottom, palette::LightGrey);
            } else {
                verticalLines(s, Left, Right, 0, 15000, range, Top, Bottom, palette::LightGrey);
                verticalLines(s, Left, Right, 0, 75000, range, Top, Bottom, palette::Grey);
            }
            energyAxisNumbers(s, st, range, 1950, 1850, 6850);
            italicText(s, 6500, 7200, "Photon energy in keV");
            for (double y = 950; y <= 6150; y += 650) s.line(Left, y, Right, y, palette::Grey);
            for (double y = 625; y <= 6475; y += 650) s.line(Left, y, Right, y, palette::LightGrey);
            relativeLabels(s, 1700, 6600);
            italicText(s, 500, 2800, "Relative");
            italicText(s, 500, 3200, "Photon");
            italicText(s, 500, 3600, "Number");
        }
        s.setLineWidth(1);
        const int colour = paletteOfSlot(st, i);
        s.setPoint(Left, Bottom, colour);
        curve(s, st, i, Left, Bottom, colour);
    }

    s.setFontSize(14);
    s.setLineWidth(2);
    s.fillRect(7200, 500, 9500, 650 + 450.0 * n, palette::White);
    s.rectOutline(7200, 500, 9500, 650 + 450.0 * n, palette::Black);
    for (int j = 1; j <= n; ++j) {
        double y = 250 + 450.0 * j;
        s.line(7300, y, 8500, y, paletteOfSlot(st, j));
        s.setPosition(7400, y + 50);
        s.print(legendName(st.spectrumFile[static_cast<std::size_t>(j)]));
    }
    // The frame again, on top of grid and curves.
    s.rectOutline(Left, Top, Right, Bottom, palette::Black);
    s.setFontSize(14);
    s.setPosition(100, 50);
    s.print("Max count");
    for (int j = 1; j <= n; ++j) {
        s.setPosition(300, 100 + 250.0 * j);
        s.setTextColour(paletteOfSlot(st, j));
        s.print(axisNumberText(st.spectrumMax[static_cast<std::size_t>(j)]));
    }
    s.setTextColour(palette::Black);
}

void printGraph(const AppState& st, DrawSurface& s) {
    const int n = st.spectrumCount;
    const double range = st.energyMax - st.energyMin;
    using namespace plot;
    const double left = Left + PaperShiftX, right = Right + PaperShiftX;
    const double top = Top + PaperShiftY, bottom = Bottom + PaperShiftY;
    const int ink = palette::Black;  // the page is black only

    s.setScale(PaperWidth, PaperHeight);
    s.setFontName("Times New Roman");
    s.setFontSize(16);

    for (int i = 1; i <= n; ++i) {
        if (i == 1) {
            checkRange(st.energyMin, st.energyMax);
            if (range >= 50) {
                s.setLineWidth(2);
                verticalLines(s, left, right, 0, 75000, range, top, bottom, ink);
                s.setLineWidth(1);
                verticalLines(s, left, right, 37500 / range, 75000, range, top, bottom, ink);
            } else {
                s.setLineWidth(1);
                verticalLines(s, left, right, 0, 15000, range, top, bottom, ink);
                s.setLineWidth(2);
                verticalLines(s, left, right, 0, 75000, range, top, bottom, ink);
            }
            energyAxisNumbers(s, st, range, 2950, 2850, 9850);
            italicText(s, 7500, 10200, "Photon energy in keV");
            s.setLineWidth(2);
            for (double y = 3950; y <= 9150; y += 650) s.line(left, y, right, y, ink);
            s.setLineWidth(1);
            for (double y = 3625; y <= 9475; y += 650) s.line(left, y, right, y, ink);
            relativeLabels(s, 2700, 9600);
            italicText(s, 1500, 4800, "Relative");
            italicText(s, 1500, 5200, "Photon");
            italicText(s, 1500, 5600, "Number");
            // The frame as one connected path, before the curves.
            s.setLineWidth(8);
            s.line(left, top, right, top, ink);
            s.lineTo(right, bottom, ink);
            s.lineTo(left, bottom, ink);
            s.lineTo(left, top, ink);
        }
        s.setLineWidth(5);
        s.setPoint(left, bottom, ink);
        curve(s, st, i, left, bottom, ink);
    }

    s.setLineWidth(2);
    for (double y = 12200; y <= 14600; y += 600) s.line(1500, y, right, y, ink);
    s.setFontName("HG正楷書体-PRO");
    s.setFontSize(10);
    s.setPosition(4000, 15800);
    s.print(st.facilityName);
    s.endDocument();
}

} // namespace tarvik
