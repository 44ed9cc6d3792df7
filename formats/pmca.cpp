// The "<<PMCA SPECTRUM>>" text of digital pulse processors (".mca"):
//
//   <<PMCA SPECTRUM>>            first line
//   KEY - value                  TAG, DESCRIPTION, GAIN, LIVE_TIME, REAL_TIME,
//                                START_TIME (mm/dd/yyyy hh:mm:ss), ...
//   <<CALIBRATION>>              LABEL - <unit>, then "channel energy" points
//   <<ROI>>                      "first last" channel pairs
//   <<DATA>>                     one count per line, channel 0 first
//   <<END>>
//   <<DP5 CONFIGURATION>>        KEY=VALUE; settings (TPEA, PURE, TPFA, MCAC, ...)
//   <<DP5 CONFIGURATION END>>
//   <<DPP STATUS>>               "Name: value" lines (Fast Count, Slow Count, ...)
//   <<DPP STATUS END>>
#include "detail.h"

#include <cmath>
#include <cstdio>

namespace formats::detail {

namespace {

enum class Section { Header, Calibration, Roi, Data, AfterData, Configuration, Status, Other };

// "KEY - value": the key up to the first '-', both trimmed.
bool splitKey(std::string_view line, std::string_view& key, std::string_view& value)
{
    const std::size_t dash = line.find('-');
    if (dash == std::string_view::npos) return false;
    key = trim(line.substr(0, dash));
    value = trim(line.substr(dash + 1));
    if (key.empty()) return false;
    for (char c : key)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')) return false;
    return true;
}

std::optional<bool> onOff(std::string_view v)
{
    if (equalsNoCase(v, "ON") || equalsNoCase(v, "YES") || equalsNoCase(v, "Y")) return true;
    if (equalsNoCase(v, "OFF") || equalsNoCase(v, "NO") || equalsNoCase(v, "N")) return false;
    return std::nullopt;
}

} // namespace

std::vector<Spectrum> readPmca(std::string_view bytes, const std::string& file)
{
    const std::string_view text = requireText(bytes, file);
    Lines lines(text);
    Line line;
    // The first line that holds anything must name the format.
    do {
        if (!lines.next(line)) fail(file, "", "the file is empty");
    } while (trim(line.text).empty());
    if (trim(line.text) != "<<PMCA SPECTRUM>>")
        fail(file, lineWhere(line.number), "expected <<PMCA SPECTRUM>>, found " + quoted(line.text));

    Spectrum s;
    Section section = Section::Header;
    std::size_t liveLine = 0, realLine = 0, mcacLine = 0, dataLine = 0;
    std::optional<std::size_t> announced;  // MCAC of the configuration
    double unitKeV = 1;
    bool unitNamed = false;
    std::vector<CalibrationPoint> points;
    PulseProcessor pp;
    bool havePp = false, ended = false;

    auto number = [&](std::string_view v, const char* what) {
        const std::optional<double> x = parseReal(v);
        if (!x) fail(file, lineWhere(line.number), std::string("expected ") + what + ", found " + quoted(v));
        return *x;
    };

    while (lines.next(line)) {
        const std::string_view t = trim(line.text);
        if (startsWith(t, "<<") && t.size() >= 4 && t.substr(t.size() - 2) == ">>") {
            const std::string_view name = trim(t.substr(2, t.size() - 4));
            if (section == Section::Data && name != "END")
                fail(file, lineWhere(line.number), "expected a count or <<END>>, found " + quoted(t));
            if (name == "PMCA SPECTRUM") {
                fail(file, lineWhere(line.number), "a second <<PMCA SPECTRUM>>: expected one spectrum per file");
            } else if (name == "CALIBRATION") {
                section = Section::Calibration;
            } else if (name == "ROI") {
                section = Section::Roi;
            } else if (name == "DATA") {
                if (dataLine != 0) fail(file, lineWhere(line.number), "a second <<DATA>> section");
                section = Section::Data;
                dataLine = line.number;
            } else if (name == "END") {
                if (section != Section::Data) fail(file, lineWhere(line.number), "<<END>> without <<DATA>> before it");
                section = Section::AfterData;
                ended = true;
            } else if (name.size() > 4 && name.substr(name.size() - 4) == " END") {
                section = Section::Other;
            } else if (name.size() > 14 && name.substr(name.size() - 14) == " CONFIGURATION") {
                section = Section::Configuration;
                havePp = true;
            } else if (name.size() > 7 && name.substr(name.size() - 7) == " STATUS") {
                section = Section::Status;
                havePp = true;
            } else {
                section = Section::Other;
            }
            continue;
        }
        switch (section) {
        case Section::Header: {
            if (t.empty()) break;
            s.headerLines.push_back(textOf(t));
            std::string_view key, value;
            if (!splitKey(t, key, value)) break;
            if (key == "LIVE_TIME" && !value.empty()) {
                s.liveTimeS = number(value, "the live time in seconds");
                liveLine = line.number;
            } else if (key == "REAL_TIME" && !value.empty()) {
                s.realTimeS = number(value, "the real time in seconds");
                realLine = line.number;
            } else if (key == "START_TIME") {
                s.startTime = isoFromDateText(value);
            } else if (key == "TAG") {
                s.name = textOf(value);
            } else if (key == "DESCRIPTION" && s.name.empty()) {
                s.name = textOf(value);
            }
            break;
        }
        case Section::Calibration: {
            if (t.empty()) break;
            std::string_view key, value;
            if (splitKey(t, key, value) && key == "LABEL") {
                // The unit of the energies: eV, keV or MeV.
                unitNamed = true;
                if (containsNoCase(value, "kev")) unitKeV = 1;
                else if (containsNoCase(value, "mev")) unitKeV = 1000;
                else if (containsNoCase(value, "ev")) unitKeV = 0.001;
                else unitNamed = false;
                break;
            }
            const auto f = splitBlanks(t);
            if (f.size() != 2) fail(file, lineWhere(line.number), "expected a calibration point \"channel energy\", found " + quoted(t));
            const double ch = number(f[0], "the channel of a calibration point");
            const double e = number(f[1], "the energy of a calibration point");
            points.push_back({ch, e * unitKeV});
            break;
        }
        case Section::Data: {
            std::string why;
            const std::optional<std::uint64_t> c = parseCount(t, why);
            if (!c) fail(file, lineWhere(line.number), "channel " + std::to_string(s.counts.size()) + ": " + why);
            if (s.counts.size() >= kMaxChannels) checkChannelCount(s.counts.size() + 1, file, lineWhere(line.number));
            s.counts.push_back(*c);
            break;
        }
        case Section::Configuration: {
            if (t.empty()) break;
            // KEY=VALUE; followed by an optional comment.
            const std::size_t eq = t.find('=');
            if (eq == std::string_view::npos) {
                fail(file, lineWhere(line.number), "expected a setting KEY=VALUE;, found " + quoted(t));
            }
            const std::string_view key = trim(t.substr(0, eq));
            std::string_view value = t.substr(eq + 1);
            if (const std::size_t semi = value.find(';'); semi != std::string_view::npos) value = value.substr(0, semi);
            value = trim(value);
            pp.settings.emplace_back(textOf(key), textOf(value));
            if (key == "TPEA") pp.peakingTimeUs = number(value, "the peaking time in microseconds");
            else if (key == "TFLA") pp.flatTopUs = number(value, "the flat top in microseconds");
            else if (key == "TPFA") pp.fastPeakingTimeNs = number(value, "the fast channel peaking time in ns");
            else if (key == "THFA") pp.fastThreshold = number(value, "the fast threshold");
            else if (key == "THSL") pp.slowThresholdPercent = number(value, "the slow threshold in percent");
            else if (key == "RTDE") pp.riseTimeDiscrimination = onOff(value);
            else if (key == "PURE") {
                // ON, OFF, or MAX with the longest interval in microseconds.
                if (auto b = onOff(value)) {
                    pp.pileUpRejection = b;
                } else if (startsWith(value, "MAX")) {
                    pp.pileUpRejection = true;
                    const std::string_view rest = trim(value.substr(3));
                    if (!rest.empty()) {
                        std::string_view digits = rest;
                        while (!digits.empty() && !((digits.back() >= '0' && digits.back() <= '9') || digits.back() == '.'))
                            digits.remove_suffix(1);
                        pp.pileUpRejectionMaxUs = number(trim(digits), "the pile-up rejection interval in microseconds");
                    }
                } else {
                    fail(file, lineWhere(line.number), "expected PURE=ON, OFF or MAX, found " + quoted(value));
                }
            } else if (key == "MCAC") {
                const double n = number(value, "the number of channels");
                if (n < 1 || n > static_cast<double>(kMaxChannels) || n != std::floor(n))
                    fail(file, lineWhere(line.number), "expected the number of channels, found " + quoted(value));
                announced = static_cast<std::size_t>(n);
                mcacLine = line.number;
            }
            break;
        }
        case Section::Status: {
            if (t.empty()) break;
            const std::size_t colon = t.find(':');
            if (colon == std::string_view::npos) {
                pp.status.emplace_back(textOf(t), std::string());
                break;
            }
            const std::string_view name = trim(t.substr(0, colon));
            std::string_view value = trim(t.substr(colon + 1));
            pp.status.emplace_back(textOf(name), textOf(value));
            std::string why;
            if (equalsNoCase(name, "Device Type")) {
                pp.device = textOf(value);
            } else if (equalsNoCase(name, "Fast Count")) {
                pp.inputCounts = parseCount(value, why);
                if (!pp.inputCounts) fail(file, lineWhere(line.number), "Fast Count: " + why);
            } else if (equalsNoCase(name, "Slow Count")) {
                pp.outputCounts = parseCount(value, why);
                if (!pp.outputCounts) fail(file, lineWhere(line.number), "Slow Count: " + why);
            } else if (equalsNoCase(name, "Accumulation Time")) {
                pp.accumulationTimeS = number(value, "the accumulation time in seconds");
            } else if (equalsNoCase(name, "Dead Time")) {
                if (!value.empty() && value.back() == '%') value = trim(value.substr(0, value.size() - 1));
                pp.deadTimePercent = number(value, "the dead time in percent");
                if (*pp.deadTimePercent < 0 || *pp.deadTimePercent > 100)
                    fail(file, lineWhere(line.number), "the dead time " + quoted(value) + " % is not a share of the time");
            }
            break;
        }
        case Section::Roi:
        case Section::AfterData:
        case Section::Other: break;
        }
    }

    if (dataLine == 0) fail(file, "", "no <<DATA>> section: expected the counts between <<DATA>> and <<END>>");
    if (!ended)
        fail(file, lineWhere(lines.lastNumber()),
             "the file ends after " + std::to_string(s.counts.size()) + " channels of <<DATA>>: expected <<END>>");
    checkChannelCount(s.counts.size(), file, lineWhere(dataLine));
    if (announced && *announced != s.counts.size())
        fail(file, lineWhere(mcacLine),
             "the configuration says MCAC=" + std::to_string(*announced) + " channels, <<DATA>> holds " +
                 std::to_string(s.counts.size()));
    checkTimes(s.liveTimeS, s.realTimeS, file, lineWhere(std::max(liveLine, realLine)));
    if (pp.accumulationTimeS && !(*pp.accumulationTimeS >= 0))
        fail(file, "", "the accumulation time is negative");

    if (!points.empty()) {
        try {
            double residual = 0;
            std::vector<double> line2 = fitLine(points, residual);
            std::string basis = "<<CALIBRATION>>: ";
            if (points.size() == 1) basis += "1 point, the line through it and 0 keV at channel 0";
            else if (points.size() == 2) basis += "2 points, the line through them";
            else {
                char buf[96];
                std::snprintf(buf, sizeof buf, "%zu points, least-squares line, largest residual %.3g keV",
                              points.size(), residual);
                basis += buf;
            }
            if (!unitNamed) basis += " (no unit named: keV assumed)";
            s.calibration = makeCalibration(std::move(line2), ChannelPoint::Centre, s.counts.size(), basis, points);
        } catch (const std::invalid_argument& e) {
            fail(file, "<<CALIBRATION>>", e.what());
        }
    }
    if (havePp) s.processor = std::move(pp);
    std::vector<Spectrum> out;
    out.push_back(std::move(s));
    return out;
}

} // namespace formats::detail
