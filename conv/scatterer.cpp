#include "scatterer.h"

#include "numbertext.h"
#include "fixedio/fixedio.h"

#include <cmath>
#include <cstdio>
#include <string>

namespace tvconv {

namespace {

// First file line of the coefficient row `row` (1-based) and of the
// scattering row `row`.
int coefficientLine(int row) { return row + 2; }
int scatteringLine(int coefficientRows, int row) { return coefficientRows + 2 + row; }

fixedio::Error tableError(const ScattererData& data, int line, const std::string& what)
{
    return fixedio::Error(data.file + ", line " + std::to_string(line) + ": " + what);
}

// The logarithm as the interpolation holds it: rounded to single precision.
float roundedLog(float value) { return static_cast<float>(std::log(static_cast<double>(value))); }

void checkPositive(const ScattererData& data, int line, double value, const std::string& name,
                   const std::string& unit)
{
    if (!(value > 0.0) || !std::isfinite(value))
        throw tableError(data, line, name + " " + numberText(value) + unit + " is not a positive number");
}

} // namespace

void checkScattererTables(const ScattererData& data)
{
    const int n = static_cast<int>(data.coefficients.size());
    if (n > maxCoefficientRows)
        throw tableError(data, 1, "the coefficient table has " + std::to_string(n) + " rows; at most " +
                                      std::to_string(maxCoefficientRows) + " are allowed");
    if (n < 2)
        throw tableError(data, 1, "the coefficient table has " + std::to_string(n) +
                                      " rows; the interpolation needs at least 2");
    if (data.scattering.size() != static_cast<std::size_t>(scatteringRows))
        throw tableError(data, scatteringLine(n, 1),
                         "the scattering-function table has " + std::to_string(data.scattering.size()) +
                             " rows; exactly " + std::to_string(scatteringRows) + " are needed");
    checkPositive(data, 2, data.density, "the density", " g/cm3");

    for (int k = 1; k <= n; ++k) {
        const CoefficientRow& r = data.coefficients[static_cast<std::size_t>(k - 1)];
        const int line = coefficientLine(k);
        const std::string row = "coefficient row " + std::to_string(k) + ": ";
        checkPositive(data, line, r.energy, row + "the energy", " keV");
        checkPositive(data, line, static_cast<double>(r.c1) + static_cast<double>(r.c2),
                      row + "the scattering coefficient c1 + c2", " cm2/g");
        checkPositive(data, line, r.mu, row + "the attenuation coefficient (c1 + c2 + c3) x density", " 1/cm");
        if (k > 1) {
            const CoefficientRow& prev = data.coefficients[static_cast<std::size_t>(k - 2)];
            if (!(r.energy > prev.energy) || !(roundedLog(r.energy) > roundedLog(prev.energy)))
                throw tableError(data, line,
                                 row + "the energy " + numberText(r.energy) + " keV does not lie above the energy " +
                                     numberText(prev.energy) + " keV of row " + std::to_string(k - 1) +
                                     " (the energies must be strictly ascending)");
        }
    }
    for (int k = 1; k <= scatteringRows; ++k) {
        const ScatteringRow& r = data.scattering[static_cast<std::size_t>(k - 1)];
        const int line = scatteringLine(n, k);
        const std::string row = "scattering-function row " + std::to_string(k) + ": ";
        checkPositive(data, line, r.x, row + "the momentum transfer x", " 1/A");
        checkPositive(data, line, r.s, row + "the scattering function S", "");
        if (k > 1) {
            const ScatteringRow& prev = data.scattering[static_cast<std::size_t>(k - 2)];
            if (!(r.x > prev.x) || !(roundedLog(r.x) > roundedLog(prev.x)))
                throw tableError(data, line,
                                 row + "x = " + numberText(r.x) + " 1/A does not lie above x = " + numberText(prev.x) +
                                     " 1/A of row " + std::to_string(k - 1) +
                                     " (the values of x must be strictly ascending)");
        }
    }
}

ScattererData readScattererFile(const std::filesystem::path& file)
{
    fixedio::LineReader in(file);
    ScattererData data;
    data.file = in.name();

    const std::int32_t n = in.ints(1, 3, "the number of coefficient rows (I3, columns 1-3)")[0];
    if (n > maxCoefficientRows)
        throw in.error("the coefficient table has " + std::to_string(n) + " rows; at most " +
                       std::to_string(maxCoefficientRows) + " are allowed");
    if (n < 2)
        throw in.error("the coefficient table has " + std::to_string(n) +
                       " rows; the interpolation needs at least 2");

    data.density = in.floats({{9, 6}}, "the density in g/cm3 (F9.6, columns 1-9)")[0];

    data.coefficients.reserve(static_cast<std::size_t>(n));
    for (int k = 1; k <= n; ++k) {
        const std::string what = "coefficient row " + std::to_string(k) + " of " + std::to_string(n) +
                                 ": the energy in MeV (E9.3) and five coefficients (E9.2)";
        std::vector<float> v = in.floats({{9, 3}, {9, 2}, {9, 2}, {9, 2}, {9, 2}, {9, 2}}, what);
        CoefficientRow r{};
        r.energy = static_cast<float>(static_cast<double>(v[0]) * 1000.0);
        r.c1 = v[1];
        r.c2 = v[2];
        r.c3 = v[3];
        r.unused4 = v[4];
        r.unused5 = v[5];
        r.mu = static_cast<float>((static_cast<double>(r.c1) + static_cast<double>(r.c2) +
                                   static_cast<double>(r.c3)) *
                                  static_cast<double>(data.density));
        data.coefficients.push_back(r);
    }

    data.scattering.reserve(scatteringRows);
    for (int k = 1; k <= scatteringRows; ++k) {
        const std::string what = "scattering-function row " + std::to_string(k) + " of " +
                                 std::to_string(scatteringRows) + ": x (E10.3), a value (E12.5) and S(x) (E12.5)";
        std::vector<float> v = in.floats({{10, 3}, {12, 5}, {12, 5}}, what);
        data.scattering.push_back(ScatteringRow{v[0], v[1], v[2]});
    }

    checkScattererTables(data);
    return data;
}

} // namespace tvconv
