// Physics data of the elements, taken from the xraylib library: cross
// sections, form factors, scattering functions, fluorescence yields, line
// energies and radiative rates.  This is the only place that talks to
// xraylib; every call is checked and a failure becomes a PhysicsDataError
// with xraylib's own message.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace tvdet {

class PhysicsDataError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

namespace xrl {

// Version of the xraylib library the data come from ("4.0.0").
std::string libraryVersion();

// hc in keV·Å (photon wavelength λ = hc / E).
double kevAngstrom();
// Electron rest energy in keV.
double electronRestEnergy();
// Classical electron radius in cm.
double electronRadiusCm();
// Avogadro's number per mole.
double avogadro();
// The electron's momentum m·c in atomic units of momentum (1/α), from hc,
// the rest energy and the classical electron radius: ħc / (r_e·m c²).
double electronMomentumAtomic();

// Mass cross sections in cm²/g of element Z at energy E (keV).
double photo(int Z, double energyKeV);          // photoelectric absorption
double compton(int Z, double energyKeV);        // incoherent scattering
double rayleigh(int Z, double energyKeV);       // coherent scattering
double total(int Z, double energyKeV);          // sum of the three
// Mass energy-absorption coefficient in cm²/g.
double energyAbsorption(int Z, double energyKeV);
// Share of the photoelectric absorption of element Z at E that leaves a
// K-shell vacancy: the K-shell partial cross section over the sum of all
// shells' partial cross sections (0 below the K edge).
double kShellShare(int Z, double energyKeV);

// Atomic form factor F(x, Z) and incoherent scattering function S(x, Z) at
// momentum transfer x = sin(θ/2)/λ in 1/Å; both are 0 at x = 0.
double formFactor(int Z, double x);
double scatteringFunction(int Z, double x);

// Compton profile J(pz) of the whole atom (all shells, impulse
// approximation) in 1/a.u. at the electron momentum component pz ≥ 0 in
// atomic units; ∫ J over all pz (−∞ … ∞) is Z.
double comptonProfile(int Z, double pz);

// Differential cross sections dσ/dΩ in cm²/g/sr of element Z for a photon of
// E keV scattered by θ radians: incoherent (Klein–Nishina × S) and coherent
// (Thomson × F²).
double incoherentDcs(int Z, double energyKeV, double theta);
double coherentDcs(int Z, double energyKeV, double theta);

// Klein–Nishina differential cross section dσ/dΩ (cm²/sr per electron) for a
// photon of E keV scattered by θ radians.
double kleinNishina(double energyKeV, double theta);

double atomicWeight(int Z);
double elementDensity(int Z);                   // g/cm³
double kEdge(int Z);                            // keV
double lEdge(int Z, int subshell);              // subshell 1..3, keV
double kFluorescenceYield(int Z);

// One emission line of the K shell (a vacancy filled from an outer shell).
struct Line {
    std::string name;    // "KL3", "KM2", ...
    double energyKeV;
    double radiativeRate;  // share of the K-shell radiative transitions
};
// Every K line of element Z with a non-zero radiative rate.
std::vector<Line> kLines(int Z);

// A compound from xraylib's NIST compound catalogue, by name.
struct Compound {
    std::string name;
    double density;                  // g/cm³
    std::vector<int> elements;
    std::vector<double> massFractions;
};
Compound nistCompound(const std::string& name);

// The photons a radionuclide emits per decay (xraylib's radionuclide table,
// GetRadioNuclideDataByName): its X-ray lines (energies of the daughter's
// lines, LineEnergy) and its gamma rays.  Lines with no emission are left out.
struct EmissionLine {
    double energyKeV = 0;
    double perDecay = 0;   // photons per decay
    bool gamma = false;    // a gamma ray; otherwise an X-ray line of the daughter
};
struct Radionuclide {
    std::string name;      // as xraylib spells it: "241Am"
    int Z = 0;             // the nuclide
    int daughterZ = 0;     // the atom that emits the X-rays
    std::vector<EmissionLine> lines;  // ascending energies
};
// Throws PhysicsDataError for a name xraylib does not know; the message
// lists the names it knows.
Radionuclide radionuclide(const std::string& name);
// Every radionuclide of xraylib's table, in its order.
std::vector<std::string> radionuclideNames();

} // namespace xrl
} // namespace tvdet
