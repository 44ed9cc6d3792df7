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
// the start channel are 0 as with the standard method.  Throws UnfoldError
// when the iteration has not settled.
Counts unfoldSpectrum(const Counts& measured, float kevPerChannel, std::int32_t voltage,
                      const UnfoldResponse& response, const UnfoldOptions& options = {},
                      UnfoldReport* report = nullptr);

// The detector model, for tests and the bench: the expected counts of the
// measured channels 1..1024 for photons incident per channel of the
// nominal grid (`incident`, channels 1, 2, ...; also beyond 1024 up to the
// start channel) over the channels of unfoldRange.
std::vector<double> foldSpectrum(const std::vector<double>& incident, float kevPerChannel, std::int32_t voltage,
                                 const UnfoldResponse& response);

} // namespace tvstrip
