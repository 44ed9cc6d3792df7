// Demo measured spectra: a model X-ray tube spectrum, its Compton-scattered
// counterpart, and their measurement through the detector model with the
// detector's energy resolution and counting noise, written in the
// analyser's ".csv" layout.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "detector/detector.h"
#include "generator/scatterer.h"

namespace tvgen {

// A photon spectrum as discrete energies with weights (relative photon
// numbers): the continuum on a fine grid plus the characteristic lines.
struct PhotonSpectrum {
    std::vector<double> energyKeV;
    std::vector<double> weight;
    double total() const;
    double meanEnergy() const;
};

struct TubeModel {
    double kilovolts = 80;
    double aluminiumMm = 2.5;
    // W K-line photons as a share of the unfiltered continuum photons from
    // 10 keV up to the tube voltage.
    double kLineShare = 0.04;
    double stepKeV = 0.01;
    // Self-absorption in the tungsten anode: the angle between the anode
    // surface and the central ray in degrees (0: none, Kramers' law alone).
    // A photon made at the depth where the electron has slowed down to T
    // leaves through depth(T) / sin(angle) of tungsten; depth(T) is the
    // electron's path from the tube voltage down to T (continuous slowing
    // down with the Bethe collision stopping power, straight in).
    double anodeAngleDeg = 0;
    // Inherent filtration: borosilicate glass of the tube's envelope, mm.
    double glassMm = 0;
};

// The tube of the round trip's second truth: self-absorption in an anode of
// 12 degrees and 1.5 mm of borosilicate glass (sources in
// generator/README.md), then the added aluminium.
TubeModel filteredTube(double kilovolts, double aluminiumMm = 2.5);

// Mass collision stopping power of tungsten for electrons of T keV in
// keV·cm²/g (Bethe's formula for electrons, mean excitation energy of
// tungsten 727 eV).
double tungstenStoppingPower(double electronKeV);

// Kramers' thick-target law for the continuum, dN/dE ∝ (E0 - E)/E, with the
// tungsten K lines (energies and relative rates from the physics data)
// when the voltage exceeds the K edge, filtered by the aluminium.
PhotonSpectrum tubeSpectrum(const TubeModel& tube);

// Transmission of `cm` of aluminium at E keV.
double aluminiumTransmission(double energyKeV, double cm);
// Transmission of `mm` of borosilicate glass at E keV.
double glassTransmission(double energyKeV, double mm);

// The spectrum scattered at θ (radians) off the material: every energy E
// moves to the Compton energy E' and is weighted with the Klein–Nishina
// cross section times the material's incoherent scattering function.
PhotonSpectrum comptonScattered(const PhotonSpectrum& primary, double theta, const ScattererMaterial& material);

// Half-value layer in aluminium (mm) for air kerma: the aluminium thickness
// that halves the sum of N(E)·E·(μen/ρ)air(E).
double halfValueLayerMm(const PhotonSpectrum& s);

// Detector resolution of the demo spectra and the shipped detector profile
// (tvdet::kFwhm2Constant, kFwhm2Linear, kFwhmProportional).
double resolutionFwhm(double energyKeV);

inline constexpr int kSpectrumChannels = 1024;
using ChannelCounts = std::array<std::int64_t, kSpectrumChannels>;  // channels 1..1024

struct MeasurementOptions {
    std::uint64_t seed = 20240602;
    double kevPerChannel = 0.1;
    int photonsPerChunk = 100000;
    int threads = 1;
    bool broadening = true;  // Gaussian energy resolution of the detector
    // Energy scale of the analyser: the collected energy is multiplied by
    // this (1 / Detector::peakCollection() for a calibrated analyser).
    double energyScale = 1.0;
    // FWHM in keV at an energy; resolutionFwhm when empty.
    std::function<double(double)> fwhm;
};

// Measures `photons` photons drawn from the spectrum: detector model, then
// Gaussian broadening of the collected energy, then channel i for energies
// in ((i-1)·w, i·w].
ChannelCounts measureSpectrum(const tvdet::Detector& detector, const PhotonSpectrum& spectrum, std::int64_t photons,
                              const MeasurementOptions& options,
                              const std::function<void(std::int64_t)>& progress = {});

// The ".csv" file: the 31 header lines (each at most 60 characters, no
// commas), then "channel,energy,count" for the 1024 channels; CR LF.
std::string formatMeasuredCsv(const std::vector<std::string>& header, const ChannelCounts& counts,
                              double kevPerChannel);

} // namespace tvgen
