#include "unfold.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <string>

#include "numbertext.h"

namespace tvconv {

namespace {

// Log–log interpolation in (lu, lv), both already logarithms; a target
// outside the table is extrapolated along the first or last two rows.
double logLog(const std::vector<double>& lu, const std::vector<double>& lv, double t)
{
    const double lt = std::log(t);
    std::size_t j = static_cast<std::size_t>(std::upper_bound(lu.begin(), lu.end(), lt) - lu.begin());
    j = std::clamp<std::size_t>(j, 1, lu.size() - 1);
    const double f = (lt - lu[j - 1]) / (lu[j] - lu[j - 1]);
    return std::exp(lv[j - 1] + f * (lv[j] - lv[j - 1]));
}

// The fitted measured channels start where the standard method starts.
constexpr int firstFittedChannel = firstConvertedChannel;

// A column of the model matrix: the measured channels (0-based, from
// `first`) that one primary channel reaches, and its share in each.
struct Column {
    int first = 0;
    std::vector<double> values;
    double total = 0;     // over all channels
};

// Spreads one primary photon of `energy` (weight `weight`) over the
// measured channels of width w: the coherent photon in the channel of the
// energy itself, the incoherent one by the Compton profile around the
// Compton energy.  `attIn` is the attenuation on the way in, attOut[i] on
// the way out at the centre of channel i.
template <class Add>
void spreadLine(const ScatterModel& model, double energy, double w, double attIn, const std::vector<double>& attOut,
                double weight, Add&& add)
{
    const ScatterModel::Weights sw = model.weights(energy);
    const int n = channelCount;
    const int own = static_cast<int>(std::ceil(energy / w));
    if (own >= 1 && own <= n) add(own - 1, weight * sw.coherent * attIn * attOut[static_cast<std::size_t>(own - 1)]);

    // Shares of the profile below the channel edges, walking out from the
    // channel of the Compton energy until the rest of the line is
    // negligible.
    constexpr double negligible = 1e-4;
    const double ec = model.comptonEnergy(energy);
    const int centre = std::clamp(static_cast<int>(std::ceil(ec / w)), 1, n);
    const double scale = weight * sw.incoherent * attIn;
    auto shareAt = [&](int edge) {  // edge k lies at k·w
        if (edge <= 0) return 0.0;
        return model.profileShare(model.momentum(energy, edge * w));
    };
    double upper = shareAt(centre);
    double lower = shareAt(centre - 1);
    add(centre - 1, scale * (upper - lower) * attOut[static_cast<std::size_t>(centre - 1)]);
    for (int i = centre - 1; i >= 1 && lower > negligible; --i) {
        const double below = shareAt(i - 1);
        add(i - 1, scale * (lower - below) * attOut[static_cast<std::size_t>(i - 1)]);
        lower = below;
    }
    for (int i = centre + 1; i <= n && upper < 1.0 - negligible; ++i) {
        const double above = shareAt(i);
        add(i - 1, scale * (above - upper) * attOut[static_cast<std::size_t>(i - 1)]);
        upper = above;
    }
}

std::vector<double> exitAttenuation(const ScatterModel& model, double length, double w)
{
    std::vector<double> a(channelCount);
    for (int i = 1; i <= channelCount; ++i)
        a[static_cast<std::size_t>(i - 1)] = std::exp(-model.attenuation((i - 0.5) * w) * length * 0.5);
    return a;
}

} // namespace

int primaryChannels(const ScatterModel& model, double width, double tableEndKeV)
{
    const int n = channelCount;
    const double top = n * width;
    // Compton energy E' = E / (1 + E (1 - cos θ) / m c²): the primary whose
    // line lies at `top`, when there is one.
    const double k = (1.0 - std::cos(model.theta())) / model.restEnergy();
    double highest = tableEndKeV;
    if (1.0 - top * k > 0.0) highest = std::min(highest, top / (1.0 - top * k));
    const int channels = static_cast<int>(std::floor(highest / width));
    return std::clamp(channels, n, 2 * n);
}

ScatterModelData loadScatterModel(const std::filesystem::path& scattererPath)
{
    ScatterModelData d;
    d.scatterer = readScattererFile(scattererPath);
    d.profile = readProfileFile(profilePathFor(scattererPath));
    return d;
}

ScatterModel::ScatterModel(const ScatterModelData& data, int angleDegrees)
    : theta_(angleDegrees * std::numbers::pi / 180.0),
      cosTheta_(std::cos(theta_)),
      sinHalf_(std::sin(theta_ / 2.0)),
      restEnergy_(data.profile.restEnergy),
      kevAngstrom_(data.profile.kevAngstrom),
      momentumAtomic_(data.profile.momentumAtomic),
      density_(data.scatterer.density),
      pz_(data.profile.pz),
      j_(data.profile.profile)
{
    for (const ScatteringRow& r : data.scatterer.scattering) {
        lx_.push_back(std::log(static_cast<double>(r.x)));
        ls_.push_back(std::log(static_cast<double>(r.s)));
        const double f = r.unused;  // √(Σ n F²) of the formula unit
        lf2_.push_back(std::log(f * f));
    }
    for (const CoefficientRow& r : data.scatterer.coefficients) {
        le_.push_back(std::log(static_cast<double>(r.energy)));
        lc1_.push_back(std::log(static_cast<double>(r.c1)));
        lc2_.push_back(std::log(static_cast<double>(r.c2)));
        lc3_.push_back(std::log(static_cast<double>(r.c3)));
    }
    cumulative_.assign(pz_.size(), 0.0);
    for (std::size_t k = 1; k < pz_.size(); ++k)
        cumulative_[k] = cumulative_[k - 1] + 0.5 * (j_[k] + j_[k - 1]) * (pz_[k] - pz_[k - 1]);
}

ScatterModel::Weights ScatterModel::weights(double e) const
{
    const double x = sinHalf_ * e / kevAngstrom_;
    const double ratio = comptonEnergy(e) / e;
    const double sin2 = 1.0 - cosTheta_ * cosTheta_;
    const double kn = 0.5 * ratio * ratio * (ratio + 1.0 / ratio - sin2);
    const double thomson = 0.5 * (1.0 + cosTheta_ * cosTheta_);
    return {kn * logLog(lx_, ls_, x), thomson * logLog(lx_, lf2_, x)};
}

double ScatterModel::comptonEnergy(double e) const { return e / (1.0 + e / restEnergy_ * (1.0 - cosTheta_)); }

double ScatterModel::attenuation(double e) const
{
    return (logLog(le_, lc1_, e) + logLog(le_, lc2_, e) + logLog(le_, lc3_, e)) * density_;
}

double ScatterModel::momentum(double e, double scattered) const
{
    const double q = std::sqrt(e * e + scattered * scattered - 2.0 * e * scattered * cosTheta_);
    return -momentumAtomic_ * (e - scattered - e * scattered * (1.0 - cosTheta_) / restEnergy_) / q;
}

double ScatterModel::profileShare(double pz) const
{
    const double a = std::abs(pz);
    const double whole = cumulative_.back();
    double c = whole;
    if (a < pz_.back()) {
        const std::size_t k =
            static_cast<std::size_t>(std::upper_bound(pz_.begin(), pz_.end(), a) - pz_.begin()) - 1;
        const double t = a - pz_[k];
        const double slope = (j_[k + 1] - j_[k]) / (pz_[k + 1] - pz_[k]);
        c = cumulative_[k] + j_[k] * t + 0.5 * slope * t * t;
    }
    const double half = 0.5 * c / whole;
    return pz < 0 ? 0.5 - half : 0.5 + half;
}

std::vector<double> monoenergeticResponse(const ScatterModel& model, double energy, double length, double width)
{
    std::vector<double> r(channelCount, 0.0);
    const std::vector<double> attOut = exitAttenuation(model, length, width);
    const double attIn = std::exp(-model.attenuation(energy) * length * 0.5);
    spreadLine(model, energy, width, attIn, attOut, 1.0, [&](int i, double v) { r[static_cast<std::size_t>(i)] += v; });
    return r;
}

void checkUnfoldInput(const ConversionInput& in, const ScatterModelData& data)
{
    checkScattererTables(data.scatterer);
    checkProfile(data.profile);
    // The model interpolates each coefficient and the form factor on its
    // own logarithm: each must be positive.
    const ScattererData& sd = data.scatterer;
    const int rows = static_cast<int>(sd.coefficients.size());
    for (int k = 1; k <= rows; ++k) {
        const CoefficientRow& r = sd.coefficients[static_cast<std::size_t>(k - 1)];
        const float c[3] = {r.c1, r.c2, r.c3};
        for (int m = 0; m < 3; ++m)
            if (!(c[m] > 0.0f) || !std::isfinite(c[m]))
                throw ConversionError(sd.file + ", line " + std::to_string(k + 2) + ": coefficient row " +
                                      std::to_string(k) + ": the coefficient c" + std::to_string(m + 1) + " = " +
                                      numberText(c[m]) + " cm2/g is not positive; the unfolding needs each coefficient");
    }
    for (int k = 1; k <= static_cast<int>(sd.scattering.size()); ++k) {
        const float f = sd.scattering[static_cast<std::size_t>(k - 1)].unused;
        if (!(f > 0.0f) || !std::isfinite(f))
            throw ConversionError(sd.file + ", line " + std::to_string(rows + 2 + k) + ": scattering-function row " +
                                  std::to_string(k) + ": the form factor " + numberText(f) +
                                  " (second column) is not positive; the unfolding needs it for coherent scattering");
    }
    if (in.angle < 1 || in.angle > 180)
        throw ConversionError("the scattering angle " + std::to_string(in.angle) +
                              " degrees cannot be used: the unfolding needs 1 to 180 degrees");
    if (!(in.attenuationLength >= 0.0f) || !std::isfinite(in.attenuationLength))
        throw ConversionError("the self-attenuation length " + numberText(in.attenuationLength) +
                              " cm cannot be used: the unfolding needs a length of 0 cm or more");
    if (!(in.channelWidth > 0.0f) || !std::isfinite(in.channelWidth))
        throw ConversionError("the channel width " + numberText(in.channelWidth) +
                              " keV per channel cannot be used: it must be above 0");
    bool any = false;
    for (int i = 1; i <= channelCount; ++i) {
        const std::int32_t n = in.counts[static_cast<std::size_t>(i - 1)];
        if (n < 0)
            throw ConversionError("channel " + std::to_string(i) + " holds the negative count " + std::to_string(n));
        if (i >= firstFittedChannel && n > 0) any = true;
    }
    if (!any)
        throw ConversionError("no counts in channels " + std::to_string(firstFittedChannel) + " to " +
                              std::to_string(channelCount) + ": there is nothing to unfold");
    const double top = static_cast<double>(in.channelWidth) * channelCount;
    const double last = data.scatterer.coefficients.back().energy;
    if (top > last)
        throw ConversionError(data.scatterer.file + ": the coefficient table ends at " + numberText(last) +
                              " keV, below the top primary energy " + numberText(top) + " keV (1024 channels of " +
                              numberText(in.channelWidth) + " keV)");
}

UnfoldResult unfoldPrimary(const ConversionInput& in, const ScatterModelData& data, const UnfoldOptions& options,
                           const UnfoldProgressFn& progress)
{
    checkUnfoldInput(in, data);
    const ScatterModel model(data, in.angle);
    const double w = in.channelWidth;
    const double length = in.attenuationLength;
    const int n = channelCount;
    const int fitFirst = firstFittedChannel - 1;  // 0-based
    const std::vector<double> attOut = exitAttenuation(model, length, w);
    // Primaries above the analyser's range still scatter into it (at 90°
    // a 120 keV photon arrives at 97 keV): they are unknowns of the fit up
    // to the energy whose Compton line lies at the top of the range (any
    // higher one is seen by less than half of its photons), within the
    // coefficient table and at most as many again as the range; they are
    // not written.
    const int np = options.aboveRange ? primaryChannels(model, w, data.scatterer.coefficients.back().energy) : n;

    // The model matrix, one column per primary channel.
    std::vector<Column> columns(static_cast<std::size_t>(np));
    std::vector<double> scratch(static_cast<std::size_t>(n), 0.0);
    for (int j = 1; j <= np; ++j) {
        int lo = n, hi = -1;
        for (int s = 0; s < options.subSamples; ++s) {
            const double e = (j - 1 + (s + 0.5) / options.subSamples) * w;
            const double attIn = std::exp(-model.attenuation(e) * length * 0.5);
            spreadLine(model, e, w, attIn, attOut, 1.0 / options.subSamples, [&](int i, double v) {
                scratch[static_cast<std::size_t>(i)] += v;
                lo = std::min(lo, i);
                hi = std::max(hi, i);
            });
        }
        Column& c = columns[static_cast<std::size_t>(j - 1)];
        if (hi < lo) continue;
        c.first = lo;
        c.values.assign(scratch.begin() + lo, scratch.begin() + hi + 1);
        for (int i = lo; i <= hi; ++i) {
            c.total += scratch[static_cast<std::size_t>(i)];
            scratch[static_cast<std::size_t>(i)] = 0.0;
        }
    }

    // Sensitivity of each primary channel inside the fitted channels; solve
    // only for channels seen mostly inside them and not drowned by the
    // attenuation.
    std::vector<double> sensitivity(static_cast<std::size_t>(np), 0.0);
    double best = 0.0;
    for (int j = 0; j < np; ++j) {
        const Column& c = columns[static_cast<std::size_t>(j)];
        double s = 0.0;
        for (std::size_t k = 0; k < c.values.size(); ++k)
            if (c.first + static_cast<int>(k) >= fitFirst) s += c.values[k];
        if (!(s >= 0.5 * c.total)) s = 0.0;
        sensitivity[static_cast<std::size_t>(j)] = s;
        best = std::max(best, s);
    }
    std::vector<int> solved;
    for (int j = 0; j < np; ++j)
        if (best > 0.0 && sensitivity[static_cast<std::size_t>(j)] >= options.minimumSensitivity * best)
            solved.push_back(j);
    // From here on only the fitted channels of each column matter.
    for (int j : solved) {
        Column& c = columns[static_cast<std::size_t>(j)];
        if (c.first < fitFirst) {
            const std::size_t drop = static_cast<std::size_t>(fitFirst - c.first);
            c.values.erase(c.values.begin(), c.values.begin() + static_cast<std::ptrdiff_t>(std::min(drop, c.values.size())));
            c.first = fitFirst;
        }
    }
    if (solved.empty()) throw ConversionError("no primary channel can be seen in the fitted channels");

    std::vector<double> counts(static_cast<std::size_t>(n), 0.0);
    int fitted = 0;
    for (int i = fitFirst; i < n; ++i) {
        counts[static_cast<std::size_t>(i)] = in.counts[static_cast<std::size_t>(i)];
        if (in.counts[static_cast<std::size_t>(i)] > 0) ++fitted;
    }

    // Start: the back-projection of the counts, which is exact for a model
    // without broadening; a floor keeps every solved channel free to grow.
    std::vector<double> p(static_cast<std::size_t>(np), 0.0);
    double startMax = 0.0;
    for (int j : solved) {
        const Column& c = columns[static_cast<std::size_t>(j)];
        double num2 = 0.0, den = 0.0;
        for (std::size_t k = 0; k < c.values.size(); ++k) {
            const int i = c.first + static_cast<int>(k);
            num2 += c.values[k] * counts[static_cast<std::size_t>(i)];
            den += c.values[k] * c.values[k];
        }
        p[static_cast<std::size_t>(j)] = den > 0.0 ? num2 / den : 0.0;
        startMax = std::max(startMax, p[static_cast<std::size_t>(j)]);
    }
    for (int j : solved) p[static_cast<std::size_t>(j)] = std::max(p[static_cast<std::size_t>(j)], 1e-6 * startMax);

    std::vector<double> predicted(static_cast<std::size_t>(n)), ratio(static_cast<std::size_t>(n));
    auto forward = [&]() {
        std::fill(predicted.begin(), predicted.end(), 0.0);
        for (int j : solved) {
            const Column& c = columns[static_cast<std::size_t>(j)];
            const double pj = p[static_cast<std::size_t>(j)];
            if (pj == 0.0) continue;
            for (std::size_t k = 0; k < c.values.size(); ++k)
                predicted[static_cast<std::size_t>(c.first) + k] += c.values[k] * pj;
        }
        double d = 0.0;
        for (int i = fitFirst; i < n; ++i) {
            const double m = predicted[static_cast<std::size_t>(i)];
            const double y = counts[static_cast<std::size_t>(i)];
            if (m > 0.0) {
                d += 2.0 * ((y > 0.0 ? y * std::log(y / m) : 0.0) - (y - m));
                ratio[static_cast<std::size_t>(i)] = y / m;
            } else {
                ratio[static_cast<std::size_t>(i)] = 0.0;
            }
        }
        return d;
    };

    UnfoldResult result;
    double deviance = forward();
    bool converged = false;
    int it = 0;
    // Each iteration multiplies channel j by its EM factor raised to the
    // power ω: ω = 1 is the plain EM step, which never lowers the
    // likelihood; a larger ω moves further along the same direction and is
    // kept only when the deviance falls, otherwise the plain step is taken.
    std::vector<double> factor(static_cast<std::size_t>(np), 1.0), previous;
    while (it < options.maxIterations) {
        ++it;
        for (int j : solved) {
            const Column& c = columns[static_cast<std::size_t>(j)];
            double back = 0.0;
            for (std::size_t k = 0; k < c.values.size(); ++k)
                back += c.values[k] * ratio[static_cast<std::size_t>(c.first) + k];
            factor[static_cast<std::size_t>(j)] = back / sensitivity[static_cast<std::size_t>(j)];
        }
        previous = p;
        for (int j : solved)
            p[static_cast<std::size_t>(j)] *= std::pow(factor[static_cast<std::size_t>(j)], options.relaxation);
        double next = forward();
        if (!(next <= deviance) && options.relaxation != 1.0) {
            for (int j : solved)
                p[static_cast<std::size_t>(j)] = previous[static_cast<std::size_t>(j)] * factor[static_cast<std::size_t>(j)];
            next = forward();
        }
        if (!std::isfinite(next))
            throw ConversionError("the unfolding failed: the fit deviance is not a number after iteration " +
                                  std::to_string(it));
        if (progress) progress(it, next);
        const double gain = deviance - next;
        deviance = next;
        // Stop when the fit is as good as the counting noise allows (the
        // deviance of a Poisson sample is about one per channel), or when
        // it no longer improves.
        if (deviance <= fitted || gain <= options.tolerance * deviance) {
            converged = true;
            break;
        }
    }
    if (!converged)
        throw ConversionError("the unfolding did not converge within " + std::to_string(options.maxIterations) +
                              " iterations (deviance " + numberText(deviance) + " over " + std::to_string(fitted) +
                              " channels with counts)");

    // Normalisation as the standard method's: channels 2..1024 carry the
    // measured total of channels 2..1024.
    double measured = 0.0, primary = 0.0;
    for (int i = 2; i <= n; ++i) {
        measured += in.counts[static_cast<std::size_t>(i - 1)];
        primary += p[static_cast<std::size_t>(i - 1)];
    }
    if (!(primary > 0.0) || !std::isfinite(primary))
        throw ConversionError("the unfolding found no primary photons in channels 2 to 1024");
    const double scale = measured / primary;
    for (int i = 1; i <= n; ++i) {
        const double q = p[static_cast<std::size_t>(i - 1)] * scale;
        if (!(q < 2147483647.0))
            throw ConversionError("channel " + std::to_string(i) + " of the primary spectrum, " + numberText(q) +
                                  " counts, does not fit a 32-bit count");
        result.primary[static_cast<std::size_t>(i - 1)] = static_cast<std::int32_t>(q);
    }
    result.iterations = it;
    result.deviance = deviance;
    result.fittedChannels = fitted;
    result.firstPrimary = solved.front() + 1;
    result.lastPrimary = solved.back() + 1;
    result.primaryChannels = np;
    return result;
}

} // namespace tvconv
