#include "detector/physics_data.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>

#include <xraylib.h>

namespace tvdet::xrl {

namespace {

// Calls an xraylib function with an error slot and turns a reported error
// into an exception; the error record is always freed.
template <class F>
double checked(const char* what, F&& call)
{
    xrl_error* error = nullptr;
    const double value = call(&error);
    if (error != nullptr) {
        std::string message = std::string(what) + ": " + (error->message ? error->message : "xraylib error");
        xrl_error_free(error);
        throw PhysicsDataError(message);
    }
    return value;
}

std::string where(const char* fn, int Z, double v)
{
    return std::string(fn) + "(Z=" + std::to_string(Z) + ", " + std::to_string(v) + ")";
}

} // namespace

std::string libraryVersion()
{
    return TVGEN_XRAYLIB_VERSION;
}

double kevAngstrom() { return KEV2ANGST; }
double electronRestEnergy() { return MEC2; }
double electronRadiusCm() { return R_E * 100.0; }
double avogadro() { return AVOGNUM * 1e24; }  // xraylib's is per mole and barn/cm²
double electronMomentumAtomic()
{
    const double hbarC = KEV2ANGST / (2.0 * std::numbers::pi);  // keV·Å
    return hbarC / (R_E * 1e10 * MEC2);
}

double photo(int Z, double e)
{
    return checked(where("CS_Photo", Z, e).c_str(), [&](xrl_error** err) { return CS_Photo(Z, e, err); });
}
double compton(int Z, double e)
{
    return checked(where("CS_Compt", Z, e).c_str(), [&](xrl_error** err) { return CS_Compt(Z, e, err); });
}
double rayleigh(int Z, double e)
{
    return checked(where("CS_Rayl", Z, e).c_str(), [&](xrl_error** err) { return CS_Rayl(Z, e, err); });
}
double total(int Z, double e) { return photo(Z, e) + compton(Z, e) + rayleigh(Z, e); }
double energyAbsorption(int Z, double e)
{
    return checked(where("CS_Energy", Z, e).c_str(), [&](xrl_error** err) { return CS_Energy(Z, e, err); });
}

double kShellShare(int Z, double e)
{
    if (e <= kEdge(Z)) return 0.0;
    // xraylib's partial cross sections end at 300 keV; the K shell's share
    // changes by less than 0.2 % from 200 to 300 keV and is held above.
    e = std::min(e, 300.0);
    const double k = checked(where("CS_Photo_Partial", Z, e).c_str(),
                             [&](xrl_error** err) { return CS_Photo_Partial(Z, K_SHELL, e, err); });
    const double all = checked(where("CS_Photo_Total", Z, e).c_str(),
                               [&](xrl_error** err) { return CS_Photo_Total(Z, e, err); });
    return all > 0.0 ? k / all : 0.0;
}

double formFactor(int Z, double x)
{
    if (x <= 0.0) return static_cast<double>(Z);
    return checked(where("FF_Rayl", Z, x).c_str(), [&](xrl_error** err) { return FF_Rayl(Z, x, err); });
}

double comptonProfile(int Z, double pz)
{
    return checked(where("ComptonProfile", Z, pz).c_str(),
                   [&](xrl_error** err) { return ComptonProfile(Z, pz, err); });
}

double incoherentDcs(int Z, double e, double theta)
{
    return checked(where("DCS_Compt", Z, e).c_str(), [&](xrl_error** err) { return DCS_Compt(Z, e, theta, err); });
}

double coherentDcs(int Z, double e, double theta)
{
    return checked(where("DCS_Rayl", Z, e).c_str(), [&](xrl_error** err) { return DCS_Rayl(Z, e, theta, err); });
}

double scatteringFunction(int Z, double x)
{
    if (x <= 0.0) return 0.0;
    return checked(where("SF_Compt", Z, x).c_str(), [&](xrl_error** err) { return SF_Compt(Z, x, err); });
}

double kleinNishina(double e, double theta)
{
    return checked("DCS_KN", [&](xrl_error** err) { return DCS_KN(e, theta, err); });
}

double atomicWeight(int Z)
{
    return checked(where("AtomicWeight", Z, 0).c_str(), [&](xrl_error** err) { return AtomicWeight(Z, err); });
}
double elementDensity(int Z)
{
    return checked(where("ElementDensity", Z, 0).c_str(), [&](xrl_error** err) { return ElementDensity(Z, err); });
}
double kEdge(int Z)
{
    return checked(where("EdgeEnergy", Z, 0).c_str(), [&](xrl_error** err) { return EdgeEnergy(Z, K_SHELL, err); });
}
double lEdge(int Z, int subshell)
{
    const int shell = subshell == 1 ? L1_SHELL : subshell == 2 ? L2_SHELL : L3_SHELL;
    return checked(where("EdgeEnergy", Z, subshell).c_str(),
                   [&](xrl_error** err) { return EdgeEnergy(Z, shell, err); });
}
double kFluorescenceYield(int Z)
{
    return checked(where("FluorYield", Z, 0).c_str(), [&](xrl_error** err) { return FluorYield(Z, K_SHELL, err); });
}

std::vector<Line> kLines(int Z)
{
    // xraylib numbers the K lines KL1 = -1 down to KP5 = -29 (outer shells
    // in the order L1..L3, M1..M5, N1..N7, O1..O7, P1..P5).
    static const char* const names[] = {"KL1", "KL2", "KL3", "KM1", "KM2", "KM3", "KM4", "KM5",
                                        "KN1", "KN2", "KN3", "KN4", "KN5", "KN6", "KN7",
                                        "KO",  "KO1", "KO2", "KO3", "KO4", "KO5", "KO6", "KO7",
                                        "KP",  "KP1", "KP2", "KP3", "KP4", "KP5"};
    static_assert(KL1_LINE == -1 && KP5_LINE == -29);
    std::vector<Line> lines;
    for (int i = 0; i < 29; ++i) {
        const int line = -1 - i;
        xrl_error* error = nullptr;
        const double rate = RadRate(Z, line, &error);
        if (error != nullptr) {  // no rate for this line: not emitted
            xrl_error_free(error);
            continue;
        }
        if (!(rate > 0.0)) continue;
        const double energy = checked("LineEnergy", [&](xrl_error** err) { return LineEnergy(Z, line, err); });
        lines.push_back({names[i], energy, rate});
    }
    return lines;
}

Compound nistCompound(const std::string& name)
{
    xrl_error* error = nullptr;
    compoundDataNIST* data = GetCompoundDataNISTByName(name.c_str(), &error);
    if (error != nullptr || data == nullptr) {
        std::string message = "NIST compound \"" + name + "\": " +
                              (error && error->message ? error->message : "not found");
        if (error) xrl_error_free(error);
        if (data) FreeCompoundDataNIST(data);
        throw PhysicsDataError(message);
    }
    Compound c{data->name, data->density, {}, {}};
    for (int i = 0; i < data->nElements; ++i) {
        c.elements.push_back(data->Elements[i]);
        c.massFractions.push_back(data->massFractions[i]);
    }
    FreeCompoundDataNIST(data);
    return c;
}

std::vector<std::string> radionuclideNames()
{
    xrl_error* error = nullptr;
    int n = 0;
    char** list = GetRadioNuclideDataList(&n, &error);
    if (error != nullptr || list == nullptr) {
        std::string message = std::string("GetRadioNuclideDataList: ") +
                              (error && error->message ? error->message : "no list");
        if (error) xrl_error_free(error);
        throw PhysicsDataError(message);
    }
    std::vector<std::string> names;
    for (int i = 0; i < n; ++i) {
        names.emplace_back(list[i]);
        xrlFree(list[i]);
    }
    xrlFree(list);
    return names;
}

Radionuclide radionuclide(const std::string& name)
{
    xrl_error* error = nullptr;
    radioNuclideData* data = GetRadioNuclideDataByName(name.c_str(), &error);
    if (error != nullptr || data == nullptr) {
        if (error) xrl_error_free(error);
        if (data) FreeRadioNuclideData(data);
        std::string known;
        for (const auto& n : radionuclideNames()) known += (known.empty() ? "" : ", ") + n;
        throw PhysicsDataError("unknown radionuclide \"" + name + "\" (the radionuclide table knows " + known + ")");
    }
    Radionuclide r;
    r.name = data->name;
    r.Z = data->Z;
    r.daughterZ = data->Z_xray;
    try {
        for (int i = 0; i < data->nXrays; ++i) {
            if (!(data->XrayIntensities[i] > 0.0)) continue;
            const int line = data->XrayLines[i];
            const double energy = checked("LineEnergy", [&](xrl_error** err) { return LineEnergy(r.daughterZ, line, err); });
            r.lines.push_back({energy, data->XrayIntensities[i], false});
        }
        for (int i = 0; i < data->nGammas; ++i)
            if (data->GammaIntensities[i] > 0.0) r.lines.push_back({data->GammaEnergies[i], data->GammaIntensities[i], true});
    } catch (...) {
        FreeRadioNuclideData(data);
        throw;
    }
    FreeRadioNuclideData(data);
    std::stable_sort(r.lines.begin(), r.lines.end(),
                     [](const EmissionLine& a, const EmissionLine& b) { return a.energyKeV < b.energyKeV; });
    return r;
}

} // namespace tvdet::xrl
