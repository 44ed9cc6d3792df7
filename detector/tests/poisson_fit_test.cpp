// The Poisson maximum-likelihood fit: it finds the parameters of a peak on
// a background, its standard uncertainties describe the spread over
// repeated measurements, and it respects bounds.
#include <gtest/gtest.h>

#include <cmath>

#include "detector/poisson_fit.h"
#include "detector/random.h"

namespace tvdet {
namespace {

// A Gaussian peak (area, centre, sigma) on a flat background, 100 channels.
void peakModel(const std::vector<double>& t, std::vector<double>& mu)
{
    mu.assign(100, 0.0);
    for (int i = 0; i < 100; ++i) {
        const double x = i + 0.5;
        mu[static_cast<std::size_t>(i)] =
            t[0] * std::exp(-0.5 * (x - t[1]) * (x - t[1]) / (t[2] * t[2])) / (std::sqrt(2 * M_PI) * t[2]) + t[3];
    }
}

FitProblem peakProblem()
{
    FitProblem p;
    p.parameters = 4;
    p.lower = {0, 0, 0.1, 0};
    p.upper = {1e9, 100, 50, 1e9};
    p.model = peakModel;
    p.jacobian = [](const std::vector<double>& t, std::vector<double>& mu, std::vector<std::vector<double>>& j) {
        peakModel(t, mu);
        j.assign(4, std::vector<double>(100));
        for (std::size_t k = 0; k < 4; ++k) {
            std::vector<double> moved = t, m2;
            const double h = 1e-6 * std::max(1.0, std::abs(t[k]));
            moved[k] += h;
            peakModel(moved, m2);
            for (std::size_t i = 0; i < 100; ++i) j[k][i] = (m2[i] - mu[i]) / h;
        }
    };
    return p;
}

std::vector<double> draw(const std::vector<double>& truth, Rng& rng)
{
    std::vector<double> mu, n;
    peakModel(truth, mu);
    for (double m : mu) {
        // Poisson by inversion (small means) or the normal approximation.
        if (m > 50) {
            n.push_back(std::max(0.0, std::round(m + std::sqrt(m) * rng.normal())));
            continue;
        }
        double p = std::exp(-m), c = p, u = rng.uniform();
        int k = 0;
        while (u > c) {
            ++k;
            p *= m / k;
            c += p;
        }
        n.push_back(k);
    }
    return n;
}

TEST(PoissonFit, UncertaintiesDescribeTheSpreadOverRepeatedMeasurements)
{
    const std::vector<double> truth = {3000, 47.3, 4.2, 2.0};
    const FitProblem p = peakProblem();
    Rng rng(5);
    const int repeats = 2000;
    std::vector<double> pullSum(4, 0), pullSq(4, 0);
    for (int r = 0; r < repeats; ++r) {
        const auto n = draw(truth, rng);
        const FitResult f = fitPoisson(n, p, {2000, 45, 6, 1}, FitOptions{});
        ASSERT_TRUE(f.converged);
        ASSERT_TRUE(f.covarianceValid);
        for (std::size_t k = 0; k < 4; ++k) {
            const double pull = (f.theta[k] - truth[k]) / std::sqrt(f.covariance[k * 4 + k]);
            pullSum[k] += pull;
            pullSq[k] += pull * pull;
        }
    }
    for (std::size_t k = 0; k < 4; ++k) {
        const double mean = pullSum[k] / repeats;
        const double sd = std::sqrt(pullSq[k] / repeats - mean * mean);
        EXPECT_NEAR(mean, 0.0, 0.2) << k;
        EXPECT_NEAR(sd, 1.0, 0.12) << k << " mean " << mean;
    }
}

TEST(PoissonFit, StopsAtABoundAndSaysSo)
{
    // No background in the counts, and the background held at or above 0.
    std::vector<double> truth = {5000, 50, 3, 0};
    FitProblem p = peakProblem();
    Rng rng(8);
    const auto n = draw(truth, rng);
    const FitResult f = fitPoisson(n, p, {4000, 49, 4, 5}, FitOptions{});
    EXPECT_TRUE(f.converged);
    EXPECT_GE(f.theta[3], 0.0);
    if (f.theta[3] == 0.0) {
        EXPECT_TRUE(f.atBound[3]);
    }
    EXPECT_NEAR(f.theta[1], 50, 0.3);
}

TEST(PoissonFit, FixedParametersStayAndTheDevianceIsPoissons)
{
    FitProblem p = peakProblem();
    p.fixed = {false, false, true, false};
    Rng rng(9);
    const auto n = draw({2000, 30, 2.5, 1.0}, rng);
    const FitResult f = fitPoisson(n, p, {1500, 31, 3.0, 1.5}, FitOptions{});
    EXPECT_EQ(f.theta[2], 3.0);
    EXPECT_EQ(f.covariance[2 * 4 + 2], 0.0);
    EXPECT_NEAR(f.deviance, poissonDeviance(n, f.mu), 1e-9 * f.deviance);
    // 2 Σ (μ - n + n ln(n/μ)): zero counts count 2μ.
    EXPECT_DOUBLE_EQ(poissonDeviance({0.0, 4.0}, {1.5, 4.0}), 3.0);
}

TEST(SymmetricSolve, SolvesAndInvertsAndRefusesWhatIsNotPositiveDefinite)
{
    const Matrix a = {4, 1, 0, 1, 3, 1, 0, 1, 2};
    std::vector<double> x;
    ASSERT_TRUE(solveSymmetric(a, 3, {1, 2, 3}, x));
    for (std::size_t i = 0; i < 3; ++i) {
        double s = 0;
        for (std::size_t j = 0; j < 3; ++j) s += a[i * 3 + j] * x[j];
        EXPECT_NEAR(s, i + 1.0, 1e-12);
    }
    Matrix inv;
    ASSERT_TRUE(invertSymmetric(a, 3, inv));
    for (std::size_t i = 0; i < 3; ++i)
        for (std::size_t j = 0; j < 3; ++j) {
            double s = 0;
            for (std::size_t k = 0; k < 3; ++k) s += a[i * 3 + k] * inv[k * 3 + j];
            EXPECT_NEAR(s, i == j ? 1.0 : 0.0, 1e-12);
        }
    EXPECT_FALSE(solveSymmetric({1, 2, 2, 1}, 2, {1, 1}, x));
    EXPECT_FALSE(invertSymmetric({1, 1, 1, 1}, 2, inv));
}

} // namespace
} // namespace tvdet
