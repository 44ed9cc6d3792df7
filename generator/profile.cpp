#include "generator/profile.h"

#include <cmath>
#include <stdexcept>

#include "fixedio/fixedio.h"
#include "detector/physics_data.h"

namespace tvgen {

std::vector<double> profileMomenta()
{
    std::vector<double> pz;
    for (int k = 0; k <= 200; ++k) {
        const double u = k / 200.0;
        const double v = 100.0 * u * u;
        // Rounded to the five significant digits written, so the table is
        // exact at its nodes.
        const double p = v > 0 ? std::pow(10.0, std::floor(std::log10(v)) - 4.0) : 1.0;
        pz.push_back(std::round(v / p) * p);
    }
    return pz;
}

ProfileTable buildProfileTable(const ScattererMaterial& m, const std::vector<double>& pz)
{
    ProfileTable t;
    t.restEnergyKeV = tvdet::xrl::electronRestEnergy();
    t.kevAngstrom = tvdet::xrl::kevAngstrom();
    t.momentumAtomic = tvdet::xrl::electronMomentumAtomic();
    for (double p : pz) {
        double j = 0;
        for (auto [Z, n] : m.atoms) j += n * tvdet::xrl::comptonProfile(Z, p);
        t.pz.push_back(p);
        t.profile.push_back(j);
    }
    return t;
}

std::string formatProfileFile(const ProfileTable& t)
{
    if (t.pz.size() < 2 || t.pz.size() > 999 || t.pz.size() != t.profile.size())
        throw std::invalid_argument("the profile table must have 2 to 999 rows");
    fixedio::LineWriter out;
    out.line(fixedio::formatI(static_cast<std::int64_t>(t.pz.size()), 3));
    out.line(fixedio::formatF(t.restEnergyKeV, 12, 6) + fixedio::formatF(t.kevAngstrom, 12, 8) +
             fixedio::formatF(t.momentumAtomic, 12, 6));
    for (std::size_t k = 0; k < t.pz.size(); ++k)
        out.line(fixedio::formatE(t.pz[k], 12, 5) + fixedio::formatE(t.profile[k], 13, 6));
    return out.content();
}

std::string profileFileName(const std::string& scattererName)
{
    const auto dot = scattererName.rfind('.');
    return (dot == std::string::npos ? scattererName : scattererName.substr(0, dot)) + "_profile.dat";
}

} // namespace tvgen
