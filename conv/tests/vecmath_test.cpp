#include "conv/vecmath.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

namespace tvconv::vecmath {
namespace {

// Whatever path the processor takes, every value must be the library's.
// bench/vecmath_check runs the logarithm over every single-precision value.

std::uint64_t bitsOf(double v) { return std::bit_cast<std::uint64_t>(v); }

TEST(VectorMath, LogarithmOfSpreadSinglePrecisionValuesIsTheLibrarys)
{
    // Every 61st bit pattern from +0 through the infinities and NaNs, in
    // blocks of odd length so that the four-lane part and the rest both run.
    std::vector<float> x;
    std::vector<double> out;
    std::size_t compared = 0;
    for (std::uint64_t bits = 0; bits <= 0xffffffffULL;) {
        x.clear();
        for (int k = 0; k < 4099 && bits <= 0xffffffffULL; ++k, bits += 61)
            x.push_back(std::bit_cast<float>(static_cast<std::uint32_t>(bits)));
        out.assign(x.size(), 0.0);
        logOfFloats(x.data(), out.data(), x.size());
        for (std::size_t k = 0; k < x.size(); ++k) {
            const double want = std::log(static_cast<double>(x[k]));
            if (std::isnan(want)) {
                ASSERT_TRUE(std::isnan(out[k])) << "x = " << x[k];
            } else {
                ASSERT_EQ(bitsOf(out[k]), bitsOf(want)) << "x = " << x[k];
            }
        }
        compared += x.size();
    }
    EXPECT_GT(compared, 70'000'000u);
}

TEST(VectorMath, LogarithmNearOneAndAtTheEndsOfTheRange)
{
    std::vector<float> x;
    for (float v = 1.0f, w = 1.0f; x.size() < 20000;) {
        x.push_back(v);
        x.push_back(w);
        v = std::nextafter(v, 2.0f);
        w = std::nextafter(w, 0.0f);
    }
    for (float v : {FLT_MIN, std::nextafter(FLT_MIN, 1.0f), FLT_MAX, std::nextafter(FLT_MAX, 0.0f), 0.5f, 2.0f,
                    std::numeric_limits<float>::denorm_min(), 0.0f, -0.0f, -1.0f})
        x.push_back(v);
    std::vector<double> out(x.size());
    logOfFloats(x.data(), out.data(), x.size());
    for (std::size_t k = 0; k < x.size(); ++k) {
        const double want = std::log(static_cast<double>(x[k]));
        if (std::isnan(want))
            EXPECT_TRUE(std::isnan(out[k])) << "x = " << x[k];
        else
            EXPECT_EQ(bitsOf(out[k]), bitsOf(want)) << "x = " << x[k];
    }
}

void expectExponentialsAreTheLibrarys(const std::vector<double>& a)
{
    std::vector<float> out(a.size());
    expToFloats(a.data(), out.data(), a.size());
    for (std::size_t k = 0; k < a.size(); ++k) {
        const float want = static_cast<float>(std::exp(a[k]));
        if (std::isnan(want))
            ASSERT_TRUE(std::isnan(out[k])) << "a = " << a[k];
        else
            ASSERT_EQ(std::bit_cast<std::uint32_t>(out[k]), std::bit_cast<std::uint32_t>(want))
                << "a = " << std::hexfloat << a[k];
    }
}

TEST(VectorMath, ExponentialRoundedToSinglePrecisionIsTheLibrarys)
{
    std::mt19937_64 rng(20261209);
    std::uniform_real_distribution<double> wide(-110.0, 110.0), narrow(-3.0, 3.0);
    std::vector<double> a;
    for (int k = 0; k < 3'000'000; ++k) a.push_back(k % 2 ? wide(rng) : narrow(rng));
    // The range limits, overflow, underflow to subnormal and zero, NaN.
    for (double v : {0.0, -0.0, 80.0, -80.0, std::nextafter(80.0, 81.0), std::nextafter(-80.0, -81.0), 88.7, 89.0,
                     -87.4, -103.0, -104.0, -800.0, 800.0, 1e-300, -1e-300, std::numeric_limits<double>::infinity(),
                     -std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()})
        a.push_back(v);
    expectExponentialsAreTheLibrarys(a);
}

TEST(VectorMath, ExponentialAtSinglePrecisionRoundingBoundaries)
{
    // Arguments whose exponential lies within a few units of double
    // precision of the midpoint between two single-precision numbers: the
    // cases a four-lane value must leave to the library.
    std::mt19937 rng(31);
    std::uniform_int_distribution<std::uint32_t> pattern(std::bit_cast<std::uint32_t>(1.2e-34f),
                                                         std::bit_cast<std::uint32_t>(5.0e34f));
    std::vector<double> a;
    for (int k = 0; k < 200'000; ++k) {
        const float f = std::bit_cast<float>(pattern(rng));
        const double mid = (static_cast<double>(f) + static_cast<double>(std::nextafter(f, FLT_MAX))) / 2;
        double arg = std::log(mid);
        a.push_back(arg);
        for (int step = 0; step < 3; ++step) {
            arg = std::nextafter(arg, 1000.0);
            a.push_back(arg);
        }
    }
    expectExponentialsAreTheLibrarys(a);
}

TEST(VectorMath, BothPathsGiveTheSameValues)
{
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<float> x(1e-4f, 30.0f);
    std::uniform_real_distribution<double> a(-60.0, 10.0);
    std::vector<float> xs(1001), e1(1001), e2(1001);
    std::vector<double> as(1001), l1(1001), l2(1001);
    for (std::size_t k = 0; k < xs.size(); ++k) {
        xs[k] = x(rng);
        as[k] = a(rng);
    }
    logOfFloats(xs.data(), l1.data(), xs.size());
    expToFloats(as.data(), e1.data(), as.size());
    allowVectorPath(false);
    EXPECT_FALSE(vectorPath());
    logOfFloats(xs.data(), l2.data(), xs.size());
    expToFloats(as.data(), e2.data(), as.size());
    allowVectorPath(true);
    EXPECT_EQ(l1, l2);
    EXPECT_EQ(e1, e2);
}

} // namespace
} // namespace tvconv::vecmath
