#include "strip/unfold.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

namespace tvstrip {

namespace {

double channelCentre(int channel, double w) { return (channel - 0.5) * w; }

// Sum of a[i] * b[i] over n terms, in eight interleaved partial sums so
// that the compiler can use vector instructions without reordering any
// single sum.
float dot(const float* a, const float* b, int n)
{
    float acc[8] = {};
    int i = 0;
    for (; i + 8 <= n; i += 8)
        for (int l = 0; l < 8; ++l)
            acc[l] += a[i + l] * b[i + l];
    float tail = 0.0f;
    for (; i < n; ++i)
        tail += a[i] * b[i];
    return ((acc[0] + acc[1]) + (acc[2] + acc[3])) + ((acc[4] + acc[5]) + (acc[6] + acc[7])) + tail;
}

// Upper bound of the extrapolation factor: below 1 keeps the pushed
// estimate from overshooting where the iteration has slowed down.
constexpr double kMaxExtrapolation = 0.95;

// The detector model A = G * D on the channels first..last:
//  D: photons incident in channel j (at its centre) -> recorded energy on
//     the calibrated scale, histogrammed into channels 1..j (a recorded
//     energy never exceeds the photon energy);
//  G: the resolution, a Gaussian of the profile's FWHM at the recorded
//     energy, widened by the channel's own width, from channel i to the
//     measured channels first..last.
// D is held by incident channel, so that both products run over
// contiguous memory.
class DetectorModel {
public:
    DetectorModel(const UnfoldResponse& r, float kevPerChannel, const UnfoldRange& range)
        : first_(range.first), last_(range.lastIncident), rows_(range.last)
    {
        const double w = kevPerChannel;
        const int n = last_ + 1;
        // The loss from a channel's centre energy to the edges of the
        // channels below it is (k + 1/2) w for the k-th channel down,
        // whatever the channel: per node, the share recorded k channels
        // below is one difference of its cumulative distribution.
        std::vector<std::pair<std::size_t, double>> mix(static_cast<std::size_t>(n));
        std::vector<std::vector<float>> shares(r.nodes.size());
        for (int j = first_; j <= last_; ++j) {
            mix[static_cast<std::size_t>(j)] = bracket(r, channelCentre(j, w));
            for (std::size_t q : {mix[static_cast<std::size_t>(j)].first, mix[static_cast<std::size_t>(j)].first + 1}) {
                auto& sh = shares[q];
                if (!sh.empty())
                    continue;
                sh.assign(static_cast<std::size_t>(last_), 0.0f);
                // Walk the node's loss bins once: the photons recorded with
                // a loss below each channel edge, linear within a bin.
                const auto& c = r.nodes[q].counts;
                const double perPhoton = 1.0 / static_cast<double>(r.photonsPerNode);
                std::size_t b = 0;
                double sum = 0.0, below = 0.0;
                for (int k = 0; k < last_; ++k) {
                    const double pos = (k + 0.5) * w / r.lossBinKeV;
                    while (b < c.size() && static_cast<double>(b + 1) <= pos)
                        sum += c[b++];
                    const double above = b < c.size() ? sum + (pos - static_cast<double>(b)) * c[b] : sum;
                    sh[static_cast<std::size_t>(k)] = static_cast<float>((above - below) * perPhoton);
                    below = above;
                }
            }
        }
        // D by incident channel j: entries for recorded channels 1..j.
        dRowStart_.assign(static_cast<std::size_t>(n) + 1, 0);
        for (int j = first_; j <= last_; ++j)
            dRowStart_[static_cast<std::size_t>(j) + 1] = static_cast<std::size_t>(j);
        for (int j = 1; j <= n; ++j)
            dRowStart_[static_cast<std::size_t>(j)] += dRowStart_[static_cast<std::size_t>(j) - 1];
        d_.assign(dRowStart_.back(), 0.0f);
        for (int j = first_; j <= last_; ++j) {
            const auto [node, t] = mix[static_cast<std::size_t>(j)];
            const float a = static_cast<float>(1.0 - t), b = static_cast<float>(t);
            const float* lo = shares[node].data();
            const float* hi = shares[node + 1].data();
            float* row = &d_[dRowStart_[static_cast<std::size_t>(j)]];
            // row[i - 1] is recorded channel i, k = j - i channels down.  The
            // two nodes are mixed at the same loss, so that what keeps its
            // distance from the photon energy (the full-energy peak and its
            // tail, the escape peaks) stays as sharp as at the nodes.
            for (int i = 1; i <= j; ++i)
                row[i - 1] = a * lo[j - i] + b * hi[j - i];
        }

        // G: one band per recorded channel.
        const double sigmaPerFwhm = 1.0 / (2.0 * std::sqrt(2.0 * std::log(2.0)));
        gFirst_.assign(static_cast<std::size_t>(n), 0);
        gStart_.assign(static_cast<std::size_t>(n) + 1, 0);
        g_.clear();
        for (int i = 1; i <= last_; ++i) {
            const double c = channelCentre(i, w);
            const double s = r.profile.fwhmKeV(std::max(c, 0.0)) * sigmaPerFwhm;
            const double sigma = std::sqrt(s * s + w * w / 12.0);
            const int reach = static_cast<int>(std::ceil(6.0 * sigma / w)) + 1;
            const int lo = std::max(first_, i - reach);
            const int hi = std::min(rows_, i + reach);
            gFirst_[static_cast<std::size_t>(i)] = lo;
            const auto phi = [&](double x) { return 0.5 * std::erfc(-(x - c) / (sigma * std::sqrt(2.0))); };
            double below = phi((lo - 1) * w);
            for (int k = lo; k <= hi; ++k) {
                const double above = phi(k * w);
                g_.push_back(static_cast<float>(above - below));
                below = above;
            }
            gStart_[static_cast<std::size_t>(i) + 1] = g_.size();
        }
    }


    // m = A x (x and m indexed by channel, 0..last).
    void forward(const std::vector<float>& x, std::vector<float>& z, std::vector<float>& m) const
    {
        std::fill(z.begin(), z.end(), 0.0f);
        for (int j = first_; j <= last_; ++j) {
            const float xj = x[static_cast<std::size_t>(j)];
            if (xj == 0.0f)
                continue;
            const float* row = &d_[dRowStart_[static_cast<std::size_t>(j)]];
            float* zi = &z[1];
            for (int i = 0; i < j; ++i)
                zi[i] += row[i] * xj;
        }
        std::fill(m.begin(), m.end(), 0.0f);
        for (int i = 1; i <= last_; ++i) {
            const float zi = z[static_cast<std::size_t>(i)];
            if (zi == 0.0f)
                continue;
            const std::size_t b = gStart_[static_cast<std::size_t>(i)], e = gStart_[static_cast<std::size_t>(i) + 1];
            float* mk = &m[static_cast<std::size_t>(gFirst_[static_cast<std::size_t>(i)])];
            for (std::size_t q = b; q < e; ++q)
                mk[q - b] += g_[q] * zi;
        }
    }

    // v = A^T r.
    void adjoint(const std::vector<float>& r, std::vector<float>& u, std::vector<float>& v) const
    {
        for (int i = 1; i <= last_; ++i) {
            const std::size_t b = gStart_[static_cast<std::size_t>(i)], e = gStart_[static_cast<std::size_t>(i) + 1];
            const float* rk = &r[static_cast<std::size_t>(gFirst_[static_cast<std::size_t>(i)])];
            double sum = 0.0;
            for (std::size_t q = b; q < e; ++q)
                sum += static_cast<double>(g_[q]) * rk[q - b];
            u[static_cast<std::size_t>(i)] = static_cast<float>(sum);
        }
        std::fill(v.begin(), v.end(), 0.0f);
        for (int j = first_; j <= last_; ++j)
            v[static_cast<std::size_t>(j)] = dot(&d_[dRowStart_[static_cast<std::size_t>(j)]], &u[1], j);
    }

private:
    // Node below e and the weight of the node above; a channel exactly at
    // the top node takes that node alone.
    static std::pair<std::size_t, double> bracket(const UnfoldResponse& r, double e)
    {
        const auto& n = r.nodes;
        auto it = std::upper_bound(n.begin(), n.end(), e,
                                   [](double v, const ResponseNode& node) { return v < node.energyKeV; });
        std::size_t hi = static_cast<std::size_t>(it - n.begin());
        hi = std::clamp<std::size_t>(hi, 1, n.size() - 1);
        const std::size_t lo = hi - 1;
        const double t = std::clamp((e - n[lo].energyKeV) / (n[hi].energyKeV - n[lo].energyKeV), 0.0, 1.0);
        return {lo, t};
    }

    int first_, last_;  // incident channels
    int rows_;          // measured channels first_..rows_
    std::vector<float> d_, g_;
    std::vector<std::size_t> dRowStart_, gStart_;
    std::vector<int> gFirst_;
};

} // namespace

UnfoldRange unfoldRange(const UnfoldResponse& response, std::int32_t voltage, float kevPerChannel)
{
    const StripPlan plan = planStripping(voltage, kevPerChannel);
    if (response.nodes.size() < 2)
        throw ResponseDataError("the response data hold fewer than two energies");
    const double w = kevPerChannel;
    const double lowest = response.nodes.front().energyKeV;
    const double highest = response.nodes.back().energyKeV;
    UnfoldRange r;
    r.last = static_cast<int>(std::min<std::int64_t>(plan.startChannel, kChannels));
    r.lastIncident = static_cast<int>(plan.startChannel);
    r.first = std::max(1, static_cast<int>(std::ceil(lowest / w + 0.5)));
    if (channelCentre(r.lastIncident, w) > highest) {
        char buf[200];
        std::snprintf(buf, sizeof buf,
                      "the response data of the unfolding method reach %.1f keV, but %d kV at %.3f keV per "
                      "channel needs them up to %.2f keV",
                      highest, voltage, w, channelCentre(r.lastIncident, w));
        throw ResponseDataError(buf);
    }
    if (r.first > r.last)
        throw StripInputError("the tube voltage lies below the lowest energy of the response data");
    return r;
}

std::vector<double> foldSpectrum(const std::vector<double>& incident, float kevPerChannel, std::int32_t voltage,
                                 const UnfoldResponse& response)
{
    const UnfoldRange range = unfoldRange(response, voltage, kevPerChannel);
    const DetectorModel model(response, kevPerChannel, range);
    const std::size_t n = static_cast<std::size_t>(range.lastIncident) + 1;
    std::vector<float> x(n, 0.0f), z(n), m(n);
    for (int j = range.first; j <= range.lastIncident && j <= static_cast<int>(incident.size()); ++j)
        x[static_cast<std::size_t>(j)] = static_cast<float>(incident[static_cast<std::size_t>(j) - 1]);
    model.forward(x, z, m);
    std::vector<double> out(kChannels, 0.0);
    for (int k = range.first; k <= range.last; ++k)
        out[static_cast<std::size_t>(k) - 1] = m[static_cast<std::size_t>(k)];
    return out;
}

Counts unfoldSpectrum(const Counts& measured, float kevPerChannel, std::int32_t voltage,
                      const UnfoldResponse& response, const UnfoldOptions& options, UnfoldReport* report)
{
    const UnfoldRange range = unfoldRange(response, voltage, kevPerChannel);
    const DetectorModel model(response, kevPerChannel, range);
    // Measured channels first..last; incident channels first..top, which
    // lies above the analyser's 1024 channels when the tube voltage does:
    // photons there are never recorded in full, but their escapes, tails
    // and scattering fall into the measured range and are taken out.
    const int first = range.first, last = range.last, top = range.lastIncident;
    const std::size_t n = static_cast<std::size_t>(top) + 1;

    std::vector<float> y(n, 0.0f), ones(n, 0.0f), z(n), u(n), sens(n), m(n), ratio(n, 0.0f), back(n);
    double total = 0.0;
    for (int k = first; k <= last; ++k) {
        const auto c = measured[static_cast<std::size_t>(k) - 1];
        y[static_cast<std::size_t>(k)] = static_cast<float>(std::max<std::int32_t>(c, 0));
        total += y[static_cast<std::size_t>(k)];
        ones[static_cast<std::size_t>(k)] = 1.0f;
    }
    // Sensitivity: the share of a channel's photons recorded anywhere in
    // the measured range.
    model.adjoint(ones, u, sens);

    std::vector<float> x(n, 0.0f);
    Counts out{};
    if (total > 0.0) {
        // Start from the measured counts themselves, smoothed over five
        // channels and divided by the sensitivity, scaled to the total.
        for (int j = first; j <= top; ++j) {
            double s = 0;
            int cnt = 0;
            for (int q = std::max(first, j - 2); q <= std::min(top, j + 2); ++q, ++cnt)
                s += y[static_cast<std::size_t>(q)];
            const float sj = sens[static_cast<std::size_t>(j)];
            x[static_cast<std::size_t>(j)] = sj > 1e-6f ? static_cast<float>((s / cnt + 1.0) / sj) : 0.0f;
        }
        model.forward(x, z, m);
        double predicted = 0;
        for (int k = first; k <= last; ++k)
            predicted += m[static_cast<std::size_t>(k)];
        const float scale = static_cast<float>(total / predicted);
        for (auto& v : x)
            v *= scale;

        // The EM step x <- x * A^T(y / A x) / A^T 1, accelerated by vector
        // extrapolation (Biggs and Andrews): each step starts from the
        // estimate pushed further along its last change, by a factor taken
        // from how the last two steps' corrections agree.  The fixed point
        // is that of the plain iteration; the extrapolated start is held
        // non-negative.
        std::vector<float> previous = x, start(n, 0.0f), g1(n, 0.0f), g2(n, 0.0f), lastFit(n, 0.0f);
        double change = 0.0;
        for (int it = 1; it <= options.iterations; ++it) {
            double alpha = 0.0;
            if (it >= 3) {
                double num = 0.0, den = 0.0;
                for (int j = first; j <= top; ++j) {
                    const std::size_t q = static_cast<std::size_t>(j);
                    num += static_cast<double>(g1[q]) * g2[q];
                    den += static_cast<double>(g2[q]) * g2[q];
                }
                alpha = den > 0.0 ? std::clamp(num / den, 0.0, kMaxExtrapolation) : 0.0;
            }
            for (int j = first; j <= top; ++j) {
                const std::size_t q = static_cast<std::size_t>(j);
                const double pushed = x[q] + alpha * (static_cast<double>(x[q]) - previous[q]);
                start[q] = static_cast<float>(std::max(pushed, 0.0));
            }
            model.forward(start, z, m);
            // Convergence is judged on the fit, the counts the estimate
            // predicts: structure finer than the resolution may still be
            // sharpening while the fit (and every figure drawn from the
            // spectrum) has settled.
            double moved = 0.0;
            for (int k = first; k <= last; ++k) {
                const std::size_t q = static_cast<std::size_t>(k);
                const float mk = m[q];
                ratio[q] = mk > 0.0f ? y[q] / mk : 0.0f;
                moved += std::abs(static_cast<double>(mk) - lastFit[q]);
                lastFit[q] = mk;
            }
            change = moved / total;
            model.adjoint(ratio, u, back);
            for (int j = first; j <= top; ++j) {
                const std::size_t q = static_cast<std::size_t>(j);
                const float sj = sens[q];
                const float next = sj > 1e-6f ? start[q] * back[q] / sj : 0.0f;
                g2[q] = g1[q];
                g1[q] = next - start[q];
                previous[q] = x[q];
                x[q] = next;
            }
            if (!std::isfinite(change))
                throw UnfoldError("the unfolding failed: the iteration produced values that are not numbers");
        }
        if (report) {
            report->iterations = options.iterations;
            report->lastChange = change;
        }
        if (change > options.maxLastChange) {
            char buf[200];
            std::snprintf(buf, sizeof buf,
                          "the unfolding did not converge: after %d iterations the counts it predicts still "
                          "change by %.2f %% per iteration (at most %.2f %% is accepted)",
                          options.iterations, 100.0 * change, 100.0 * options.maxLastChange);
            throw UnfoldError(buf);
        }
        const int zeroed = static_cast<int>(static_cast<double>(kZeroBelowKeV) / kevPerChannel);
        for (int j = first; j <= last; ++j) {
            if (j <= zeroed)
                continue;
            const double v = std::nearbyint(static_cast<double>(x[static_cast<std::size_t>(j)]));
            out[static_cast<std::size_t>(j) - 1] =
                static_cast<std::int32_t>(std::min(v, static_cast<double>(std::numeric_limits<std::int32_t>::max())));
        }
    } else if (report) {
        report->iterations = 0;
        report->lastChange = 0;
    }
    if (report) {
        report->firstChannel = first;
        report->lastChannel = last;
    }
    return out;
}

} // namespace tvstrip
