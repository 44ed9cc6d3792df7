// The stripping correction: removes the CdTe detector's own response (the
// full-energy efficiency, the Cd and Te K escape peaks and the low-energy
// continuum) from a measured 1024-channel spectrum, channel by channel from
// the highest down, and turns full-energy counts into numbers of incident
// photons.
//
// Numerics: every real quantity is stored in single precision and every
// expression is evaluated in double precision from its operands; each store
// into a single-precision quantity is an explicit float conversion below, and
// conversions to integers truncate toward zero.  Results therefore do not
// depend on the compiler's choices (the build forbids contraction and fast
// math).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

#include "strip/response_table.h"

namespace tvstrip {

inline constexpr int kChannels = 1024;

// Counts of channels 1..1024 (element 0 is channel 1).
using Counts = std::array<std::int32_t, kChannels>;

// Working spectrum S(0..1024); S(0) is unused so that channel numbers index
// it directly.
using WorkingSpectrum = std::array<float, kChannels + 1>;

// Constants of the correction, all single precision.
inline constexpr float kBinWidth = 0.5f;          // keV per response bin
inline constexpr float kMinContent = 5.0f;        // a channel is corrected above this content
inline constexpr float kBinTolerance = 0.01f;     // added before truncating a bin index
inline constexpr float kPhotonsPerTable = 500000.0f;
inline constexpr float kMinFraction = 1.0e-5f;    // smallest continuum fraction subtracted
inline constexpr float kZeroBelowKeV = 10.0f;     // channels up to this energy are emptied
inline constexpr float kEscapeThresholdKeV = 23.108f;

// The K escape lines of Cd and Te in the order they are subtracted.
struct EscapeLine {
    float energyKeV;  // escape energy Ef
    int binOffset;    // x: the escape peak lies in response bin k - x
};
inline constexpr std::array<EscapeLine, 4> kEscapeLines{{
    {23.108f, 47},  // Cd K-alpha
    {26.166f, 53},  // Cd K-beta
    {27.378f, 55},  // Te K-alpha
    {31.103f, 63},  // Te K-beta
}};

// Which correction tvstrip runs: the stripping of this file (the default),
// or the unfolding with the detector response (strip/unfold.h), chosen by
// line 109 of TempFile.dat.
enum class StripMethod { Standard, Unfold };

// Input refused before any work: the message says what is wrong in the
// user's terms.
class StripInputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A floating-point overflow or invalid operation during the correction.  The
// message says what was being computed and for which channel.
class StripArithmeticError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What the run needs to know before it starts, derived from V and w.
struct StripPlan {
    std::int32_t voltage = 0;      // V, kV
    float kevPerChannel = 0.0f;    // w
    float ratio = 0.0f;            // w / 0.5: response bins per channel
    std::int64_t startChannel = 0;   // c0 = trunc(V / w) + 3 (may lie above 1024)
    std::int64_t lowestChannel = 0;  // trunc(5.0 / w) + 1
    int zeroedChannels = 0;          // channels 1..trunc(10.0 / w) (at most 1024) end as 0
    // The channels the main loop visits: from firstVisited down to
    // lastVisited.  Channels above 1024 do not exist and are not visited;
    // visitedCount() is 0 when no channel of the spectrum lies in the range.
    int firstVisited = 0;
    int lastVisited = 0;
    std::array<int, 4> escapeOffsets{};  // trunc(Ef / w + 0.5) per escape line

    int visitedCount() const { return firstVisited >= lastVisited ? firstVisited - lastVisited + 1 : 0; }
};

// Checks V and w and derives the plan.  Throws StripInputError when w is not
// above 0, V is not above 0, or the start channel lies below the lowest
// channel the correction visits (a tube voltage below about 5 kV).
StripPlan planStripping(std::int32_t voltage, float kevPerChannel);

// Where channel J lies in energy and in the response tables.
struct ChannelEnergy {
    float energy = 0.0f;  // E = J x w rounded to single precision
    int code = 0;         // energy code: 10 x keV rounded down to the 0.5 keV grid
    int bin = 0;          // k = trunc(J x w / 0.5 + 0.01)
};

// Throws StripArithmeticError when the energy is beyond every response table
// (999.5 keV and more: the code would not fit the table's file name).
ChannelEnergy channelEnergy(int channel, float kevPerChannel);

// Response bin of an energy given by a channel: trunc(m x w / 0.5 + 0.01),
// held to 301 (a bin beyond the table, which reads 0) for larger energies.
int channelBin(int channel, float kevPerChannel);

// R(b), with bins outside 0..300 reading 0.
inline float responseAt(const ResponseTable& r, int bin)
{
    return (bin >= 1 && bin <= kResponseBins) ? r[static_cast<std::size_t>(bin)] : 0.0f;
}

// Supplies the response table of an energy code; the reference must stay
// valid until the next call.  Called only when the code changes between
// corrected channels.
using TableLoader = std::function<const ResponseTable&(int code)>;
// Told about every visited channel before it is corrected.
using ProgressSink = std::function<void(int channel)>;

// Preparation: empties channel 1 and every channel above the start channel
// in `counts` and returns the working spectrum S.
WorkingSpectrum prepareSpectrum(Counts& counts, const StripPlan& plan);

// Main loop: visits the channels of the plan from the highest down and
// strips each channel whose content exceeds 5.0 when it is reached.
void stripChannels(WorkingSpectrum& s, const StripPlan& plan, const TableLoader& loadTable,
                   const ProgressSink& progress);

// Final pass: empties channels 1..trunc(10.0 / w), clamps negative contents
// to 0 and truncates to whole counts.
Counts finishSpectrum(WorkingSpectrum& s, const StripPlan& plan);

// The whole correction of `counts` (preparation, main loop, final pass).
Counts stripSpectrum(Counts counts, std::int32_t voltage, float kevPerChannel,
                     const TableLoader& loadTable, const ProgressSink& progress = {});

} // namespace tvstrip
