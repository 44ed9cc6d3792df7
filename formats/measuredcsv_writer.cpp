#include "measuredcsv_writer.h"

#include "detail.h"
#include "rebin.h"

#include "sjis/sjis.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace formats {

namespace {

std::string number(const char* pattern, double v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, pattern, v);
    return buf;
}

std::string optionalSeconds(const std::optional<double>& v)
{
    return v ? number("%.3f s", *v) : std::string("not given");
}

// The length of the UTF-8 character that starts with `lead`.
std::size_t utf8Length(unsigned char lead)
{
    if (lead < 0x80) return 1;
    if ((lead & 0xE0) == 0xC0) return 2;
    if ((lead & 0xF0) == 0xE0) return 3;
    if ((lead & 0xF8) == 0xF0) return 4;
    return 1;
}

std::string polynomialText(const Calibration& c)
{
    std::string t = "Polynomial keV:";
    for (double v : c.coefficients) t += number(" %.6g", v);
    t += c.point == ChannelPoint::Centre ? " (of channel centres)" : " (of channel starts)";
    return t;
}

} // namespace

std::string dialogHeaderLine(const std::string& utf8)
{
    std::string out;
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const std::size_t n = std::min(utf8Length(lead), utf8.size() - i);
        std::string piece;
        if (n == 1) {
            char c = utf8[i];
            const auto u = static_cast<unsigned char>(c);
            if (c == ',') c = ';';
            else if (u < 0x20 || u == 0x7f) c = ' ';
            else if (u >= 0x80) c = '?';  // a stray byte that starts no character
            piece.assign(1, c);
        } else if (auto s = sjis::fromUtf8(std::string_view(utf8).substr(i, n)); s && !s->empty()) {
            piece = *s;
        } else {
            piece.assign(1, '?');
        }
        if (out.size() + piece.size() > kDialogLineBytes) break;
        out += piece;
        i += n;
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

MeasuredCsv toMeasuredCsv(const Spectrum& s, const MeasuredCsvOptions& o)
{
    MeasuredCsv out;
    std::vector<std::uint64_t> counts;
    if (o.rebinKevPerChannel) {
        const double w = *o.rebinKevPerChannel;
        if (!(w > 0) || !std::isfinite(w)) throw ImportError("the keV per channel for rebinning must be above 0");
        if (!s.calibration)
            throw ImportError("the file has no energy calibration, so its counts cannot be shared onto channels of " +
                              number("%g", w) + " keV");
        const Shared shared = shareOnto(s, w, kDialogChannels);
        counts = wholeCounts(shared.counts);
        out.rebinned = true;
        out.kevPerChannel = w;
        out.belowZero = shared.belowZero;
        out.aboveTop = shared.aboveTop;
    } else {
        if (s.counts.size() != kDialogChannels)
            throw ImportError("the spectrum has " + std::to_string(s.counts.size()) +
                              " channels; the stripping dialog takes 1024 (share the counts onto 1024 channels with "
                              "--rebin-kev-per-channel W, which needs the file's energy calibration)");
        counts = s.counts;
        out.kevPerChannel = s.calibration ? s.calibration->gainKeV : 0;
    }
    for (std::size_t k = 0; k < counts.size(); ++k)
        if (counts[k] > kDialogMaxCount)
            throw ImportError("channel " + std::to_string(k + 1) + " holds " + std::to_string(counts[k]) +
                              " counts; the stripping dialog takes at most " + std::to_string(kDialogMaxCount) +
                              " per channel");

    // The header.
    std::vector<std::string> h;
    h.push_back(std::string("Imported by tarvik from a ") + formatName(s.format) + " file");
    h.push_back("Source file: " + o.sourceName);
    h.push_back("Start time: " + s.startTime.value_or("not given"));
    h.push_back(s.name.empty() ? o.sourceName : s.name);
    h.push_back("Live time: " + optionalSeconds(s.liveTimeS));
    h.push_back("Real time: " + optionalSeconds(s.realTimeS));
    if (s.liveTimeS && s.realTimeS && *s.realTimeS > 0)
        h.push_back(number("Dead time: %.3f %% of the real time", 100.0 * (1.0 - *s.liveTimeS / *s.realTimeS)));
    else
        h.push_back("Dead time: not known");
    if (out.rebinned) {
        h.push_back("Channels: 1024 of " + number("%.6g keV", out.kevPerChannel) + " shared from " +
                    std::to_string(s.counts.size()));
        h.push_back("REBINNED: counts shared by overlap onto channels from 0 keV");
        h.push_back(number("Counts left out: %.0f below 0 keV", out.belowZero) +
                    number(" and %.0f above the top", out.aboveTop));
    } else {
        h.push_back("Channels: 1024 as in the file (not rebinned)");
        h.push_back(std::string("Rebinned: no"));
        h.push_back("Total counts: " + std::to_string(s.total()));
    }
    if (s.calibration) {
        const Calibration& c = *s.calibration;
        // An offset of rounding size is 0.
        const double offset = std::fabs(c.offsetKeV) < 1e-9 * std::max(1.0, c.gainKeV) ? 0.0 : c.offsetKeV;
        h.push_back(number("Calibration: %.6g keV per channel", c.gainKeV) + number(" from %.6g keV", offset));
        h.push_back(polynomialText(c));
        // The basis over as many lines as it takes.
        std::string rest = "Basis: " + c.basis;
        for (int lines = 0; !rest.empty() && lines < 3; ++lines) {
            std::size_t cut = rest.size();
            if (cut > kDialogLineBytes) {
                cut = rest.rfind(' ', kDialogLineBytes);
                if (cut == std::string::npos || cut < 20) cut = kDialogLineBytes;
            }
            h.push_back(rest.substr(0, cut));
            const std::size_t next = rest.find_first_not_of(' ', cut);
            if (next == std::string::npos) break;
            rest = "  " + rest.substr(next);
        }
    } else {
        h.push_back("Calibration: none in the file");
        h.push_back("");
        h.push_back("");
    }
    if (s.processor) {
        const PulseProcessor& p = *s.processor;
        std::string line = "Pulse processor " + p.device;
        if (p.peakingTimeUs) line += number(" peaking %.4g us", *p.peakingTimeUs);
        if (p.pileUpRejection) line += *p.pileUpRejection ? " PUR on" : " PUR off";
        h.push_back(line);
        line = "Fast channel:";
        if (p.fastPeakingTimeNs) line += number(" peaking %.4g ns", *p.fastPeakingTimeNs);
        if (p.fastThreshold) line += number(" threshold %.4g", *p.fastThreshold);
        if (p.pileUpRejectionMaxUs) line += number(" PUR max %.4g us", *p.pileUpRejectionMaxUs);
        h.push_back(line);
        line = "Counts in/out:";
        line += ' ';
        line += p.inputCounts ? std::to_string(*p.inputCounts) : std::string("-");
        line += " / ";
        line += p.outputCounts ? std::to_string(*p.outputCounts) : std::string("-");
        if (p.accumulationTimeS) line += number(" in %.4g s", *p.accumulationTimeS);
        if (p.deadTimePercent) line += number(" dead %.3g %%", *p.deadTimePercent);
        h.push_back(line);
    } else {
        h.push_back("Pulse processor: not given");
    }
    // The file's own header lines as far as there is room.
    for (const std::string& l : s.headerLines) {
        if (h.size() >= static_cast<std::size_t>(kDialogHeaderLines - 1)) break;
        if (!l.empty()) h.push_back("| " + l);
    }
    h.resize(static_cast<std::size_t>(kDialogHeaderLines - 1));
    h.push_back("Channel  Energy  Count");

    std::string& b = out.bytes;
    b.reserve(static_cast<std::size_t>(kDialogHeaderLines) * 40 + kDialogChannels * 24);
    for (const std::string& l : h) {
        b += dialogHeaderLine(l);
        b += "\r\n";
    }
    char rec[128];
    for (std::size_t k = 0; k < counts.size(); ++k) {
        double e = 0;
        if (out.rebinned) e = static_cast<double>(k + 1) * out.kevPerChannel;
        else if (s.calibration) e = s.calibration->edgeKeV(static_cast<double>(k + 1));
        // Energies of any size in a few characters (calibrations stay below 10^7 keV).
        const char* pattern = std::fabs(e) < 1e9 ? "%zu,%.4f,%llu\r\n" : "%zu,%.6e,%llu\r\n";
        const int n = std::snprintf(rec, sizeof rec, pattern, k + 1, e, static_cast<unsigned long long>(counts[k]));
        if (n < 0 || static_cast<std::size_t>(n) >= sizeof rec) throw ImportError("a record does not fit its line");
        b += rec;
    }
    return out;
}

namespace {

constexpr std::string_view kImportedMark = "Imported by tarvik from a ";
constexpr std::size_t kLiveTimeLine = 5, kRealTimeLine = 6;

} // namespace

HeaderTimes importedTimes(const std::vector<std::string>& lines, const std::string& file)
{
    HeaderTimes t;
    if (lines.empty() || !detail::startsWith(lines.front(), kImportedMark)) return t;
    std::size_t liveLine = 0, realLine = 0;
    // The writer puts the live time on line 5 and the real time on line 6;
    // the lines before them copy the source's own texts (its name may read
    // "Real time: ..."), so only those two lines are taken.
    for (std::size_t i = kLiveTimeLine - 1; i < lines.size() && i < kRealTimeLine; ++i) {
        const std::string_view l = detail::trim(lines[i]);
        const bool live = i == kLiveTimeLine - 1 && detail::startsWith(l, "Live time:");
        const bool real = i == kRealTimeLine - 1 && detail::startsWith(l, "Real time:");
        if (!live && !real) continue;
        std::optional<double>& slot = live ? t.liveTimeS : t.realTimeS;
        std::size_t& where = live ? liveLine : realLine;
        if (where != 0) continue;  // the first one counts; the writer writes each once
        where = i + 1;
        std::string_view value = detail::trim(l.substr(10));
        if (value == "not given") continue;
        if (value.size() > 2 && value.substr(value.size() - 2) == " s") value = detail::trim(value.substr(0, value.size() - 2));
        slot = detail::parseReal(value);
        if (!slot)
            detail::fail(file, detail::lineWhere(where),
                         std::string("expected the ") + (live ? "live" : "real") + " time as seconds (\"" +
                             (live ? "Live" : "Real") + " time: 9.500 s\"), found " + detail::quoted(lines[i]));
    }
    if (liveLine != 0) detail::checkTimes(t.liveTimeS, std::nullopt, file, detail::lineWhere(liveLine));
    if (realLine != 0) detail::checkTimes(std::nullopt, t.realTimeS, file, detail::lineWhere(realLine));
    detail::checkTimes(t.liveTimeS, t.realTimeS, file, detail::lineWhere(std::max(liveLine, realLine)));
    return t;
}

HeaderTimes importedTimesOfBytes(std::string_view head, const std::string& file, int firstDataLine)
{
    if (!detail::startsWith(head, kImportedMark)) return {};
    detail::Lines lines(head);
    detail::Line line;
    std::vector<std::string> header;
    while (static_cast<int>(header.size()) < firstDataLine - 1 && lines.next(line))
        header.push_back(detail::textOf(line.text));
    return importedTimes(header, file);
}

} // namespace formats
