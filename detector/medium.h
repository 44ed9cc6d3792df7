// Photon interaction data of a homogeneous medium (an element or a
// compound given by mass fractions), tabulated once from the physics data on
// a fine energy grid so that the transport never calls into the physics
// library.  Absorption edges are honoured: in a grid cell that holds an edge
// the value is taken from the grid node on the same side of the edge.
#pragma once

#include <cstddef>
#include <vector>

namespace tvdet {

struct Constituent {
    int Z = 0;
    double massFraction = 0;
};

// Interaction coefficients of one constituent at one energy, in 1/cm.
struct PartialCoefficients {
    double photo = 0;
    double compton = 0;
    double rayleigh = 0;
    double kShare = 0;  // share of its photoabsorption that leaves a K vacancy
};

inline constexpr int kMaxConstituents = 4;

struct Coefficients {
    int count = 0;
    PartialCoefficients part[kMaxConstituents];
    double total() const
    {
        double t = 0;
        for (int i = 0; i < count; ++i) t += part[i].photo + part[i].compton + part[i].rayleigh;
        return t;
    }
};

class Medium {
public:
    // Tabulates the medium from minKeV to maxKeV in steps of stepKeV.  The
    // K-shell share of the photoabsorption is tabulated only when
    // `kShells` is set (media whose K fluorescence is followed).
    Medium(std::vector<Constituent> constituents, double density, bool kShells = false,
           double minKeV = 1.0, double maxKeV = 160.0, double stepKeV = 0.01);

    const std::vector<Constituent>& constituents() const { return constituents_; }
    double density() const { return density_; }
    double minEnergy() const { return min_; }
    double maxEnergy() const { return min_ + step_ * static_cast<double>(nodes_ - 1); }

    // Coefficients at E (clamped to the tabulated range).
    Coefficients at(double energyKeV) const;
    // The same, straight from the physics data (slow; for checks).
    Coefficients exact(double energyKeV) const;

private:
    std::vector<Constituent> constituents_;
    double density_;
    bool kShells_;
    double min_, step_;
    std::size_t nodes_;
    std::vector<double> values_;     // node-major: 4 values per constituent
    std::vector<double> cellEdge_;   // edge energy inside the cell, or 0
};

// Linear attenuation coefficient (1/cm) of a medium straight from the
// physics data: density times the mass-fraction-weighted total cross section.
double attenuationCoefficient(const std::vector<Constituent>& constituents, double density, double energyKeV);

} // namespace tvdet
