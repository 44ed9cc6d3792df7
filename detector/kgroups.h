// K fluorescence of Cd and Te grouped as the detector shows it: the K-alpha
// group (vacancy filled from the L shell) and the K-beta group (from the M
// shell and beyond), each at the mean of its lines' energies weighted by
// their radiative rates.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "detector/physics_data.h"

namespace tvdet {

struct KGroup {
    std::string name;      // "Cd K-alpha", ...
    int Z = 0;
    double energyKeV = 0;  // rate-weighted mean line energy
    double share = 0;      // share of the element's K radiative transitions
};

// Groups the K lines of one element into its K-alpha and K-beta groups.
std::array<KGroup, 2> groupKLines(const std::string& symbol, int Z, const std::vector<xrl::Line>& lines);

// The four groups of CdTe in the order Cd K-alpha, Cd K-beta, Te K-alpha, Te K-beta.
std::array<KGroup, 4> cdTeKGroups();

} // namespace tvdet
