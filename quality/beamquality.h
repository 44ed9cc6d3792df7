// Beam-quality figures of a photon spectrum: total photons, mean energies,
// half-value layers of air kerma in aluminium and copper, homogeneity
// coefficients, effective energy and end point, each with a standard
// uncertainty from the counting statistics.
//
// A spectrum is a run of channels of width w keV: channel i (1-based) holds
// the photons of energies in ((i-1)w, iw] and is taken at its centre
// (i-0.5)w.  Attenuation coefficients come from xraylib at run time.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace quality {

// A spectrum the figures cannot be computed for (no counts, a half-value
// layer beyond the search limit, a channel width without attenuation data).
// The message is written for the user.
class QualityError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A figure and its standard uncertainty; NaN where there is none.
struct Value {
    double value = std::numeric_limits<double>::quiet_NaN();
    double uncertainty = std::numeric_limits<double>::quiet_NaN();
};

struct BeamQuality {
    double kevPerChannel = 0;
    Value total;               // photons (sum of all channels)
    Value meanEnergyKeV;       // fluence-weighted
    Value kermaMeanEnergyKeV;  // air-kerma-weighted
    Value hvl1AlMm, hvl2AlMm;  // air kerma, narrow beam
    Value hvl1CuMm, hvl2CuMm;
    Value homogeneityAl;       // HVL1 / HVL2
    Value homogeneityCu;
    Value effectiveEnergyKeV;  // single energy with the same HVL1 in Al
    Value endPointKeV;         // upper end of the continuum
    // Sum of N_i E_i (mu_en/rho)_air,i over the channels (keV cm2/g): the
    // air kerma of the spectrum's photons spread over 1 cm2, in keV/g.  The
    // rates (rates.h) turn it into an air kerma with the area and time.
    Value kermaSumKeVCm2PerG;
    int resamplesUsed = 0;     // resamples that gave every figure
};

struct Options {
    // Poisson resamples for the uncertainties; 0 leaves them NaN.
    int resamples = 100;
    std::uint64_t seed = 1;
    // A half-value layer (first or second) beyond this aluminium thickness
    // is refused: the beam is not a diagnostic beam or not a spectrum.
    double maxHvlAlMm = 100.0;
    // Channels whose centre lies below this energy (keV) are left out of
    // every figure: a measured spectrum keeps the detector's noise in its
    // lowest channels, which would dominate the air kerma.  0: all channels.
    double lowerLimitKeV = 0.0;
    // End point: window of the upper tail (share of the spectrum's energy
    // above a channel edge) in which the square root of the tail is fitted
    // by a straight line.
    double endPointTailLow = 0.0005;
    double endPointTailHigh = 0.005;
};

// Attenuation data for one channel width, taken from xraylib: per channel
// the centre energy, the linear attenuation coefficients of aluminium and
// copper in 1/mm (total, coherent included) and the mass energy-absorption
// coefficient of dry air (cm2/g).  Channels whose centre lies below the
// lower end of the energy-absorption data (1 keV) carry muenAir = 0: they
// add to the photon count and the mean energy but not to the air kerma.
struct Attenuation {
    double kevPerChannel = 0;
    std::vector<double> energyKeV;
    std::vector<double> muAlPerMm;
    std::vector<double> muCuPerMm;
    std::vector<double> muenAir;
    double aluminiumDensity = 0;  // g/cm3, xraylib
    double copperDensity = 0;
    double lowestKermaEnergyKeV = 0;
    double highestEnergyKeV = 0;  // top of the attenuation data
};

// Builds (and keeps for the last few channel widths) the attenuation data
// for `channels` channels; channels above the top of the data carry NaN and
// must be empty.
std::shared_ptr<const Attenuation> attenuationFor(double kevPerChannel, std::size_t channels);

// Linear attenuation coefficient of aluminium (1/mm) at one energy.
double aluminiumMuPerMm(double energyKeV);

// The energy whose aluminium half-value layer ln2/mu equals hvlMm, searched
// from the Al K edge up to highestKeV; NaN when there is none.
double effectiveEnergyForAlHvl(double hvlMm, double highestKeV);

// The figures of one spectrum, without uncertainties.
BeamQuality computeFigures(std::span<const double> counts, const Attenuation& att, const Options& options = {});

// The figures with uncertainties, the counts taken as Poisson counts of their
// own value (a negative channel: minus a Poisson count of its magnitude).
BeamQuality computeBeamQuality(std::span<const double> counts, double kevPerChannel, const Options& options = {});

// A correction applied to measured counts before the figures are computed
// (stripping, conversion).  It may throw; a failed resample is left out.
using Chain = std::function<std::vector<double>(std::span<const double>)>;

// The figures of chain(measured); the uncertainties from resampling the
// measured counts (Poisson) and taking each resample through the chain.
BeamQuality computeBeamQualityThrough(std::span<const double> measured, double kevPerChannel, const Chain& chain,
                                      const Options& options = {});

// The figures of a record in their order: the key of each in the JSON and
// CSV records (its uncertainty under the key with "_u"), its label and unit
// in the text, and the member that holds it.  Every record layout and the
// Python module's attributes are made from this one list.
struct Figure {
    const char* key;
    const char* label;
    const char* unit;
    const char* textFormat;
    Value BeamQuality::*member;
};
std::span<const Figure> figures();

// One record as text (one figure a line, value ± uncertainty, units), as one
// JSON object on one line, or as a CSV line with the matching header.
std::string formatText(const BeamQuality& q, const std::string& name = {});
// The same with further lines ("  label: value\n" each) after the figures.
std::string formatText(const BeamQuality& q, const std::string& name, const std::string& moreLines);
std::string toJson(const BeamQuality& q, const std::string& file);
std::string csvHeader();
std::string toCsv(const BeamQuality& q, const std::string& file);

} // namespace quality
