#include "rebin.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace formats {

namespace {

std::string keV(double v)
{
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.5g keV", v);
    return buf;
}

} // namespace

std::optional<std::string> directScaleProblem(const Spectrum& s, double width)
{
    if (!s.calibration) return std::nullopt;
    const Calibration& c = *s.calibration;
    const double tol = kDirectTolerance * width;
    const double start = c.edgeKeV(0);
    if (std::fabs(start) > tol)
        return "its calibration starts the first channel at " + keV(start) + ", not at 0 keV";
    if (std::fabs(c.gainKeV - width) * static_cast<double>(s.counts.size()) > tol)
        return "its calibration gives " + keV(c.gainKeV) + " per channel, not " + keV(width);
    for (std::size_t k = 0; k <= s.counts.size(); ++k) {
        const double e = c.edgeKeV(static_cast<double>(k));
        if (std::fabs(e - static_cast<double>(k) * width) > tol)
            return "its calibration puts channel " + std::to_string(k) + " at " + keV(e) + ", not at " +
                   keV(static_cast<double>(k) * width) + " (not a straight scale of " + keV(width) + " per channel)";
    }
    return std::nullopt;
}

Shared shareOnto(const Spectrum& s, double width, std::size_t channels)
{
    if (!s.calibration) throw std::invalid_argument("the spectrum has no energy calibration to share its counts by");
    if (!(width > 0) || !std::isfinite(width)) throw std::invalid_argument("the new channel width must be above 0");
    const Calibration& cal = *s.calibration;
    Shared out;
    out.counts.assign(channels, 0.0);
    const double top = width * static_cast<double>(channels);
    double a = cal.edgeKeV(0);
    for (std::size_t k = 0; k < s.counts.size(); ++k) {
        const double b = cal.edgeKeV(static_cast<double>(k + 1));
        const double c = static_cast<double>(s.counts[k]);
        const double span = b - a;
        if (c > 0) {
            if (b <= 0) {
                out.belowZero += c;
            } else if (a >= top) {
                out.aboveTop += c;
            } else {
                double lo = a, hi = b;
                if (lo < 0) {
                    out.belowZero += c * (0 - lo) / span;
                    lo = 0;
                }
                if (hi > top) {
                    out.aboveTop += c * (hi - top) / span;
                    hi = top;
                }
                std::size_t j = static_cast<std::size_t>(std::floor(lo / width));
                for (; j < channels; ++j) {
                    const double jlo = static_cast<double>(j) * width, jhi = jlo + width;
                    if (jlo >= hi) break;
                    const double overlap = std::min(hi, jhi) - std::max(lo, jlo);
                    if (overlap > 0) out.counts[j] += c * overlap / span;
                }
            }
        }
        a = b;
    }
    return out;
}

std::vector<std::uint64_t> wholeCounts(const std::vector<double>& shares)
{
    std::vector<std::uint64_t> out(shares.size(), 0);
    double running = 0;
    std::uint64_t taken = 0;
    for (std::size_t j = 0; j < shares.size(); ++j) {
        running += std::max(shares[j], 0.0);
        const auto upTo = static_cast<std::uint64_t>(std::llround(running));
        out[j] = upTo > taken ? upTo - taken : 0;
        taken = std::max(taken, upTo);
    }
    return out;
}

} // namespace formats
