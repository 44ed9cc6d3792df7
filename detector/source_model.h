// The expected spectrum of a calibration source as the analyser records it:
// the source's lines (xraylib's radionuclide table) through the detector
// Monte Carlo (stored histories, re-weighted for each trial mu-tau), an
// absorber in front of the source (its encapsulation, as an aluminium-
// equivalent mass thickness), photons scattered into the detector by the
// surroundings, a flat background, the detector's Gaussian resolution and
// the analyser's energy scale.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "detector/histories.h"
#include "detector/physics_data.h"
#include "detector/random.h"

namespace tvdet {

// One line of a source as the model uses it.
struct SourceLine {
    double energyKeV = 0;
    double perDecay = 0;
    bool gamma = false;
    double absorberPerGram = 0;  // mass attenuation of the aluminium-equivalent absorber, cm²/g
};

// The lines of a radionuclide that can leave counts at or above
// `lowestKeV`: every line with at least `minPerDecay` photons per decay
// from lowestKeV - 3 keV up to `highestKeV` (lines above the analyser's
// range still leave their Compton continuum in it).
std::vector<SourceLine> sourceLines(const xrl::Radionuclide& nuclide, double lowestKeV, double highestKeV,
                                    double minPerDecay = 1e-5);

// The parts of a source's spectrum on a fine grid of recorded energy (bin b
// centred at (b + 1/2)·binKeV), per decay: the detector's three event kinds
// (EventKind) of the photons that come straight from the source, then one
// part per band of scattering angles of the photons scattered into the
// detector by the surroundings.
using PartHistograms = std::vector<std::vector<double>>;

// Bands of the scattering angle of photons scattered by the surroundings
// (degrees): 0-45, 45-90, 90-135, 135-180.  Their shares are fitted, so
// the geometry of the surroundings need not be known.
inline constexpr int kScatterBands = 4;

// Where SourceModel::spectrum puts the derivatives asked for.
struct SpectrumDerivatives {
    PartHistograms* absorber = nullptr;
    PartHistograms* electrons = nullptr;
    PartHistograms* holes = nullptr;
};

// A source's lines with their stored histories.
class SourceModel {
public:
    // Simulates the histories of every line: photons in proportion to the
    // emission, `events` events (photons leaving energy in the crystal)
    // in all, at least `minPhotonsPerLine` photons for every line.  The
    // photons scattered by the surroundings get `scatterShare` as many
    // photons, split over the angle bands.
    SourceModel(std::vector<SourceLine> lines, const Detector& detector, std::int64_t events,
                double binKeV, double topKeV, const HistoryOptions& options, std::int64_t minPhotonsPerLine = 2000,
                double scatterShare = 0.25);

    const std::vector<SourceLine>& lines() const { return lines_; }
    const std::vector<LineHistories>& histories() const { return histories_; }
    double binKeV() const { return bin_; }
    std::size_t bins() const { return bins_; }
    std::int64_t events() const;  // stored events, all histories

    // The spectrum per decay (photons leaving the source toward the
    // detector) behind an absorber of `absorberGPerCm2` (aluminium
    // equivalent), for the charge collection `cce`: kEventKinds parts of
    // the photons coming straight (per photon on the window), then
    // kScatterBands parts of photons scattered once by the surroundings
    // (Klein–Nishina over an even spread of directions within the band,
    // followed through the same detector; per photon scattered).
    // The derivatives of every part, when asked for: with respect to the
    // absorber, and to ln(mu-tau) of electrons and holes (the exact
    // derivatives of the histograms as they are built: each event moves
    // with its recorded energy).
    void spectrum(const CollectionTable& cce, double absorberGPerCm2, PartHistograms& out,
                  const SpectrumDerivatives& derivatives = {}) const;

private:
    std::vector<SourceLine> lines_;
    std::vector<LineHistories> histories_;
    std::vector<std::array<LineHistories, kScatterBands>> scattered_;  // per line and band
    double bin_;
    std::size_t bins_;
};

// The analyser: channel i (1-based) records the energies
// (offset + (i-1)·gain, offset + i·gain]; the detector's resolution is a
// Gaussian of FWHM² = a + b·E + gamma·E² (gamma = c²) at the recorded energy E.
struct Readout {
    double gain = 0.1;
    double offset = 0;
    double a = 0.243, b = 0.00246, gamma = 0.00348 * 0.00348;
    double fwhm2(double e) const { return a + b * e + gamma * e * e; }
};

// Expected counts of channels first..last (1-based) of a fine-grid
// histogram of recorded energies: each bin smeared by the resolution at its
// energy (less the spread of the linear sharing between bins) and
// integrated over the channels.  out[i - first] for channel i.
void foldIntoChannels(const std::vector<double>& histogram, double binKeV, const Readout& readout, int first,
                      int last, std::vector<double>& out);

// The same for several histograms of the same grid at once (the Gaussian
// integrals are computed once for all): out[h] for histograms[h].  With
// `readoutDerivatives`, also the derivatives of the first histogram's
// channels with respect to gain, offset, a, b and gamma, in that order.
enum ReadoutParameter { kReadoutGain, kReadoutOffset, kReadoutA, kReadoutB, kReadoutGamma, kReadoutParameters };
void foldIntoChannels(const std::vector<const std::vector<double>*>& histograms, double binKeV, const Readout& readout,
                      int first, int last, std::vector<std::vector<double>>& out,
                      std::array<std::vector<double>, kReadoutParameters>* readoutDerivatives);

} // namespace tvdet
