// Photons through the detector one by one, and their arrival in time: the
// recorded energies of a measurement before the resolution, and the pulses
// they make when photons pile up.  Shared by the round trip and the demo
// spectrum of an analyser's file.
#pragma once

#include <cstdint>
#include <vector>

#include "detector/detector.h"
#include "detector/random.h"
#include "generator/spectra.h"

namespace tvgen {

// The calibrated energies (before the resolution) that the detector records
// for `photons` photons drawn from the spectrum, in the order drawn.  Chunk
// c draws from its own stream, so the list does not depend on the threads.
std::vector<float> detectedEnergies(const tvdet::Detector& detector, const PhotonSpectrum& spectrum,
                                    std::int64_t photons, std::uint64_t seed, int threads);

struct PulseTrain {
    std::vector<float> pulses;   // summed energy of each recorded pulse
    double elapsed = 0;          // time from the first photon to the end of the last pulse, in resolving times
};

// The first `n` energies arriving as a Poisson process of `meanExtra`
// photons per resolving time: a pulse starts at a photon and collects every
// photon within the resolving time after it (all orders of pile-up); the
// next pulse starts at the first photon after that (the analyser is busy one
// resolving time per pulse).
PulseTrain pileUp(const std::vector<float>& energies, std::size_t n, double meanExtra, tvdet::Rng& rng);

} // namespace tvgen
