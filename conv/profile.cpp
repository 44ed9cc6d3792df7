#include "profile.h"

#include "numbertext.h"
#include "fixedio/fixedio.h"

#include <cmath>
#include <cstdio>

namespace tvconv {

namespace {

fixedio::Error profileError(const ProfileData& d, int line, const std::string& what)
{
    return fixedio::Error(d.file + ", line " + std::to_string(line) + ": " + what);
}

} // namespace

std::filesystem::path profilePathFor(const std::filesystem::path& scattererPath)
{
    std::filesystem::path p = scattererPath;
    p.replace_filename(scattererPath.stem().string() + "_profile.dat");
    return p;
}

void checkProfile(const ProfileData& d)
{
    const int n = static_cast<int>(d.pz.size());
    if (n < 2 || n > maxProfileRows || d.profile.size() != d.pz.size())
        throw profileError(d, 1, "the profile table has " + std::to_string(n) + " rows; 2 to " +
                                     std::to_string(maxProfileRows) + " are needed");
    auto positive = [&](double v, const std::string& what) {
        if (!(v > 0.0) || !std::isfinite(v)) throw profileError(d, 2, what + " " + numberText(v) + " is not a positive number");
    };
    positive(d.restEnergy, "the electron rest energy m c2 in keV");
    positive(d.kevAngstrom, "the constant hc in keV*A");
    positive(d.momentumAtomic, "the electron momentum m c in atomic units");
    for (int k = 0; k < n; ++k) {
        const int line = k + 3;
        const std::string row = "profile row " + std::to_string(k + 1) + ": ";
        const double p = d.pz[static_cast<std::size_t>(k)], j = d.profile[static_cast<std::size_t>(k)];
        if (k == 0 && p != 0.0)
            throw profileError(d, line, row + "the table must start at pz = 0, found " + numberText(p) + " a.u.");
        if (k > 0 && !(p > d.pz[static_cast<std::size_t>(k - 1)]))
            throw profileError(d, line, row + "pz = " + numberText(p) + " a.u. does not lie above pz = " +
                                            numberText(d.pz[static_cast<std::size_t>(k - 1)]) +
                                            " a.u. of the row before (pz must be strictly ascending)");
        if (!std::isfinite(p)) throw profileError(d, line, row + "pz is not a number");
        if (!(j >= 0.0) || !std::isfinite(j))
            throw profileError(d, line, row + "the profile J = " + numberText(j) + " 1/a.u. is negative or not a number");
        if (k == 0 && !(j > 0.0))
            throw profileError(d, line, row + "the profile J at pz = 0 must be positive, found " + numberText(j));
    }
}

ProfileData readProfileFile(const std::filesystem::path& file)
{
    fixedio::LineReader in(file);
    ProfileData d;
    d.file = in.name();
    const std::int32_t n = in.ints(1, 3, "the number of profile rows (I3, columns 1-3)")[0];
    if (n < 2 || n > maxProfileRows)
        throw in.error("the profile table has " + std::to_string(n) + " rows; 2 to " +
                       std::to_string(maxProfileRows) + " are needed");
    const std::vector<float> c =
        in.floats({{12, 6}, {12, 8}, {12, 6}}, "m c2 in keV (F12.6), hc in keV*A (F12.8) and m c in atomic units (F12.6)");
    d.restEnergy = c[0];
    d.kevAngstrom = c[1];
    d.momentumAtomic = c[2];
    for (int k = 1; k <= n; ++k) {
        const std::vector<float> v = in.floats(
            {{12, 5}, {13, 6}}, "profile row " + std::to_string(k) + " of " + std::to_string(n) +
                                    ": pz in atomic units (E12.5) and J(pz) in 1/a.u. (E13.6)");
        d.pz.push_back(v[0]);
        d.profile.push_back(v[1]);
    }
    checkProfile(d);
    return d;
}

} // namespace tvconv
