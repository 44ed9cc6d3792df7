#include "detector/medium.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "detector/physics_data.h"

namespace tvdet {

namespace {
constexpr int kPerConstituent = 4;
}

Medium::Medium(std::vector<Constituent> constituents, double density, bool kShells, double minKeV,
               double maxKeV, double stepKeV)
    : constituents_(std::move(constituents)), density_(density), kShells_(kShells), min_(minKeV), step_(stepKeV)
{
    if (constituents_.empty() || constituents_.size() > kMaxConstituents)
        throw std::invalid_argument("a medium needs 1 to 4 constituents");
    nodes_ = static_cast<std::size_t>(std::llround((maxKeV - minKeV) / stepKeV)) + 1;
    const std::size_t stride = constituents_.size() * kPerConstituent;
    values_.resize(nodes_ * stride);
    cellEdge_.assign(nodes_, 0.0);
    for (std::size_t n = 0; n < nodes_; ++n) {
        const double e = min_ + step_ * static_cast<double>(n);
        const Coefficients c = exact(e);
        for (std::size_t i = 0; i < constituents_.size(); ++i) {
            double* v = &values_[n * stride + i * kPerConstituent];
            v[0] = c.part[i].photo;
            v[1] = c.part[i].compton;
            v[2] = c.part[i].rayleigh;
            v[3] = c.part[i].kShare;
        }
    }
    for (const auto& c : constituents_) {
        std::vector<double> edges{xrl::kEdge(c.Z)};
        for (int s = 1; s <= 3; ++s) {
            try {
                edges.push_back(xrl::lEdge(c.Z, s));
            } catch (const PhysicsDataError&) {
                // light elements have no L subshell edges
            }
        }
        for (double edge : edges) {
            if (edge <= min_ || edge >= maxEnergy()) continue;
            const auto cell = static_cast<std::size_t>((edge - min_) / step_);
            cellEdge_[cell] = edge;
        }
    }
}

Coefficients Medium::exact(double e) const
{
    Coefficients c;
    c.count = static_cast<int>(constituents_.size());
    for (std::size_t i = 0; i < constituents_.size(); ++i) {
        const int Z = constituents_[i].Z;
        const double k = density_ * constituents_[i].massFraction;
        c.part[i].photo = k * xrl::photo(Z, e);
        c.part[i].compton = k * xrl::compton(Z, e);
        c.part[i].rayleigh = k * xrl::rayleigh(Z, e);
        c.part[i].kShare = kShells_ ? xrl::kShellShare(Z, e) : 0.0;
    }
    return c;
}

Coefficients Medium::at(double e) const
{
    double pos = (e - min_) / step_;
    pos = std::clamp(pos, 0.0, static_cast<double>(nodes_ - 1));
    auto cell = static_cast<std::size_t>(pos);
    if (cell >= nodes_ - 1) cell = nodes_ - 2;
    double t = pos - static_cast<double>(cell);
    if (cellEdge_[cell] != 0.0) t = e < cellEdge_[cell] ? 0.0 : 1.0;
    const std::size_t stride = constituents_.size() * kPerConstituent;
    const double* a = &values_[cell * stride];
    const double* b = a + stride;
    Coefficients c;
    c.count = static_cast<int>(constituents_.size());
    for (std::size_t i = 0; i < constituents_.size(); ++i) {
        const std::size_t o = i * kPerConstituent;
        c.part[i].photo = a[o] + t * (b[o] - a[o]);
        c.part[i].compton = a[o + 1] + t * (b[o + 1] - a[o + 1]);
        c.part[i].rayleigh = a[o + 2] + t * (b[o + 2] - a[o + 2]);
        c.part[i].kShare = a[o + 3] + t * (b[o + 3] - a[o + 3]);
    }
    return c;
}

double attenuationCoefficient(const std::vector<Constituent>& constituents, double density, double e)
{
    double sum = 0;
    for (const auto& c : constituents) sum += c.massFraction * xrl::total(c.Z, e);
    return density * sum;
}

} // namespace tvdet
