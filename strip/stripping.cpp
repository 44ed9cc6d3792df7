#include "strip/stripping.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <cstdio>
#include <string>

namespace tvstrip {

namespace {

// Largest channel number a plan keeps for channels far beyond the spectrum
// (a tiny w); anything above 1024 only matters as "beyond the spectrum".
constexpr double kFarChannel = 1.0e15;

std::string number(double v)
{
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.7g", v);
    return buf;
}

// trunc() of a non-negative quotient, held to kFarChannel so that it always
// fits a 64-bit integer.
std::int64_t truncFar(double v)
{
    return v < kFarChannel ? static_cast<std::int64_t>(v) : static_cast<std::int64_t>(kFarChannel);
}

[[noreturn]] void overflow(const std::string& what)
{
    throw StripArithmeticError("floating-point overflow " + what);
}

constexpr const char* kEscapeNames[4] = {"Cd K-alpha", "Cd K-beta", "Te K-alpha", "Te K-beta"};

} // namespace

StripPlan planStripping(std::int32_t voltage, float kevPerChannel)
{
    const float w = kevPerChannel;
    if (!(w > 0.0f) || !std::isfinite(w))
        throw StripInputError("the energy width per channel is " + number(w) +
                              " keV: it must be greater than 0");
    if (voltage <= 0)
        throw StripInputError("the X-ray tube voltage is " + std::to_string(voltage) +
                              " kV: it must be greater than 0");

    StripPlan plan;
    plan.voltage = voltage;
    plan.kevPerChannel = w;
    plan.ratio = static_cast<float>(static_cast<double>(w) / static_cast<double>(kBinWidth));
    if (!std::isfinite(plan.ratio))
        throw StripInputError("the energy width per channel is " + number(w) +
                              " keV: it is too large to be used");

    // V is converted exactly and the quotients are not rounded to single.
    plan.startChannel = truncFar(static_cast<double>(voltage) / static_cast<double>(w)) + 3;
    plan.lowestChannel = truncFar(static_cast<double>(kMinContent) / static_cast<double>(w)) + 1;
    if (plan.startChannel < plan.lowestChannel)
        throw StripInputError("the X-ray tube voltage of " + std::to_string(voltage) +
                              " kV is too low: the correction starts at channel " +
                              std::to_string(plan.startChannel) + ", below channel " +
                              std::to_string(plan.lowestChannel) +
                              ", the lowest channel it corrects (5 keV)");

    const double zeroed = static_cast<double>(kZeroBelowKeV) / static_cast<double>(w);
    plan.zeroedChannels = zeroed < kChannels ? static_cast<int>(zeroed) : kChannels;
    plan.firstVisited = static_cast<int>(std::min<std::int64_t>(plan.startChannel, kChannels));
    plan.lastVisited = static_cast<int>(std::min<std::int64_t>(plan.lowestChannel, kChannels + 1));

    for (std::size_t i = 0; i < kEscapeLines.size(); ++i) {
        const double offset = static_cast<double>(kEscapeLines[i].energyKeV) / static_cast<double>(w) + 0.5;
        // An offset beyond the spectrum only ever gives an escape channel below 1.
        plan.escapeOffsets[i] = offset < 1.0e9 ? static_cast<int>(offset) : 1000000000;
    }
    return plan;
}

ChannelEnergy channelEnergy(int channel, float kevPerChannel)
{
    const double product = static_cast<double>(channel) * static_cast<double>(kevPerChannel);
    ChannelEnergy ce;
    ce.energy = static_cast<float>(product);
    // The energy code must fit the four digits of a response table's name.
    if (!(ce.energy < 1000.0f))
        throw StripArithmeticError("channel " + std::to_string(channel) + " has the energy " +
                                   number(product) +
                                   " keV, beyond every response table (they end below 1000 keV)");
    const int whole = static_cast<int>(ce.energy);
    // The fraction comes from the product before it was rounded to single.
    const double fraction = product - static_cast<double>(whole);
    ce.code = 10 * whole + (fraction >= 0.5 ? 5 : 0);
    ce.bin = static_cast<int>(product / static_cast<double>(kBinWidth) + static_cast<double>(kBinTolerance));
    return ce;
}

int channelBin(int channel, float kevPerChannel)
{
    const double b = static_cast<double>(channel) * static_cast<double>(kevPerChannel) /
                         static_cast<double>(kBinWidth) +
                     static_cast<double>(kBinTolerance);
    return b < kResponseBins + 1 ? static_cast<int>(b) : kResponseBins + 1;
}

WorkingSpectrum prepareSpectrum(Counts& counts, const StripPlan& plan)
{
    counts[0] = 0;
    for (std::int64_t i = plan.startChannel + 1; i <= kChannels; ++i)
        counts[static_cast<std::size_t>(i - 1)] = 0;
    WorkingSpectrum s{};
    for (int i = 1; i <= kChannels; ++i)
        s[static_cast<std::size_t>(i)] = static_cast<float>(counts[static_cast<std::size_t>(i - 1)]);
    return s;
}

void stripChannels(WorkingSpectrum& s, const StripPlan& plan, const TableLoader& loadTable,
                   const ProgressSink& progress)
{
    const float w = plan.kevPerChannel;
    // The response bin of every channel's energy depends on w only.
    std::array<int, kChannels + 1> bins{};
    for (int m = 1; m <= kChannels; ++m)
        bins[static_cast<std::size_t>(m)] = channelBin(m, w);

    // The channels of one bin lie side by side: the lowest channel of the
    // run of channels that shares channel m's bin.
    std::array<int, kChannels + 1> runStart{};
    for (int m = 1; m <= kChannels; ++m)
        runStart[static_cast<std::size_t>(m)] =
            m > 1 && bins[static_cast<std::size_t>(m - 1)] == bins[static_cast<std::size_t>(m)]
                ? runStart[static_cast<std::size_t>(m - 1)]
                : m;

    const ResponseTable* table = nullptr;
    int lastCode = 0;
    for (int j = plan.firstVisited; j >= plan.lastVisited; --j) {
        if (progress)
            progress(j);
        const float c = s[static_cast<std::size_t>(j)];
        if (!(c > kMinContent))
            continue;

        const ChannelEnergy ce = channelEnergy(j, w);
        if (ce.code != lastCode || table == nullptr) {
            lastCode = ce.code;
            table = &loadTable(ce.code);
        }
        const ResponseTable& r = *table;
        const int k = ce.bin;

        const float t = static_cast<float>(static_cast<double>(responseAt(r, k - 1)) +
                                           static_cast<double>(responseAt(r, k)));
        if (!std::isfinite(t))
            overflow("while adding the full-energy response R(" + std::to_string(k - 1) + ") + R(" +
                     std::to_string(k) + ") of channel " + std::to_string(j));
        if (!(t > 0.0f))
            continue;  // no full-energy response: the channel stays as it is
        const double td = t;
        const double cd = c;

        // Full-energy rescaling to incident photons; C keeps the content
        // before it for every subtraction below.
        const float scaled = static_cast<float>((static_cast<double>(kPhotonsPerTable) / td) * cd);
        if (!std::isfinite(scaled))
            overflow("while rescaling channel " + std::to_string(j) + " to incident photons (500000 / " +
                     number(td) + " x " + number(cd) + ")");
        s[static_cast<std::size_t>(j)] = scaled;

        int last = j;  // L: bound of the continuum
        if (ce.energy >= kEscapeThresholdKeV) {
            for (std::size_t line = 0; line < kEscapeLines.size(); ++line) {
                last = j - plan.escapeOffsets[line];
                if (last <= 0)
                    break;
                const int x = kEscapeLines[line].binOffset;
                if (k > x) {
                    float& target = s[static_cast<std::size_t>(last)];
                    const float v = static_cast<float>(
                        static_cast<double>(target) - (static_cast<double>(responseAt(r, k - x)) * cd) / td);
                    if (!std::isfinite(v))
                        overflow("while subtracting the " + std::string(kEscapeNames[line]) +
                                 " escape peak of channel " + std::to_string(j) + " from channel " +
                                 std::to_string(last));
                    target = v;
                }
            }
        }

        if (last > 1) {
            // The continuum: every channel m below L loses C x ratio x P of
            // its bin, P = R(b) / T rounded to single, where R(b) / T is
            // above the smallest fraction.  Bin by bin from the top, the
            // channels of a bin in one pass.
            const double rc = static_cast<double>(plan.ratio) * cd;
            for (int top = last - 1; top >= 1;) {
                const std::size_t b = static_cast<std::size_t>(bins[static_cast<std::size_t>(top)]);
                const int low = std::max(runStart[static_cast<std::size_t>(top)], 1);
                const double q = static_cast<double>(responseAt(r, static_cast<int>(b))) / td;
                const float p = static_cast<float>(q);
                if (!std::isfinite(p)) [[unlikely]]
                    overflow("in the continuum fraction R(" + std::to_string(b) + ") / T of channel " +
                             std::to_string(j) + " (T = " + number(td) + ")");
                if (q > static_cast<double>(kMinFraction)) {
                    const double d = rc * static_cast<double>(p);
                    bool finite = true;
                    for (int m = low; m <= top; ++m) {
                        float& target = s[static_cast<std::size_t>(m)];
                        const float v = static_cast<float>(static_cast<double>(target) - d);
                        target = v;
                        finite &= std::fabs(v) <= std::numeric_limits<float>::max();
                    }
                    if (!finite) [[unlikely]] {
                        // Reported at the highest such channel, the first
                        // one reached going down.
                        int m = top;
                        while (std::fabs(s[static_cast<std::size_t>(m)]) <= std::numeric_limits<float>::max()) --m;
                        overflow("while subtracting the continuum of channel " + std::to_string(j) +
                                 " from channel " + std::to_string(m));
                    }
                }
                top = low - 1;
            }
        }
    }
}

Counts finishSpectrum(WorkingSpectrum& s, const StripPlan& plan)
{
    for (int i = 1; i <= plan.zeroedChannels; ++i)
        s[static_cast<std::size_t>(i)] = 0.0f;
    Counts out{};
    for (int i = 1; i <= kChannels; ++i) {
        float& v = s[static_cast<std::size_t>(i)];
        if (v < 0.0f)
            v = 0.0f;
        if (!(v < 2147483648.0f))
            throw StripArithmeticError("the corrected count of channel " + std::to_string(i) + " (" +
                                       number(v) + ") is too large for a whole number");
        out[static_cast<std::size_t>(i - 1)] = static_cast<std::int32_t>(v);
    }
    return out;
}

Counts stripSpectrum(Counts counts, std::int32_t voltage, float kevPerChannel, const TableLoader& loadTable,
                     const ProgressSink& progress)
{
    const StripPlan plan = planStripping(voltage, kevPerChannel);
    WorkingSpectrum s = prepareSpectrum(counts, plan);
    stripChannels(s, plan, loadTable, progress);
    return finishSpectrum(s, plan);
}

} // namespace tvstrip
