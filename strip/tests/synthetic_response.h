// A synthetic detector for the tests of the unfolding method: a profile text
// and response data of a simple, known shape.
#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

#include "strip/detector_profile.h"
#include "strip/unfold_response.h"

namespace tvstrip {

inline const char* const kProfileText =
    "# a test detector\n"
    "material = CdTe\n"
    "window_material = Be\n"
    "crystal_side_mm = 3\n"
    "crystal_thickness_mm = 1\n"
    "density_g_per_cm3 = 5.85\n"
    "window_thickness_um = 100\n"
    "mutau_electrons_cm2_per_V = 2e-3\n"
    "mutau_holes_cm2_per_V = 1e-4\n"
    "bias_V = 500\n"
    "fwhm2_constant_keV2 = 0.25\n"
    "fwhm2_linear_keV = 0.0025\n"
    "fwhm_proportional = 0.0035\n";

inline DetectorProfile testProfile() { return parseDetectorProfile(kProfileText, "test.txt"); }

// A synthetic detector on the 0.5 keV grid from 5 to 151 keV with nodes just
// around a K edge at 26.711 keV: a full-energy peak (share `peak`) with a
// short charge-loss tail, above the edge an escape peak 23.1 keV below the
// photon energy, and a flat continuum 3 keV and more below it.
inline UnfoldResponse syntheticResponse(const DetectorProfile& profile, double topKeV = 151.0)
{
    UnfoldResponse r;
    r.profile = profile;
    r.profileFingerprint = profile.transportFingerprint();
    r.lossBinKeV = 0.02;
    r.photonsPerNode = 1000000;
    std::vector<double> energies;
    for (double e = 5.0; e <= topKeV + 1e-9; e += 0.5) energies.push_back(e);
    energies.push_back(26.706);
    energies.push_back(26.716);
    std::sort(energies.begin(), energies.end());
    for (double e : energies) {
        ResponseNode n;
        n.energyKeV = e;
        const auto bins = static_cast<std::size_t>(std::ceil(e / r.lossBinKeV)) + 1;
        n.counts.assign(bins, 0);
        const bool escapes = e > 26.711;
        n.counts[0] = escapes ? 700000 : 800000;
        n.counts[1] = 50000;  // the tail of the peak
        n.counts[2] = 20000;
        if (escapes) n.counts[static_cast<std::size_t>(23.1 / r.lossBinKeV)] = 100000;
        // continuum: about 50000 photons spread over losses from 3 keV up
        // to e - 1 keV
        const auto firstLoss = static_cast<std::size_t>(3.0 / r.lossBinKeV);
        const auto last = static_cast<std::size_t>((e - 1.0) / r.lossBinKeV);
        for (std::size_t b = firstLoss; b <= last; ++b)
            n.counts[b] += static_cast<std::uint32_t>(50000 / (last - firstLoss + 1));
        r.nodes.push_back(std::move(n));
    }
    return r;
}

} // namespace tvstrip
