#include "detector/poisson_fit.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tvdet {

bool solveSymmetric(const Matrix& a, std::size_t n, const std::vector<double>& b, std::vector<double>& x)
{
    // Cholesky A = L Lᵀ.
    Matrix l(n * n, 0.0);
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = 0; j <= i; ++j) {
            double sum = a[i * n + j];
            for (std::size_t k = 0; k < j; ++k) sum -= l[i * n + k] * l[j * n + k];
            if (i == j) {
                if (!(sum > 0.0)) return false;
                l[i * n + i] = std::sqrt(sum);
            } else {
                l[i * n + j] = sum / l[j * n + j];
            }
        }
    }
    std::vector<double> y(n);
    for (std::size_t i = 0; i < n; ++i) {
        double sum = b[i];
        for (std::size_t k = 0; k < i; ++k) sum -= l[i * n + k] * y[k];
        y[i] = sum / l[i * n + i];
    }
    x.assign(n, 0.0);
    for (std::size_t i = n; i-- > 0;) {
        double sum = y[i];
        for (std::size_t k = i + 1; k < n; ++k) sum -= l[k * n + i] * x[k];
        x[i] = sum / l[i * n + i];
    }
    return true;
}

bool invertSymmetric(const Matrix& a, std::size_t n, Matrix& inverse)
{
    // Scale to unit diagonal first: the parameters differ by many orders
    // of magnitude.
    std::vector<double> s(n);
    for (std::size_t i = 0; i < n; ++i) {
        if (!(a[i * n + i] > 0.0)) return false;
        s[i] = 1.0 / std::sqrt(a[i * n + i]);
    }
    Matrix scaled(n * n);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < n; ++j) scaled[i * n + j] = a[i * n + j] * s[i] * s[j];
    inverse.assign(n * n, 0.0);
    std::vector<double> e(n), x;
    for (std::size_t j = 0; j < n; ++j) {
        std::fill(e.begin(), e.end(), 0.0);
        e[j] = 1.0;
        if (!solveSymmetric(scaled, n, e, x)) return false;
        for (std::size_t i = 0; i < n; ++i) inverse[i * n + j] = x[i] * s[i] * s[j];
    }
    return true;
}

double poissonDeviance(const std::vector<double>& n, const std::vector<double>& mu)
{
    double d = 0;
    for (std::size_t i = 0; i < n.size(); ++i) {
        const double m = std::max(mu[i], 1e-300);
        d += n[i] > 0 ? m - n[i] + n[i] * std::log(n[i] / m) : m;
    }
    return 2.0 * d;
}

namespace {

constexpr double kFloor = 1e-9;  // smallest expectation of a channel

} // namespace

FitResult fitPoisson(const std::vector<double>& n, const FitProblem& p, std::vector<double> theta,
                     const FitOptions& o)
{
    const std::size_t np = p.parameters;
    auto isFixed = [&](std::size_t k) { return k < p.fixed.size() && p.fixed[k]; };
    auto clampTo = [&](std::vector<double>& t) {
        for (std::size_t k = 0; k < np; ++k) t[k] = std::clamp(t[k], p.lower[k], p.upper[k]);
    };
    clampTo(theta);

    FitResult r;
    std::vector<std::vector<double>> jac(np);
    std::vector<double> mu;
    p.jacobian(theta, mu, jac);
    for (double& m : mu) m = std::max(m, kFloor);
    double dev = poissonDeviance(n, mu);
    double lambda = 1e-3;
    std::vector<double> trial(np), trialMu;

    auto information = [&](const std::vector<std::size_t>& idx, Matrix& f, std::vector<double>& g) {
        const std::size_t m = idx.size();
        f.assign(m * m, 0.0);
        g.assign(m, 0.0);
        std::vector<double> w(mu.size()), resid(mu.size());
        for (std::size_t i = 0; i < mu.size(); ++i) {
            w[i] = 1.0 / mu[i];
            resid[i] = 1.0 - n[i] / mu[i];
        }
        for (std::size_t a = 0; a < m; ++a) {
            const auto& ja = jac[idx[a]];
            double ga = 0;
            for (std::size_t i = 0; i < mu.size(); ++i) ga += resid[i] * ja[i];
            g[a] = ga;
            for (std::size_t b = 0; b <= a; ++b) {
                const auto& jb = jac[idx[b]];
                double s = 0;
                for (std::size_t i = 0; i < mu.size(); ++i) s += ja[i] * jb[i] * w[i];
                f[a * m + b] = f[b * m + a] = s;
            }
        }
    };

    for (r.iterations = 0; r.iterations < o.maxIterations; ++r.iterations) {
        // Free parameters that the gradient does not push against a bound.
        std::vector<double> gAll(np, 0.0);
        for (std::size_t k = 0; k < np; ++k) {
            if (isFixed(k)) continue;
            double s = 0;
            for (std::size_t i = 0; i < mu.size(); ++i) s += (1.0 - n[i] / mu[i]) * jac[k][i];
            gAll[k] = s;
        }
        std::vector<std::size_t> idx;
        for (std::size_t k = 0; k < np; ++k) {
            if (isFixed(k)) continue;
            if (theta[k] <= p.lower[k] && gAll[k] > 0) continue;
            if (theta[k] >= p.upper[k] && gAll[k] < 0) continue;
            idx.push_back(k);
        }
        Matrix f;
        std::vector<double> g;
        information(idx, f, g);
        const std::size_t m = idx.size();
        // The deviance the full Fisher step would gain: gᵀ F⁻¹ g.
        std::vector<double> newton;
        double promised = std::numeric_limits<double>::infinity();
        {
            Matrix fr = f;
            for (std::size_t a = 0; a < m; ++a) fr[a * m + a] *= 1.0 + 1e-12;
            if (solveSymmetric(fr, m, g, newton)) {
                promised = 0;
                for (std::size_t a = 0; a < m; ++a) promised += g[a] * newton[a];
            }
        }
        if (o.progress) o.progress(r.iterations, dev);
        if (promised < o.tolerance) {
            r.converged = true;
            break;
        }
        bool accepted = false;
        for (int inner = 0; inner < 40 && !accepted; ++inner) {
            Matrix a = f;
            for (std::size_t q = 0; q < m; ++q) a[q * m + q] += lambda * f[q * m + q] + 1e-300;
            std::vector<double> rhs(m), step;
            for (std::size_t q = 0; q < m; ++q) rhs[q] = -g[q];
            if (!solveSymmetric(a, m, rhs, step)) {
                lambda *= 10;
                continue;
            }
            trial = theta;
            for (std::size_t q = 0; q < m; ++q) trial[idx[q]] += step[q];
            clampTo(trial);
            p.model(trial, trialMu);
            bool finite = true;
            for (double& v : trialMu) {
                if (!std::isfinite(v)) finite = false;
                v = std::max(v, kFloor);
            }
            const double trialDev = finite ? poissonDeviance(n, trialMu) : std::numeric_limits<double>::infinity();
            if (trialDev < dev) {
                accepted = true;
                theta = trial;
                lambda = std::max(lambda / 3.0, 1e-9);
            } else {
                lambda *= 4.0;
                if (lambda > 1e12) break;
            }
        }
        if (!accepted) {
            // No step lowers the deviance: at the optimum as far as the
            // model's own precision allows.
            r.converged = promised < 100 * o.tolerance;
            break;
        }
        p.jacobian(theta, mu, jac);
        for (double& v : mu) v = std::max(v, kFloor);
        const double before = dev;
        dev = poissonDeviance(n, mu);
        if (o.stallShare > 0 && before - dev < o.stallShare * dev) {
            r.converged = true;
            ++r.iterations;
            break;
        }
    }
    r.theta = theta;
    r.mu = mu;
    r.deviance = dev;
    r.atBound.assign(np, false);
    std::vector<std::size_t> idx;
    for (std::size_t k = 0; k < np; ++k) {
        if (isFixed(k)) continue;
        const double span = p.upper[k] - p.lower[k];
        const double eps = std::isfinite(span) ? 1e-9 * span : 0.0;
        if (theta[k] <= p.lower[k] + eps || theta[k] >= p.upper[k] - eps) {
            r.atBound[k] = true;
            continue;
        }
        idx.push_back(k);
    }
    Matrix f, inv;
    std::vector<double> g;
    information(idx, f, g);
    r.covariance.assign(np * np, 0.0);
    if (invertSymmetric(f, idx.size(), inv)) {
        r.covarianceValid = true;
        for (std::size_t a = 0; a < idx.size(); ++a)
            for (std::size_t b = 0; b < idx.size(); ++b) r.covariance[idx[a] * np + idx[b]] = inv[a * idx.size() + b];
    }
    return r;
}

} // namespace tvdet
