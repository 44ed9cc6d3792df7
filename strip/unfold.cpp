#include "strip/unfold.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <string>

namespace tvstrip {

namespace {

// The products of the detector model in a copy for processors with AVX2
// as well (chosen when the program starts).  Each sum keeps its order of
// additions and nothing is contracted into fused multiply-adds, so both
// copies give the same numbers.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_ADDRESS__)
#define TARVIK_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define TARVIK_VECTOR_CLONES
#endif

double channelCentre(int channel, double w) { return (channel - 0.5) * w; }

// The measured channel that records the calibrated energy e (upper edges
// included; the tolerance keeps an edge computed as k·g/g in channel k).
int measuredChannelOf(double e, const EnergyScale& s)
{
    return static_cast<int>(std::ceil((e - s.offsetKeV) / s.gainKevPerChannel - 1e-9));
}

double measuredCentre(int channel, const EnergyScale& s)
{
    return s.offsetKeV + (channel - 0.5) * s.gainKevPerChannel;
}

// Sum of a[i] * b[i] over n terms, in eight interleaved partial sums so
// that the compiler can use vector instructions without reordering any
// single sum.
TARVIK_VECTOR_CLONES float dot(const float* a, const float* b, int n)
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

// Pulse pile-up of the detected events: a pulse collects every event
// that arrives within the resolving time after it starts, so the number of
// events beyond the first is Poisson with mean mu (the input rate times the
// resolving time) and the collected charges add.  Of the recorded pulses a
// share p0 holds one event, p1 two, p2 three (higher orders, below 0.5 % of
// the pulses at a 30 % share, are left out and the three renormalised).
// With q the detected events' spectrum normalised to 1, the recorded
// pulses of the detected events z are
//   r = (p0 z + p1 z*q + p2 z*q*q) / (p0 + 2 p1 + 3 p2)
// (* the convolution on the channel grid: the sum of two channels' uniform
// energies falls half into each of the two channels about their centres'
// sum).  Held as a linear map of z with q fixed, which is exact at the q of
// the current estimate: the EM step then works on it as on any response.
class Pileup {
public:
    explicit Pileup(int top)
        : top_(top), q_(static_cast<std::size_t>(top) + 2, 0.0f), qq_(q_), kernel_(q_), f_(q_), t_(q_) {}

    // The share of recorded pulses that hold more than one event.
    void setShare(double share)
    {
        share_ = std::clamp(share, 0.0, 0.9);
        mu_ = weights(share_, p_);
        updateKernel();
    }
    // The weights p0, p1, p2 over the events per pulse for a share; returns mu.
    static double weights(double share, double* p)
    {
        // mu for which 1 - p0 of the renormalised orders is the share.
        double lo = 0.0, hi = 5.0;
        for (int it = 0; it < 60; ++it) {
            const double mid = 0.5 * (lo + hi);
            (shareOf(mid) < share ? lo : hi) = mid;
        }
        const double mu = 0.5 * (lo + hi);
        const double p0 = 1.0, p1 = mu, p2 = 0.5 * mu * mu, sum = p0 + p1 + p2;
        p[0] = p0 / sum;
        p[1] = p1 / sum;
        p[2] = p2 / sum;
        const double events = p[0] + 2.0 * p[1] + 3.0 * p[2];
        for (int k = 0; k < 3; ++k)
            p[k] /= events;
        return mu;
    }
    // mu for a share, and the share for mu.
    static double meanExtraFor(double share)
    {
        double p[3];
        return weights(share, p);
    }
    static double shareOf(double mu)
    {
        const double p0 = 1.0, p1 = mu, p2 = 0.5 * mu * mu;
        return 1.0 - p0 / (p0 + p1 + p2);
    }
    double share() const { return share_; }
    double meanExtraEvents() const { return mu_; }

    // q from the detected events z (channels 1..top).
    void setSpectrum(const std::vector<float>& z)
    {
        double total = 0.0;
        for (int i = 1; i <= top_; ++i)
            total += z[static_cast<std::size_t>(i)];
        const float scale = total > 0.0 ? static_cast<float>(1.0 / total) : 0.0f;
        for (int i = 1; i <= top_; ++i)
            q_[static_cast<std::size_t>(i)] = z[static_cast<std::size_t>(i)] * scale;
        total_ = static_cast<float>(total);
        convolve(q_, q_, qq_);
        updateKernel();
    }

    // The two-event and three-event parts z*q and z*q*q of the spectrum z
    // last given to setSpectrum (z*q is then |z| q*q, at hand).
    void parts(const std::vector<float>& z, std::vector<float>& pair, std::vector<float>& triple) const
    {
        for (int k = 0; k <= top_; ++k)
            pair[static_cast<std::size_t>(k)] = total_ * qq_[static_cast<std::size_t>(k)];
        convolve(z, qq_, triple);
    }

    // r = the recorded pulses of z: p0 z + z*(p1 q + p2 q*q), one
    // convolution with the combined kernel.
    void apply(const std::vector<float>& z, std::vector<float>& r) const
    {
        convolve(z, kernel_, r);
        const float a = static_cast<float>(p_[0]);
        for (int k = 1; k <= top_; ++k) {
            const std::size_t q = static_cast<std::size_t>(k);
            r[q] += a * (k < static_cast<int>(z.size()) ? z[q] : 0.0f);
        }
    }

    // v = the transpose of apply, on channels 1..detectedTop.
    void adjoint(const std::vector<float>& u, std::vector<float>& v, int detectedTop) const
    {
        // The halves: t[s] = (u[s-1] + u[s]) / 2 for an index sum s.
        std::fill(t_.begin(), t_.end(), 0.0f);
        for (int s = 2; s <= top_ + 1; ++s)
            t_[static_cast<std::size_t>(s)] =
                0.5f * (u[static_cast<std::size_t>(s - 1)] + (s <= top_ ? u[static_cast<std::size_t>(s)] : 0.0f));
        const float a = static_cast<float>(p_[0]);
        for (int i = 1; i <= detectedTop; ++i) {
            const int n = top_ + 1 - i;  // j = 1..n keeps i + j within the sums
            const float piled = n > 0 ? dot(&t_[static_cast<std::size_t>(i) + 1], &kernel_[1], n) : 0.0f;
            v[static_cast<std::size_t>(i)] = a * u[static_cast<std::size_t>(i)] + piled;
        }
    }

private:
    void updateKernel()
    {
        const float b = static_cast<float>(p_[1]), c = static_cast<float>(p_[2]);
        for (std::size_t k = 0; k < kernel_.size(); ++k)
            kernel_[k] = b * q_[k] + c * qq_[k];
    }

    // out[k] = (f[k] + f[k+1]) / 2 for k = 1..top, f the index-sum
    // convolution of a and b.
    TARVIK_VECTOR_CLONES void convolve(const std::vector<float>& a, const std::vector<float>& b,
                                       std::vector<float>& out) const
    {
        std::fill(f_.begin(), f_.end(), 0.0f);
        const int na = std::min(top_, static_cast<int>(a.size()) - 1);
        for (int i = 1; i <= na; ++i) {
            const float ai = a[static_cast<std::size_t>(i)];
            if (ai == 0.0f)
                continue;
            float* fi = &f_[static_cast<std::size_t>(i)];
            const float* bj = b.data();
            for (int j = 1; i + j <= top_ + 1; ++j)
                fi[j] += ai * bj[j];
        }
        out[0] = 0.0f;
        for (int k = 1; k <= top_; ++k)
            out[static_cast<std::size_t>(k)] = 0.5f * (f_[static_cast<std::size_t>(k)] + f_[static_cast<std::size_t>(k) + 1]);
    }

    int top_;
    float total_ = 0.0f;
    double share_ = 0.0, mu_ = 0.0;
    double p_[3] = {1.0, 0.0, 0.0};
    std::vector<float> q_, qq_, kernel_;
    mutable std::vector<float> f_, t_;
};

// The detector model A = G * D:
//  D: photons incident in channel j of the nominal grid (at its centre) ->
//     recorded energy on the calibrated scale, histogrammed into channels
//     1..j of the same grid (a recorded energy never exceeds the photon
//     energy);
//  P: with pile-up, the recorded pulses of the detected events (Pileup),
//     on the same grid up to `recordedTop`;
//  G: the resolution, a Gaussian of the profile's FWHM at the recorded
//     energy, widened by the grid channel's own width, integrated over the
//     analyser's channels on its energy scale (measured channels
//     firstMeasured..last).
// D is held by incident channel, so that both products run over
// contiguous memory.  Vectors are indexed by channel number and sized for
// both grids.
class DetectorModel {
public:
    DetectorModel(const UnfoldResponse& r, float kevPerChannel, const EnergyScale& scale, const UnfoldRange& range,
                  int recordedTop = 0)
        : first_(range.first), last_(range.lastIncident), top_(std::max(recordedTop, range.lastIncident)),
          mFirst_(range.firstMeasured), mLast_(range.last),
          size_(static_cast<std::size_t>(std::max(top_, kChannels)) + 2), r_(size_, 0.0f), u2_(size_, 0.0f)
    {
        const double w = kevPerChannel;
        const int n = last_ + 1;
        // The loss from a channel's centre energy to the edges of the
        // channels below it is (k + 1/2) w for the k-th channel down,
        // whatever the channel: per node, the share recorded k channels
        // below is one difference of its cumulative distribution.
        std::vector<std::pair<std::size_t, double>> mix(static_cast<std::size_t>(n));
        // Every element of `shares` and of D is written before it is read:
        // they are not cleared first (fresh memory costs a page fault per
        // page; clearing it as well doubled the cost of a run's setup).
        std::vector<std::unique_ptr<float[]>> shares(r.nodes.size());
        for (int j = first_; j <= last_; ++j) {
            mix[static_cast<std::size_t>(j)] = bracket(r, channelCentre(j, w));
            for (std::size_t q : {mix[static_cast<std::size_t>(j)].first, mix[static_cast<std::size_t>(j)].first + 1}) {
                auto& sh = shares[q];
                if (sh)
                    continue;
                sh.reset(new float[static_cast<std::size_t>(last_)]);
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
        d_.reset(new float[std::max<std::size_t>(dRowStart_.back(), 1)]);
        for (int j = first_; j <= last_; ++j) {
            const auto [node, t] = mix[static_cast<std::size_t>(j)];
            const float a = static_cast<float>(1.0 - t), b = static_cast<float>(t);
            const float* lo = shares[node].get();
            const float* hi = shares[node + 1].get();
            float* row = &d_[dRowStart_[static_cast<std::size_t>(j)]];
            // row[i - 1] is recorded channel i, k = j - i channels down.  The
            // two nodes are mixed at the same loss, so that what keeps its
            // distance from the photon energy (the full-energy peak and its
            // tail, the escape peaks) stays as sharp as at the nodes.
            for (int i = 1; i <= j; ++i)
                row[i - 1] = a * lo[j - i] + b * hi[j - i];
        }

        // G: one band of measured channels per recorded channel.
        const double sigmaPerFwhm = 1.0 / (2.0 * std::sqrt(2.0 * std::log(2.0)));
        const double g = scale.gainKevPerChannel, o = scale.offsetKeV;
        gFirst_.assign(static_cast<std::size_t>(top_) + 1, 0);
        gStart_.assign(static_cast<std::size_t>(top_) + 2, 0);
        g_.clear();
        for (int i = 1; i <= top_; ++i) {
            const double c = channelCentre(i, w);
            const double s = r.profile.fwhmKeV(std::max(c, 0.0)) * sigmaPerFwhm;
            const double sigma = std::sqrt(s * s + w * w / 12.0);
            const int reach = static_cast<int>(std::ceil(6.0 * sigma / g)) + 1;
            const int at = measuredChannelOf(c, scale);
            const int lo = std::max(mFirst_, at - reach);
            const int hi = std::min(mLast_, at + reach);
            gFirst_[static_cast<std::size_t>(i)] = lo;
            const auto phi = [&](double x) { return 0.5 * std::erfc(-(x - c) / (sigma * std::sqrt(2.0))); };
            double below = phi(o + (lo - 1) * g);
            for (int k = lo; k <= hi; ++k) {
                const double above = phi(o + k * g);
                g_.push_back(static_cast<float>(above - below));
                below = above;
            }
            gStart_[static_cast<std::size_t>(i) + 1] = g_.size();
        }
    }

    std::size_t size() const { return size_; }
    int recordedTop() const { return top_; }
    // Pile-up in the model from now on (nullptr: none).
    void setPileup(const Pileup* p) { pile_ = p; }

    // m = A x (x indexed by incident channel, m by measured channel); z
    // receives the detected events D x.
    void forward(const std::vector<float>& x, std::vector<float>& z, std::vector<float>& m) const
    {
        detect(x, z);
        if (pile_) {
            pile_->apply(z, r_);
            record(r_, m);
        } else {
            record(z, m);
        }
    }

    // v = A^T r.
    void adjoint(const std::vector<float>& r, std::vector<float>& u, std::vector<float>& v) const
    {
        recordAdjoint(r, u);
        if (pile_) {
            pile_->adjoint(u, u2_, last_);
            detectAdjoint(u2_, v);
        } else {
            detectAdjoint(u, v);
        }
    }

    // z = D x.
    TARVIK_VECTOR_CLONES void detect(const std::vector<float>& x, std::vector<float>& z) const
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
    }

    // m = G z (z on the grid up to recordedTop).
    void record(const std::vector<float>& z, std::vector<float>& m) const
    {
        std::fill(m.begin(), m.end(), 0.0f);
        for (int i = 1; i <= top_; ++i) {
            const float zi = z[static_cast<std::size_t>(i)];
            if (zi == 0.0f)
                continue;
            const std::size_t b = gStart_[static_cast<std::size_t>(i)], e = gStart_[static_cast<std::size_t>(i) + 1];
            float* mk = &m[static_cast<std::size_t>(gFirst_[static_cast<std::size_t>(i)])];
            for (std::size_t q = b; q < e; ++q)
                mk[q - b] += g_[q] * zi;
        }
    }

    // u = G^T r.
    void recordAdjoint(const std::vector<float>& r, std::vector<float>& u) const
    {
        for (int i = 1; i <= top_; ++i) {
            const std::size_t b = gStart_[static_cast<std::size_t>(i)], e = gStart_[static_cast<std::size_t>(i) + 1];
            const float* rk = &r[static_cast<std::size_t>(gFirst_[static_cast<std::size_t>(i)])];
            double sum = 0.0;
            for (std::size_t q = b; q < e; ++q)
                sum += static_cast<double>(g_[q]) * rk[q - b];
            u[static_cast<std::size_t>(i)] = static_cast<float>(sum);
        }
    }

    // v = D^T u.
    TARVIK_VECTOR_CLONES void detectAdjoint(const std::vector<float>& u, std::vector<float>& v) const
    {
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

    int first_, last_;    // incident channels
    int top_;             // recorded channels 1..top_ (above last_ only pile-up records)
    int mFirst_, mLast_;  // measured channels
    std::size_t size_;
    const Pileup* pile_ = nullptr;
    mutable std::vector<float> r_, u2_;
    std::unique_ptr<float[]> d_;
    std::vector<float> g_;
    std::vector<std::size_t> dRowStart_, gStart_;
    std::vector<int> gFirst_;
};

// The smooth low-energy shape: incident photons per channel
// x_j = exp(a + b u_j + c v_j) / e_j with u_j = (eRef / e_j)^3 and
// v_j = ln(e_j / eRef), e_j the channel's centre, over channels
// first..end-1.  The features are computed once per channel.
struct Shape {
    int first = 0, end = 0;  // channels first..end-1; end = first: no shape
    double eRef = 1.0;
    std::vector<double> u, v, lnE;

    // `reference`: eRef (keV), the centre of the end channel when 0.
    void prepare(int firstChannel, int endChannel, double w, double reference = 0.0)
    {
        first = firstChannel;
        end = endChannel;
        eRef = reference > 0.0 ? reference : channelCentre(end, w);
        u.assign(static_cast<std::size_t>(end), 0.0);
        v = u;
        lnE = u;
        for (int j = first; j < end; ++j) {
            const double e = channelCentre(j, w);
            u[static_cast<std::size_t>(j)] = std::pow(eRef / e, 3.0);
            v[static_cast<std::size_t>(j)] = std::log(e / eRef);
            lnE[static_cast<std::size_t>(j)] = std::log(e);
        }
    }
    double feature(int k, int j) const
    {
        return k == 0 ? 1.0 : k == 1 ? u[static_cast<std::size_t>(j)] : v[static_cast<std::size_t>(j)];
    }
    double logValue(const double* p, int j) const
    {
        const std::size_t q = static_cast<std::size_t>(j);
        return p[0] + p[1] * u[q] + p[2] * v[q] - lnE[q];
    }
    double value(const double* p, int j) const { return std::exp(logValue(p, j)); }
};

// Solves the symmetric positive definite 3 x 3 system a d = g by Gaussian
// elimination; false when it is singular.
bool solve3(double a[3][3], const double g[3], double d[3])
{
    double m[3][4];
    for (int i = 0; i < 3; ++i) {
        for (int k = 0; k < 3; ++k)
            m[i][k] = a[i][k];
        m[i][3] = g[i];
    }
    for (int c = 0; c < 3; ++c) {
        if (!(m[c][c] > 0.0))
            return false;
        for (int r = c + 1; r < 3; ++r) {
            const double f = m[r][c] / m[c][c];
            for (int k = c; k < 4; ++k)
                m[r][k] -= f * m[c][k];
        }
    }
    for (int r = 2; r >= 0; --r) {
        double v = m[r][3];
        for (int k = r + 1; k < 3; ++k)
            v -= m[r][k] * d[k];
        d[r] = v / m[r][r];
    }
    return true;
}

// The shape closest to `x` over its channels in the sense of the EM step's
// M-step (maximises sum z_j ln s_j - sens_j s_j with z_j = x_j sens_j), by
// Newton's method with step halving: the starting shape for the iteration.
void fitShapeTo(const Shape& s, double* p, const std::vector<float>& x, const std::vector<float>& sens)
{
    p[0] = 0.0;
    p[1] = -1.0;
    p[2] = 0.0;
    auto weight = [&](int j) { return static_cast<double>(sens[static_cast<std::size_t>(j)]); };
    auto target = [&](int j) { return static_cast<double>(x[static_cast<std::size_t>(j)]) * weight(j); };
    auto objective = [&](const double* q) {
        double f = 0.0;
        for (int j = s.first; j < s.end; ++j) {
            const double l = s.logValue(q, j);
            f += target(j) * l - weight(j) * std::exp(l);
        }
        return f;
    };
    double zsum = 0.0, level = 0.0;
    for (int j = s.first; j < s.end; ++j) {
        zsum += target(j);
        level += weight(j) * s.value(p, j);
    }
    if (!(zsum > 0.0) || !(level > 0.0)) {
        p[0] = -50.0;
        return;
    }
    // The level first, so that the Newton steps start near the counts.
    p[0] = std::log(zsum / level);
    double f = objective(p);
    for (int it = 0; it < 50; ++it) {
        double g[3] = {0, 0, 0}, h[3][3] = {};
        for (int j = s.first; j < s.end; ++j) {
            const double m = weight(j) * s.value(p, j);
            for (int k = 0; k < 3; ++k) {
                const double fk = s.feature(k, j);
                g[k] += (target(j) - m) * fk;
                for (int l = 0; l <= k; ++l)
                    h[k][l] += m * fk * s.feature(l, j);
            }
        }
        for (int k = 0; k < 3; ++k)
            for (int l = k + 1; l < 3; ++l)
                h[k][l] = h[l][k];
        double d[3];
        if (!solve3(h, g, d))
            return;
        bool moved = false;
        for (int half = 0; half < 30; ++half) {
            const double q[3] = {p[0] + d[0], p[1] + d[1], p[2] + d[2]};
            const double fq = objective(q);
            if (std::isfinite(fq) && fq >= f) {
                moved = fq - f > 1e-12 * std::abs(f);
                std::copy(q, q + 3, p);
                f = fq;
                break;
            }
            for (double& v : d)
                v *= 0.5;
        }
        if (!moved)
            return;
    }
}

// The pile-up share that maximises the counts' likelihood with the detected
// events z held: the single, pair and triple parts are recorded once, then
// (`wide`) golden-section search of the share within 0.05 of the current one
// or a parabola step near it (0 to 0.5).
void fitPileupShare(const DetectorModel& model, Pileup& pile, const std::vector<float>& z,
                    const std::vector<float>& y, int mFirst, int last, std::vector<float>& pairs,
                    std::vector<float>& triples, std::vector<float>& c0, std::vector<float>& c1,
                    std::vector<float>& c2, bool wide)
{
    pile.parts(z, pairs, triples);
    model.record(z, c0);
    model.record(pairs, c1);
    model.record(triples, c2);
    auto likelihood = [&](double share) {
        double p[3];
        Pileup::weights(share, p);
        double l = 0.0;
        for (int k = mFirst; k <= last; ++k) {
            const std::size_t q = static_cast<std::size_t>(k);
            const double mk = p[0] * c0[q] + p[1] * c1[q] + p[2] * c2[q];
            if (mk > 0.0)
                l += y[q] * std::log(mk) - mk;
        }
        return l;
    };
    if (wide) {
        // Golden-section search within 0.05 of the current share.
        const double phi = 0.5 * (std::sqrt(5.0) - 1.0);
        double a = std::max(0.0, pile.share() - 0.05), b = std::min(0.5, pile.share() + 0.05);
        double c = b - phi * (b - a), d = a + phi * (b - a);
        double fc = likelihood(c), fd = likelihood(d);
        for (int it = 0; it < 18; ++it) {
            if (fc > fd) {
                b = d;
                d = c;
                fd = fc;
                c = b - phi * (b - a);
                fc = likelihood(c);
            } else {
                a = c;
                c = d;
                fc = fd;
                d = a + phi * (b - a);
                fd = likelihood(d);
            }
        }
        pile.setShare(0.5 * (a + b));
        return;
    }
    // Near the optimum: one step to the vertex of the parabola through three
    // shares 0.002 apart, at most 0.01.
    const double s = pile.share(), h = 0.002;
    const double lo = std::max(0.0, s - h), hi = std::min(0.5, s + h), mid = 0.5 * (lo + hi);
    const double fl = likelihood(lo), fm = likelihood(mid), fh = likelihood(hi);
    const double curvature = fl - 2.0 * fm + fh;
    double next = fh > fl ? hi : lo;
    if (curvature < 0.0)
        next = mid - 0.5 * (hi - lo) * (fh - fl) / (2.0 * curvature);
    pile.setShare(std::clamp(next, std::max(0.0, s - 0.01), std::min(0.5, s + 0.01)));
}

} // namespace

EnergyScale energyScaleFor(const DetectorProfile& profile, float kevPerChannel)
{
    if (profile.energyGainKevPerChannel && profile.energyOffsetKeV)
        return {*profile.energyGainKevPerChannel, *profile.energyOffsetKeV};
    return {static_cast<double>(kevPerChannel), 0.0};
}

std::optional<std::string> energyScaleNote(const DetectorProfile& profile, float kevPerChannel)
{
    if (!profile.energyGainKevPerChannel)
        return std::nullopt;
    const double gain = *profile.energyGainKevPerChannel;
    const double off = static_cast<double>(kevPerChannel) / gain - 1.0;
    if (!(std::abs(off) > 0.01))
        return std::nullopt;
    char buf[300];
    std::snprintf(buf, sizeof buf,
                  "  Note: the entered %.4g keV per channel differs by %+.1f %% from the detector profile's energy "
                  "scale (%.6g keV per channel, offset %.4g keV); the channels are read on the profile's scale",
                  static_cast<double>(kevPerChannel), 100.0 * off, gain, *profile.energyOffsetKeV);
    return std::string(buf);
}

PileupReport pileupFromRates(const PileupInput& in, double recordedCounts)
{
    auto check = [](const std::optional<double>& v, const char* what, bool positive) {
        if (!v)
            return;
        if (!std::isfinite(*v) || *v < 0.0 || (positive && *v == 0.0)) {
            char buf[160];
            std::snprintf(buf, sizeof buf, "the %s %g cannot be used for the pile-up: it must be %s", what, *v,
                          positive ? "above 0" : "0 or more");
            throw UnfoldError(buf);
        }
    };
    check(in.share, "pile-up share", false);
    check(in.resolvingTimeUs, "pulse-pair resolving time (us)", true);
    check(in.realTimeS, "real time (s)", true);
    check(in.liveTimeS, "live time (s)", true);
    check(in.inputCounts, "input count", false);
    check(in.outputCounts, "output count", false);
    if (in.share && *in.share >= 1.0)
        throw UnfoldError("the pile-up share " + std::to_string(*in.share) + " cannot be used: it must lie below 1");
    // Files write the times to a millisecond at best: a live time that far
    // above the real time is their rounding (no dead time).
    if (in.liveTimeS && in.realTimeS && *in.liveTimeS > *in.realTimeS + 1e-3) {
        char buf[160];
        std::snprintf(buf, sizeof buf, "the live time %g s exceeds the real time %g s", *in.liveTimeS, *in.realTimeS);
        throw UnfoldError(buf);
    }
    const double output = in.outputCounts.value_or(recordedCounts);
    if (in.inputCounts && *in.inputCounts > 0.0 && output > *in.inputCounts * (1.0 + 1e-9)) {
        char buf[160];
        std::snprintf(buf, sizeof buf, "the output count %g exceeds the input count %g", output, *in.inputCounts);
        throw UnfoldError(buf);
    }
    PileupReport r;
    if (in.liveTimeS && in.realTimeS)
        r.deadTimeFraction = std::max(0.0, 1.0 - *in.liveTimeS / *in.realTimeS);
    else if (in.inputCounts && *in.inputCounts > 0.0)
        r.deadTimeFraction = 1.0 - output / *in.inputCounts;
    if (in.share) {
        r.source = PileupSource::Given;
        r.share = *in.share;
        r.meanExtraPhotons = Pileup::meanExtraFor(r.share);
    } else if (in.resolvingTimeUs && in.realTimeS) {
        const double tau = *in.resolvingTimeUs * 1e-6;
        if (in.inputCounts) {
            r.meanExtraPhotons = *in.inputCounts / *in.realTimeS * tau;
        } else {
            const double busy = output / *in.realTimeS * tau;
            if (!(busy < 1.0)) {
                char buf[200];
                std::snprintf(buf, sizeof buf,
                              "%g pulses in %g s with a resolving time of %g us would fill more than the whole time",
                              output, *in.realTimeS, *in.resolvingTimeUs);
                throw UnfoldError(buf);
            }
            r.meanExtraPhotons = busy / (1.0 - busy);
        }
        r.source = PileupSource::Rates;
        r.share = Pileup::shareOf(r.meanExtraPhotons);
    }
    return r;
}

std::optional<double> pileupShareOf(const PileupReport& report)
{
    if (report.source == PileupSource::None) return std::nullopt;
    return report.share;
}

std::vector<double> pileupSpectrum(const std::vector<double>& detected, double share)
{
    const int top = static_cast<int>(detected.size());
    std::vector<float> z(static_cast<std::size_t>(top) + 2, 0.0f), r(z);
    for (int i = 1; i <= top; ++i)
        z[static_cast<std::size_t>(i)] = static_cast<float>(detected[static_cast<std::size_t>(i) - 1]);
    Pileup p(top);
    p.setShare(share);
    p.setSpectrum(z);
    p.apply(z, r);
    std::vector<double> out(detected.size());
    for (int i = 1; i <= top; ++i)
        out[static_cast<std::size_t>(i) - 1] = r[static_cast<std::size_t>(i)];
    return out;
}

double unfoldNeededKeV(std::int32_t voltage, float kevPerChannel)
{
    return channelCentre(static_cast<int>(planStripping(voltage, kevPerChannel).startChannel), kevPerChannel);
}

UnfoldRange unfoldRange(const UnfoldResponse& response, std::int32_t voltage, float kevPerChannel)
{
    const StripPlan plan = planStripping(voltage, kevPerChannel);
    if (response.nodes.size() < 2)
        throw ResponseDataError("the response data hold fewer than two energies");
    const double w = kevPerChannel;
    const double lowest = response.nodes.front().energyKeV;
    const double highest = response.nodes.back().energyKeV;
    const EnergyScale scale = energyScaleFor(response.profile, kevPerChannel);
    UnfoldRange r;
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
    if (r.first > r.lastIncident)
        throw StripInputError("the tube voltage lies below the lowest energy of the response data");
    if (channelCentre(r.lastIncident, w) > response.decodedUpToKeV)
        throw ResponseDataError("the response data were read only up to " + std::to_string(response.decodedUpToKeV) +
                                " keV, below the energies of this run");
    if (!response.profile.energyGainKevPerChannel) {
        // The nominal grid is the analyser's.
        r.firstMeasured = r.first;
        r.last = static_cast<int>(std::min<std::int64_t>(plan.startChannel, kChannels));
    } else {
        const double g = scale.gainKevPerChannel, o = scale.offsetKeV;
        r.firstMeasured = std::max(1, static_cast<int>(std::ceil((lowest - o) / g + 0.5)));
        r.last = std::min(kChannels, measuredChannelOf(r.lastIncident * w, scale));
        if (r.firstMeasured > r.last) {
            char buf[260];
            std::snprintf(buf, sizeof buf,
                          "with the detector profile's energy scale (%.6g keV per channel, offset %.4g keV) no "
                          "channel of the analyser records energies from %.1f to %.1f keV",
                          g, o, lowest, r.lastIncident * w);
            throw StripInputError(buf);
        }
    }
    return r;
}

std::vector<double> foldSpectrum(const std::vector<double>& incident, float kevPerChannel, std::int32_t voltage,
                                 const UnfoldResponse& response)
{
    const UnfoldRange range = unfoldRange(response, voltage, kevPerChannel);
    const DetectorModel model(response, kevPerChannel, energyScaleFor(response.profile, kevPerChannel), range);
    const std::size_t n = model.size();
    std::vector<float> x(n, 0.0f), z(n), m(n);
    for (int j = range.first; j <= range.lastIncident && j <= static_cast<int>(incident.size()); ++j)
        x[static_cast<std::size_t>(j)] = static_cast<float>(incident[static_cast<std::size_t>(j) - 1]);
    model.forward(x, z, m);
    std::vector<double> out(kChannels, 0.0);
    for (int k = range.firstMeasured; k <= range.last; ++k)
        out[static_cast<std::size_t>(k) - 1] = m[static_cast<std::size_t>(k)];
    return out;
}

std::vector<double> detectSpectrum(const std::vector<double>& incident, float kevPerChannel, std::int32_t voltage,
                                   const UnfoldResponse& response)
{
    const UnfoldRange range = unfoldRange(response, voltage, kevPerChannel);
    const DetectorModel model(response, kevPerChannel, energyScaleFor(response.profile, kevPerChannel), range);
    const std::size_t n = model.size();
    std::vector<float> x(n, 0.0f), z(n);
    for (int j = range.first; j <= range.lastIncident && j <= static_cast<int>(incident.size()); ++j)
        x[static_cast<std::size_t>(j)] = static_cast<float>(incident[static_cast<std::size_t>(j) - 1]);
    model.detect(x, z);
    return std::vector<double>(z.begin() + 1, z.begin() + 1 + range.lastIncident);
}

std::vector<double> resolveSpectrum(const std::vector<double>& recorded, float kevPerChannel, std::int32_t voltage,
                                    const UnfoldResponse& response)
{
    UnfoldRange range = unfoldRange(response, voltage, kevPerChannel);
    range.last = kChannels;
    const DetectorModel model(response, kevPerChannel, energyScaleFor(response.profile, kevPerChannel), range,
                              static_cast<int>(recorded.size()));
    const std::size_t n = model.size();
    std::vector<float> r(n, 0.0f), m(n);
    for (std::size_t i = 0; i < recorded.size() && i + 1 < n; ++i)
        r[i + 1] = static_cast<float>(recorded[i]);
    model.record(r, m);
    return std::vector<double>(m.begin() + 1, m.begin() + 1 + kChannels);
}

Counts unfoldSpectrum(const Counts& measured, float kevPerChannel, std::int32_t voltage,
                      const UnfoldResponse& response, const UnfoldOptions& options, UnfoldReport* report)
{
    UnfoldRange range = unfoldRange(response, voltage, kevPerChannel);
    const EnergyScale scale = energyScaleFor(response.profile, kevPerChannel);
    const double w = kevPerChannel;

    // Pile-up: a share from what the caller knows, else fitted when the
    // measurement holds counts above the tube voltage (beyond three
    // standard deviations of the resolution there), which nothing but
    // pile-up makes.
    double allCounts = 0.0;
    for (std::int32_t c : measured)
        allCounts += std::max<std::int32_t>(c, 0);
    PileupReport pileup = pileupFromRates(options.pileup, allCounts);
    {
        const double sigma = response.profile.fwhmKeV(voltage) / (2.0 * std::sqrt(2.0 * std::log(2.0)));
        const double edge = voltage + 3.0 * sigma;
        for (int k = 1; k <= kChannels; ++k)
            if (scale.offsetKeV + (k - 1) * scale.gainKevPerChannel >= edge)
                pileup.countsAboveVoltage += std::max<std::int32_t>(measured[static_cast<std::size_t>(k) - 1], 0);
    }
    const bool fitShare = pileup.source == PileupSource::None && options.estimatePileup &&
                          pileup.countsAboveVoltage >= options.minCountsAbove;
    if (fitShare)
        pileup.source = PileupSource::Counts;
    if (pileup.share > kMaxPileupShare) {
        char buf[200];
        std::snprintf(buf, sizeof buf,
                      "the pile-up share of %.1f %% is more than the %.0f %% the unfolding can correct; measure at a "
                      "lower count rate",
                      100.0 * pileup.share, 100.0 * kMaxPileupShare);
        throw UnfoldError(buf);
    }
    const bool piled = fitShare || (pileup.source != PileupSource::None && pileup.share > 0.0);
    int recordedTop = 0;
    if (piled) {
        // Every measured channel up to 1024 is fitted, and the grid of the
        // recorded pulses reaches their energies and the resolution's
        // reach beyond.
        range.last = kChannels;
        const double highest = scale.offsetKeV + kChannels * scale.gainKevPerChannel;
        recordedTop = static_cast<int>(std::ceil(highest / w)) + 20;
    }
    DetectorModel model(response, kevPerChannel, scale, range, recordedTop);
    Pileup pile(model.recordedTop());
    pile.setShare(fitShare ? 0.02 : pileup.share);
    if (piled)
        model.setPileup(&pile);
    // Measured channels mFirst..last on the analyser's scale; incident
    // channels first..top on the nominal grid, which lies above the
    // analyser's 1024 channels when the tube voltage does: photons there
    // are never recorded in full, but their escapes, tails and scattering
    // fall into the measured range and are taken out.
    const int first = range.first, top = range.lastIncident;
    const int mFirst = range.firstMeasured, last = range.last;
    const std::size_t n = model.size();
    if (report) {
        *report = UnfoldReport{};
        report->firstChannel = mFirst;
        report->lastChannel = last;
    }

    std::vector<float> y(n, 0.0f), ones(n, 0.0f), z(n), u(n), sens(n), m(n), ratio(n, 0.0f), back(n), rec(n, 0.0f);
    double total = 0.0;
    for (int k = mFirst; k <= last; ++k) {
        const auto c = measured[static_cast<std::size_t>(k) - 1];
        y[static_cast<std::size_t>(k)] = static_cast<float>(std::max<std::int32_t>(c, 0));
        total += y[static_cast<std::size_t>(k)];
        ones[static_cast<std::size_t>(k)] = 1.0f;
    }
    Counts out{};
    if (!(total > 0.0))
        return out;
    // Sensitivity: the share of a channel's photons recorded anywhere in
    // the measured range.
    if (piled) {
        model.detect(std::vector<float>(n, 1.0f), z);
        pile.setSpectrum(z);
    }
    model.adjoint(ones, u, sens);

    // Start from the measured counts about each channel's energy, smoothed
    // over five channels and divided by the sensitivity, scaled to the
    // total.
    std::vector<float> start0(n, 0.0f);
    for (int j = first; j <= top; ++j) {
        const int at = measuredChannelOf(channelCentre(j, w), scale);
        double s = 0;
        int cnt = 0;
        for (int q = std::max(mFirst, at - 2); q <= std::min(static_cast<int>(n) - 1, at + 2); ++q, ++cnt)
            s += y[static_cast<std::size_t>(q)];
        const float sj = sens[static_cast<std::size_t>(j)];
        start0[static_cast<std::size_t>(j)] = sj > 1e-6f && cnt > 0 ? static_cast<float>((s / cnt + 1.0) / sj) : 0.0f;
    }
    model.forward(start0, z, m);
    double predicted = 0;
    for (int k = mFirst; k <= last; ++k)
        predicted += m[static_cast<std::size_t>(k)];
    const float scaleToTotal = static_cast<float>(total / predicted);
    for (auto& v : start0)
        v *= scaleToTotal;

    // The EM step x <- x * A^T(y / A x) / A^T 1, accelerated by vector
    // extrapolation (Biggs and Andrews): each step starts from the estimate
    // pushed further along its last change, by a factor taken from how the
    // last two steps' corrections agree.  A channel is pushed up along its
    // change and down by the same factor's power of its ratio, so that it
    // never reaches 0 (a channel at 0 stays there under the EM step: pushing
    // small channels below 0 and cutting them off emptied the weak lowest
    // energies for good).  The shape's parameters are pushed along their
    // own change.
    std::vector<float> x = start0, previous = x, pushed(n, 0.0f), g1(n, 0.0f), g2(n, 0.0f), lastFit(n, 0.0f);
    std::vector<float> xb(n, 0.0f), zb(n), mShape(n, 0.0f), current(n, 0.0f);
    std::vector<float> pairs(n, 0.0f), triples(n, 0.0f), c0(n, 0.0f), c1(n, 0.0f), c2(n, 0.0f);
    std::vector<std::vector<float>> dm(3, std::vector<float>(n, 0.0f));
    Shape shape;
    shape.first = shape.end = first;
    double params[3] = {0.0, 0.0, 0.0}, previousParams[3] = {0.0, 0.0, 0.0};
    double change = 0.0;
    int done = 0;
    auto iterate = [&](int iterations) {
        for (int it = 1; it <= iterations; ++it, ++done) {
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
            double pushedParams[3];
            for (int k = 0; k < 3; ++k)
                pushedParams[k] = params[k] + alpha * (params[k] - previousParams[k]);
            for (int j = first; j < shape.end; ++j)
                pushed[static_cast<std::size_t>(j)] = static_cast<float>(shape.value(pushedParams, j));
            for (int j = shape.end; j <= top; ++j) {
                const std::size_t q = static_cast<std::size_t>(j);
                const double xq = x[q], pq = previous[q];
                const double v = xq >= pq || !(pq > 0.0) ? xq + alpha * (xq - pq) : xq * std::pow(xq / pq, alpha);
                pushed[q] = static_cast<float>(std::max(v, 0.0));
            }
            if (piled) {
                // The pile-up of the estimate's own detected events, and
                // its share fitted to the counts, every iteration (taken
                // every fifth only, the share came out 8.5-8.9 % instead of
                // 10 % at 100 kV and 0.10 keV per channel, where little of
                // the range lies above the tube voltage).
                model.detect(pushed, z);
                pile.setSpectrum(z);
                if (fitShare) {
                    fitPileupShare(model, pile, z, y, mFirst, last, pairs, triples, c0, c1, c2, done < 8);
                    // The parts are at hand: the recorded pulses from them.
                    double p[3];
                    Pileup::weights(pile.share(), p);
                    for (int k = mFirst; k <= last; ++k) {
                        const std::size_t q = static_cast<std::size_t>(k);
                        m[q] = static_cast<float>(p[0] * c0[q] + p[1] * c1[q] + p[2] * c2[q]);
                    }
                    for (std::size_t q = 0; q < m.size(); ++q)
                        if (static_cast<int>(q) < mFirst || static_cast<int>(q) > last)
                            m[q] = 0.0f;
                } else {
                    pile.apply(z, rec);
                    model.record(rec, m);
                }
                model.adjoint(ones, u, sens);
            } else {
                model.forward(pushed, z, m);
            }
            // Convergence is judged on the fit, the counts the estimate
            // predicts: structure finer than the resolution may still be
            // sharpening while the fit (and every figure drawn from the
            // spectrum) has settled.
            double moved = 0.0;
            for (int k = mFirst; k <= last; ++k) {
                const std::size_t q = static_cast<std::size_t>(k);
                const float mk = m[q];
                ratio[q] = mk > 0.0f ? y[q] / mk : 0.0f;
                moved += std::abs(static_cast<double>(mk) - lastFit[q]);
                lastFit[q] = mk;
            }
            change = moved / total;
            model.adjoint(ratio, u, back);
            if (shape.end > first) {
                std::copy(params, params + 3, previousParams);
                std::copy(pushedParams, pushedParams + 3, params);
                // Fisher scoring for the shape's parameters on the counts'
                // likelihood, the free channels held, a few steps per
                // iteration (only the shape's own counts change between
                // them).
                std::copy(m.begin(), m.end(), mShape.begin());
                for (int j = first; j < shape.end; ++j)
                    current[static_cast<std::size_t>(j)] = pushed[static_cast<std::size_t>(j)];
                for (int step = 0; step < options.shapeSteps; ++step) {
                    // The derivatives of the predicted counts by a, b and c.
                    for (int k = 0; k < 3; ++k) {
                        std::fill(xb.begin(), xb.begin() + shape.end, 0.0f);
                        for (int j = first; j < shape.end; ++j)
                            xb[static_cast<std::size_t>(j)] =
                                static_cast<float>(current[static_cast<std::size_t>(j)] * shape.feature(k, j));
                        model.forward(xb, zb, dm[static_cast<std::size_t>(k)]);
                    }
                    double g[3] = {0, 0, 0}, info[3][3] = {};
                    for (int i = mFirst; i <= last; ++i) {
                        const std::size_t q = static_cast<std::size_t>(i);
                        const double mi = mShape[q];
                        if (!(mi > 0.0))
                            continue;
                        const double r = y[q] / mi - 1.0;
                        for (int k = 0; k < 3; ++k) {
                            const double dk = dm[static_cast<std::size_t>(k)][q];
                            g[k] += r * dk;
                            for (int l = 0; l <= k; ++l)
                                info[k][l] += dk * dm[static_cast<std::size_t>(l)][q] / mi;
                        }
                    }
                    // The power c is held loosely to Kramers' 1/E.
                    const double priorWeight = 1.0 / (options.shapePowerWidth * options.shapePowerWidth);
                    g[2] -= params[2] * priorWeight;
                    info[2][2] += priorWeight;
                    for (int k = 0; k < 3; ++k)
                        for (int l = k + 1; l < 3; ++l)
                            info[k][l] = info[l][k];
                    double d[3] = {0, 0, 0};
                    if (!solve3(info, g, d))
                        break;
                    // At most a change of 1 in the logarithm of any channel
                    // of the shape per step.
                    double largest = 0.0;
                    for (int j = first; j < shape.end; ++j)
                        largest = std::max(largest, std::abs(d[0] + d[1] * shape.feature(1, j) +
                                                             d[2] * shape.feature(2, j)));
                    const double f = largest > 1.0 ? 1.0 / largest : 1.0;
                    for (int k = 0; k < 3; ++k)
                        params[k] += f * d[k];
                    if (step + 1 == options.shapeSteps)
                        break;
                    // The predicted counts with the new shape.
                    std::fill(xb.begin(), xb.begin() + shape.end, 0.0f);
                    for (int j = first; j < shape.end; ++j) {
                        const std::size_t q = static_cast<std::size_t>(j);
                        const float v = static_cast<float>(shape.value(params, j));
                        xb[q] = v - current[q];
                        current[q] = v;
                    }
                    model.forward(xb, zb, dm[0]);
                    for (int i = mFirst; i <= last; ++i)
                        mShape[static_cast<std::size_t>(i)] += dm[0][static_cast<std::size_t>(i)];
                }
            }
            for (int j = first; j <= top; ++j) {
                const std::size_t q = static_cast<std::size_t>(j);
                const float sj = sens[q];
                const float next = j < shape.end ? static_cast<float>(shape.value(params, j))
                                   : sj > 1e-6f  ? pushed[q] * back[q] / sj
                                                 : 0.0f;
                g2[q] = g1[q];
                g1[q] = next - pushed[q];
                previous[q] = x[q];
                x[q] = next;
            }
            if (!std::isfinite(change))
                throw UnfoldError("the unfolding failed: the iteration produced values that are not numbers");
        }
    };
    const int before = options.smoothLowEnd ? std::min(options.shapeAfter, options.iterations) : options.iterations;
    iterate(before);

    bool smooth = false;
    if (options.smoothLowEnd) {
        // The relative standard error of the 1 keV bin [k, k + 1) of the
        // estimate: counting noise (Fisher information of the bin's total,
        // its shape held) and the uncertainty of what higher energies leave
        // in the bin's own channels, over the bin's own counts there;
        // negative when the bin holds no photons.
        model.forward(x, z, m);
        auto binError = [&](int k) {
            std::fill(xb.begin(), xb.end(), 0.0f);
            bool any = false;
            for (int j = first; j <= top; ++j) {
                const double e = channelCentre(j, w);
                if (e >= k && e < k + 1) {
                    xb[static_cast<std::size_t>(j)] = x[static_cast<std::size_t>(j)];
                    any = any || x[static_cast<std::size_t>(j)] > 0.0f;
                }
            }
            if (!any)
                return -1.0;
            model.forward(xb, zb, dm[0]);
            double info = 0.0, own = 0.0, all = 0.0;
            for (int i = mFirst; i <= last; ++i) {
                const double mi = m[static_cast<std::size_t>(i)], si = dm[0][static_cast<std::size_t>(i)];
                if (mi > 0.0)
                    info += si * si / mi;
                const double e = measuredCentre(i, scale);
                if (e >= k && e < k + 1) {
                    own += si;
                    all += mi;
                }
            }
            const double poisson = info > 0.0 ? 1.0 / info : 1e18;
            const double background = own > 0.0 ? options.backgroundUncertainty * (all - own) / own : 1e9;
            return std::sqrt(poisson + background * background);
        };
        // The weak bins are those from the lowest up to the last one before
        // two bins in a row that are not weak.
        const double cap = std::min(options.weakSearchKeV, 0.5 * voltage);
        int weakTop = 0;
        int strongInRow = 0;
        for (int k = static_cast<int>(std::floor(channelCentre(first, w))); k + 1 <= cap && strongInRow < 2; ++k) {
            const double error = binError(k);
            if (error < 0.0 || error > options.weakBinError) {
                weakTop = k + 1;
                strongInRow = 0;
            } else {
                ++strongInRow;
            }
        }
        if (weakTop > 0) {
            // The shape reaches up to `shapeMarginKeV` above the weak bins,
            // bin by bin while the estimate is smooth there: a bin whose
            // photons stand off the geometric mean of its neighbours (or,
            // next to the weak bins, off the trend of the two above it) by
            // more than 25 % and three of its standard errors holds a line
            // or an absorption edge, and it stays free with the bin below.
            auto endChannel = [&](int keV) {
                return std::min(top, std::max(first + 1, static_cast<int>(std::ceil(keV / w + 0.5))));
            };
            auto photonsIn = [&](int k) {
                double sum = 0.0;
                for (int j = first; j <= top; ++j) {
                    const double e = channelCentre(j, w);
                    if (e >= k && e < k + 1)
                        sum += x[static_cast<std::size_t>(j)];
                }
                return sum;
            };
            int accepted = weakTop;
            for (int k = weakTop; k < weakTop + options.shapeMarginKeV && endChannel(k + 3) < top; ++k) {
                const double here = photonsIn(k), above = photonsIn(k + 1), below = photonsIn(k - 1);
                const double error = binError(k);
                double expected = 0.0;
                if (k > weakTop)
                    expected = std::sqrt(below * above);
                else if (const double twoUp = photonsIn(k + 2); above > 0.0 && twoUp > 0.0)
                    expected = above * above / twoUp;
                if (!(here > 0.0 && expected > 0.0 && error >= 0.0) ||
                    std::abs(std::log(here / expected)) > 0.25 + 3.0 * error) {
                    accepted = std::max(weakTop, k - 1);
                    break;
                }
                accepted = k + 1;
            }
            shape.prepare(first, endChannel(accepted), w);
            fitShapeTo(shape, params, x, sens);
            std::copy(params, params + 3, previousParams);
            for (int j = first; j < shape.end; ++j)
                x[static_cast<std::size_t>(j)] = static_cast<float>(shape.value(params, j));
            previous = x;
            std::fill(g1.begin(), g1.end(), 0.0f);
            std::fill(g2.begin(), g2.end(), 0.0f);
            iterate(options.shapeIterations);
            smooth = true;
        }
    }
    if (!smooth)
        iterate(options.iterations - before);
    if (piled) {
        pileup.share = pile.share();
        pileup.meanExtraPhotons = pile.meanExtraEvents();
    }
    if (report) {
        report->iterations = done;
        report->lastChange = change;
        report->smoothBelowKeV = shape.end > first ? (shape.end - 1) * w : 0.0;
        report->pileup = pileup;
        report->lastChannel = last;
    }
    if (pileup.share > kMaxPileupShare) {
        char buf[240];
        std::snprintf(buf, sizeof buf,
                      "the counts above the tube voltage call for a pile-up share of %.1f %%, more than the %.0f %% "
                      "the unfolding can correct; measure at a lower count rate",
                      100.0 * pileup.share, 100.0 * kMaxPileupShare);
        throw UnfoldError(buf);
    }
    if (change > options.maxLastChange) {
        char buf[200];
        std::snprintf(buf, sizeof buf,
                      "the unfolding did not converge: after %d iterations the counts it predicts still "
                      "change by %.2f %% per iteration (at most %.2f %% is accepted)",
                      done, 100.0 * change, 100.0 * options.maxLastChange);
        throw UnfoldError(buf);
    }
    const int zeroed = static_cast<int>(static_cast<double>(kZeroBelowKeV) / kevPerChannel);
    for (int j = first; j <= std::min(top, kChannels); ++j) {
        // Nothing below 10 keV (as the standard method) and no photon
        // above the tube voltage.
        if (j <= zeroed || (j - 1) * w >= voltage)
            continue;
        const double v = std::nearbyint(static_cast<double>(x[static_cast<std::size_t>(j)]));
        out[static_cast<std::size_t>(j) - 1] =
            static_cast<std::int32_t>(std::min(v, static_cast<double>(std::numeric_limits<std::int32_t>::max())));
    }
    return out;
}

} // namespace tvstrip
