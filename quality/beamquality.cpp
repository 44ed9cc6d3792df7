#include "quality/beamquality.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <sstream>

namespace quality {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::string keV(double e)
{
    std::ostringstream os;
    os.precision(4);
    os << e;
    return os.str();
}

// Air kerma behind t mm of a filter: sum of k_i exp(-mu_i t), with the
// kerma weights k_i = N_i E_i (mu_en/rho)_i of the channels that hold any.
struct Kerma {
    std::vector<double> k, muAl, muCu;
    double k0 = 0;
};

// Thickness at which the kerma falls to `target`, or NaN when it is still
// above it at `limit`.  Newton steps inside a shrinking bracket, bisection
// where Newton would leave it.
double thicknessFor(const std::vector<double>& k, const std::vector<double>& mu, double target, double limit)
{
    auto eval = [&](double t, double& d) {
        double s = 0, ds = 0;
        for (std::size_t i = 0; i < k.size(); ++i) {
            const double v = k[i] * std::exp(-mu[i] * t);
            s += v;
            ds -= mu[i] * v;
        }
        d = ds;
        return s - target;
    };
    double d = 0;
    if (eval(limit, d) > 0) return kNaN;
    double lo = 0, hi = limit, t = 0;
    for (int it = 0; it < 200; ++it) {
        const double g = eval(t, d);
        if (g > 0) lo = t; else hi = t;
        if (g == 0) return t;
        double next = (d < 0) ? t - g / d : kNaN;
        if (!(next > lo && next < hi)) next = 0.5 * (lo + hi);
        if (std::fabs(next - t) <= 1e-13 * std::max(1.0, next) || hi - lo <= 1e-13 * std::max(1.0, hi)) return next;
        t = next;
    }
    return 0.5 * (lo + hi);
}

// End point: by Kramers' law the energy fluence of a thick-target
// continuum falls linearly to zero at the peak energy E0, so the energy
// carried above E grows like (E0 - E)^2 and its square root is a straight
// line that reaches zero at E0.  The line is fitted (least squares) to the
// square root of that upper tail at the channel edges where the tail holds
// between `low` and `high` of the spectrum's whole energy: high enough above
// any noise beyond the end point and, at the usual peak voltages, above the
// characteristic lines.  With fewer than three such edges (a line spectrum)
// the end point is the upper edge of the channel in which the tail passes
// `low`.
double endPoint(std::span<const double> counts, double w, double low, double high)
{
    const std::size_t n = counts.size();
    std::vector<double> tail(n + 1, 0.0);  // tail[i]: energy above edge i*w
    for (std::size_t i = n; i-- > 0;) tail[i] = tail[i + 1] + counts[i] * (static_cast<double>(i) + 0.5) * w;
    const double all = tail[0];
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    int m = 0;
    for (std::size_t i = 0; i <= n; ++i) {
        if (tail[i] < low * all || tail[i] > high * all) continue;
        const double x = static_cast<double>(i) * w, y = std::sqrt(tail[i]);
        sx += x; sy += y; sxx += x * x; sxy += x * y; ++m;
    }
    if (m >= 3) {
        const double den = m * sxx - sx * sx;
        const double slope = (m * sxy - sx * sy) / den;
        const double intercept = (sy - slope * sx) / m;
        if (slope < 0 && den > 0) return -intercept / slope;
    }
    for (std::size_t i = 0; i <= n; ++i)
        if (tail[i] < low * all) return static_cast<double>(i) * w;
    return static_cast<double>(n) * w;
}

} // namespace

BeamQuality computeFigures(std::span<const double> all, const Attenuation& att, const Options& options)
{
    const double w = att.kevPerChannel;
    if (all.size() > att.energyKeV.size()) throw QualityError("more channels than the attenuation data hold");
    std::vector<double> kept;
    std::span<const double> counts = all;
    if (options.lowerLimitKeV > 0) {
        kept.assign(all.begin(), all.end());
        for (std::size_t i = 0; i < kept.size() && att.energyKeV[i] < options.lowerLimitKeV; ++i) kept[i] = 0;
        counts = kept;
    }
    BeamQuality q;
    q.kevPerChannel = w;
    double total = 0, fluenceEnergy = 0;
    Kerma kerma;
    double kermaEnergy = 0;
    for (std::size_t i = 0; i < counts.size(); ++i) {
        const double c = counts[i];
        if (!std::isfinite(c)) throw QualityError("channel " + std::to_string(i + 1) + " holds no number");
        if (c == 0) continue;
        const double e = att.energyKeV[i];
        if (std::isnan(att.muenAir[i]))
            throw QualityError("channel " + std::to_string(i + 1) + " (" + keV(e) +
                               " keV) holds counts but lies above the attenuation data (" +
                               keV(att.highestEnergyKeV) + " keV)");
        total += c;
        fluenceEnergy += c * e;
        const double k = c * e * att.muenAir[i];
        if (k != 0) {
            kerma.k.push_back(k);
            kerma.muAl.push_back(att.muAlPerMm[i]);
            kerma.muCu.push_back(att.muCuPerMm[i]);
            kerma.k0 += k;
            kermaEnergy += k * e;
        }
    }
    if (!std::isfinite(total) || !std::isfinite(fluenceEnergy) || !std::isfinite(kerma.k0) ||
        !std::isfinite(kermaEnergy))
        throw QualityError("the counts are too large: their sums exceed the range of numbers");
    if (!(total > 0))
        throw QualityError(options.lowerLimitKeV > 0 ? "the spectrum holds no counts above " + keV(options.lowerLimitKeV) + " keV"
                                                     : std::string("the spectrum holds no counts"));
    if (!(kerma.k0 > 0)) {
        // A spectrum whose channels all lie below the energy-absorption data
        // has no lowest kerma energy to name.
        if (std::isnan(att.lowestKermaEnergyKeV))
            throw QualityError("every channel of the spectrum lies below the air energy-absorption data (the "
                               "highest channel's centre is " + keV(att.energyKeV.back()) +
                               " keV), so it carries no air kerma");
        throw QualityError("the spectrum holds no counts above " + keV(att.lowestKermaEnergyKeV) +
                           " keV, so it carries no air kerma");
    }
    q.total.value = total;
    q.meanEnergyKeV.value = fluenceEnergy / total;
    q.kermaMeanEnergyKeV.value = kermaEnergy / kerma.k0;
    q.kermaSumKeVCm2PerG.value = kerma.k0;

    const double limitAl = options.maxHvlAlMm;
    auto hvls = [&](const std::vector<double>& mu, double limit, const char* metal, Value& h1, Value& h2,
                    Value& homogeneity) {
        const double half = thicknessFor(kerma.k, mu, 0.5 * kerma.k0, limit);
        if (std::isnan(half))
            throw QualityError(std::string("the first half-value layer in ") + metal + " exceeds " + keV(limit) +
                               " mm");
        const double quarter = thicknessFor(kerma.k, mu, 0.25 * kerma.k0, half + limit);
        if (std::isnan(quarter))
            throw QualityError(std::string("the second half-value layer in ") + metal + " exceeds " + keV(limit) +
                               " mm");
        h1.value = half;
        h2.value = quarter - half;
        homogeneity.value = half / (quarter - half);
    };
    hvls(kerma.muAl, limitAl, "aluminium", q.hvl1AlMm, q.hvl2AlMm, q.homogeneityAl);
    // Copper attenuates more than aluminium per millimetre at every energy,
    // so the same limit bounds its half-value layers too.
    hvls(kerma.muCu, limitAl, "copper", q.hvl1CuMm, q.hvl2CuMm, q.homogeneityCu);
    q.effectiveEnergyKeV.value = effectiveEnergyForAlHvl(q.hvl1AlMm.value, att.highestEnergyKeV);
    q.endPointKeV.value = endPoint(counts, w, options.endPointTailLow, options.endPointTailHigh);
    return q;
}

namespace {

Value BeamQuality::*const kFigures[] = {
    &BeamQuality::total,          &BeamQuality::meanEnergyKeV, &BeamQuality::kermaMeanEnergyKeV,
    &BeamQuality::hvl1AlMm,       &BeamQuality::hvl2AlMm,      &BeamQuality::hvl1CuMm,
    &BeamQuality::hvl2CuMm,       &BeamQuality::homogeneityAl, &BeamQuality::homogeneityCu,
    &BeamQuality::effectiveEnergyKeV, &BeamQuality::endPointKeV, &BeamQuality::kermaSumKeVCm2PerG};

constexpr double kLargestPoissonMean = 1e12;

// Draws a Poisson count of each channel's value; a negative channel (a
// correction may leave some) gives minus a count of its magnitude.
std::vector<double> resample(std::span<const double> counts, std::mt19937_64& rng)
{
    std::vector<double> out(counts.size());
    for (std::size_t i = 0; i < counts.size(); ++i) {
        const double c = counts[i];
        if (!(std::fabs(c) > 0)) continue;
        // Far beyond any counting, where the Poisson draw would take without
        // end or not fit its integer, the normal law is the Poisson law to
        // better than a millionth of its width.
        if (std::fabs(c) > kLargestPoissonMean) {
            std::normal_distribution<double> n(std::fabs(c), std::sqrt(std::fabs(c)));
            out[i] = std::copysign(n(rng), c);
            continue;
        }
        std::poisson_distribution<long long> p(std::fabs(c));
        out[i] = std::copysign(static_cast<double>(p(rng)), c);
    }
    return out;
}

// Sample standard deviation of every figure over the resampled records.
void attachUncertainties(BeamQuality& q, const std::vector<BeamQuality>& samples)
{
    q.resamplesUsed = static_cast<int>(samples.size());
    if (samples.size() < 2) return;
    for (auto f : kFigures) {
        double mean = 0;
        int n = 0;
        for (const auto& s : samples)
            if (std::isfinite((s.*f).value)) { mean += (s.*f).value; ++n; }
        if (n < 2) continue;
        mean /= n;
        double ss = 0;
        for (const auto& s : samples)
            if (std::isfinite((s.*f).value)) ss += ((s.*f).value - mean) * ((s.*f).value - mean);
        (q.*f).uncertainty = std::sqrt(ss / (n - 1));
    }
}

BeamQuality run(std::span<const double> measured, double w, const Chain* chain, const Options& options)
{
    auto figuresOf = [&](std::span<const double> c) {
        if (!chain) return computeFigures(c, *attenuationFor(w, c.size()), options);
        const std::vector<double> corrected = (*chain)(c);
        return computeFigures(corrected, *attenuationFor(w, corrected.size()), options);
    };
    BeamQuality q = figuresOf(measured);
    std::mt19937_64 rng(options.seed);
    std::vector<BeamQuality> samples;
    samples.reserve(static_cast<std::size_t>(std::max(0, options.resamples)));
    for (int r = 0; r < options.resamples; ++r) {
        const std::vector<double> drawn = resample(measured, rng);
        try {
            samples.push_back(figuresOf(drawn));
        } catch (const std::exception&) {
            // A resample the figures cannot be computed for is left out and
            // shows in resamplesUsed.
        }
    }
    attachUncertainties(q, samples);
    return q;
}

} // namespace

BeamQuality computeBeamQuality(std::span<const double> counts, double kevPerChannel, const Options& options)
{
    return run(counts, kevPerChannel, nullptr, options);
}

BeamQuality computeBeamQualityThrough(std::span<const double> measured, double kevPerChannel, const Chain& chain,
                                      const Options& options)
{
    return run(measured, kevPerChannel, &chain, options);
}

} // namespace quality
