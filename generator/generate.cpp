#include "generator/generate.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "fixedio/files.h"
#include "detector/detector.h"
#include "detector/unfold_data.h"
#include "detector/physics_data.h"
#include "generator/profile.h"
#include "generator/pulses.h"
#include "formats/pmca_writer.h"
#include "detector/random.h"
#include "detector/response_tables.h"
#include "generator/scatter_truth.h"
#include "generator/scatterer.h"
#include "generator/spectra.h"
#include "quality/beamquality.h"

namespace tvgen {

namespace {

std::string fmt(const char* f, double v)
{
    char buf[160];
    std::snprintf(buf, sizeof buf, f, v);
    return buf;
}

double secondsSince(std::chrono::steady_clock::time_point t0)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

} // namespace

void generateResponseTables(const GenerateOptions& o, std::ostream& progress)
{
    using namespace tvdet;
    std::filesystem::create_directories(o.out / "RES");
    tvdet::DetectorConfig config;
    config.chargeLoss = o.chargeLoss;
    const tvdet::Detector detector(config);
    ResponseOptions ro;
    ro.seed = o.seed;
    ro.threads = o.threads;
    const int total = (o.lastCode - o.firstCode) / kCodeStep + 1;
    const auto t0 = std::chrono::steady_clock::now();
    int done = 0;
    for (int code = o.firstCode; code <= o.lastCode; code += kCodeStep) {
        const ResponseRun run = simulateResponse(detector, code, ro);
        const auto path = o.out / "RES" / responseFileName(code);
        fixedio::writeFileAtomically(path, formatResponseTable(scaledTable(run)));
        ++done;
        const double elapsed = secondsSince(t0);
        progress << "[" << done << "/" << total << "] " << path.string() << "  " << fmt("%6.1f keV", codeEnergy(code))
                 << "  " << run.photons << " photons  absorbed whole "
                 << fmt("%.4f", static_cast<double>(run.fullAbsorption) / static_cast<double>(run.photons))
                 << fmt(" +- %.2f %%", 100.0 * run.peakUncertainty()) << "  in bins k-1,k "
                 << fmt("%.4f", static_cast<double>(run.peakCounts()) / static_cast<double>(run.photons))
                 << fmt("  (%.0f s elapsed", elapsed)
                 << fmt(", about %.0f s left)", elapsed / done * (total - done)) << std::endl;
    }
}

void generateScattererFiles(const GenerateOptions& o, std::ostream& progress)
{
    std::filesystem::create_directories(o.out);
    for (const auto& m : {graphite(), pmma()}) {
        const auto path = o.out / (m.name + ".dat");
        fixedio::writeFileAtomically(
            path, formatScattererFile(buildScattererTable(m, coefficientEnergiesMeV(), momentumTransfers())));
        progress << "wrote " << path.string() << std::endl;
        const auto profilePath = o.out / profileFileName(m.name + ".dat");
        fixedio::writeFileAtomically(profilePath, formatProfileFile(buildProfileTable(m, profileMomenta())));
        progress << "wrote " << profilePath.string() << std::endl;
    }
}

namespace {

struct DemoCase {
    std::string file;
    std::string annotation;   // line 4: shown by the display
    std::string geometry;
    bool scattered;
};

std::int64_t poissonTotal(double mean, std::uint64_t seed)
{
    // At this size a Poisson number is normal to far better than its own noise.
    tvdet::Rng rng(seed);
    return static_cast<std::int64_t>(std::llround(mean + std::sqrt(mean) * rng.normal()));
}

std::string general(double v)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", v);
    return buf;
}

} // namespace

namespace {

// The photons incident on the detector in the two demo spectra: the model
// tube behind 2.5 mm Al, and the same scattered at 90 degrees off PMMA with
// a 10 mm path in the block.
std::pair<PhotonSpectrum, PhotonSpectrum> demoSources()
{
    PhotonSpectrum primary = tubeSpectrum(TubeModel{});
    const double theta = std::numbers::pi / 2.0;
    const double pathCm = 1.0;
    PhotonSpectrum scattered = fineToPhotons(scatteredFine(primary, prepareScatterer(pmma()), theta, pathCm));
    return {std::move(primary), std::move(scattered)};
}

} // namespace

quality::BeamQuality demoTruth(const PhotonSpectrum& s, double kevPerChannel)
{
    std::vector<double> channels(kSpectrumChannels, 0.0);
    const long first = std::lround(kDemoTruthFromKeV / kevPerChannel) + 1;
    for (std::size_t i = 0; i < s.weight.size(); ++i) {
        const auto ch = static_cast<long>(std::ceil(s.energyKeV[i] / kevPerChannel));
        if (ch >= first && ch <= kSpectrumChannels) channels[static_cast<std::size_t>(ch - 1)] += s.weight[i];
    }
    quality::Options o;
    o.resamples = 0;
    return quality::computeFigures(channels, *quality::attenuationFor(kevPerChannel, channels.size()), o);
}

namespace {

// The demo's analyser file: the direct beam measured at a count rate that
// piles up kDemoPileupShare of the recorded pulses, written as the
// <<PMCA SPECTRUM>> .mca of a digital pulse processor with its live and
// real time, counters and shaping settings.  A chosen measurement, stated
// in the file: resolving time = peaking time + flat top (pile-up rejection
// off), photons arriving as a Poisson process (pulses.h), the analyser busy
// one resolving time per pulse.
constexpr double kDemoPeakingUs = 1.0, kDemoFlatTopUs = 0.2;
constexpr double kDemoPileupShare = 0.03;

void writeDemoAnalyserFile(const GenerateOptions& o, const tvstrip::DetectorProfile& profile,
                           const tvdet::Detector& detector, const PhotonSpectrum& beam, std::int64_t photons,
                           const quality::BeamQuality& truth, std::ostream& progress)
{
    const double w = 0.1;
    const double tauS = (kDemoPeakingUs + kDemoFlatTopUs) * 1e-6;
    const double meanExtra = -std::log(1.0 - kDemoPileupShare);  // photons per resolving time
    progress << "W80kV_2.5mmAl_direct.mca: " << photons << " photons, " << fmt("%.1f %% pile-up", 100 * kDemoPileupShare)
             << std::endl;
    const std::vector<float> energies =
        detectedEnergies(detector, beam, photons, tvdet::streamSeed(o.seed, 0x3ca, 0), o.threads);
    tvdet::Rng rng(tvdet::streamSeed(o.seed, 0x3ca, 1));
    const PulseTrain train = pileUp(energies, energies.size(), meanExtra, rng);
    const double sigmaPerFwhm = 1.0 / (2.0 * std::sqrt(2.0 * std::log(2.0)));
    formats::Spectrum s;
    s.format = formats::Format::PmcaMca;
    s.counts.assign(kSpectrumChannels, 0);
    for (float e : train.pulses) {
        const double x = e + rng.normal() * profile.fwhmKeV(e) * sigmaPerFwhm;
        if (x <= 0) continue;
        const double ch = std::ceil(x / w);
        if (ch >= 1 && ch <= kSpectrumChannels) ++s.counts[static_cast<std::size_t>(ch) - 1];
    }
    const double realS = train.elapsed * tauS;
    const double liveS = realS - static_cast<double>(train.pulses.size()) * tauS;
    s.name = "SIMULATED W 80 kV + 2.5 mm Al direct beam";
    s.headerLines = {
        "Simulated spectrum - NOT a measurement - made by tvgen (generator/) of Tarvik_CdTe",
        "X-ray tube model: W anode 80 kV filtered by 2.5 mm Al; direct beam onto the detector",
        fmt("True mean energy at the detector: %.2f keV", truth.meanEnergyKeV.value),
        fmt("True HVL (air kerma): %.3f mm Al", truth.hvl1AlMm.value),
        fmt("True figures: photons above %.0f keV (quality/)", kDemoTruthFromKeV),
        fmt("Pile-up: %.1f %% of the recorded pulses (photon arrival times simulated)", 100 * kDemoPileupShare),
        fmt("Pulse-pair resolving time: %.1f us (peaking time + flat top)", kDemoPeakingUs + kDemoFlatTopUs),
        "Detector: the shipped profile (Monte Carlo with Hecht charge loss)",
        "Seed: " + std::to_string(o.seed),
    };
    s.calibration = formats::makeCalibration({0.0, w}, formats::ChannelPoint::LowerEdge, s.counts.size(),
                                             "the analyser's calibration");
    s.realTimeS = std::round(realS * 1000.0) / 1000.0;
    s.liveTimeS = std::round(liveS * 1000.0) / 1000.0;
    s.startTime = "2026-12-01T10:00:00";
    formats::PulseProcessor p;
    p.peakingTimeUs = kDemoPeakingUs;
    p.flatTopUs = kDemoFlatTopUs;
    p.pileUpRejection = false;
    p.inputCounts = static_cast<std::uint64_t>(energies.size());
    p.outputCounts = static_cast<std::uint64_t>(train.pulses.size());
    p.accumulationTimeS = s.realTimeS;
    p.deadTimePercent = std::round(10000.0 * (1.0 - liveS / realS)) / 100.0;
    s.processor = p;
    const auto path = o.out / "Tarvik_data" / "W80kV_2.5mmAl_direct.mca";
    fixedio::writeFileAtomically(path, formats::formatPmca(s));
    progress << "wrote " << path.string() << fmt(" (real time %.1f s", realS) << fmt(", live time %.1f s", liveS)
             << ", " << train.pulses.size() << " pulses)" << std::endl;
}

} // namespace

void generateDemoSpectra(const GenerateOptions& o, const tvstrip::DetectorProfile& profile, std::ostream& progress)
{
    std::filesystem::create_directories(o.out / "Tarvik_data");
    // The detector as an analyser calibrated with line sources records it:
    // Hecht charge loss, the full-energy peaks' upper edges at the photon
    // energies, the profile's resolution (the round trip's measurement).
    const tvdet::Detector detector(tvdet::detectorConfig(profile));
    TubeModel tube;
    const auto [primary, scattered] = demoSources();
    const double peakTarget = 40000.0;
    const double w = 0.1;
    const quality::BeamQuality primaryTruth = demoTruth(primary, w);

    std::int64_t directPhotons = 0;
    const std::vector<DemoCase> cases{
        {"W80kV_2.5mmAl_direct.csv", "SIMULATED: W 80 kV + 2.5 mm Al direct beam (not measured)",
         "Geometry: direct beam onto the detector", false},
        {"W80kV_2.5mmAl_PMMA90deg.csv", "SIMULATED: W 80 kV + 2.5 mm Al scattered 90 deg off PMMA",
         "Geometry: scattered 90 deg off PMMA; path in it 10 mm", true},
    };
    for (std::size_t c = 0; c < cases.size(); ++c) {
        const DemoCase& dc = cases[c];
        const PhotonSpectrum& source = dc.scattered ? scattered : primary;
        MeasurementOptions mo;
        mo.seed = tvdet::streamSeed(o.seed, 0xde30, c);
        mo.threads = o.threads;
        mo.kevPerChannel = w;
        mo.energyScale = 1.0 / detector.peakCollection();
        mo.fwhm = [&](double e) { return profile.fwhmKeV(e); };
        // A pilot run sets the measuring time so that the highest channel
        // holds about peakTarget counts.
        const std::int64_t pilotPhotons = 1000000;
        MeasurementOptions pilotOptions = mo;
        pilotOptions.seed = tvdet::streamSeed(o.seed, 0x9170, c);
        const ChannelCounts pilot = measureSpectrum(detector, source, pilotPhotons, pilotOptions);
        std::int64_t highest = 1;
        for (auto n : pilot) highest = std::max(highest, n);
        const double mean = static_cast<double>(pilotPhotons) * peakTarget / static_cast<double>(highest);
        const std::int64_t photons = poissonTotal(mean, tvdet::streamSeed(o.seed, 0x7015, c));
        progress << dc.file << ": " << photons << " photons" << std::endl;
        if (!dc.scattered) directPhotons = photons;
        const ChannelCounts counts = measureSpectrum(detector, source, photons, mo, [&](std::int64_t n) {
            if (n % 2000000 < mo.photonsPerChunk || n == photons)
                progress << "  " << n << " / " << photons << " photons" << std::endl;
        });
        std::int64_t peak = 0, sum = 0;
        for (auto n : counts) {
            peak = std::max(peak, n);
            sum += n;
        }
        const quality::BeamQuality truth = demoTruth(source, w);
        std::vector<std::string> header{
            "Simulated spectrum - NOT a measurement",
            "Made by tvgen (generator/) of Tarvik_CdTe",
            "X-ray tube model: W anode 80 kV filtered by 2.5 mm Al",
            dc.annotation,
            dc.geometry,
            "Tube: Kramers continuum (E0-E)/E with W K lines",
            fmt("W K-line photons: %.0f %% of the 10-80 keV continuum", 100.0 * tube.kLineShare),
            "Filtration: 2.5 mm Al (attenuation from xraylib)",
            fmt("True mean energy at the detector: %.2f keV", truth.meanEnergyKeV.value),
            fmt("True HVL (air kerma): %.3f mm Al", truth.hvl1AlMm.value),
        };
        if (dc.scattered) {
            header.push_back(fmt("True primary mean energy: %.2f keV", primaryTruth.meanEnergyKeV.value));
            header.push_back(fmt("True primary HVL (air kerma): %.3f mm Al", primaryTruth.hvl1AlMm.value));
            header.push_back("Scattering: Compton with Doppler broadening + coherent");
        }
        const std::vector<std::string> rest{
            fmt("True figures: photons above %.0f keV (quality/)", kDemoTruthFromKeV),
            "Detector: " + profile.material + " " + general(profile.crystalSideMm) + " x " +
                general(profile.crystalSideMm) + " x " + general(profile.crystalThicknessMm) + " mm behind " +
                general(profile.windowThicknessUm) + " um " + profile.windowMaterial + " (Monte Carlo)",
            "Charge loss: Hecht mu-tau e " + general(profile.mutauElectrons) + " h " + general(profile.mutauHoles) +
                " cm2/V at " + general(profile.biasVolts) + " V",
            "Resolution: FWHM^2 = " + general(profile.fwhm2Constant) + " + " + general(profile.fwhm2Linear) + " E + (" +
                general(profile.fwhmProportional) + " E)^2",
            "Energy scale: calibrated (peaks at the photon energy)",
            "Counting noise: Poisson",
            fmt("Channels: 1024 x %.1f keV", mo.kevPerChannel),
            "Physics data: xraylib " + tvdet::xrl::libraryVersion(),
            "Records: channel / energy (keV) / count",
            "Photons simulated: " + std::to_string(photons),
            "Counts recorded: " + std::to_string(sum),
            "Highest channel count: " + std::to_string(peak),
            "Seed: " + std::to_string(o.seed),
        };
        header.insert(header.end(), rest.begin(), rest.end());
        while (header.size() < 30) header.push_back("");
        header.push_back("Channel  Energy  Count");
        const auto path = o.out / "Tarvik_data" / dc.file;
        fixedio::writeFileAtomically(path, formatMeasuredCsv(header, counts, mo.kevPerChannel));
        progress << "wrote " << path.string() << " (highest channel " << peak << " counts; true mean energy "
                 << fmt("%.2f keV, HVL ", truth.meanEnergyKeV.value) << fmt("%.3f mm Al)", truth.hvl1AlMm.value)
                 << std::endl;
    }
    writeDemoAnalyserFile(o, profile, detector, primary, directPhotons, primaryTruth, progress);
}

} // namespace tvgen

namespace tvgen {

void generateDemoTruth(const GenerateOptions& o, std::ostream& progress)
{
    std::filesystem::create_directories(o.out);
    // The sources of generateDemoSpectra, before the detector.
    const auto [primary, scattered] = demoSources();
    const double w = 0.1;
    const struct {
        const char* file;
        const char* demo;
        const PhotonSpectrum& source;
    } cases[] = {{"W80kV_2.5mmAl_direct_true.csv", "W80kV_2.5mmAl_direct.csv", primary},
                 {"W80kV_2.5mmAl_PMMA90deg_true.csv", "W80kV_2.5mmAl_PMMA90deg.csv", scattered}};
    for (const auto& c : cases) {
        // Channel i holds the energies in ((i-1)w, iw], as the analyser counts them.
        std::vector<double> share(kSpectrumChannels, 0.0);
        const double total = c.source.total();
        const quality::BeamQuality truth = demoTruth(c.source, w);
        for (std::size_t k = 0; k < c.source.energyKeV.size(); ++k) {
            const auto i = static_cast<long>(std::ceil(c.source.energyKeV[k] / w));
            if (i >= 1 && i <= kSpectrumChannels) share[static_cast<std::size_t>(i - 1)] += c.source.weight[k] / total;
        }
        std::string out = std::string("# The true spectrum of the demo spectrum Tarvik_data/") + c.demo +
                          ": the photons\n"
                          "# incident on the detector, before the detector model (tvgen --demo-truth).\n" +
                          fmt("# True mean energy %.2f keV, ", truth.meanEnergyKeV.value) +
                          fmt("HVL (air kerma) %.3f mm Al, ", truth.hvl1AlMm.value) +
                          fmt("of the photons above %.0f keV, as the demo's header says.\n", kDemoTruthFromKeV) +
                          "# share: the share of the incident photons in the channel; the demo's\n"
                          "# \"Photons simulated\" times the share is the number of photons.\n"
                          "channel,upper_edge_keV,share\n";
        for (int i = 1; i <= kSpectrumChannels; ++i) {
            char line[96];
            std::snprintf(line, sizeof line, "%d,%.2f,%.9e\n", i, i * w, share[static_cast<std::size_t>(i - 1)]);
            out += line;
        }
        const auto path = o.out / c.file;
        fixedio::writeFileAtomically(path, out);
        progress << "wrote " << path.string() << std::endl;
    }
}

} // namespace tvgen
