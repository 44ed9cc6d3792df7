// Attenuation data from xraylib: total mass attenuation of aluminium and
// copper (photoelectric + incoherent + coherent) and the mass
// energy-absorption coefficient of dry air near sea level, the mixture of
// xraylib's NIST compound catalogue weighted by its mass fractions.
#include "quality/beamquality.h"

#include <cmath>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include <xraylib.h>

namespace quality {

namespace {

constexpr int kAluminium = 13;
constexpr int kCopper = 29;
constexpr const char* kAirName = "Air, Dry (near sea level)";

// Calls an xraylib function with an error slot; NaN when xraylib reports an
// error (an energy outside its tables).
template <class F>
double orNaN(F&& call)
{
    xrl_error* error = nullptr;
    const double v = call(&error);
    if (error != nullptr) {
        xrl_error_free(error);
        return std::numeric_limits<double>::quiet_NaN();
    }
    return v;
}

double required(const char* what, double v)
{
    if (!std::isfinite(v) || v <= 0) throw QualityError(std::string("attenuation data: ") + what + " is not available");
    return v;
}

struct Air {
    std::vector<int> elements;
    std::vector<double> fractions;
};

const Air& dryAir()
{
    static const Air air = [] {
        xrl_error* error = nullptr;
        compoundDataNIST* data = GetCompoundDataNISTByName(kAirName, &error);
        if (error != nullptr || data == nullptr) {
            if (error) xrl_error_free(error);
            if (data) FreeCompoundDataNIST(data);
            throw QualityError(std::string("attenuation data: compound \"") + kAirName + "\" not found");
        }
        Air a;
        for (int i = 0; i < data->nElements; ++i) {
            a.elements.push_back(data->Elements[i]);
            a.fractions.push_back(data->massFractions[i]);
        }
        FreeCompoundDataNIST(data);
        return a;
    }();
    return air;
}

double density(int Z)
{
    return required("element density", orNaN([&](xrl_error** e) { return ElementDensity(Z, e); }));
}

double muPerMm(int Z, double rho, double e)
{
    return orNaN([&](xrl_error** err) { return CS_Total(Z, e, err); }) * rho / 10.0;
}

double airMuen(double e)
{
    const Air& air = dryAir();
    double s = 0;
    for (std::size_t j = 0; j < air.elements.size(); ++j)
        s += air.fractions[j] * orNaN([&](xrl_error** err) { return CS_Energy(air.elements[j], e, err); });
    return s;
}

std::unique_ptr<Attenuation> build(double w, std::size_t channels)
{
    auto a = std::make_unique<Attenuation>();
    a->kevPerChannel = w;
    a->aluminiumDensity = density(kAluminium);
    a->copperDensity = density(kCopper);
    a->energyKeV.resize(channels);
    a->muAlPerMm.resize(channels);
    a->muCuPerMm.resize(channels);
    a->muenAir.resize(channels);
    a->lowestKermaEnergyKeV = std::numeric_limits<double>::quiet_NaN();
    for (std::size_t i = 0; i < channels; ++i) {
        const double e = (static_cast<double>(i) + 0.5) * w;
        a->energyKeV[i] = e;
        a->muAlPerMm[i] = muPerMm(kAluminium, a->aluminiumDensity, e);
        a->muCuPerMm[i] = muPerMm(kCopper, a->copperDensity, e);
        const double muen = airMuen(e);
        const bool usable = std::isfinite(a->muAlPerMm[i]) && std::isfinite(a->muCuPerMm[i]);
        if (usable) a->highestEnergyKeV = e;
        // Below the energy-absorption data the channel holds no kerma; above
        // the attenuation data it holds nothing usable at all.
        a->muenAir[i] = std::isfinite(muen) && usable ? muen : 0.0;
        if (!usable && e > 1.0) a->muenAir[i] = std::numeric_limits<double>::quiet_NaN();
        if (a->muenAir[i] > 0 && !(a->lowestKermaEnergyKeV <= e)) a->lowestKermaEnergyKeV = e;
    }
    return a;
}

} // namespace

std::shared_ptr<const Attenuation> attenuationFor(double kevPerChannel, std::size_t channels)
{
    if (!(kevPerChannel > 0) || !std::isfinite(kevPerChannel))
        throw QualityError("the keV per channel must be a positive number");
    // The data of the last widths asked for; a caller that works through
    // many widths (a script, a fuzzer) does not grow it without end, and a
    // caller still using data that left the cache holds them itself.
    constexpr std::size_t kKept = 16;
    static std::mutex mutex;
    static std::map<std::pair<double, std::size_t>, std::shared_ptr<const Attenuation>> cache;
    static std::deque<std::pair<double, std::size_t>> order;
    std::lock_guard<std::mutex> lock(mutex);
    const std::pair<double, std::size_t> key{kevPerChannel, channels};
    if (auto it = cache.find(key); it != cache.end()) return it->second;
    std::shared_ptr<const Attenuation> a = build(kevPerChannel, channels);
    if (order.size() == kKept) {
        cache.erase(order.front());
        order.pop_front();
    }
    cache.emplace(key, a);
    order.push_back(key);
    return a;
}

double aluminiumMuPerMm(double energyKeV)
{
    return muPerMm(kAluminium, density(kAluminium), energyKeV);
}

double effectiveEnergyForAlHvl(double hvlMm, double highestKeV)
{
    if (!(hvlMm > 0) || !std::isfinite(hvlMm)) return std::numeric_limits<double>::quiet_NaN();
    const double target = std::log(2.0) / hvlMm;
    // Above the K edge the attenuation of aluminium falls monotonically.
    double lo = orNaN([](xrl_error** e) { return EdgeEnergy(kAluminium, K_SHELL, e); }) * (1.0 + 1e-9);
    double hi = highestKeV;
    const double muLo = aluminiumMuPerMm(lo), muHi = aluminiumMuPerMm(hi);
    if (!(muLo >= target) || !(muHi <= target)) return std::numeric_limits<double>::quiet_NaN();
    for (int it = 0; it < 100 && hi - lo > 1e-9 * hi; ++it) {
        const double mid = std::sqrt(lo * hi);
        (aluminiumMuPerMm(mid) > target ? lo : hi) = mid;
    }
    return 0.5 * (lo + hi);
}

} // namespace quality
