// The Compton-profile files written beside the scatterer files
// ("Carbon_profile.dat", "PMMA_profile.dat"): the Doppler broadening of the
// Compton line by the momenta of the scatterer's electrons, with the
// constants the scattering model needs, for the unfolding conversion.
#pragma once

#include <string>
#include <vector>

#include "generator/scatterer.h"

namespace tvgen {

struct ProfileTable {
    double restEnergyKeV = 0;      // m c²
    double kevAngstrom = 0;        // hc
    double momentumAtomic = 0;     // m c in atomic units of momentum
    std::vector<double> pz;        // atomic units, ascending from 0
    std::vector<double> profile;   // J(pz) per formula unit, 1/a.u.
};

// Momenta of the table: 201 values pz = 100·(k/200)² a.u., k = 0..200,
// rounded to five significant digits, dense near 0 where the valence
// profiles are narrow; 100 a.u. is the end of the physics data's profile
// tables.
std::vector<double> profileMomenta();

// J(pz) = Σ n·J_Z(pz) over the atoms of the formula unit.
ProfileTable buildProfileTable(const ScattererMaterial& m, const std::vector<double>& pz);

// The file: n (I3); m c² in keV (F12.6), hc in keV·Å (F12.8) and m c in
// atomic units (F12.6) on one line; n rows of pz (E12.5) and J (E13.6);
// CR LF line ends.
std::string formatProfileFile(const ProfileTable& t);

// The profile file that belongs to a scatterer file: "Carbon.dat" →
// "Carbon_profile.dat".
std::string profileFileName(const std::string& scattererName);

} // namespace tvgen
