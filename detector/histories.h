// Photon histories kept with the depth and energy of every deposit.  The
// photon transport does not depend on the charge transport, so a history
// simulated once serves every trial mu-tau and bias of the same crystal:
// the charge collection is applied afterwards ("re-weighting" the stored
// histories), which makes a fit of mu-tau to measured spectra affordable.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "detector/detector.h"
#include "detector/random.h"

namespace tvdet {

// What a history did, for telling the parts of a spectrum apart.
enum class EventKind : std::uint8_t {
    Peak = 0,       // every bit of the photon's energy stayed in the crystal (full-energy peak and its charge-loss tail)
    Escape = 1,     // a Cd or Te K fluorescence photon left the crystal (escape peaks)
    Continuum = 2,  // a scattered photon left the crystal (Compton continuum)
};
inline constexpr int kEventKinds = 3;

// The histories of photons of one energy that left energy in the crystal.
struct LineHistories {
    double energyKeV = 0;
    std::int64_t photons = 0;             // photons incident on the window, all of them
    std::vector<std::uint32_t> first;     // deposits of event k: first[k] .. first[k+1]-1
    std::vector<Deposit> deposits;
    std::vector<EventKind> kind;
    std::size_t events() const { return kind.size(); }
};

struct HistoryOptions {
    std::uint64_t seed = 20240605;
    int photonsPerChunk = 20000;
    int threads = 1;
};

// Simulates `photons` photons of energy E.  Chunk c of the photons draws
// from its own stream (seed, E, c) and the chunks are joined in order, so the
// histories do not depend on the threads.
LineHistories simulateHistories(const Detector& detector, double energyKeV, std::int64_t photons,
                                const HistoryOptions& options);

// The same for photons whose energies `draw` picks (a spectrum rather than a
// line); `key` tells the random streams of different spectra apart.
// energyKeV of the result is the largest energy drawn.
LineHistories simulateHistories(const Detector& detector, const std::function<double(Rng&)>& draw,
                                std::uint64_t key, std::int64_t photons, const HistoryOptions& options);

// The Hecht charge collection of a planar crystal on the analyser's
// calibrated scale (divided by its largest value over the depth), tabulated
// over the depth for fast look-up.
class CollectionTable {
public:
    CollectionTable(double thicknessCm, double mutauElectrons, double mutauHoles, double biasVolts, int nodes = 8192);
    // Largest collection efficiency over the depth, and where.
    double peak() const { return peak_; }
    double peakDepthCm() const { return peakDepth_; }
    // CCE(z) / peak(), linear between the nodes.
    double calibrated(double depthCm) const
    {
        const auto [i, t] = node(depthCm);
        return table_[i] + t * (table_[i + 1] - table_[i]);
    }
    // The same with its derivatives with respect to ln(mu-tau) of
    // electrons and holes (the peak moving with them).
    struct Slopes {
        double value, electrons, holes;
    };
    Slopes calibratedWithSlopes(double depthCm) const
    {
        const auto [i, t] = node(depthCm);
        return {table_[i] + t * (table_[i + 1] - table_[i]), slopeE_[i] + t * (slopeE_[i + 1] - slopeE_[i]),
                slopeH_[i] + t * (slopeH_[i + 1] - slopeH_[i])};
    }

private:
    std::pair<std::size_t, double> node(double depthCm) const
    {
        const double pos = std::clamp(depthCm * scale_, 0.0, static_cast<double>(table_.size() - 1));
        const auto i = std::min(static_cast<std::size_t>(pos), table_.size() - 2);
        return {i, pos - static_cast<double>(i)};
    }
    double peak_ = 1, peakDepth_ = 0, scale_ = 0;
    std::vector<double> table_, slopeE_, slopeH_;
};

// The recorded energy (collected energy on the calibrated scale) of every
// event, in the order of the events.
std::vector<double> recordedEnergies(const LineHistories& h, const CollectionTable& cce);

// Adds every event's recorded energy, with weight `weight`, to the histogram
// of its kind (bins of `binKeV` from 0; bin b centred at (b + 1/2)·binKeV),
// shared linearly between the two nearest bin centres so that the
// histogram changes continuously with mu-tau.  Energies beyond the last
// bin are dropped.
void addRecorded(const LineHistories& h, const CollectionTable& cce, double binKeV, double weight,
                 std::array<std::vector<double>, kEventKinds>& histograms);

// Runs work(i) for i = 0..count-1 on `threads` threads (at least one).
void parallelFor(std::size_t count, int threads, const std::function<void(std::size_t)>& work);

} // namespace tvdet
