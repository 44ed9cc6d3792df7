// The scatterer data files read by the conversion program ("Carbon.dat",
// "PMMA.dat"): density, a table of mass interaction coefficients over
// energy and a table of the incoherent scattering function over momentum
// transfer, computed from the physics data.
#pragma once

#include <string>
#include <vector>

namespace tvgen {

// A scatterer material: its atoms per formula unit and its density.
struct ScattererMaterial {
    std::string name;
    double density = 0;                 // g/cm³
    std::vector<std::pair<int, int>> atoms;  // (Z, atoms per formula unit)
};

// Graphite block: density of the NIST/ICRU material "Graphite" (1.70 g/cm³).
ScattererMaterial graphite();
// Polymethyl methacrylate C5H8O2, density 1.19 g/cm³.
ScattererMaterial pmma();

// Mass fractions of the material's elements from their atomic weights.
std::vector<std::pair<int, double>> massFractions(const ScattererMaterial& m);

struct CoefficientRow {
    double energyMeV = 0;
    double coherent = 0;     // cm²/g
    double incoherent = 0;
    double photo = 0;
    double pairNuclear = 0;  // 0: every energy lies below the pair threshold
    double pairElectron = 0;
};

struct ScatteringRow {
    double x = 0;            // sin(θ/2)/λ in 1/Å
    double formFactor = 0;   // per formula unit: sqrt(Σ n F²)
    double incoherent = 0;   // per formula unit: Σ n S
};

struct ScattererTable {
    double density = 0;
    std::vector<CoefficientRow> coefficients;
    std::vector<ScatteringRow> scattering;
};

// Energies (MeV) of the coefficient table: 38 values from 1 keV to 800 keV,
// the top of the physics data's cross-section tables and below the pair
// production threshold of 1.022 MeV.
std::vector<double> coefficientEnergiesMeV();
// Momentum transfers of the scattering-function table: 45 values from
// 0.005 to 100 per Å, evenly spaced in the logarithm and written with three
// significant digits.
std::vector<double> momentumTransfers();

ScattererTable buildScattererTable(const ScattererMaterial& m, const std::vector<double>& energiesMeV,
                                   const std::vector<double>& xs);

// The file: n (I3), density (F9.6), n coefficient rows (E9.3 then five
// 9-column fields with three significant digits), 45 scattering rows
// (E10.3, E12.5, E12.5); CR LF line ends.
std::string formatScattererFile(const ScattererTable& t);

} // namespace tvgen
