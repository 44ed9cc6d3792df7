#include "generator/scatter_truth.h"

#include <algorithm>
#include <cmath>

#include "detector/physics_data.h"

namespace tvgen {

namespace {

constexpr double kProfileStep = 0.005;
constexpr double kProfileEnd = 100.0;

std::vector<ScatterElement> elementsOf(const ScattererMaterial& m)
{
    std::vector<ScatterElement> out;
    for (auto [Z, n] : m.atoms) {
        ScatterElement e;
        e.Z = Z;
        e.weight = n * tvdet::xrl::atomicWeight(Z);
        const int steps = static_cast<int>(std::lround(kProfileEnd / kProfileStep));
        e.cumulative.assign(static_cast<std::size_t>(steps) + 1, 0.0);
        double prev = tvdet::xrl::comptonProfile(Z, 0.0);
        for (int k = 1; k <= steps; ++k) {
            const double j = tvdet::xrl::comptonProfile(Z, k * kProfileStep);
            e.cumulative[static_cast<std::size_t>(k)] =
                e.cumulative[static_cast<std::size_t>(k - 1)] + 0.5 * (j + prev) * kProfileStep;
            prev = j;
        }
        const double whole = e.cumulative.back();
        for (double& c : e.cumulative) c = 0.5 * c / whole;
        out.push_back(std::move(e));
    }
    return out;
}

// Share of an element's Compton line below pz.
double lineShare(const ScatterElement& e, double pz)
{
    const double a = std::abs(pz) / kProfileStep;
    double c = 0.5;
    if (a < static_cast<double>(e.cumulative.size() - 1)) {
        const auto k = static_cast<std::size_t>(a);
        const double t = a - static_cast<double>(k);
        c = e.cumulative[k] * (1.0 - t) + e.cumulative[k + 1] * t;
    }
    return pz < 0 ? 0.5 - c : 0.5 + c;
}

} // namespace

double Scatterer::mu(double e) const
{
    double m = 0;
    for (auto [Z, f] : fractions) m += f * tvdet::xrl::total(Z, e);
    return m * material.density;
}

Scatterer prepareScatterer(const ScattererMaterial& m)
{
    Scatterer s;
    s.material = m;
    s.elements = elementsOf(m);
    s.fractions = massFractions(m);
    s.muFine.resize(kFineBins);
    // Below 1 keV (no scattered photon gets there) the physics data end.
    for (int k = 0; k < kFineBins; ++k) s.muFine[static_cast<std::size_t>(k)] = s.mu(std::max(1.0, (k + 0.5) * kFine));
    return s;
}

std::vector<double> scatteredFine(const PhotonSpectrum& primary, const Scatterer& sc, double theta, double length)
{
    std::vector<double> fine(kFineBins, 0.0);
    const double mec2 = tvdet::xrl::electronRestEnergy();
    const double pAtomic = tvdet::xrl::electronMomentumAtomic();
    const double c = std::cos(theta);
    for (std::size_t n = 0; n < primary.weight.size(); ++n) {
        const double e = primary.energyKeV[n];
        if (e < 1.0) continue;
        const double in = std::exp(-sc.mu(e) * length * 0.5);
        const double w = primary.weight[n] * in;
        const int own = static_cast<int>(std::ceil(e / kFine)) - 1;
        const double ec = e / (1.0 + e / mec2 * (1.0 - c));
        const int centre = static_cast<int>(std::ceil(ec / kFine)) - 1;
        for (const ScatterElement& el : sc.elements) {
            const double coh = tvdet::xrl::coherentDcs(el.Z, e, theta) * el.weight;
            const double inc = tvdet::xrl::incoherentDcs(el.Z, e, theta) * el.weight;
            if (own >= 0 && own < kFineBins)
                fine[static_cast<std::size_t>(own)] += w * coh * std::exp(-sc.muFine[static_cast<std::size_t>(own)] * length * 0.5);
            auto share = [&](int edge) {  // below the upper edge of fine bin `edge`
                const double eo = (edge + 1) * kFine;
                if (eo <= 0) return 0.0;
                const double q = std::sqrt(e * e + eo * eo - 2.0 * e * eo * c);
                return lineShare(el, -pAtomic * (e - eo - e * eo * (1.0 - c) / mec2) / q);
            };
            auto put = [&](int k, double s) {
                if (k >= 0 && k < kFineBins)
                    fine[static_cast<std::size_t>(k)] += w * inc * s * std::exp(-sc.muFine[static_cast<std::size_t>(k)] * length * 0.5);
            };
            double up = share(centre), lo = share(centre - 1);
            put(centre, up - lo);
            for (int k = centre - 1; k >= 0 && lo > 1e-9; --k) {
                const double b = share(k - 1);
                put(k, lo - b);
                lo = b;
            }
            for (int k = centre + 1; k < kFineBins && up < 1.0 - 1e-9; ++k) {
                const double a = share(k);
                put(k, a - up);
                up = a;
            }
        }
    }
    return fine;
}

PhotonSpectrum fineToPhotons(const std::vector<double>& fine)
{
    PhotonSpectrum photons;
    for (std::size_t k = 0; k < fine.size(); ++k)
        if (fine[k] > 0) {
            photons.energyKeV.push_back((static_cast<double>(k) + 0.5) * kFine);
            photons.weight.push_back(fine[k]);
        }
    return photons;
}

} // namespace tvgen
