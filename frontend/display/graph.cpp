#include "graph.h"

#include "values.h"

#include <algorithm>
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
void curve(DrawSurface& s, const AppState& st, int slot, double left, double baseline, int colour,
           const CountAxis& axis) {
    double k = valueOr0(st.kevPerChannel);
    int c0 = firstChannel(st.energyMin, k);
    double range = st.energyMax - st.energyMin;
    checkSlotMaximum(st, slot);
    double max = st.spectrumMax[static_cast<std::size_t>(slot)];
    for (int ch = c0; ch <= kChannels; ++ch) {
        if (ch * k <= st.energyMax) {
            double x = left + (ch - c0) * k * 7500.0 / range;
            double y = axis.log ? baseline - 6500.0 * countAxisShare(axis, countAt(st, slot, ch) / max)
                                : baseline - countAt(st, slot, ch) * 6500.0 / max;
            s.lineTo(x, y, colour);
        }
    }
}

// Rough width of a label in "Times New Roman" 16 points, twips: enough to
// stand the decade labels flush right against the plot like "0.1" stands.
double labelWidth(const std::string& text) {
    double w = 0;
    for (char c : text) w += c == '.' ? 80 : c == '-' ? 107 : c == 'E' ? 195 : 160;
    return w;
}

// The logarithmic count axis: a dark line at every decade inside the plot,
// light lines at 2..9 times each decade, a label at every decade from
// 10^-decades (on the baseline) to 1 (on the top edge).  `majorWidth` and
// `minorWidth` are the line widths (the page draws decades heavier).
int decadesOf(const CountAxis& axis) { return std::clamp(axis.decades, 1, kMaxDecades); }

void logGrid(DrawSurface& s, const CountAxis& axis, double left, double right, double baseline,
             int majorColour, int minorColour, int majorWidth, int minorWidth) {
    const int decades = decadesOf(axis);
    const double d = decades;
    s.setLineWidth(majorWidth);
    for (int j = 1; j < decades; ++j) {
        double y = baseline - 6500.0 * j / d;
        s.line(left, y, right, y, majorColour);
    }
    s.setLineWidth(minorWidth);
    for (int j = 0; j < decades; ++j)
        for (int m = 2; m <= 9; ++m) {
            double y = baseline - 6500.0 * (j + std::log10(static_cast<double>(m))) / d;
            s.line(left, y, right, y, minorColour);
        }
}

void logLabels(DrawSurface& s, const CountAxis& axis, double rightEdge, double baseline) {
    const int decades = decadesOf(axis);
    for (int j = 0; j <= decades; ++j) {
        std::string text = decadeLabel(j - decades);
        s.setPosition(rightEdge - labelWidth(text), baseline - 200 - 6500.0 * j / decades);
        s.print(text);
    }
}

} // namespace

CountAxis logCountAxis(const AppState& st) {
    CountAxis axis{true, 1};
    const double k = valueOr0(st.kevPerChannel);
    if (!(k > 0) || !std::isfinite(k)) return axis;
    const int c0 = firstChannel(st.energyMin, k);
    double smallest = 1;
    for (int i = 1; i <= st.spectrumCount && i <= kMaxSpectra; ++i) {
        const double max = st.spectrumMax[static_cast<std::size_t>(i)];
        if (!(max > 0) || !std::isfinite(max)) continue;
        for (int ch = c0; ch <= kChannels && ch * k <= st.energyMax; ++ch) {
            const double rel = countAt(st, i, ch) / max;
            if (rel > 0 && rel < smallest) smallest = rel;
        }
    }
    // A whole number of decades, so that 0.01 needs two and 0.011 two too;
    // the small allowance keeps a rounding error from adding a decade.
    const double needed = std::ceil(-std::log10(smallest) - 1e-9);
    axis.decades = static_cast<int>(std::clamp(needed, 1.0, static_cast<double>(kMaxDecades)));
    return axis;
}

double countAxisShare(const CountAxis& axis, double relative) {
    if (!axis.log) return relative;
    if (!(relative > 0)) return 0;
    const double share = 1 + std::log10(relative) / decadesOf(axis);
    return share > 0 ? share : 0;
}

std::string decadeLabel(int exponent) {
    switch (exponent) {
    case 0: return "1";
    case -1: return "0.1";
    case -2: return "0.01";
    default: return "1E" + std::to_string(exponent);
    }
}

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

void drawGraph(const AppState& st, DrawSurface& s, const CountAxis& axis) {
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
            if (axis.log) {
                logGrid(s, axis, Left, Right, Bottom, palette::Grey, palette::LightGrey, 1, 1);
                logLabels(s, axis, 2100, Bottom);
            } else {
                for (double y = 950; y <= 6150; y += 650) s.line(Left, y, Right, y, palette::Grey);
                for (double y = 625; y <= 6475; y += 650) s.line(Left, y, Right, y, palette::LightGrey);
                relativeLabels(s, 1700, 6600);
            }
            // The decade labels are wider than "0.5": the title moves left.
            const double titleX = axis.log ? 100 : 500;
            italicText(s, titleX, 2800, "Relative");
            italicText(s, titleX, 3200, "Photon");
            italicText(s, titleX, 3600, "Number");
        }
        s.setLineWidth(1);
        const int colour = paletteOfSlot(st, i);
        s.setPoint(Left, Bottom, colour);
        curve(s, st, i, Left, Bottom, colour, axis);
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

void printGraph(const AppState& st, DrawSurface& s, const CountAxis& axis) {
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
            if (axis.log) {
                logGrid(s, axis, left, right, bottom, ink, ink, 2, 1);
                logLabels(s, axis, 3100, bottom);
            } else {
                s.setLineWidth(2);
                for (double y = 3950; y <= 9150; y += 650) s.line(left, y, right, y, ink);
                s.setLineWidth(1);
                for (double y = 3625; y <= 9475; y += 650) s.line(left, y, right, y, ink);
                relativeLabels(s, 2700, 9600);
            }
            const double titleX = axis.log ? 1100 : 1500;
            italicText(s, titleX, 4800, "Relative");
            italicText(s, titleX, 5200, "Photon");
            italicText(s, titleX, 5600, "Number");
            // The frame as one connected path, before the curves.
            s.setLineWidth(8);
            s.line(left, top, right, top, ink);
            s.lineTo(right, bottom, ink);
            s.lineTo(left, bottom, ink);
            s.lineTo(left, top, ink);
        }
        s.setLineWidth(5);
        s.setPoint(left, bottom, ink);
        curve(s, st, i, left, bottom, ink, axis);
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
