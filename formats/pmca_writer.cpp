#include "pmca_writer.h"

#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace formats {
namespace {

std::string number(double v, const char* format = "%.9g")
{
    char buf[64];
    std::snprintf(buf, sizeof buf, format, v);
    return buf;
}

// "2024-05-01T10:20:30" as the format writes it: "05/01/2024 10:20:30".
std::string pmcaTime(const std::string& iso)
{
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    char tail = 0;
    if (iso.size() != 19 ||
        std::sscanf(iso.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &tail) != 6)
        throw std::invalid_argument("start time \"" + iso + "\" is not YYYY-MM-DDThh:mm:ss");
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d/%02d/%04d %02d:%02d:%02d", mo, d, y, h, mi, s);
    return buf;
}

} // namespace

std::string formatPmca(const Spectrum& s)
{
    if (s.counts.empty()) throw std::invalid_argument("a spectrum without channels");
    if (s.liveTimeS && s.realTimeS && *s.liveTimeS > *s.realTimeS)
        throw std::invalid_argument("live time above the real time");
    const char* eol = "\r\n";
    std::string out = std::string("<<PMCA SPECTRUM>>") + eol;
    out += "TAG - " + (s.name.empty() ? std::string("spectrum") : s.name) + eol;
    for (const std::string& line : s.headerLines)
        if (!line.empty()) out += "DESCRIPTION - " + line + eol;
    if (s.liveTimeS) out += "LIVE_TIME - " + number(*s.liveTimeS, "%.6f") + eol;
    if (s.realTimeS) out += "REAL_TIME - " + number(*s.realTimeS, "%.6f") + eol;
    if (s.startTime) out += "START_TIME - " + pmcaTime(*s.startTime) + eol;
    if (s.calibration) {
        const Calibration& c = *s.calibration;
        if (c.coefficients.size() > 2 && c.linearityKeV > 0)
            throw std::invalid_argument("the format's calibration points hold a straight line only");
        if (!(c.gainKeV > 0) || !std::isfinite(c.offsetKeV))
            throw std::invalid_argument("a calibration that does not rise");
        // Two points at channel centres a quarter and three quarters up.
        out += std::string("<<CALIBRATION>>") + eol + "LABEL - keV" + eol;
        const double n = static_cast<double>(s.counts.size());
        for (double ch : {std::floor(n / 4), std::floor(3 * n / 4)})
            out += number(ch, "%.0f") + " " + number(c.offsetKeV + c.gainKeV * (ch + 0.5), "%.9g") + eol;
    }
    out += std::string("<<DATA>>") + eol;
    for (std::uint64_t n : s.counts) out += std::to_string(n) + eol;
    out += std::string("<<END>>") + eol;
    if (s.processor) {
        const PulseProcessor& p = *s.processor;
        out += std::string("<<DP5 CONFIGURATION>>") + eol;
        if (p.peakingTimeUs) out += "TPEA=" + number(*p.peakingTimeUs, "%.3f") + ";" + eol;
        if (p.flatTopUs) out += "TFLA=" + number(*p.flatTopUs, "%.3f") + ";" + eol;
        if (p.fastPeakingTimeNs) out += "TPFA=" + number(*p.fastPeakingTimeNs, "%.0f") + ";" + eol;
        if (p.pileUpRejection) out += std::string("PURE=") + (*p.pileUpRejection ? "ON" : "OFF") + ";" + eol;
        out += "MCAC=" + std::to_string(s.counts.size()) + ";" + eol;
        out += std::string("<<DP5 CONFIGURATION END>>") + eol;
        out += std::string("<<DPP STATUS>>") + eol;
        if (!p.device.empty()) out += "Device Type: " + p.device + eol;
        if (p.inputCounts) out += "Fast Count: " + std::to_string(*p.inputCounts) + eol;
        if (p.outputCounts) out += "Slow Count: " + std::to_string(*p.outputCounts) + eol;
        if (p.accumulationTimeS) out += "Accumulation Time: " + number(*p.accumulationTimeS, "%.3f") + eol;
        if (p.deadTimePercent) out += "Dead Time: " + number(*p.deadTimePercent, "%.2f") + "%" + eol;
        out += std::string("<<DPP STATUS END>>") + eol;
    }
    return out;
}

} // namespace formats
