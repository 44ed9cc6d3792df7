#include "otherformat.h"

#include "appstate.h"
#include "values.h"

#include "formats/rebin.h"

#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace tarvik {

OtherFormatPlacement placeOtherFormat(const formats::Spectrum& s, double widthInUse, double boxWidth)
{
    OtherFormatPlacement p;
    p.fileChannels = s.counts.size();
    p.liveTimeS = s.liveTimeS;
    p.realTimeS = s.realTimeS;
    p.calibrated = s.calibration.has_value();
    if (p.calibrated) {
        p.fileGainKeV = s.calibration->gainKeV;
        p.fileOffsetKeV = s.calibration->offsetKeV;
    }
    double w = widthInUse > 0 ? widthInUse : (p.calibrated ? p.fileGainKeV : boxWidth);
    if (!(w > 0) || !std::isfinite(w)) throw std::invalid_argument("no keV per channel above 0");
    p.kevPerChannel = w;
    const auto n = static_cast<std::size_t>(kChannels);
    if (p.calibrated) {
        const auto problem = formats::directScaleProblem(s, w);
        if (!problem && s.counts.size() <= n) {
            p.way = OtherFormatPlacement::Way::AsTheyAre;
            p.counts.assign(s.counts.begin(), s.counts.end());
            return p;
        }
        p.way = OtherFormatPlacement::Way::Shared;
        p.why = problem ? *problem : "it has " + std::to_string(s.counts.size()) + " channels";
        formats::Shared shared = formats::shareOnto(s, w, n);
        p.counts = std::move(shared.counts);
        p.leftOut = shared.belowZero + shared.aboveTop;
        return p;
    }
    const std::size_t taken = std::min(n, s.counts.size());
    p.counts.assign(s.counts.begin(), s.counts.begin() + static_cast<std::ptrdiff_t>(taken));
    for (std::size_t k = taken; k < s.counts.size(); ++k) p.leftOut += static_cast<double>(s.counts[k]);
    p.way = taken < s.counts.size() ? OtherFormatPlacement::Way::FirstChannels : OtherFormatPlacement::Way::AsTheyAre;
    return p;
}

std::string widthText(double kevPerChannel)
{
    const double thousandths = kevPerChannel * 1000;
    if (std::fabs(thousandths - std::round(thousandths)) < 1e-6 * std::max(1.0, thousandths))
        return formatPattern(kevPerChannel, "0.000");
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.6g", kevPerChannel);
    return buf;
}

} // namespace tarvik
