// The ".Spe" block text: a line "$NAME:" opens a block, its lines follow.
//
//   $SPEC_ID:   title                      $DATE_MEA:  mm/dd/yyyy hh:mm:ss
//   $SPEC_REM:  remarks                    $MEAS_TIM:  live real (seconds)
//   $DATA:      first last, then the counts of channels first..last
//   $ENER_FIT:  offset slope (keV, of the channel number)
//   $MCA_CAL:   number of coefficients, then the coefficients and a unit
//   $ENER_DATA: number of points, then "channel energy" lines
//
// Other blocks ($ROI:, $PRESETS:, ...) are kept as header lines.
#include "detail.h"

#include <cmath>
#include <cstdio>

namespace formats::detail {

namespace {

struct Block {
    std::string name;
    std::size_t line = 0;
    std::vector<Line> lines;
};

} // namespace

std::vector<double> shiftedPolynomial(const std::vector<double>& c, double shift)
{
    std::vector<double> out(c.size(), 0.0);
    for (std::size_t i = 0; i < c.size(); ++i) {
        // c_i (k + s)^i = c_i sum_j binom(i, j) s^(i-j) k^j
        double binom = 1;
        for (std::size_t j = 0; j <= i; ++j) {
            if (j > 0) binom = binom * static_cast<double>(i - j + 1) / static_cast<double>(j);
            out[j] += c[i] * binom * std::pow(shift, static_cast<double>(i - j));
        }
    }
    return out;
}

namespace {

bool allZero(const std::vector<double>& c)
{
    for (double v : c)
        if (v != 0) return false;
    return true;
}

} // namespace


std::vector<Spectrum> readSpe(std::string_view bytes, const std::string& file)
{
    const std::string_view text = requireText(bytes, file);
    Lines lines(text);
    Line line;
    std::vector<Block> blocks;
    while (lines.next(line)) {
        const std::string_view t = trim(line.text);
        if (startsWith(t, "$") && t.find(':') != std::string_view::npos) {
            const std::size_t colon = t.find(':');
            Block b;
            b.name = std::string(trim(t.substr(1, colon - 1)));
            b.line = line.number;
            blocks.push_back(std::move(b));
            // A value on the same line as its name ("$SPEC_ID: title").
            const std::string_view rest = trim(t.substr(colon + 1));
            if (!rest.empty()) blocks.back().lines.push_back(Line{rest, line.number});
            continue;
        }
        if (blocks.empty()) {
            if (t.empty()) continue;
            fail(file, lineWhere(line.number), "expected a block name such as $SPEC_ID:, found " + quoted(t));
        }
        if (!t.empty()) blocks.back().lines.push_back(Line{t, line.number});
    }
    if (blocks.empty()) fail(file, "", "the file holds no blocks ($SPEC_ID:, $DATA:, ...)");

    Spectrum s;
    const Block* data = nullptr;
    const Block* fit = nullptr;
    const Block* mcaCal = nullptr;
    const Block* points = nullptr;
    std::size_t timeLine = 0;
    for (const Block& b : blocks) {
        auto need = [&](std::size_t n, const char* what) {
            if (b.lines.size() < n)
                fail(file, lineWhere(b.line), "$" + b.name + ": expected " + what + " on the next line");
        };
        if (b.name == "DATA") {
            if (data) fail(file, lineWhere(b.line), "a second $DATA: block");
            data = &b;
            continue;
        }
        if (b.name == "SPEC_ID") {
            if (!b.lines.empty()) s.name = textOf(b.lines.front().text);
        } else if (b.name == "DATE_MEA") {
            if (!b.lines.empty()) s.startTime = isoFromDateText(b.lines.front().text);
        } else if (b.name == "MEAS_TIM") {
            need(1, "the live and real time in seconds");
            const auto f = splitBlanks(b.lines.front().text);
            std::optional<double> live, real;
            if (f.size() >= 2) {
                live = parseReal(f[0]);
                real = parseReal(f[1]);
            }
            if (!live || !real)
                fail(file, lineWhere(b.lines.front().number),
                     "$MEAS_TIM: expected the live and the real time in seconds, found " + quoted(b.lines.front().text));
            s.liveTimeS = live;
            s.realTimeS = real;
            timeLine = b.lines.front().number;
        } else if (b.name == "ENER_FIT") {
            fit = &b;
        } else if (b.name == "MCA_CAL") {
            mcaCal = &b;
        } else if (b.name == "ENER_DATA") {
            points = &b;
        }
        s.headerLines.push_back("$" + b.name + ":");
        for (const Line& l : b.lines) s.headerLines.push_back(textOf(l.text));
    }
    if (!data) fail(file, "", "no $DATA: block: expected the counts after $DATA: and its first and last channel");

    // $DATA: first last, then last - first + 1 counts.
    if (data->lines.empty()) fail(file, lineWhere(data->line), "$DATA: expected the first and the last channel");
    const auto range = splitBlanks(data->lines.front().text);
    std::optional<double> first, last;
    if (range.size() == 2) {
        first = parseReal(range[0]);
        last = parseReal(range[1]);
    }
    if (first && last && *last - *first >= static_cast<double>(kMaxChannels))
        checkChannelCount(kMaxChannels + 1, file, lineWhere(data->lines.front().number));
    if (!first || !last || *first < 0 || *first != std::floor(*first) || *last != std::floor(*last) || *last < *first)
        fail(file, lineWhere(data->lines.front().number),
             "$DATA: expected the first and the last channel (0 <= first <= last), found " +
                 quoted(data->lines.front().text));
    const auto announced = static_cast<std::size_t>(*last - *first) + 1;
    s.counts.reserve(announced);
    for (std::size_t i = 1; i < data->lines.size(); ++i) {
        const Line& l = data->lines[i];
        for (std::string_view token : splitBlanks(l.text)) {
            if (s.counts.size() == announced)
                fail(file, lineWhere(l.number),
                     "$DATA: announces " + std::to_string(announced) + " channels, the block holds more counts");
            std::string why;
            const std::optional<std::uint64_t> c = parseCount(token, why);
            if (!c) fail(file, lineWhere(l.number), "channel " + std::to_string(s.counts.size()) + ": " + why);
            s.counts.push_back(*c);
        }
    }
    if (s.counts.size() != announced)
        fail(file, lineWhere(data->line),
             "$DATA: announces " + std::to_string(announced) + " channels, the block holds " +
                 std::to_string(s.counts.size()) + (s.counts.size() < announced ? " (the file is cut short?)" : ""));
    checkTimes(s.liveTimeS, s.realTimeS, file, lineWhere(timeLine));

    // The energy calibration: $MCA_CAL, else $ENER_FIT, else the points of $ENER_DATA.
    std::vector<double> coefficients;
    std::vector<CalibrationPoint> calPoints;
    std::string basis;
    std::size_t calLine = 0;
    if (mcaCal) {
        calLine = mcaCal->line;
        if (mcaCal->lines.size() < 2) fail(file, lineWhere(mcaCal->line), "$MCA_CAL: expected the number of coefficients and the coefficients");
        const std::optional<double> n = parseReal(trim(mcaCal->lines[0].text));
        const auto f = splitBlanks(mcaCal->lines[1].text);
        if (!n || *n < 1 || *n > 6 || *n != std::floor(*n) || f.size() < static_cast<std::size_t>(*n))
            fail(file, lineWhere(mcaCal->lines[0].number), "$MCA_CAL: expected the number of coefficients (1 to 6) and as many coefficients");
        double unit = 1;
        if (f.size() > static_cast<std::size_t>(*n)) {
            const std::string_view u = f[static_cast<std::size_t>(*n)];
            if (equalsNoCase(u, "eV")) unit = 0.001;
            else if (equalsNoCase(u, "MeV")) unit = 1000;
            else if (!equalsNoCase(u, "keV"))
                fail(file, lineWhere(mcaCal->lines[1].number), "$MCA_CAL: expected the unit keV, eV or MeV, found " + quoted(u));
        }
        for (std::size_t i = 0; i < static_cast<std::size_t>(*n); ++i) {
            const std::optional<double> c = parseReal(f[i]);
            if (!c) fail(file, lineWhere(mcaCal->lines[1].number), "$MCA_CAL: expected a coefficient, found " + quoted(f[i]));
            coefficients.push_back(*c * unit);
        }
        basis = "$MCA_CAL: polynomial of degree " + std::to_string(coefficients.size() - 1);
    } else if (fit) {
        calLine = fit->line;
        if (fit->lines.empty()) fail(file, lineWhere(fit->line), "$ENER_FIT: expected the offset and the slope");
        const auto f = splitBlanks(fit->lines[0].text);
        if (f.size() < 2) fail(file, lineWhere(fit->lines[0].number), "$ENER_FIT: expected the offset and the slope, found " + quoted(fit->lines[0].text));
        for (std::string_view token : f) {
            const std::optional<double> c = parseReal(token);
            if (!c) fail(file, lineWhere(fit->lines[0].number), "$ENER_FIT: expected a number, found " + quoted(token));
            coefficients.push_back(*c);
        }
        basis = "$ENER_FIT: offset and slope";
    } else if (points) {
        calLine = points->line;
        for (std::size_t i = 1; i < points->lines.size(); ++i) {
            const auto f = splitBlanks(points->lines[i].text);
            std::optional<double> ch, e;
            if (f.size() >= 2) {
                ch = parseReal(f[0]);
                e = parseReal(f[1]);
            }
            if (!ch || !e) fail(file, lineWhere(points->lines[i].number), "$ENER_DATA: expected \"channel energy\", found " + quoted(points->lines[i].text));
            calPoints.push_back({*ch - *first, *e});
        }
        // Points at 0 keV mark an uncalibrated spectrum.
        bool any = false;
        for (const auto& p : calPoints) any = any || p.energyKeV != 0;
        if (any) {
            try {
                double residual = 0;
                coefficients = fitLine(calPoints, residual);
                char buf[96];
                std::snprintf(buf, sizeof buf, "$ENER_DATA: %zu points, least-squares line, largest residual %.3g keV",
                              calPoints.size(), residual);
                basis = buf;
            } catch (const std::invalid_argument& e) {
                fail(file, lineWhere(calLine), std::string("$ENER_DATA: ") + e.what());
            }
            // Already in the record's numbering.
            try {
                s.calibration = makeCalibration(coefficients, ChannelPoint::Centre, s.counts.size(), basis, calPoints);
            } catch (const std::invalid_argument& e) {
                fail(file, lineWhere(calLine), std::string("$ENER_DATA: ") + e.what());
            }
            coefficients.clear();
        }
    }
    // An all-zero calibration is how the format says "not calibrated".
    if (!coefficients.empty() && !allZero(coefficients)) {
        try {
            s.calibration = makeCalibration(shiftedPolynomial(coefficients, *first), ChannelPoint::Centre, s.counts.size(), basis);
        } catch (const std::invalid_argument& e) {
            fail(file, lineWhere(calLine), e.what());
        }
    }
    std::vector<Spectrum> out;
    out.push_back(std::move(s));
    return out;
}

} // namespace formats::detail
