// Poisson maximum-likelihood fit of a model to counts: minimises the
// deviance D = 2 Σ (μ - n + n ln(n/μ)) by Levenberg–Marquardt steps on the
// Fisher information (Fisher scoring with a trust region), within bounds.
// The standard uncertainties come from the inverse of the Fisher
// information Σ (∂μ/∂θ)(∂μ/∂θ)ᵀ/μ at the optimum.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace tvdet {

// Dense symmetric matrix helpers (row-major n×n).
using Matrix = std::vector<double>;
// Solves A x = b for a symmetric positive definite A (Cholesky); false when
// A is not positive definite.
bool solveSymmetric(const Matrix& a, std::size_t n, const std::vector<double>& b, std::vector<double>& x);
// The inverse of a symmetric positive definite matrix; false when singular.
bool invertSymmetric(const Matrix& a, std::size_t n, Matrix& inverse);

struct FitProblem {
    std::size_t parameters = 0;
    std::vector<double> lower, upper;  // bounds (use ±infinity for none)
    std::vector<bool> fixed;           // held at their start value
    // Expected counts of every fitted channel.
    std::function<void(const std::vector<double>& theta, std::vector<double>& mu)> model;
    // Expected counts and their derivatives: jacobian[p][i] = ∂μ_i/∂θ_p
    // (rows of fixed parameters may be left empty).
    std::function<void(const std::vector<double>& theta, std::vector<double>& mu,
                       std::vector<std::vector<double>>& jacobian)>
        jacobian;
};

struct FitOptions {
    int maxIterations = 200;
    // Converged when the deviance the next step promises to gain is below this.
    double tolerance = 1e-3;
    // Also converged when a step gains less than this share of the
    // deviance (for preliminary fits that only need to come close).
    double stallShare = 0;
    std::function<void(int iteration, double deviance)> progress;
};

struct FitResult {
    std::vector<double> theta;
    std::vector<double> mu;
    double deviance = 0;
    int iterations = 0;
    bool converged = false;
    std::vector<bool> atBound;             // free parameters that ended on a bound
    Matrix covariance;                     // inverse Fisher information (0 rows/columns for fixed ones)
    bool covarianceValid = false;
};

// The Poisson deviance of counts n against expectations mu.
double poissonDeviance(const std::vector<double>& n, const std::vector<double>& mu);

FitResult fitPoisson(const std::vector<double>& counts, const FitProblem& problem, std::vector<double> start,
                     const FitOptions& options);

} // namespace tvdet
