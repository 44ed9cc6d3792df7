// The unfolding method of the stripping correction: finds the spectrum of
// photons incident on the detector, channel by channel on the analyser's own
// grid, whose expected recording through the detector explains the measured
// counts best under Poisson statistics (maximum-likelihood EM, the
// Richardson-Lucy iteration).
//
// The detector model is the response data of RES/unfold.rsp (full-energy
// peak with its charge-loss tail on the calibrated scale, Cd/Te K escapes,
// Compton and Rayleigh scattering in the crystal, the window) interpolated
// to each channel's energy, followed by the resolution FWHM(E) of the
// detector profile.  Every iteration multiplies the estimate by a positive
// factor, so counts are never negative, and photons escaping, scattering or
// losing charge are put back where they came from.  A fixed number of
// iterations stops the fit before it starts to fit the counting noise.
// The iteration is accelerated by vector extrapolation (Biggs and Andrews,
// Applied Optics 36, 1766 (1997)), which reaches in 30 steps what the plain
// iteration reaches in several hundred.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
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
    // Iterations of the (accelerated) EM step.  Chosen on the round-trip
    // bench (tvgen --roundtrip RES --methods --iterations ...): at 20 to 30
    // the mean energy and HVL have settled (HVL within 0.35 % at 50 to
    // 120 kV); more iterations sharpen the tube's lines a little but turn
    // counting noise into channel-to-channel structure (the RMS deviation
    // of a 50 kV continuum in 1 keV bins grows from 0.4 % at 30 to 0.7 %
    // at 120) and cost time.
    int iterations = 30;
    // Largest change of the fit in the last iteration for the result to
    // count as converged: the sum over the channels of the change of the
    // predicted counts, over the measured counts.
    double maxLastChange = 0.01;
};

struct UnfoldReport {
    int iterations = 0;
    double lastChange = 0;    // change of the fit in the last iteration (see maxLastChange)
    int firstChannel = 0;     // channels the unfolding covers
    int lastChannel = 0;
};

// The channel range the unfolding covers for V and w: from the first
// channel whose centre lies at the lowest node energy up to the start
// channel trunc(V / w) + 3 (measured channels at most up to 1024; the
// photons of channels beyond, up to the start channel, are estimated from
// what they leave in the measured range).  Throws StripInputError for V or w
// the correction cannot work with, and ResponseDataError when the response
// data do not reach the energies needed.
struct UnfoldRange {
    int first = 0;
    int last = 0;          // last measured channel: the start channel, at most 1024
    int lastIncident = 0;  // the start channel, also above 1024
};
UnfoldRange unfoldRange(const UnfoldResponse& response, std::int32_t voltage, float kevPerChannel);

// The unfolding of `measured` (counts of channels 1..1024 of width w keV)
// for a tube voltage of V kV.  Returns photons incident on the detector per
// channel, rounded to whole numbers; channels 1..trunc(10.0 / w) and
// channels above the start channel are 0 as with the standard method.
// Throws UnfoldError when the iteration has not settled.
Counts unfoldSpectrum(const Counts& measured, float kevPerChannel, std::int32_t voltage,
                      const UnfoldResponse& response, const UnfoldOptions& options = {},
                      UnfoldReport* report = nullptr);

// The detector model on the channel grid, for tests and the bench: the
// expected counts of channels 1..1024 for photons incident per channel
// (`incident`, channels 1, 2, ...; also beyond 1024 up to the start
// channel) over the channels of unfoldRange.
std::vector<double> foldSpectrum(const std::vector<double>& incident, float kevPerChannel, std::int32_t voltage,
                                 const UnfoldResponse& response);

} // namespace tvstrip
