// The unfolding method of the stripping correction: finds the spectrum of
// photons incident on the detector, channel by channel on the grid the user
// entered, whose expected recording through the detector explains the
// measured counts best under Poisson statistics (maximum-likelihood EM, the
// Richardson-Lucy iteration).
//
// The detector model is the response data of RES/unfold.rsp (full-energy
// peak with its charge-loss tail on the calibrated scale, Cd/Te K escapes,
// Compton and Rayleigh scattering in the crystal, the window) interpolated
// to each channel's energy, followed by the resolution FWHM(E) of the
// detector profile and the analyser's energy scale (the profile's gain and
// offset when it holds them, else the keV per channel entered).  Every
// iteration multiplies the estimate by a positive factor, so counts are
// never negative, and photons escaping, scattering or losing charge are put
// back where they came from.  The iteration is accelerated by vector
// extrapolation (Biggs and Andrews, Applied Optics 36, 1766 (1997)).
//
// Where the spectrum's lowest energies are weak against what higher
// energies leave in their channels (a tube behind its glass and aluminium
// has few photons below 20 keV, while the escape peaks and hole tails of
// 35-60 keV photons fill those channels), a free channel-by-channel
// estimate would only follow counting noise and small errors of the
// response.  There the spectrum is taken as one smooth shape, the
// transmission law of a filter over a power of the energy,
//   x(E) = exp(a + b (E_s/E)^3 + c ln(E/E_s)) / E,
// whose three parameters are fitted with everything else (Fisher scoring on
// the same likelihood, c held loosely to 0, Kramers' 1/E, by a Gaussian
// prior).  The shape reaches a few keV into the energies the counts do
// determine, which anchor it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "strip/stripping.h"
#include "strip/unfold_response.h"

namespace tvstrip {

// The unfolding did not settle: the message says so in the user's terms.
class UnfoldError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Pulse pile-up: two or more photons within the pulse-pair resolving time
// are recorded as one pulse of their summed energy.  What the caller knows
// of the count rate (any field may be unknown):
struct PileupInput {
    // The share of the recorded pulses that hold more than one photon, when
    // the caller has it already.
    std::optional<double> share;
    std::optional<double> resolvingTimeUs;  // pulse-pair resolving time
    std::optional<double> realTimeS;        // measuring time
    std::optional<double> liveTimeS;        // the analyser's live time
    // Photons the analyser's fast channel counted (input count rate times
    // the real time), and pulses it recorded (output; the spectrum's own
    // counts when unknown).
    std::optional<double> inputCounts;
    std::optional<double> outputCounts;
};

enum class PileupSource {
    None,    // no pile-up in the model: no rate known and no counts above the tube voltage
    Given,   // the caller's share
    Rates,   // from the resolving time and a count rate
    Counts,  // fitted, mostly to the counts above the tube voltage
};

struct PileupReport {
    PileupSource source = PileupSource::None;
    double share = 0.0;            // of the recorded pulses
    double meanExtraPhotons = 0.0; // per recorded pulse, mu (input rate x resolving time)
    std::optional<double> deadTimeFraction;  // 1 - live/real, or 1 - output/input
    double countsAboveVoltage = 0.0;         // measured counts beyond the tube voltage and its resolution
};

// A share above this is refused: the spectrum cannot support it.
inline constexpr double kMaxPileupShare = 0.30;

// The pile-up share and dead-time fraction from what the caller knows
// (pure): the share itself; else with a resolving time tau and the real
// time, from the input counts (mu = input rate x tau) or from the output
// counts (default `recordedCounts`: mu = n tau / (1 - n tau) with n the
// output rate); the share is 1 - p0 of the model (see unfold.cpp).  Source
// None when no share follows.  Throws UnfoldError naming the value for an
// impossible input (negative or non-finite values, a live time more than 1 ms above the
// real time, more output than input counts, an output rate at or above
// 1/tau).
PileupReport pileupFromRates(const PileupInput& input, double recordedCounts);

// The pile-up share a run of the unfolding used, as users are told it
// (tarvik quality's `pileup_share`): the share of its model, given, from
// the rates or fitted; empty when the model held none for want of a rate
// and of counts above the tube voltage (nothing known, nothing seen).
std::optional<double> pileupShareOf(const PileupReport& report);

// The recorded pulses of detected events (per channel of any grid,
// channel i holding ((i-1) w, i w]) at a pile-up share: the model of the
// unfolding, for tests and the bench.
std::vector<double> pileupSpectrum(const std::vector<double>& detected, double share);

struct UnfoldOptions {
    // Iterations of the (accelerated) EM step on free channels.  Chosen on
    // the round-trip bench (tvgen --roundtrip RES --methods): at 20 to 30
    // the mean energy and HVL have settled; more iterations turn counting
    // noise into channel-to-channel structure and cost time.
    int iterations = 30;
    // After this many of them the weak low-energy bins are looked for; when
    // there are some, the low end becomes one smooth shape and
    // `shapeIterations` more iterations follow (its three parameters
    // settle more slowly than the channels; see generator/README.md for the
    // choice), else the remaining free iterations.
    int shapeAfter = 20;
    int shapeIterations = 30;
    // Fisher-scoring steps for the shape's parameters per iteration.
    int shapeSteps = 2;
    // A 1 keV bin at the low end counts as weak when its relative standard
    // error exceeds this: counting noise (Fisher information of the bin's
    // photons) and `backgroundUncertainty` of the counts that higher
    // energies leave in its channels, over the bin's own counts.
    double weakBinError = 0.10;
    double backgroundUncertainty = 0.02;
    // The smooth shape covers the weak bins and this many keV above them.
    double shapeMarginKeV = 5.0;
    // Weak bins are looked for from the lowest energy up to this energy
    // and half the tube voltage, whichever is lower.
    double weakSearchKeV = 40.0;
    // Standard deviation of the Gaussian prior of the shape's power c.
    double shapePowerWidth = 2.0;
    // Off: every channel is free (the method before the smooth low end).
    bool smoothLowEnd = true;
    // The count rate as far as the caller knows it.  Without a share or a
    // rate, the pile-up share is fitted when the measurement holds counts
    // above the tube voltage (at least `minCountsAbove` of them) and
    // `estimatePileup` is on.
    PileupInput pileup;
    bool estimatePileup = true;
    double minCountsAbove = 10.0;
    // Largest change of the fit in the last iteration for the result to
    // count as converged: the sum over the channels of the change of the
    // predicted counts, over the measured counts.
    double maxLastChange = 0.01;
};

struct UnfoldReport {
    int iterations = 0;
    double lastChange = 0;    // change of the fit in the last iteration (see maxLastChange)
    int firstChannel = 0;     // measured channels the unfolding fits
    int lastChannel = 0;
    double smoothBelowKeV = 0;  // the smooth low-energy shape covers the energies below this (0: none)
    PileupReport pileup;
};

// The analyser's energy scale: measured channel i records the calibrated
// energies (offset + (i-1) gain, offset + i gain].
struct EnergyScale {
    double gainKevPerChannel = 0;
    double offsetKeV = 0;
};

// The scale of the profile when it holds one, else the nominal w with no
// offset.
EnergyScale energyScaleFor(const DetectorProfile& profile, float kevPerChannel);

// A line for the console when the entered keV per channel differs from the
// profile's gain by more than 1 % (the run goes on with the profile's
// scale); nothing otherwise.
std::optional<std::string> energyScaleNote(const DetectorProfile& profile, float kevPerChannel);

// The channels the unfolding covers for V and w: incident channels (on the
// nominal grid, channel j holding ((j-1) w, j w]) from the first whose
// centre lies at the lowest node energy up to the start channel
// trunc(V / w) + 3, also above 1024 (their photons are estimated from what
// they leave in the measured range and not written); measured channels on
// the analyser's scale from the first whose centre lies at the lowest node
// energy up to the one that records the start channel's upper edge, at most
// 1024.  Throws StripInputError for V or w the correction cannot work with,
// and ResponseDataError when the response data do not reach the energies
// needed.
struct UnfoldRange {
    int first = 0;         // first incident channel
    int last = 0;          // last measured channel
    int lastIncident = 0;  // the start channel, also above 1024
    int firstMeasured = 0;
};
UnfoldRange unfoldRange(const UnfoldResponse& response, std::int32_t voltage, float kevPerChannel);

// The highest photon energy a run at V kV and w keV per channel models
// (the centre of its start channel): loadUnfoldResponse needs to decode the
// response data only up to there.  Throws StripInputError as planStripping.
double unfoldNeededKeV(std::int32_t voltage, float kevPerChannel);

// The unfolding of `measured` (counts of channels 1..1024 on the analyser's
// scale) for a tube voltage of V kV and the entered w keV per channel.
// Returns photons incident on the detector per channel of the nominal grid,
// rounded to whole numbers; channels 1..trunc(10.0 / w) and channels above
// the start channel are 0 as with the standard method, and so are channels
// wholly above the tube voltage.  With pile-up in the model (see
// UnfoldOptions::pileup) the measured channels above the tube voltage are
// fitted too.  Throws UnfoldError when the iteration has not settled or the
// pile-up share exceeds kMaxPileupShare.
Counts unfoldSpectrum(const Counts& measured, float kevPerChannel, std::int32_t voltage,
                      const UnfoldResponse& response, const UnfoldOptions& options = {},
                      UnfoldReport* report = nullptr);

// The detector model, for tests and the bench: the expected counts of the
// measured channels 1..1024 for photons incident per channel of the
// nominal grid (`incident`, channels 1, 2, ...; also beyond 1024 up to the
// start channel) over the channels of unfoldRange.
std::vector<double> foldSpectrum(const std::vector<double>& incident, float kevPerChannel, std::int32_t voltage,
                                 const UnfoldResponse& response);

// The two halves of the model, for tests of the pile-up: the detected
// events before the resolution (per channel of the nominal grid, channels
// 1..start channel) for photons incident per channel, and the measured
// channels 1..1024 of pulses recorded per channel of the nominal grid (any
// number of channels).
std::vector<double> detectSpectrum(const std::vector<double>& incident, float kevPerChannel, std::int32_t voltage,
                                   const UnfoldResponse& response);
std::vector<double> resolveSpectrum(const std::vector<double>& recorded, float kevPerChannel, std::int32_t voltage,
                                    const UnfoldResponse& response);

} // namespace tvstrip
