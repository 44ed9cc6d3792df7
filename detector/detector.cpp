#include "detector/detector.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "detector/physics_data.h"

namespace tvdet {

namespace {

constexpr int kCd = 48;
constexpr int kTe = 52;

std::vector<Constituent> cdTe()
{
    const double aCd = xrl::atomicWeight(kCd);
    const double aTe = xrl::atomicWeight(kTe);
    return {{kCd, aCd / (aCd + aTe)}, {kTe, aTe / (aCd + aTe)}};
}

struct Vec {
    double x, y, z;
};

// Turns direction d by the polar angle with cosine `cosTheta` and the
// azimuth phi.
Vec rotate(const Vec& d, double cosTheta, double phi)
{
    const double sinTheta = std::sqrt(std::max(0.0, 1.0 - cosTheta * cosTheta));
    const double cp = std::cos(phi), sp = std::sin(phi);
    if (std::abs(d.z) > 0.99999) {
        const double sign = d.z > 0 ? 1.0 : -1.0;
        return {sinTheta * cp, sinTheta * sp, sign * cosTheta};
    }
    const double t = std::sqrt(1.0 - d.z * d.z);
    return {sinTheta * (d.x * d.z * cp - d.y * sp) / t + d.x * cosTheta,
            sinTheta * (d.y * d.z * cp + d.x * sp) / t + d.y * cosTheta,
            -sinTheta * cp * t + d.z * cosTheta};
}

Vec isotropic(Rng& rng)
{
    const double w = 2.0 * rng.uniform() - 1.0;
    const double phi = 2.0 * std::numbers::pi * rng.uniform();
    const double s = std::sqrt(std::max(0.0, 1.0 - w * w));
    return {s * std::cos(phi), s * std::sin(phi), w};
}

// Path length from p along d to the surface of the box |x|,|y| <= half, 0 <= z <= thick.
double distanceToExit(const Vec& p, const Vec& d, double half, double thick)
{
    double s = 1e30;
    if (d.x > 0) s = std::min(s, (half - p.x) / d.x);
    if (d.x < 0) s = std::min(s, (-half - p.x) / d.x);
    if (d.y > 0) s = std::min(s, (half - p.y) / d.y);
    if (d.y < 0) s = std::min(s, (-half - p.y) / d.y);
    if (d.z > 0) s = std::min(s, (thick - p.z) / d.z);
    if (d.z < 0) s = std::min(s, (0.0 - p.z) / d.z);
    return std::max(s, 0.0);
}

} // namespace

Detector::Detector(const DetectorConfig& config)
    : config_(config),
      crystal_(cdTe(), config.density, true, 1.0, config.maxEnergyKeV),
      window_({{4, 1.0}}, xrl::elementDensity(4), false, 1.0, config.maxEnergyKeV),
      groups_(cdTeKGroups()),
      hc_(xrl::kevAngstrom()),
      mec2_(xrl::electronRestEnergy())
{
    zOf_[0] = kCd;
    zOf_[1] = kTe;
    for (int i = 0; i < 2; ++i) {
        fluorescenceYield_[i] = xrl::kFluorescenceYield(zOf_[i]);
        const KGroup& alpha = groups_[static_cast<std::size_t>(2 * i)];
        const KGroup& beta = groups_[static_cast<std::size_t>(2 * i + 1)];
        kAlphaShare_[i] = alpha.share / (alpha.share + beta.share);
    }
    // Momentum transfer up to that of back-scattering at the top energy.
    xStep_ = 0.002;
    xNodes_ = static_cast<std::size_t>(std::ceil(crystal_.maxEnergy() / hc_ / xStep_)) + 2;
    scattering_.resize(2);
    for (int i = 0; i < 2; ++i) {
        auto& sc = scattering_[static_cast<std::size_t>(i)];
        sc.s.resize(xNodes_);
        sc.cumF2.resize(xNodes_);
        double previousF2 = 0, previousX2 = 0, sum = 0;
        for (std::size_t n = 0; n < xNodes_; ++n) {
            const double x = xStep_ * static_cast<double>(n);
            sc.s[n] = std::min(1.0, xrl::scatteringFunction(zOf_[i], x) / zOf_[i]);
            const double f = xrl::formFactor(zOf_[i], x);
            const double f2 = f * f;
            if (n > 0) sum += 0.5 * (f2 + previousF2) * (x * x - previousX2);
            sc.cumF2[n] = sum;
            previousF2 = f2;
            previousX2 = x * x;
        }
    }
    const double d = config_.thicknessCm;
    lambdaE_ = config_.mutauElectrons * config_.biasVolts / d;
    lambdaH_ = config_.mutauHoles * config_.biasVolts / d;
}

double Detector::chargeCollection(double z) const
{
    if (!config_.chargeLoss) return 1.0;
    const double d = config_.thicknessCm;
    z = std::clamp(z, 0.0, d);
    return hechtCollection(z, d, lambdaE_, lambdaH_);
}

double Detector::peakCollection() const
{
    // CCE(z) has a single maximum where the electron and hole terms have
    // equal slopes; a fine scan finds it to far better than 1e-9.
    double best = 0;
    const int steps = 100000;
    for (int n = 0; n <= steps; ++n)
        best = std::max(best, chargeCollection(config_.thicknessCm * n / steps));
    return best;
}

double Detector::scatteringFunction(int i, double x) const
{
    const auto& s = scattering_[static_cast<std::size_t>(i)].s;
    const double pos = x / xStep_;
    auto n = static_cast<std::size_t>(pos);
    if (n >= xNodes_ - 1) return s.back();
    const double t = pos - static_cast<double>(n);
    return s[n] + t * (s[n + 1] - s[n]);
}

double Detector::sampleComptonCos(int i, double e, Rng& rng, double& scattered) const
{
    // Klein–Nishina by the composition–rejection method of Butcher and
    // Messel, then thinned by S(x)/Z.
    const double k = e / mec2_;
    const double eps0 = 1.0 / (1.0 + 2.0 * k);
    const double eps0sq = eps0 * eps0;
    const double a1 = -std::log(eps0);
    const double a2 = 0.5 * (1.0 - eps0sq);
    for (;;) {
        double eps, epsSq;
        if (a1 / (a1 + a2) > rng.uniform()) {
            eps = std::exp(-a1 * rng.uniform());
            epsSq = eps * eps;
        } else {
            epsSq = eps0sq + (1.0 - eps0sq) * rng.uniform();
            eps = std::sqrt(epsSq);
        }
        const double oneMinusCos = (1.0 - eps) / (eps * k);
        const double sin2 = oneMinusCos * (2.0 - oneMinusCos);
        const double g = 1.0 - eps * sin2 / (1.0 + epsSq);
        if (g < rng.uniform()) continue;
        const double x = std::sqrt(0.5 * oneMinusCos) * e / hc_;
        if (scatteringFunction(i, x) < rng.uniform()) continue;
        scattered = eps * e;
        return 1.0 - oneMinusCos;
    }
}

double Detector::sampleRayleighCos(int i, double e, Rng& rng) const
{
    // x² from the F² distribution up to back-scattering, then the Thomson
    // factor (1 + cos²θ)/2 by rejection.
    const auto& cum = scattering_[static_cast<std::size_t>(i)].cumF2;
    const double xMax = e / hc_;
    const double pos = std::min(xMax / xStep_, static_cast<double>(xNodes_ - 1));
    auto n = std::min(static_cast<std::size_t>(pos), xNodes_ - 2);
    const double t = pos - static_cast<double>(n);
    const double aMax = cum[n] + t * (cum[n + 1] - cum[n]);
    const double scale = hc_ / e;
    for (;;) {
        const double target = rng.uniform() * aMax;
        auto it = std::upper_bound(cum.begin(), cum.end(), target);
        std::size_t j = static_cast<std::size_t>(it - cum.begin());
        j = std::clamp<std::size_t>(j, 1, xNodes_ - 1);
        const double x0 = xStep_ * static_cast<double>(j - 1), x1 = xStep_ * static_cast<double>(j);
        const double span = cum[j] - cum[j - 1];
        const double f = span > 0 ? (target - cum[j - 1]) / span : 0.0;
        const double x2 = x0 * x0 + f * (x1 * x1 - x0 * x0);
        const double cosTheta = std::max(-1.0, 1.0 - 2.0 * x2 * scale * scale);
        if (rng.uniform() * 2.0 <= 1.0 + cosTheta * cosTheta) return cosTheta;
    }
}

PhotonResult Detector::simulate(double e0, Rng& rng) const
{
    return transport(e0, rng, [](double, double) {});
}

PhotonResult Detector::simulate(double e0, Rng& rng, std::vector<Deposit>& deposits) const
{
    return transport(e0, rng, [&](double z, double amount) {
        deposits.push_back({static_cast<float>(z), static_cast<float>(amount)});
    });
}

template <class Sink>
PhotonResult Detector::transport(double e0, Rng& rng, Sink&& sink) const
{
    PhotonResult r;
    if (config_.windowCm > 0) {
        // The window's transmission at the photon's energy, kept for the
        // next photon of the same energy (most histories come in runs of
        // one energy).
        // Keyed by what the value depends on (a detector built later at
        // the same address may have another window).
        thread_local struct {
            double window = -1, top = -1, energy = -1, transmission = 0;
        } last;
        if (last.window != config_.windowCm || last.top != config_.maxEnergyKeV || last.energy != e0) {
            last.window = config_.windowCm;
            last.top = config_.maxEnergyKeV;
            last.energy = e0;
            last.transmission = std::exp(-window_.at(e0).total() * config_.windowCm);
        }
        if (rng.uniform() >= last.transmission) {
            r.stoppedByWindow = true;
            return r;
        }
    }
    const double half = 0.5 * config_.widthCm;
    const double thick = config_.thicknessCm;
    const double minEnergy = crystal_.minEnergy();
    Vec p{0, 0, 0};
    Vec d{0, 0, 1};
    double e = e0;
    bool fluorescent = false;
    auto deposit = [&](double amount) {
        r.deposited += amount;
        r.collected += amount * chargeCollection(p.z);
        sink(p.z, amount);
    };
    // The crystal's coefficients at the photon's own energy, kept for the
    // next photon of the same energy (keyed by what they depend on).
    thread_local struct {
        double density = -1, top = -1, energy = -1;
        Coefficients c;
    } first;
    if (first.density != config_.density || first.top != config_.maxEnergyKeV || first.energy != e0) {
        first.density = config_.density;
        first.top = config_.maxEnergyKeV;
        first.energy = e0;
        first.c = crystal_.at(e0);
    }
    for (;;) {
        const Coefficients c = e == e0 ? first.c : crystal_.at(e);
        const double mu = c.total();
        const double s = -std::log(rng.uniformPositive()) / mu;
        if (s >= distanceToExit(p, d, half, thick)) {
            if (r.interacted) {
                r.escape = true;
                if (fluorescent) r.kEscape = true;
            }
            return r;
        }
        p = {p.x + s * d.x, p.y + s * d.y, p.z + s * d.z};
        r.interacted = true;
        double pick = rng.uniform() * mu;
        int i = 0, kind = 2;
        for (i = 0; i < c.count; ++i) {
            const auto& part = c.part[i];
            if (pick < part.photo) { kind = 0; break; }
            pick -= part.photo;
            if (pick < part.compton) { kind = 1; break; }
            pick -= part.compton;
            if (pick < part.rayleigh || i == c.count - 1) { kind = 2; break; }
            pick -= part.rayleigh;
        }
        if (kind == 0) {
            // Photoelectric absorption; a K vacancy may refill radiatively.
            if (rng.uniform() < c.part[i].kShare && rng.uniform() < fluorescenceYield_[i]) {
                const int g = 2 * i + (rng.uniform() < kAlphaShare_[i] ? 0 : 1);
                const double ef = groups_[static_cast<std::size_t>(g)].energyKeV;
                deposit(e - ef);
                e = ef;
                d = isotropic(rng);
                fluorescent = true;
                continue;
            }
            deposit(e);
            return r;
        }
        const double phi = 2.0 * std::numbers::pi * rng.uniform();
        if (kind == 1) {
            double scattered = e;
            const double cosTheta = sampleComptonCos(i, e, rng, scattered);
            deposit(e - scattered);
            e = scattered;
            d = rotate(d, cosTheta, phi);
            fluorescent = false;
            if (e < minEnergy) {
                deposit(e);
                return r;
            }
        } else {
            d = rotate(d, sampleRayleighCos(i, e, rng), phi);
        }
    }
}

} // namespace tvdet
