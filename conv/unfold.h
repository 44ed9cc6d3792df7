// The unfolding conversion: a model of the spectrum that a scatterer block
// sends into the angle θ from a primary spectrum, and its inversion by
// maximum-likelihood expectation maximisation on the channel grid.
//
// The model, per primary photon of energy E:
//  - incoherent scattering: Klein–Nishina at θ times the incoherent
//    scattering function S(x), x = sin(θ/2)·E/hc; the scattered energies are
//    spread around the Compton energy by the Compton profile J(pz) of the
//    scatterer's electrons (impulse approximation: pz follows from E, the
//    scattered energy E' and θ), so S gives the line's strength and the
//    profile its shape;
//  - coherent scattering: Thomson (1 + cos²θ)/2 times F(x)², unshifted;
//  - attenuation in the block: the length L is the whole path inside it,
//    half travelled at the primary energy and half at the scattered energy,
//    exp(−μ(E)·L/2 − μ(E')·L/2) with μ = (c1 + c2 + c3)·ρ.
// Both cross sections are in units of r_e² per steradian and formula unit;
// the common factor cancels in the normalisation.
#pragma once

#include "conversion.h"
#include "profile.h"
#include "scatterer.h"

#include <filesystem>
#include <functional>
#include <vector>

namespace tvconv {

// Everything the model reads from the working folder.
struct ScatterModelData {
    ScattererData scatterer;
    ProfileData profile;
};

// Reads the scatterer file and the profile file beside it.
ScatterModelData loadScatterModel(const std::filesystem::path& scattererPath);

// The scattering model of one scatterer at one angle, with the table
// lookups prepared once.
class ScatterModel {
public:
    ScatterModel(const ScatterModelData& data, int angleDegrees);

    struct Weights {
        double incoherent;  // Klein–Nishina × S(x), r_e²/sr per formula unit
        double coherent;    // Thomson × F(x)², r_e²/sr per formula unit
    };
    Weights weights(double energy) const;

    double comptonEnergy(double energy) const;
    // Linear attenuation coefficient (c1 + c2 + c3)·ρ in 1/cm, each
    // coefficient interpolated log–log on its own.
    double attenuation(double energy) const;
    // The electron momentum component pz in atomic units that scatters a
    // photon of `energy` into `scattered` at θ.
    double momentum(double energy, double scattered) const;
    // Share of the Compton line below pz: 0 … 1, 0.5 at pz = 0.
    double profileShare(double pz) const;

    double theta() const { return theta_; }
    double restEnergy() const { return restEnergy_; }

private:
    double theta_, cosTheta_, sinHalf_;
    double restEnergy_, kevAngstrom_, momentumAtomic_;
    std::vector<double> lx_, ls_, lf2_;     // ln x, ln S, ln F² of the scattering table
    // ln E and the logarithms of the three coefficients of the coefficient
    // table; each is interpolated on its own, which follows the steep
    // photoelectric part far better than the logarithm of their sum.
    std::vector<double> le_, lc1_, lc2_, lc3_;
    double density_;
    std::vector<double> pz_, j_, cumulative_; // profile and its integral from 0
};

// The measured spectrum (channels of width W, channel i holding the energies
// in ((i−1)·W, i·W]) that one primary photon of `energy` produces at the
// model's angle after the length L; channels 1..1024, element 0 is channel 1.
std::vector<double> monoenergeticResponse(const ScatterModel& model, double energy, double length, double width);

struct UnfoldOptions {
    int maxIterations = 5000;
    // The iteration stops when an iteration lowers the Poisson deviance by
    // less than this share of it.
    double tolerance = 1e-6;
    // Primary channels whose detection chance inside the fitted channels is
    // below this share of the largest one are not solved for (they would
    // only amplify noise); they stay 0.
    double minimumSensitivity = 1e-3;
    int subSamples = 4;   // primary energies per channel in the model
    // Over-relaxation ω of the EM step (1 = plain EM); a step that would
    // raise the deviance falls back to the plain one.
    double relaxation = 3.0;
    // Primaries above channel 1024 that scatter into the range are
    // unknowns of the fit (off: only the range's own, as before).
    bool aboveRange = true;
};

struct UnfoldResult {
    Spectrum primary{};      // normalised as the standard method's result
    int iterations = 0;
    double deviance = 0;     // Poisson deviance of the fit
    int fittedChannels = 0;  // measured channels with counts in the fit
    int firstPrimary = 0, lastPrimary = 0;  // solved primary channels (may lie above 1024)
    int primaryChannels = 0;                // primary channels of the model, 1024 and more
};

// The primary channels the model holds for channel width `width`: the
// 1024 of the range and those above it whose Compton line at the model's
// angle still lies inside the range (up to `tableEndKeV`, the end of the
// coefficient table, and at most 2048 in all).
int primaryChannels(const ScatterModel& model, double width, double tableEndKeV);

// Refuses what the model cannot use, before any work: an angle outside 1 to
// 180 degrees, a negative or non-finite length, a channel width not above
// 0, a negative count, no counts in channels 21..1024, and primary energies
// up to 1024·W beyond the coefficient table.  Throws ConversionError naming
// the value (and the file for the tables).
void checkUnfoldInput(const ConversionInput& input, const ScatterModelData& data);

// Called with the iteration number and the deviance after each iteration.
using UnfoldProgressFn = std::function<void(int iteration, double deviance)>;

// The primary spectrum whose modelled scattered spectrum best explains the
// measured counts of channels 21..1024 (Poisson maximum likelihood, solved
// by EM, which keeps every count non-negative).  Primaries above channel
// 1024 that scatter into the range are estimated with the others and not
// written.  The result is scaled so
// that channels 2..1024 hold the measured total of channels 2..1024, each
// channel truncated to a whole count.  Throws ConversionError when the
// input is refused or the iteration does not converge.
UnfoldResult unfoldPrimary(const ConversionInput& input, const ScatterModelData& data,
                           const UnfoldOptions& options = {}, const UnfoldProgressFn& progress = {});

} // namespace tvconv
