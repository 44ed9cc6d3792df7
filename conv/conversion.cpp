#include "conversion.h"

#include "numbertext.h"
#include "vecmath.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define TVCONV_WIDE_LOOPS 1
#endif

namespace tvconv {

namespace {

// The single-precision constants as the double operands of the formulas.
constexpr double kPi = pi;
constexpr double kHalfTurn = degreesPerHalfTurn;
constexpr double kRest = electronRestEnergy;
constexpr double kLambda = wavelengthConstant;
constexpr double kHalf = 0.5f;
constexpr double kTwo = 2.0f;

float single(double v) { return static_cast<float>(v); }
double wide(float v) { return static_cast<double>(v); }

// A power with the real exponent 2.0.  The exact square rounded once is
// what a compiler makes of pow(v, 2.0); the run-time pow may differ in the
// last bit, which would make results depend on the optimisation level.
double squared(double v) { return v * v; }

std::string channelText(int i) { return "channel " + std::to_string(i); }

// A result that must be a finite positive single-precision number.
bool finitePositive(float v) { return v > 0.0f && v <= FLT_MAX; }

// Truncation toward zero of a count that must fit a 32-bit integer.
bool fitsCount(double v) { return v > -2147483649.0 && v < 2147483648.0; }

// File line of the last coefficient row and of scattering row 45.
std::string lastCoefficientRow(const ScattererData& d)
{
    const int n = static_cast<int>(d.coefficients.size());
    return "row " + std::to_string(n) + ", line " + std::to_string(n + 2) + " of " + d.file;
}
std::string lastScatteringRow(const ScattererData& d)
{
    const int n = static_cast<int>(d.coefficients.size());
    return "row " + std::to_string(scatteringRows) + " of the scattering-function table, line " +
           std::to_string(n + 2 + scatteringRows) + " of " + d.file;
}

// ---- the table lookups, with what depends only on the table worked out once ----

// ln u(J) and ln v(J) rounded to single precision (held as doubles), their
// differences, and ln u(J) unrounded.  Every value is exactly what
// interpolateLogLog computes for the same rows, so lookups through this
// table give bit-identical results.
class LogLogTable {
public:
    LogLogTable(std::span<const float> u, std::span<const double> v)
        : u_(u.begin(), u.end())
    {
        const std::size_t n = u.size();
        lu_.resize(n);
        luExact_.resize(n);
        lv_.resize(n);
        dlu_.assign(n, 0.0);
        dlv_.assign(n, 0.0);
        for (std::size_t k = 0; k < n; ++k) {
            luExact_[k] = std::log(wide(u[k]));
            lu_[k] = wide(single(luExact_[k]));
            lv_[k] = wide(single(std::log(v[k])));
            if (k > 0) {
                dlu_[k] = lu_[k] - lu_[k - 1];
                dlv_[k] = lv_[k] - lv_[k - 1];
            }
        }
    }

    // Row J (0-based, J ≥ 1): the first row from the second on whose
    // abscissa exceeds t.  The search starts at `from`, the row of a nearby
    // target, and walks either way.  Targets are checked to lie below the
    // last abscissa before the conversion starts; the bound only keeps the
    // search inside the table whatever happens.
    std::size_t row(float t, std::size_t from = 1) const
    {
        std::size_t j = from;
        while (j > 1 && u_[j - 1] > t) --j;
        while (u_[j] <= t && j + 1 < u_.size()) ++j;
        return j;
    }

    float scattering(float t, std::size_t j) const
    {
        const double f = (std::log(wide(t)) - lu_[j - 1]) / dlu_[j];
        return single(std::exp(dlv_[j] * f + lv_[j - 1]));
    }

    float coefficient(float t) const
    {
        const std::size_t j = row(t);
        const float lt = single(std::log(wide(t)));
        const float f = single((wide(lt) - luExact_[j - 1]) / dlu_[j]);
        return single(std::exp(dlv_[j] * wide(f) + lv_[j - 1]));
    }

    // The terms of scattering(t[k], J) that come from the table, J found by
    // row() from rows[k], which is then set to J.  Starting each search
    // from the row of a nearby earlier target (the same angle step of the
    // channel before) makes it a single comparison as a rule.
    void rowTerms(const float* t, std::size_t n, std::uint32_t* rows, double* luBelow, double* dluAt, double* dlvAt,
                  double* lvBelow) const
    {
        for (std::size_t k = 0; k < n; ++k) {
            const std::size_t j = row(t[k], rows[k]);
            rows[k] = static_cast<std::uint32_t>(j);
            luBelow[k] = lu_[j - 1];
            dluAt[k] = dlu_[j];
            dlvAt[k] = dlv_[j];
            lvBelow[k] = lv_[j - 1];
        }
    }

    float last() const { return u_.back(); }

private:
    std::vector<float> u_;
    std::vector<double> lu_, luExact_, lv_, dlu_, dlv_;
};

struct Tables {
    std::vector<float> energy, x;
    std::vector<double> scatterCoeff, mu, s;

    explicit Tables(const ScattererData& d)
    {
        for (const CoefficientRow& r : d.coefficients) {
            energy.push_back(r.energy);
            // c1 + c2 enters the logarithm unrounded.
            scatterCoeff.push_back(wide(r.c1) + wide(r.c2));
            mu.push_back(wide(r.mu));
        }
        for (const ScatteringRow& r : d.scattering) {
            x.push_back(r.x);
            s.push_back(wide(r.s));
        }
    }
};

// What the angle sum needs of step j, worked out once for all channels:
// the cosine takes φ before it is rounded, the sines the rounded φ.
struct AngleStep {
    double oneMinusCos;  // 1 − cos φ
    double sinHalf;      // sin(φ / 2.0)
    double sinPhi;       // sin φ
    double sinPhiSq;     // (sin φ)^2.0
};

std::array<AngleStep, angleSteps> makeAngleSteps()
{
    std::array<AngleStep, angleSteps> steps{};
    for (int j = 1; j <= angleSteps; ++j) {
        const double phiExact = (static_cast<double>(j) / kHalfTurn) * kPi;
        const double phi = wide(single(phiExact));
        AngleStep& s = steps[static_cast<std::size_t>(j - 1)];
        s.oneMinusCos = 1.0 - std::cos(phiExact);
        s.sinHalf = std::sin(phi / kTwo);
        s.sinPhi = std::sin(phi);
        s.sinPhiSq = squared(s.sinPhi);
    }
    return steps;
}

// The total cross-sections of a few channels at a time, each the sum over
// φ = 1°..180°, worked out in passes over the steps: the logarithms and
// exponentials of the scattering-function lookups go several at a time,
// and the channels' running sums, each rounded after every addition, are
// carried side by side.  Every value, and the order of each sum, is that of
// taking the steps one by one.
class AngleSums {
public:
    static constexpr std::size_t batch = 8;

    explicit AngleSums(const LogLogTable& sTable) : sTable_(sTable), steps_(makeAngleSteps()) {}

    // sigma[c] for the primary energies e1d[c], c < count ≤ batch.
    void operator()(const double* e1d, float* sigma, std::size_t count)
    {
#if TVCONV_WIDE_LOOPS
        if (vecmath::vectorPath()) {
            sumsWide(e1d, sigma, count);
            return;
        }
#endif
        sums(e1d, sigma, count);
    }

private:
#if TVCONV_WIDE_LOOPS
    // The same passes compiled for AVX2: the loops then go four values at
    // a time.  Only basic operations, each rounded as before, and no fused
    // multiply-adds (the build forbids contracting), so the values are the same.
    __attribute__((target("avx2,fma"))) void sumsWide(const double* e1d, float* sigma, std::size_t count)
    {
        sums(e1d, sigma, count);
    }
#endif

    [[gnu::always_inline]] inline void sums(const double* e1d, float* sigma, std::size_t count)
    {
        for (std::size_t c = 0; c < count; ++c) stepTerms(e1d[c], c);
        float sum[batch] = {};
        for (std::size_t j = 0; j < angleSteps; ++j) {
            const double* term = &term_[j * batch];
            for (std::size_t c = 0; c < batch; ++c) sum[c] = single(term[c] + wide(sum[c]));
        }
        for (std::size_t c = 0; c < count; ++c) sigma[c] = sum[c];
    }

    // The terms of channel slot c's sum.
    [[gnu::always_inline]] inline void stepTerms(double e1d, std::size_t c)
    {
        constexpr std::size_t n = angleSteps;
        const double e1Over511 = e1d / kRest;
        const double lambda = kLambda / e1d;
        for (std::size_t j = 0; j < n; ++j) {
            const AngleStep& st = steps_[j];
            ep_[j] = wide(single(e1d / (st.oneMinusCos * e1Over511 + 1.0)));
            x_[j] = single(st.sinHalf / lambda);
        }
        // x rises from channel to channel: each step's row search starts
        // from its row in the channel before.
        sTable_.rowTerms(x_.data(), n, rows_.data(), luBelow_.data(), dluAt_.data(), dlvAt_.data(), lvBelow_.data());
        vecmath::logOfFloats(x_.data(), logX_.data(), n);
        for (std::size_t j = 0; j < n; ++j)
            arg_[j] = dlvAt_[j] * ((logX_[j] - luBelow_[j]) / dluAt_[j]) + lvBelow_[j];
        vecmath::expToFloats(arg_.data(), s_.data(), n);
        for (std::size_t j = 0; j < n; ++j) {
            const AngleStep& st = steps_[j];
            const double ep = ep_[j];
            const double ratio = ep / e1d;
            term_[j * batch + c] =
                (e1d / ep + ratio - st.sinPhiSq) * st.sinPhi * squared(ratio) * wide(s_[j]) * kPi * kTwo;
        }
    }

    template <typename T>
    using PerStep = std::array<T, angleSteps>;
    template <typename T>
    static PerStep<T> filled(T v)
    {
        PerStep<T> a;
        a.fill(v);
        return a;
    }

    const LogLogTable& sTable_;
    const PerStep<AngleStep> steps_;
    PerStep<float> x_, s_;
    PerStep<std::uint32_t> rows_ = filled(std::uint32_t{1});
    PerStep<double> ep_, luBelow_, dluAt_, dlvAt_, lvBelow_, logX_, arg_;
    std::array<double, angleSteps * batch> term_{};  // step j of slot c at j·batch + c
};

// 1 − cos θ and sin(θ / 2.0) of one angle, worked out once for every
// channel: the formulas below take exactly these values, so a conversion
// that computes them once gives the same results as one per call.
double oneMinusCos(float theta) { return 1.0 - std::cos(wide(theta)); }
double sinOfHalf(float angle) { return std::sin(wide(angle) / kTwo); }

double comptonDenominator(float e, double oneMinusCosTheta)
{
    return kRest - oneMinusCosTheta * wide(e);
}
float primaryEnergyFor(float e, double oneMinusCosTheta)
{
    return single((kRest * wide(e)) / comptonDenominator(e, oneMinusCosTheta));
}
float momentumTransferFor(double sinHalfAngle, float primaryEnergy)
{
    return single(sinHalfAngle / (kLambda / wide(primaryEnergy)));
}

// What every channel needs of the scattering angle θ and of the angles
// φ = 1° and 180° that bound the angle sum.
struct AngleTerms {
    float theta;
    double oneMinusCosTheta;
    double sinHalfTheta;
    double sinHalfFirst;     // φ = 1°, the smallest x of a channel's angle sum
    double sinHalfHalfTurn;  // φ = 180°, the largest

    explicit AngleTerms(std::int32_t degrees)
        : theta(single((static_cast<double>(degrees) / kHalfTurn) * kPi)),
          oneMinusCosTheta(oneMinusCos(theta)),
          sinHalfTheta(sinOfHalf(theta)),
          sinHalfFirst(sinOfHalf(single((1.0 / kHalfTurn) * kPi))),
          sinHalfHalfTurn(sinOfHalf(single((static_cast<double>(angleSteps) / kHalfTurn) * kPi)))
    {
    }
};

} // namespace

float interpolateLogLog(std::span<const float> u, std::span<const double> v, float t, LookupKind kind)
{
    const std::size_t n = u.size();
    if (n < 2 || v.size() != n)
        throw ConversionError("log-log interpolation needs a table of at least two rows with one value per row");
    if (!(t > 0.0f))
        throw ConversionError("log-log interpolation at " + numberText(t) + ": the target must be positive");
    if (!(t < u[n - 1]))
        throw ConversionError("log-log interpolation at " + numberText(t) + ": the target lies at or beyond the last abscissa " +
                              numberText(u[n - 1]) + " of the table");
    std::size_t j = 1;  // J = 2
    while (u[j] <= t) ++j;

    const float lu2 = single(std::log(wide(u[j])));
    const float lu1 = single(std::log(wide(u[j - 1])));
    const float lv2 = single(std::log(v[j]));
    const float lv1 = single(std::log(v[j - 1]));
    if (kind == LookupKind::scatteringFunction) {
        const double f = (std::log(wide(t)) - wide(lu1)) / (wide(lu2) - wide(lu1));
        return single(std::exp((wide(lv2) - wide(lv1)) * f + wide(lv1)));
    }
    const float lt = single(std::log(wide(t)));
    const float f = single((wide(lt) - std::log(wide(u[j - 1]))) / (wide(lu2) - wide(lu1)));
    return single(std::exp((wide(lv2) - wide(lv1)) * wide(f) + wide(lv1)));
}

float angleInRadians(std::int32_t degrees)
{
    return single((static_cast<double>(degrees) / kHalfTurn) * kPi);
}

ChannelEnergies channelEnergies(int channel, float width)
{
    const double w = wide(width);
    ChannelEnergies e{};
    e.centre = single(static_cast<double>(channel) * w - w * kHalf);
    e.lower = single(wide(e.centre) - w * kHalf);
    e.upper = single(w * kHalf + wide(e.centre));
    return e;
}

bool hasPrimaryEnergy(float e, float theta) { return comptonDenominator(e, oneMinusCos(theta)) > 0.0; }

float primaryEnergy(float e, float theta) { return primaryEnergyFor(e, oneMinusCos(theta)); }

float momentumTransfer(float angle, float primaryEnergy)
{
    return momentumTransferFor(sinOfHalf(angle), primaryEnergy);
}

std::vector<Share> spreadShares(float e1lo, float e1hi, float width)
{
    std::vector<Share> shares;
    const double w = wide(width);
    const double qlo = std::trunc(wide(e1lo) / w);
    const double qhi = std::trunc(wide(e1hi) / w);
    // Channels above 1024 receive nothing; bounding the indices first keeps
    // the conversion to int defined for any energy.
    if (!(qlo < channelCount)) return shares;
    const int lo = static_cast<int>(qlo) + 1;
    const int hi = qhi < channelCount ? static_cast<int>(qhi) + 1 : channelCount + 1;
    const double delta = wide(e1hi) - wide(e1lo);
    for (int m = lo; m <= std::min(hi, channelCount); ++m) {
        float f;
        if (m == lo && m == hi)
            f = 1.0f;
        else if (m == lo)
            f = single((static_cast<double>(m) * w - wide(e1lo)) / delta);
        else if (m == hi)
            f = single((wide(e1hi) - static_cast<double>(m - 1) * w) / delta);
        else
            f = single(w / delta);
        shares.push_back(Share{m, f});
    }
    return shares;
}

int endChannel(const Spectrum& counts)
{
    for (int i = endSearchStart; i <= channelCount; ++i)
        if (counts[static_cast<std::size_t>(i - 1)] == 0) return i;
    return channelCount;
}

void checkConversionInput(const ConversionInput& in, const ScattererData& d)
{
    checkScattererTables(d);
    const float w = in.channelWidth;
    if (!(w > 0.0f) || !(w <= FLT_MAX))
        throw ConversionError("the channel width is " + numberText(w) + " keV per channel; it must be above 0");
    for (int i = 1; i <= channelCount; ++i)
        if (in.counts[static_cast<std::size_t>(i - 1)] < 0)
            throw ConversionError(channelText(i) + " holds a negative count (" +
                                  std::to_string(in.counts[static_cast<std::size_t>(i - 1)]) + ")");

    const float theta = angleInRadians(in.angle);
    if (in.angle == 0)
        throw ConversionError("a scattering angle of 0 degrees cannot be converted: the momentum transfer "
                              "sin(angle/2)/wavelength would be 0, and the scattering function is looked up "
                              "by its logarithm");
    if (!(std::sin(wide(theta) / kTwo) > 0.0))
        throw ConversionError("a scattering angle of " + std::to_string(in.angle) +
                              " degrees gives no positive momentum transfer sin(angle/2)/wavelength; "
                              "use an angle from 1 to 180 degrees");

    const int k = endChannel(in.counts);
    bool anyCount = false;
    for (int i = firstConvertedChannel; i <= k; ++i) anyCount = anyCount || in.counts[static_cast<std::size_t>(i - 1)] > 0;
    if (!anyCount)
        throw ConversionError("channels " + std::to_string(firstConvertedChannel) + " to " + std::to_string(k) +
                              " hold no counts: there is nothing to convert (the primary total would be 0)");

    const float lastEnergy = d.coefficients.back().energy;
    const float lastX = d.scattering.back().x;
    const AngleTerms angle(in.angle);
    for (int i = firstConvertedChannel; i <= k; ++i) {
        const ChannelEnergies e = channelEnergies(i, w);
        const auto where = [i] { return channelText(i); };
        if (!(e.lower > 0.0f) || !(e.upper <= FLT_MAX))
            throw ConversionError(where() + ": its energies at " + numberText(w) +
                                  " keV per channel cannot be held as numbers");
        for (const auto& [edge, name] : {std::pair{e.lower, "lower edge"}, std::pair{e.centre, "centre"},
                                         std::pair{e.upper, "upper edge"}}) {
            if (!(comptonDenominator(edge, angle.oneMinusCosTheta) > 0.0))
                throw ConversionError(where() + ": its " + std::string(name) + " " + numberText(edge) +
                                      " keV cannot come from Compton scattering at " + std::to_string(in.angle) +
                                      " degrees (no positive primary energy: (1 - cos angle) x energy must stay "
                                      "below 511 keV)");
            const float e1 = primaryEnergyFor(edge, angle.oneMinusCosTheta);
            if (!finitePositive(e1))
                throw ConversionError(where() + ": the primary energy of its " + std::string(name) + " " + numberText(edge) +
                                      " keV at " + std::to_string(in.angle) + " degrees is too large to compute");
        }
        const float e1 = primaryEnergyFor(e.centre, angle.oneMinusCosTheta);
        if (!(e1 < lastEnergy))
            throw ConversionError(where() + ": the primary energy " + numberText(e1) +
                                  " keV lies at or beyond the last energy " + numberText(lastEnergy) +
                                  " keV of the coefficient table (" + lastCoefficientRow(d) + ")");
        const float xTheta = momentumTransferFor(angle.sinHalfTheta, e1);
        const float xMax = momentumTransferFor(angle.sinHalfHalfTurn, e1);
        for (const float x : {xTheta, xMax})
            if (!(x < lastX))
                throw ConversionError(where() + ": the momentum transfer x = " + numberText(x) +
                                      " 1/A (primary energy " + numberText(e1) + " keV" +
                                      (x == xMax ? ", scattering angle 180 degrees" : "") +
                                      ") lies at or beyond the last x = " + numberText(lastX) + " 1/A (" +
                                      lastScatteringRow(d) + ")");
        if (!(momentumTransferFor(angle.sinHalfFirst, e1) > 0.0f) || !(xTheta > 0.0f))
            throw ConversionError(where() + ": the momentum transfer at primary energy " + numberText(e1) +
                                  " keV is too small to take its logarithm");
    }

    const float eFirst = single(static_cast<double>(firstAttenuatedChannel) * wide(w));
    const float eLast = single(static_cast<double>(channelCount) * wide(w));
    if (!(eFirst > 0.0f))
        throw ConversionError(channelText(firstAttenuatedChannel) + ": its energy " + numberText(eFirst) +
                              " keV is too small for the attenuation correction");
    if (!(eLast < lastEnergy))
        throw ConversionError("the attenuation correction needs the coefficient table up to " + numberText(eLast) +
                              " keV (channel 1024), but its last energy is " + numberText(lastEnergy) + " keV (" +
                              lastCoefficientRow(d) + ")");
}

Spectrum convertSpectrum(const ConversionInput& in, const ScattererData& d, const ProgressFn& progress)
{
    checkConversionInput(in, d);

    const Tables tables(d);
    const LogLogTable sTable(tables.x, tables.s);
    const LogLogTable cTable(tables.energy, tables.scatterCoeff);
    const LogLogTable muTable(tables.energy, tables.mu);
    const auto angleSums = std::make_unique<AngleSums>(sTable);

    const double w = wide(in.channelWidth);
    const auto count = [&](int i) { return in.counts[static_cast<std::size_t>(i - 1)]; };

    // 1. Angle, and what the channel loop needs of it.
    const AngleTerms angle(in.angle);
    const float theta = angle.theta;
    const double sinThetaSq = squared(std::sin(wide(theta)));

    // 2. Measured total without channel 1.
    float totalMeasured = 0.0f;
    for (int i = 2; i <= channelCount; ++i) totalMeasured = single(wide(totalMeasured) + count(i));

    // 3. End channel.
    const int k = endChannel(in.counts);

    // 4. Channels 21..K onto the primary grid.  The total cross-sections
    // are worked out a batch of channels ahead.
    std::array<float, channelCount> primary{};
    std::array<float, AngleSums::batch> sigmaAhead{};
    for (int i = firstConvertedChannel; i <= k; ++i) {
        const std::size_t slot = static_cast<std::size_t>(i - firstConvertedChannel) % AngleSums::batch;
        if (slot == 0) {
            std::array<double, AngleSums::batch> e1Ahead{};
            const std::size_t count = std::min<std::size_t>(AngleSums::batch, static_cast<std::size_t>(k - i + 1));
            for (std::size_t c = 0; c < count; ++c)
                e1Ahead[c] = wide(primaryEnergyFor(channelEnergies(i + static_cast<int>(c), in.channelWidth).centre,
                                                   angle.oneMinusCosTheta));
            (*angleSums)(e1Ahead.data(), sigmaAhead.data(), count);
        }
        if (progress) progress(i);
        // The channel named in an error message, built only when one is thrown.
        const auto where = [i] { return channelText(i); };

        const ChannelEnergies e = channelEnergies(i, in.channelWidth);
        const float e1 = primaryEnergyFor(e.centre, angle.oneMinusCosTheta);
        const float e1lo = primaryEnergyFor(e.lower, angle.oneMinusCosTheta);
        const float e1hi = primaryEnergyFor(e.upper, angle.oneMinusCosTheta);
        const double e0d = wide(e.centre);
        const double e1d = wide(e1);

        // Differential cross-section at θ.
        const float xTheta = momentumTransferFor(angle.sinHalfTheta, e1);
        const float sTheta = sTable.scattering(xTheta, sTable.row(xTheta));
        const float diff = single((e1d / e0d + e0d / e1d - sinThetaSq) * squared(e0d / e1d) * wide(sTheta));

        // Total cross-section: the sum over φ = 1°..180°, x rising with φ.
        const float sigma = sigmaAhead[slot];
        if (!finitePositive(sigma))
            throw ConversionError(where() + ": the total cross-section came out as " + numberText(sigma) +
                                  " (overflow or no scattering at all); the angular weight cannot be formed");

        const float weight = single(wide(diff) / wide(sigma));
        if (!finitePositive(weight))
            throw ConversionError(where() + ": the angular weight came out as " + numberText(weight) +
                                  " (differential cross-section " + numberText(diff) + ", total " + numberText(sigma) +
                                  "); the counts cannot be divided by it");
        const float coeff = cTable.coefficient(e1);
        if (!finitePositive(coeff))
            throw ConversionError(where() + ": the scattering coefficient at " + numberText(e1) + " keV came out as " +
                                  numberText(coeff) + "; the counts cannot be divided by it");

        // Spreading onto the primary grid.
        const double n = static_cast<double>(count(i));
        for (const Share& sh : spreadShares(e1lo, e1hi, in.channelWidth)) {
            float& p = primary[static_cast<std::size_t>(sh.channel - 1)];
            p = single(n / wide(weight) / wide(coeff) * wide(sh.f) + wide(p));
            if (!(std::fabs(p) <= FLT_MAX))
                throw ConversionError(where() + ": the primary count of channel " + std::to_string(sh.channel) +
                                      " overflows");
        }
    }

    // 5. Primary total without channel 1.
    float totalPrimary = 0.0f;
    for (int m = 2; m <= channelCount; ++m)
        totalPrimary = single(wide(totalPrimary) + wide(primary[static_cast<std::size_t>(m - 1)]));
    if (!finitePositive(totalPrimary))
        throw ConversionError("the primary total T_p of channels 2 to 1024 came out as " + numberText(totalPrimary) +
                              "; the spectrum cannot be normalised to the measured total");

    // 6. Normalisation to the measured total.
    Spectrum q{};
    for (int m = 1; m <= channelCount; ++m) {
        const double v = wide(primary[static_cast<std::size_t>(m - 1)]) * wide(totalMeasured) / wide(totalPrimary);
        if (!fitsCount(v))
            throw ConversionError(channelText(m) + " (" + numberText(single(static_cast<double>(m) * w)) +
                                  " keV): the normalised count " + numberText(v) + " does not fit a 32-bit integer");
        q[static_cast<std::size_t>(m - 1)] = static_cast<std::int32_t>(v);
    }

    // 7. Attenuation of the primary beam in the scatterer.
    const double length = wide(in.attenuationLength);
    for (int m = firstAttenuatedChannel; m <= channelCount; ++m) {
        const float em = single(static_cast<double>(m) * w);
        const float mu = muTable.coefficient(em);
        const double a = std::exp(-wide(mu) * length);
        if (!(a <= DBL_MAX) || !std::isfinite(wide(mu)))
            throw ConversionError(channelText(m) + " (" + numberText(em) + " keV): the attenuation factor exp(-mu L) "
                                  "overflows for mu = " + numberText(mu) + " 1/cm and L = " + numberText(in.attenuationLength) + " cm");
        if (a > 0.0) {
            std::int32_t& qm = q[static_cast<std::size_t>(m - 1)];
            const double v = static_cast<double>(qm) / a;
            if (!fitsCount(v))
                throw ConversionError(channelText(m) + " (" + numberText(em) + " keV): the count " + std::to_string(qm) +
                                      " corrected for attenuation (mu = " + numberText(mu) + " 1/cm, L = " +
                                      numberText(in.attenuationLength) + " cm) becomes " + numberText(v) +
                                      ", which does not fit a 32-bit integer; the self-attenuation length is too large");
            qm = static_cast<std::int32_t>(v);
        }
    }
    return q;
}

} // namespace tvconv
