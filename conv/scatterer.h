// The scatterer data file ("Carbon.dat", "PMMA.dat"): the density, the table
// of mass coefficients over photon energy and the incoherent scattering
// function S over the momentum-transfer variable x = sin(θ/2)/λ.
//
// Layout (fixed columns, one row a line):
//   line 1        n, the number of coefficient rows (I3, at most 38)
//   line 2        density ρ in g/cm³ (F9.6)
//   lines 3..n+2  energy in MeV (E9.3), c1, c2, c3 and two unused
//                 coefficients in cm²/g (5E9.2)
//   next 45 lines x in 1/Å (E10.3), an unused value (E12.5), S(x) (E12.5)
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace tvconv {

// Capacities of the two tables.
inline constexpr int maxCoefficientRows = 38;
inline constexpr int scatteringRows = 45;

// One row of the coefficient table, as read.
struct CoefficientRow {
    float energy;   // keV: the file's MeV value × 1000.0
    float c1;       // cm²/g; c1 + c2 is the scattering coefficient
    float c2;
    float c3;
    float unused4;  // read and not used
    float unused5;
    float mu;       // linear attenuation coefficient (c1 + c2 + c3)·ρ in 1/cm
};

// One row of the scattering-function table, as read.
struct ScatteringRow {
    float x;        // momentum-transfer variable in 1/Å
    float unused;   // read and not used
    float s;        // incoherent scattering function S(x)
};

struct ScattererData {
    std::string file;     // how messages name the file it came from
    float density = 0.0f; // g/cm³
    std::vector<CoefficientRow> coefficients;  // 2 to 38 rows, ascending energy
    std::vector<ScatteringRow> scattering;     // exactly 45 rows, ascending x
};

// Reads a scatterer data file and checks its tables (checkScattererTables).
// Throws fixedio::Error naming the file, the line and what was expected.
ScattererData readScattererFile(const std::filesystem::path& file);

// The checks that make every table lookup of the conversion well defined:
// 2 to 38 coefficient rows and 45 scattering rows; a positive density; every
// energy, scattering coefficient c1 + c2, attenuation coefficient μ, x and S
// positive; energies and x strictly ascending, also after their logarithms
// are rounded to single precision (the interpolation divides by the
// difference of neighbouring logarithms).  Throws fixedio::Error naming the
// value, the file, the row and its line.
void checkScattererTables(const ScattererData& data);

} // namespace tvconv
