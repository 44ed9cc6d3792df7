// The spectrum a block of carbon or PMMA scatters at an angle, computed from
// the physics data directly: incoherent scattering with the Doppler
// broadening of each element's Compton profile, coherent scattering at the
// unshifted energy, and the attenuation in the block (the path length as a
// whole, half of it at the incident energy, half at the scattered one).  The
// truth of the conversion check and of the scattered demo spectrum.
#pragma once

#include <utility>
#include <vector>

#include "generator/scatterer.h"
#include "generator/spectra.h"

namespace tvgen {

// Scattered energies are collected on this grid (keV) before they are put
// into channels; every channel width of the checks is a multiple of it.
inline constexpr double kFine = 0.005;
inline constexpr int kFineBins = 60000;  // up to 300 keV

// One element of the scatterer with what the truth needs of it.
struct ScatterElement {
    int Z = 0;
    double weight = 0;               // n·A: grams per formula unit (× Avogadro)
    std::vector<double> cumulative;  // ∫0^pz J on a grid of kProfileStep a.u., normalised to 1/2 at the end
};

struct Scatterer {
    ScattererMaterial material;
    std::vector<ScatterElement> elements;
    std::vector<std::pair<int, double>> fractions;
    std::vector<double> muFine;  // 1/cm at the centre of each fine bin

    double mu(double e) const;   // linear attenuation coefficient, 1/cm
};

Scatterer prepareScatterer(const ScattererMaterial& m);

// The scattered spectrum on the fine grid (bin k holds (k·δ, (k+1)·δ]) for
// the scattering angle theta (radians) and the path `length` (cm) in the block.
std::vector<double> scatteredFine(const PhotonSpectrum& primary, const Scatterer& sc, double theta, double length);

// The photons of the fine grid at the bins' centres (empty bins left out).
PhotonSpectrum fineToPhotons(const std::vector<double>& fine);

} // namespace tvgen
