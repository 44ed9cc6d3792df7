// The Compton-profile file that lies beside a scatterer file
// ("Carbon.dat" → "Carbon_profile.dat"): the profile J(pz) of the
// scatterer's formula unit over the electron momentum component pz, and the
// constants of the scattering model (m c², hc, m c in atomic units).  Only
// the unfolding conversion reads it.
//
// Layout (fixed columns, one row a line):
//   line 1        n, the number of profile rows (I3, 2 to 999)
//   line 2        m c² in keV (F12.6), hc in keV·Å (F12.8), m c in atomic
//                 units of momentum (F12.6)
//   lines 3..n+2  pz in atomic units (E12.5), J(pz) in 1/a.u. (E13.6)
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace tvconv {

inline constexpr int maxProfileRows = 999;

struct ProfileData {
    std::string file;               // how messages name the file
    double restEnergy = 0;          // m c², keV
    double kevAngstrom = 0;         // hc, keV·Å
    double momentumAtomic = 0;      // m c in atomic units
    std::vector<double> pz;         // a.u., from 0, strictly ascending
    std::vector<double> profile;    // J(pz) ≥ 0, positive at pz = 0
};

// The profile file that belongs to a scatterer file: the same folder, the
// scatterer file's name without its extension, then "_profile.dat".
std::filesystem::path profilePathFor(const std::filesystem::path& scattererPath);

// Reads and checks a profile file.  Throws fixedio::Error naming the file,
// the line and the value when it is missing, short, or holds a value the
// model cannot use.
ProfileData readProfileFile(const std::filesystem::path& file);

// The checks of readProfileFile on data already in memory.
void checkProfile(const ProfileData& data);

} // namespace tvconv
