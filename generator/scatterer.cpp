#include "generator/scatterer.h"

#include <cmath>
#include <stdexcept>

#include "fixedio/fixedio.h"
#include "detector/physics_data.h"

namespace tvgen {

ScattererMaterial graphite() { return {"Carbon", 1.70, {{6, 1}}}; }
ScattererMaterial pmma() { return {"PMMA", 1.19, {{6, 5}, {1, 8}, {8, 2}}}; }

std::vector<std::pair<int, double>> massFractions(const ScattererMaterial& m)
{
    double total = 0;
    for (auto [Z, n] : m.atoms) total += n * tvdet::xrl::atomicWeight(Z);
    std::vector<std::pair<int, double>> w;
    for (auto [Z, n] : m.atoms) w.emplace_back(Z, n * tvdet::xrl::atomicWeight(Z) / total);
    return w;
}

namespace {
// Rounds to three significant digits, the precision the tables print.
double threeDigits(double v)
{
    const double p = std::pow(10.0, std::floor(std::log10(v)) - 2.0);
    return std::round(v / p) * p;
}
} // namespace

std::vector<double> coefficientEnergiesMeV()
{
    const double keV[] = {1,   1.5, 2,   3,   4,   5,   6,   8,   10,  12,  15,  20,  25,
                          30,  35,  40,  45,  50,  55,  60,  70,  80,  90,  100, 110, 120,
                          130, 140, 150, 175, 200, 250, 300, 350, 400, 500, 600, 800};
    std::vector<double> e;
    for (double k : keV) e.push_back(k / 1000.0);
    return e;
}

std::vector<double> momentumTransfers()
{
    std::vector<double> x;
    const double lo = std::log(0.005), hi = std::log(100.0);
    for (int i = 0; i < 45; ++i) x.push_back(threeDigits(std::exp(lo + (hi - lo) * i / 44.0)));
    return x;
}

ScattererTable buildScattererTable(const ScattererMaterial& m, const std::vector<double>& energiesMeV,
                                   const std::vector<double>& xs)
{
    ScattererTable t;
    t.density = m.density;
    const auto w = massFractions(m);
    for (double mev : energiesMeV) {
        const double kev = mev * 1000.0;
        CoefficientRow r;
        r.energyMeV = mev;
        for (auto [Z, f] : w) {
            r.coherent += f * tvdet::xrl::rayleigh(Z, kev);
            r.incoherent += f * tvdet::xrl::compton(Z, kev);
            r.photo += f * tvdet::xrl::photo(Z, kev);
        }
        t.coefficients.push_back(r);
    }
    for (double x : xs) {
        ScatteringRow r;
        r.x = x;
        double f2 = 0;
        for (auto [Z, n] : m.atoms) {
            const double f = tvdet::xrl::formFactor(Z, x);
            f2 += n * f * f;
            r.incoherent += n * tvdet::xrl::scatteringFunction(Z, x);
        }
        r.formFactor = std::sqrt(f2);
        t.scattering.push_back(r);
    }
    return t;
}

std::string formatScattererFile(const ScattererTable& t)
{
    if (t.coefficients.empty() || t.coefficients.size() > 38)
        throw std::invalid_argument("the coefficient table must have 1 to 38 rows");
    if (t.scattering.size() != 45) throw std::invalid_argument("the scattering-function table must have 45 rows");
    fixedio::LineWriter out;
    out.line(fixedio::formatI(static_cast<std::int64_t>(t.coefficients.size()), 3));
    out.line(fixedio::formatF(t.density, 9, 6));
    for (const auto& r : t.coefficients) {
        out.line(fixedio::formatE(r.energyMeV, 9, 3) + fixedio::formatE(r.coherent, 9, 3) +
                 fixedio::formatE(r.incoherent, 9, 3) + fixedio::formatE(r.photo, 9, 3) +
                 fixedio::formatE(r.pairNuclear, 9, 3) + fixedio::formatE(r.pairElectron, 9, 3));
    }
    for (const auto& r : t.scattering) {
        out.line(fixedio::formatE(r.x, 10, 3) + fixedio::formatE(r.formFactor, 12, 5) +
                 fixedio::formatE(r.incoherent, 12, 5));
    }
    return out.content();
}

} // namespace tvgen
