// Characterization of a CdTe detector from spectra of calibration sources:
// the analyser's energy scale (gain and offset), the energy resolution
// FWHM² = a + b·E + (c·E)² and the mu-tau products of electrons and holes
// at the given bias and thickness, each with its standard uncertainty,
// fitted by Poisson maximum likelihood to the whole of every measured
// spectrum above a threshold.  The line shapes (full-energy peaks with
// their charge-loss tails, Cd/Te K escape peaks, Compton continuum in the
// crystal) come from the detector Monte Carlo, simulated once per source
// with every deposit kept and re-weighted for each trial mu-tau.
//
// A pure function: spectra in, fitted values out; nothing is read or
// written.  Anything that keeps the fit from giving a trustworthy result
// throws CharacterizationError with the file and the reason in the user's
// terms.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "strip/detector_profile.h"

namespace tvdet {

// A measured spectrum of one calibration source.
struct CalibrationSpectrum {
    std::string nuclide;          // as xraylib's radionuclide table names it: "241Am", "57Co", "133Ba", ...
    std::string name;             // the file, for messages
    std::vector<double> counts;   // channels 1, 2, ... of the analyser (1024)
};

// What is known of the detector's construction and not fitted.
struct Construction {
    double biasVolts = 500;
    double thicknessMm = 1;
    double windowUm = 100;   // beryllium
    double sideMm = 3;
    double densityGPerCm3 = 5.85;
};

// The construction values of a profile.
Construction constructionOf(const tvstrip::DetectorProfile& profile);

struct CharacterizeOptions {
    // Channels from this recorded energy up are fitted (keV).
    double thresholdKeV = 10.0;
    // Monte Carlo events per source: this many per measured count, within
    // the bounds below.
    double eventsPerCount = 4.0;
    std::int64_t minEvents = 300000;
    std::int64_t maxEvents = 3000000;
    // Fine grid of recorded energies (keV).
    double binKeV = 0.025;
    int threads = 1;
    std::uint64_t seed = 20240605;
    int maxIterations = 100;
    // A spectrum whose deviance per fitted channel ends above this is not
    // described by the model (wrong nuclide, a tube, pile-up, ...).
    double maxDeviancePerChannel = 4.0;
    // Least counts in a spectrum's fitted channels.
    double minCounts = 5000;
    // The fit must determine these to at least this relative standard
    // uncertainty; otherwise there are too few counts.
    double maxRelativeUncertaintyFwhm = 0.05;
    double maxRelativeUncertaintyHoles = 0.30;
    // The nominal keV per channel may be this far off the one the peaks show.
    double maxGainDeviation = 0.20;
    // The ranges the mu-tau products are fitted in (cm²/V).  Holes: a fit
    // that ends at a bound is refused.  Electrons: one that ends at the
    // upper bound shows no electron trapping; the bound is kept and said.
    double mutauHolesMin = 1e-7, mutauHolesMax = 1e-2;
    double mutauElectronsMin = 1e-5, mutauElectronsMax = 0.1;
};

struct Value {
    double value = 0;
    double uncertainty = 0;  // standard uncertainty
};

// The fitted spectrum of one source, for the report.
inline constexpr int kModelParts = 5;
inline constexpr std::array<const char*, kModelParts> kModelPartNames = {
    "full-energy peaks with charge-loss tails", "Cd/Te K escape peaks", "Compton continuum in the crystal",
    "photons scattered by the surroundings", "flat background"};

struct SourceFit {
    std::string nuclide;
    std::string name;
    int firstChannel = 0;   // fitted channels, 1-based
    int lastChannel = 0;
    std::vector<double> measured;   // the fitted channels
    std::vector<double> model;      // expected counts
    std::array<std::vector<double>, kModelParts> parts;
    double deviance = 0;
    double counts = 0;              // measured counts in the fitted channels
    Value decays;                   // photons per decay x this = photons toward the detector
    Value absorberGPerCm2;          // aluminium-equivalent absorber in front of the source
    Value scatteredPhotons;         // photons scattered into the detector by the surroundings
    Value flatPerKeV;               // flat background, counts per keV
    std::vector<std::array<double, 2>> lines;  // energies (keV) and photons per decay of the lines used
    std::int64_t simulatedEvents = 0;
};

struct Characterization {
    Value gain;              // keV per channel
    Value offset;            // keV
    Value fwhm2Constant;     // a, keV²
    Value fwhm2Linear;       // b, keV
    Value fwhmProportional;  // c
    Value mutauElectrons;    // cm²/V
    Value mutauHoles;        // cm²/V
    Value fwhmAt5954;        // Gaussian FWHM at 59.54 keV, keV
    double deviance = 0;
    int channels = 0;
    int freeParameters = 0;
    double deviancePerChannel = 0;  // deviance over (channels - free parameters)
    int iterations = 0;
    Construction construction;
    double thresholdKeV = 0;
    double nominalKevPerChannel = 0;
    std::vector<SourceFit> sources;
    // What the user should know about the result (a term held at 0, a
    // parameter the spectra determine only weakly, ...).
    std::vector<std::string> notes;

    // The detector profile of the fitted detector, with the energy scale.
    tvstrip::DetectorProfile profile() const;
};

class CharacterizationError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Progress: the share done (0..1) and what is being done.
using CharacterizeProgress = std::function<void(double, const std::string&)>;

Characterization characterize(const std::vector<CalibrationSpectrum>& spectra, double nominalKevPerChannel,
                              const Construction& construction, const CharacterizeOptions& options = {},
                              const CharacterizeProgress& progress = {});

// The initial energy scale: the gain and offset at which the source's
// strongest lines, weighted by how visible they are, best match the peaks
// of the spectra (a search over gains from 0.6 to 1.6 times the nominal
// and offsets within ±5 keV).  `match` receives, per spectrum, the
// correlation of its peaks with its nuclide's lines at the best scale.
struct ScaleGuess {
    double gain = 0;
    double offset = 0;
    std::vector<double> match;
};
ScaleGuess guessEnergyScale(const std::vector<CalibrationSpectrum>& spectra, double nominalKevPerChannel,
                            const Construction& construction);

} // namespace tvdet
