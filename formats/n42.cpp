// IEC 62755 / ANSI N42.42 XML, read with pugixml (no DTD, no entities
// beyond XML's own, nothing fetched).
//
// 2012 schema:  RadInstrumentData
//                 EnergyCalibration id=…   CoefficientValues | EnergyBoundaryValues
//                 RadMeasurement id=…      StartDateTime, RealTimeDuration (ISO 8601)
//                   Spectrum id=… energyCalibrationReference=…
//                     LiveTimeDuration, ChannelData compressionCode=None|CountedZeroes
// 2006 schema:  N42InstrumentData / Measurement / Spectrum
//                 StartTime, RealTime, LiveTime, Calibration Type="Energy" / Equation / Coefficients,
//                 ChannelData Compression=CountedZeroes
// Element names are compared without their namespace prefix.  Every
// Spectrum with ChannelData becomes one record.
#include "detail.h"

#include <pugixml.hpp>

#include <cmath>
#include <cstdio>
#include <cstring>

namespace formats::detail {

namespace {

std::string_view localName(const pugi::xml_node& n)
{
    std::string_view name = n.name();
    if (const auto colon = name.find(':'); colon != std::string_view::npos) name.remove_prefix(colon + 1);
    return name;
}

pugi::xml_node child(const pugi::xml_node& n, std::string_view name)
{
    for (pugi::xml_node c = n.first_child(); c; c = c.next_sibling())
        if (c.type() == pugi::node_element && localName(c) == name) return c;
    return {};
}

std::vector<pugi::xml_node> children(const pugi::xml_node& n, std::string_view name)
{
    std::vector<pugi::xml_node> out;
    for (pugi::xml_node c = n.first_child(); c; c = c.next_sibling())
        if (c.type() == pugi::node_element && localName(c) == name) out.push_back(c);
    return out;
}

// Every element of that name below n, in document order (walked without
// recursion: nesting depth is the file's to choose).
void descendants(const pugi::xml_node& n, std::string_view name, std::vector<pugi::xml_node>& out)
{
    pugi::xml_node c = n.first_child();
    while (c && c != n) {
        if (c.type() == pugi::node_element && localName(c) == name) out.push_back(c);
        if (c.first_child()) {
            c = c.first_child();
            continue;
        }
        while (c && c != n && !c.next_sibling()) c = c.parent();
        if (c && c != n) c = c.next_sibling();
    }
}

std::string_view attribute(const pugi::xml_node& n, std::string_view name)
{
    for (pugi::xml_attribute a = n.first_attribute(); a; a = a.next_attribute()) {
        std::string_view an = a.name();
        if (const auto colon = an.find(':'); colon != std::string_view::npos) an.remove_prefix(colon + 1);
        if (an == name) return a.value();
    }
    return {};
}

std::string_view textIn(const pugi::xml_node& n) { return n.child_value(); }

struct Context {
    const std::string& file;
    std::string where(const pugi::xml_node& n) const
    {
        const std::ptrdiff_t at = n.offset_debug();
        std::string w = at >= 0 ? byteWhere(static_cast<std::size_t>(at)) : std::string();
        if (!w.empty()) w += ' ';
        w += '<';
        w += localName(n);
        w += '>';
        return w;
    }
    [[noreturn]] void fail(const pugi::xml_node& n, const std::string& what) const { detail::fail(file, where(n), what); }
};

// Whitespace-separated tokens of an element's text.
template <class F>
void forTokens(std::string_view text, F f)
{
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r')) ++i;
        const std::size_t start = i;
        while (i < text.size() && !(text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r')) ++i;
        if (i > start) f(text.substr(start, i - start));
    }
}

std::vector<double> numbers(const Context& cx, const pugi::xml_node& n)
{
    std::vector<double> out;
    forTokens(textIn(n), [&](std::string_view t) {
        const std::optional<double> v = parseReal(t);
        if (!v) cx.fail(n, "expected a list of numbers, found " + quoted(t));
        if (out.size() > kMaxChannels) cx.fail(n, "a list of more than " + std::to_string(kMaxChannels) + " numbers");
        out.push_back(*v);
    });
    return out;
}

// An ISO 8601 duration as seconds: [P][nD][T[nH][nM][nS]]; years and
// months have no fixed length and are refused.
double duration(const Context& cx, const pugi::xml_node& n)
{
    const std::string_view text = trim(textIn(n));
    auto bad = [&]() -> double {
        cx.fail(n, "expected a duration such as PT10.5S, found " + quoted(text));
    };
    if (text.empty()) return bad();
    if (text.front() == '-') cx.fail(n, "the duration " + quoted(text) + " is negative");
    if (text.front() != 'P') return bad();
    std::size_t i = 1;
    bool inTime = false, any = false;
    double seconds = 0;
    while (i < text.size()) {
        if (text[i] == 'T') {
            if (inTime) return bad();
            inTime = true;
            ++i;
            continue;
        }
        const std::size_t start = i;
        while (i < text.size() && ((text[i] >= '0' && text[i] <= '9') || text[i] == '.')) ++i;
        if (i == start || i == text.size()) return bad();
        const std::optional<double> v = parseReal(text.substr(start, i - start));
        if (!v) return bad();
        const char unit = text[i++];
        if (!inTime && unit == 'D') seconds += *v * 86400;
        else if (inTime && unit == 'H') seconds += *v * 3600;
        else if (inTime && unit == 'M') seconds += *v * 60;
        else if (inTime && unit == 'S') seconds += *v;
        else if (!inTime && (unit == 'Y' || unit == 'M'))
            cx.fail(n, "the duration " + quoted(text) + " counts years or months: expected days, hours, minutes, seconds");
        else return bad();
        any = true;
    }
    if (!any) return bad();
    return seconds;
}

std::optional<std::string> dateTime(std::string_view t)
{
    t = trim(t);
    if (t.size() < 19 || t[4] != '-' || t[7] != '-' || t[10] != 'T' || t[13] != ':' || t[16] != ':') return std::nullopt;
    auto num = [&](std::size_t at, std::size_t len) {
        int v = 0;
        for (std::size_t k = at; k < at + len; ++k) {
            if (t[k] < '0' || t[k] > '9') return -1;
            v = v * 10 + (t[k] - '0');
        }
        return v;
    };
    return isoTime(num(0, 4), num(5, 2), num(8, 2), num(11, 2), num(14, 2), num(17, 2));
}

std::vector<std::uint64_t> channelData(const Context& cx, const pugi::xml_node& n, bool countedZeroes)
{
    std::vector<std::uint64_t> counts;
    bool zeroRun = false;
    forTokens(textIn(n), [&](std::string_view t) {
        std::string why;
        const std::optional<std::uint64_t> c = parseCount(t, why);
        if (!c) cx.fail(n, "channel " + std::to_string(counts.size()) + ": " + why);
        if (zeroRun) {
            // "0 n": n channels of zero.
            zeroRun = false;
            if (*c == 0) cx.fail(n, "CountedZeroes: a run of zero channels after channel " + std::to_string(counts.size()));
            if (*c > kMaxChannels || counts.size() + *c > kMaxChannels)
                checkChannelCount(kMaxChannels + 1, cx.file, cx.where(n));
            counts.insert(counts.end(), static_cast<std::size_t>(*c), 0);
            return;
        }
        if (countedZeroes && *c == 0) {
            zeroRun = true;
            return;
        }
        if (counts.size() >= kMaxChannels) checkChannelCount(kMaxChannels + 1, cx.file, cx.where(n));
        counts.push_back(*c);
    });
    if (zeroRun) cx.fail(n, "CountedZeroes: the data end with a 0 without the number of zero channels after it");
    checkChannelCount(counts.size(), cx.file, cx.where(n));
    return counts;
}

std::optional<Calibration> calibrationOf(const Context& cx, const pugi::xml_node& cal, std::size_t channels,
                                         std::string_view label)
{
    if (!cal) return std::nullopt;
    std::string basis = std::string(label);
    if (pugi::xml_node c = child(cal, "CoefficientValues")) {
        std::vector<double> v = numbers(cx, c);
        if (v.size() < 2) cx.fail(c, "expected at least two calibration coefficients (offset and keV per channel)");
        bool any = false;
        for (double x : v) any = any || x != 0;
        if (!any) return std::nullopt;
        try {
            return makeCalibration(std::move(v), ChannelPoint::LowerEdge, channels,
                                   basis + ": CoefficientValues, polynomial of the channel's start");
        } catch (const std::invalid_argument& e) {
            cx.fail(c, e.what());
        }
    }
    if (pugi::xml_node b = child(cal, "EnergyBoundaryValues")) {
        const std::vector<double> v = numbers(cx, b);
        if (v.size() != channels + 1)
            cx.fail(b, "expected " + std::to_string(channels + 1) + " channel boundaries for " +
                           std::to_string(channels) + " channels, found " + std::to_string(v.size()));
        std::vector<CalibrationPoint> edges;
        for (std::size_t k = 0; k < v.size(); ++k) {
            if (k > 0 && !(v[k] > v[k - 1])) cx.fail(b, "the channel boundaries do not rise at channel " + std::to_string(k));
            edges.push_back({static_cast<double>(k), v[k]});
        }
        try {
            double residual = 0;
            std::vector<double> line = fitLine(edges, residual);
            char buf[128];
            std::snprintf(buf, sizeof buf, ": EnergyBoundaryValues, least-squares line through %zu edges, largest deviation %.3g keV",
                          v.size(), residual);
            return makeCalibration(std::move(line), ChannelPoint::LowerEdge, channels, basis + buf);
        } catch (const std::invalid_argument& e) {
            cx.fail(b, e.what());
        }
    }
    // 2006: Calibration Type="Energy" / Equation / Coefficients.
    if (pugi::xml_node eq = child(cal, "Equation")) {
        if (pugi::xml_node c = child(eq, "Coefficients")) {
            std::vector<double> v = numbers(cx, c);
            if (v.size() < 2) cx.fail(c, "expected at least two calibration coefficients");
            bool any = false;
            for (double x : v) any = any || x != 0;
            if (!any) return std::nullopt;
            try {
                return makeCalibration(std::move(v), ChannelPoint::LowerEdge, channels,
                                       basis + ": Equation Coefficients, polynomial of the channel's start");
            } catch (const std::invalid_argument& e) {
                cx.fail(c, e.what());
            }
        }
    }
    return std::nullopt;
}

void addInstrumentLines(const pugi::xml_node& root, std::vector<std::string>& lines)
{
    for (const char* name : {"RadInstrumentManufacturerName", "RadInstrumentModelName", "RadDetectorDescription",
                             "InstrumentType", "Manufacturer", "InstrumentModel", "Remark"}) {
        std::vector<pugi::xml_node> found;
        descendants(root, name, found);
        for (const auto& n : found) {
            const std::string_view v = trim(textIn(n));
            if (!v.empty()) lines.push_back(std::string(name) + ": " + textOf(v));
            if (lines.size() > 12) return;
        }
    }
}

} // namespace

std::vector<Spectrum> readN42(std::string_view bytes, const std::string& file)
{
    pugi::xml_document doc;
    const pugi::xml_parse_result r = doc.load_buffer(bytes.data(), bytes.size(), pugi::parse_default);
    if (!r)
        fail(file, byteWhere(static_cast<std::size_t>(std::max<std::ptrdiff_t>(r.offset, 0))),
             std::string("not well-formed XML: ") + r.description());
    const Context cx{file};
    const pugi::xml_node root = doc.document_element();
    const std::string_view rootName = localName(root);
    const bool v2012 = rootName == "RadInstrumentData";
    if (!v2012 && rootName != "N42InstrumentData")
        fail(file, cx.where(root),
             "expected an N42 document (RadInstrumentData or N42InstrumentData), found <" + std::string(rootName) + ">");

    std::vector<std::string> common;
    addInstrumentLines(root, common);
    std::vector<pugi::xml_node> calibrations;
    descendants(root, "EnergyCalibration", calibrations);

    std::vector<Spectrum> out;
    std::vector<pugi::xml_node> measurements;
    descendants(root, v2012 ? "RadMeasurement" : "Measurement", measurements);
    for (const pugi::xml_node& m : measurements) {
        std::optional<double> measurementReal;
        std::optional<std::string> measurementStart;
        if (pugi::xml_node rt = child(m, v2012 ? "RealTimeDuration" : "RealTime")) measurementReal = duration(cx, rt);
        if (pugi::xml_node st = child(m, v2012 ? "StartDateTime" : "StartTime")) measurementStart = dateTime(textIn(st));
        const std::string_view classCode = trim(textIn(child(m, "MeasurementClassCode")));
        for (const pugi::xml_node& sp : children(m, "Spectrum")) {
            const pugi::xml_node data = child(sp, "ChannelData");
            if (!data) continue;
            Spectrum s;
            const std::string_view code = attribute(data, v2012 ? "compressionCode" : "Compression");
            if (!code.empty() && code != "None" && code != "CountedZeroes")
                cx.fail(data, "the compression " + quoted(code) + " is not read (expected None or CountedZeroes)");
            s.counts = channelData(cx, data, code == "CountedZeroes");
            s.realTimeS = measurementReal;
            s.startTime = measurementStart;
            if (pugi::xml_node rt = child(sp, "RealTime")) s.realTimeS = duration(cx, rt);
            if (pugi::xml_node st = child(sp, "StartTime")) s.startTime = dateTime(textIn(st));
            if (pugi::xml_node lt = child(sp, v2012 ? "LiveTimeDuration" : "LiveTime")) s.liveTimeS = duration(cx, lt);
            checkTimes(s.liveTimeS, s.realTimeS, file, cx.where(sp));

            // The calibration the spectrum refers to, or the document's only one.
            pugi::xml_node cal;
            std::string label;
            if (v2012) {
                const std::string_view ref = attribute(sp, "energyCalibrationReference");
                if (!ref.empty()) {
                    for (const auto& c : calibrations)
                        if (attribute(c, "id") == ref) cal = c;
                    if (!cal) cx.fail(sp, "energyCalibrationReference " + quoted(ref) + " names no EnergyCalibration");
                } else if (calibrations.size() == 1) {
                    cal = calibrations.front();
                }
                label = "EnergyCalibration " + std::string(attribute(cal, "id"));
            } else {
                for (const auto& c : children(sp, "Calibration"))
                    if (attribute(c, "Type") == "Energy" || attribute(c, "Type").empty()) cal = c;
                label = "Calibration";
            }
            s.calibration = calibrationOf(cx, cal, s.counts.size(), label);

            const std::string mid(attribute(m, "id")), sid(attribute(sp, "id"));
            s.name = textOf(sid.empty() ? mid : (mid.empty() ? sid : mid + "/" + sid));
            s.headerLines = common;
            std::string what = "Measurement " + textOf(mid) + " spectrum " + textOf(sid);
            if (!classCode.empty()) what += " (" + textOf(classCode) + ")";
            s.headerLines.insert(s.headerLines.begin(), what);
            if (pugi::xml_node st = child(m, v2012 ? "StartDateTime" : "StartTime"))
                s.headerLines.push_back("Start: " + textOf(trim(textIn(st))));
            out.push_back(std::move(s));
        }
    }
    if (out.empty()) fail(file, "", "the N42 document holds no Spectrum with ChannelData");
    return out;
}

} // namespace formats::detail
