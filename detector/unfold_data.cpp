#include "detector/unfold_data.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <ostream>

#include "fixedio/files.h"
#include "detector/histories.h"
#include "detector/parallel.h"
#include "detector/physics_data.h"
#include "detector/random.h"

namespace tvdet {

tvstrip::DetectorProfile defaultDetectorProfile()
{
    const DetectorConfig c;
    tvstrip::DetectorProfile p;
    p.material = "CdTe";
    p.crystalSideMm = c.widthCm * 10.0;
    p.crystalThicknessMm = c.thicknessCm * 10.0;
    p.densityGPerCm3 = c.density;
    p.windowMaterial = "Be";
    p.windowThicknessUm = c.windowCm * 1.0e4;
    p.mutauElectrons = c.mutauElectrons;
    p.mutauHoles = c.mutauHoles;
    p.biasVolts = c.biasVolts;
    p.fwhm2Constant = kFwhm2Constant;
    p.fwhm2Linear = kFwhm2Linear;
    p.fwhmProportional = kFwhmProportional;
    return p;
}

DetectorConfig detectorConfig(const tvstrip::DetectorProfile& p)
{
    DetectorConfig c;
    c.widthCm = p.crystalSideMm / 10.0;
    c.thicknessCm = p.crystalThicknessMm / 10.0;
    c.density = p.densityGPerCm3;
    c.windowCm = p.windowThicknessUm / 1.0e4;
    c.chargeLoss = true;
    c.mutauElectrons = p.mutauElectrons;
    c.mutauHoles = p.mutauHoles;
    c.biasVolts = p.biasVolts;
    return c;
}

std::vector<double> unfoldNodeEnergies()
{
    std::vector<double> e;
    for (int code = 50; code <= 1510; code += 5)
        e.push_back(code / 10.0);
    // 5 eV from the edge: the cross-section tables of the transport take an
    // edge cell's value from the node on the same side (0.01 keV grid).
    for (int z : {48, 52}) {
        const double edge = xrl::kEdge(z);
        e.push_back(edge - 0.005);
        e.push_back(edge + 0.005);
    }
    std::sort(e.begin(), e.end());
    return e;
}

std::vector<std::uint32_t> simulateLoss(const Detector& detector, double energy, double lossBin,
                                        std::int64_t photons, const UnfoldDataOptions& o)
{
    const double scale = 1.0 / detector.peakCollection();
    const std::size_t bins = static_cast<std::size_t>(std::ceil(energy / lossBin)) + 1;
    const int chunks = static_cast<int>((photons + o.photonsPerChunk - 1) / o.photonsPerChunk);
    const auto energyKey = static_cast<std::uint64_t>(std::llround(energy * 1000.0));
    auto work = [&](int chunk, Histogram& h) {
        Rng rng(streamSeed(o.seed, energyKey, static_cast<std::uint64_t>(chunk)));
        const std::int64_t n =
            std::min<std::int64_t>(o.photonsPerChunk, photons - static_cast<std::int64_t>(chunk) * o.photonsPerChunk);
        for (std::int64_t k = 0; k < n; ++k) {
            const PhotonResult r = detector.simulate(energy, rng);
            if (r.collected <= 0) continue;
            const double loss = std::max(0.0, energy - r.collected * scale);
            const auto b = std::min(bins - 1, static_cast<std::size_t>(loss / lossBin));
            ++h[b];
        }
    };
    const Histogram h = runChunks(0, chunks, bins, o.threads, work);
    return std::vector<std::uint32_t>(h.begin(), h.end());
}

tvstrip::UnfoldResponse simulateUnfoldResponse(const tvstrip::DetectorProfile& profile, const UnfoldDataOptions& o,
                                               const std::function<void(std::size_t, std::size_t)>& progress)
{
    DetectorConfig config = detectorConfig(profile);
    config.chargeLoss = false;  // the deposits are kept; the collection comes from the table
    const Detector detector(config);
    const CollectionTable cce(config.thicknessCm, profile.mutauElectrons, profile.mutauHoles, profile.biasVolts);
    tvstrip::UnfoldResponse r;
    r.profileFingerprint = profile.transportFingerprint();
    r.lossBinKeV = o.lossBinKeV;
    r.photonsPerNode = static_cast<std::uint64_t>(o.photonsPerNode);
    r.profile = profile;
    const auto energies = unfoldNodeEnergies();
    r.nodes.resize(energies.size());
    std::mutex mutex;
    std::size_t done = 0;
    parallelFor(energies.size(), o.threads, [&](std::size_t n) {
        const double energy = energies[n];
        const std::size_t bins = static_cast<std::size_t>(std::ceil(energy / o.lossBinKeV)) + 1;
        std::vector<std::uint32_t> counts(bins, 0);
        const int chunks = static_cast<int>((o.photonsPerNode + o.photonsPerChunk - 1) / o.photonsPerChunk);
        const auto energyKey = static_cast<std::uint64_t>(std::llround(energy * 1000.0));
        std::vector<Deposit> deposits;
        for (int chunk = 0; chunk < chunks; ++chunk) {
            Rng rng(streamSeed(o.seed, energyKey, static_cast<std::uint64_t>(chunk)));
            const std::int64_t photons = std::min<std::int64_t>(
                o.photonsPerChunk, o.photonsPerNode - static_cast<std::int64_t>(chunk) * o.photonsPerChunk);
            for (std::int64_t k = 0; k < photons; ++k) {
                deposits.clear();
                detector.simulate(energy, rng, deposits);
                if (deposits.empty()) continue;
                double recorded = 0;
                for (const Deposit& d : deposits) recorded += static_cast<double>(d.energyKeV) * cce.calibrated(d.depthCm);
                const double loss = std::max(0.0, energy - recorded);
                ++counts[std::min(bins - 1, static_cast<std::size_t>(loss / o.lossBinKeV))];
            }
        }
        r.nodes[n].energyKeV = energy;
        r.nodes[n].counts = std::move(counts);
        std::lock_guard<std::mutex> lock(mutex);
        ++done;
        if (progress) progress(done, energies.size());
    });
    return r;
}

void generateUnfoldData(const tvstrip::DetectorProfile& profile, const std::string& profileText,
                        const std::filesystem::path& out, const UnfoldDataOptions& o, std::ostream& progress)
{
    const Detector detector(detectorConfig(profile));
    tvstrip::UnfoldResponse r;
    r.profileFingerprint = profile.transportFingerprint();
    r.lossBinKeV = o.lossBinKeV;
    r.photonsPerNode = static_cast<std::uint64_t>(o.photonsPerNode);
    const auto energies = unfoldNodeEnergies();
    const auto t0 = std::chrono::steady_clock::now();
    progress << "unfolding response: " << energies.size() << " energies x " << o.photonsPerNode
             << " photons, peak collection " << detector.peakCollection() << std::endl;
    for (std::size_t i = 0; i < energies.size(); ++i) {
        tvstrip::ResponseNode node;
        node.energyKeV = energies[i];
        node.counts = simulateLoss(detector, energies[i], o.lossBinKeV, o.photonsPerNode, o);
        r.nodes.push_back(std::move(node));
        if ((i + 1) % 20 == 0 || i + 1 == energies.size()) {
            const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            char buf[160];
            std::snprintf(buf, sizeof buf, "[%zu/%zu] %.3f keV  (%.0f s elapsed, about %.0f s left)", i + 1,
                          energies.size(), energies[i], s,
                          s / static_cast<double>(i + 1) * static_cast<double>(energies.size() - i - 1));
            progress << buf << std::endl;
        }
    }
    std::filesystem::create_directories(out / "RES");
    fixedio::writeFileAtomically(out / "RES" / tvstrip::kDetectorProfileName, profileText);
    fixedio::writeFileAtomically(out / "RES" / tvstrip::kUnfoldResponseName, tvstrip::formatUnfoldResponse(r));
    progress << "wrote " << (out / "RES" / tvstrip::kDetectorProfileName).string() << " and "
             << (out / "RES" / tvstrip::kUnfoldResponseName).string() << std::endl;
}

} // namespace tvdet
