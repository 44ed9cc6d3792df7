// Monte Carlo model of the CdTe detector: a 3 mm x 3 mm x 1 mm crystal
// behind a beryllium window, irradiated by a pencil beam at the centre of
// the front face (the cathode) at normal incidence.
//
// Photons are followed until they are absorbed or leave the crystal:
//  - photoelectric absorption by Cd or Te; a K-shell vacancy emits, with the
//    K fluorescence yield, one photon of the Cd/Te K-alpha or K-beta group
//    (chosen by radiative rates) isotropically, which is followed like any
//    other photon; the rest of the energy (photoelectron, Auger electrons,
//    L fluorescence) is deposited at the point of absorption;
//  - Compton scattering by Klein–Nishina, thinned by the incoherent
//    scattering function S(x)/Z (bound electrons, no Doppler broadening);
//    the recoil electron deposits its energy on the spot;
//  - Rayleigh scattering by the Thomson distribution times F(x)².
// A photon that interacts in the window is lost to the crystal.  The charge
// reaching the electrodes is either complete or follows the Hecht relation
// of a planar detector for the depth of each deposit.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "detector/kgroups.h"
#include "detector/medium.h"
#include "detector/random.h"

namespace tvdet {

struct DetectorConfig {
    double widthCm = 0.3;       // crystal extent across the beam (x and y)
    double thicknessCm = 0.1;   // along the beam
    double density = 5.85;      // CdTe, g/cm³
    double windowCm = 0.01;     // beryllium window in front; 0 for none
    bool chargeLoss = false;    // Hecht charge collection instead of complete collection
    double mutauElectrons = 2e-3;  // cm²/V
    double mutauHoles = 1e-4;      // cm²/V
    double biasVolts = 500;
    // Top of the tabulated cross sections (keV): photons above it are not
    // followed correctly.  Sources with gamma rays above the tube range
    // (133Ba up to 384 keV) need more.
    double maxEnergyKeV = 160;
};

// One energy deposit of a photon history: where (depth from the front face)
// and how much.  The charge collection of any mu-tau can be applied to it
// afterwards.
struct Deposit {
    float depthCm = 0;
    float energyKeV = 0;
};

// What one incident photon left in the detector.
struct PhotonResult {
    bool stoppedByWindow = false;
    bool interacted = false;   // interacted in the crystal at least once
    bool kEscape = false;      // at least one K fluorescence photon left the crystal
    bool escape = false;       // some photon (scattered or fluorescent) left after interacting
    double deposited = 0;      // keV deposited in the crystal
    double collected = 0;      // keV equivalent of the collected charge
};

// Share of the charge created at depth z (cm from the front face, the
// cathode) that reaches the electrodes of a planar detector of thickness d
// (Hecht relation): electrons drift to the anode at the back face, holes to
// the cathode; lambda = mu-tau * bias / d of electrons and holes.
inline double hechtCollection(double z, double d, double lambdaE, double lambdaH)
{
    return lambdaE / d * (1.0 - std::exp(-(d - z) / lambdaE)) + lambdaH / d * (1.0 - std::exp(-z / lambdaH));
}

class Detector {
public:
    explicit Detector(const DetectorConfig& config);

    const DetectorConfig& config() const { return config_; }
    const std::array<KGroup, 4>& kGroups() const { return groups_; }
    const Medium& crystal() const { return crystal_; }

    // Share of the charge created at depth z (cm from the front face,
    // the cathode) that the electrodes collect.
    double chargeCollection(double depthCm) const;
    // The largest share over the depth of the crystal.  An analyser
    // calibrated on the full-energy peaks of line sources puts the peak's
    // upper edge at the photon energy: its energy scale is the collected
    // energy divided by this share.
    double peakCollection() const;

    // Follows one photon of the given energy from the window into the crystal.
    PhotonResult simulate(double energyKeV, Rng& rng) const;
    // The same, appending every energy deposit of the history to `deposits`
    // (the random numbers drawn are the same, so is the result).
    PhotonResult simulate(double energyKeV, Rng& rng, std::vector<Deposit>& deposits) const;

private:
    template <class Sink>
    PhotonResult transport(double energyKeV, Rng& rng, Sink&& sink) const;

    struct Scattering {
        // per constituent: S(x) and cumulative F²(x) over x² on a grid in x
        std::vector<double> s;
        std::vector<double> cumF2;
    };

    double scatteringFunction(int constituent, double x) const;
    double sampleComptonCos(int constituent, double energy, Rng& rng, double& scatteredEnergy) const;
    double sampleRayleighCos(int constituent, double energy, Rng& rng) const;

    DetectorConfig config_;
    Medium crystal_;
    Medium window_;
    std::array<KGroup, 4> groups_;
    double fluorescenceYield_[2];
    double kAlphaShare_[2];
    int zOf_[2];
    double hc_, mec2_;
    double xStep_;
    std::size_t xNodes_;
    std::vector<Scattering> scattering_;
    double lambdaE_, lambdaH_;
};

} // namespace tvdet
