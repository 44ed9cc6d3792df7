#include "generator/roundtrip_characterize.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ostream>
#include <string>

#include "detector/characterize.h"
#include "detector/random.h"
#include "fixedio/files.h"
#include "generator/spectra.h"
#include "generator/roundtrip.h"
#include "detector/characterize_output.h"
#include "detector/parallel.h"
#include "strip/unfold.h"
#include "strip/unfold_response.h"

#include <filesystem>
#include <unistd.h>

namespace tvgen {

namespace {

std::string fixed(double v, int decimals)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%+.*f", decimals, v);
    return buf;
}

tvdet::SimulatedDetector detector(double mutauE, double mutauH, double bias, double a, double b, double c, double gain,
                                  double offset)
{
    tvdet::SimulatedDetector d;
    d.config.mutauElectrons = mutauE;
    d.config.mutauHoles = mutauH;
    d.config.biasVolts = bias;
    d.fwhm2Constant = a;
    d.fwhm2Linear = b;
    d.fwhmProportional = c;
    d.gain = gain;
    d.offset = offset;
    return d;
}

double fwhmAt(const tvdet::SimulatedDetector& d, double e)
{
    return std::sqrt(d.fwhm2Constant + d.fwhm2Linear * e + d.fwhmProportional * d.fwhmProportional * e * e);
}

} // namespace

std::vector<BenchDetector> benchDetectors()
{
    // Charge transport, bias and resolution within the range of commercial
    // 1 mm CdTe detectors; analysers of 0.1, 0.15 and 0.2 keV per channel
    // with gain and offset off the nominal.  The parameters are choices of
    // this check, not measurements.
    return {
        {"A (400 V, holes 2e-4)", detector(1.5e-3, 2e-4, 400, 0.30, 0.0035, 0.0025, 0.1508, -0.23), 0.15,
         {{"241Am", 1e5}, {"57Co", 2e5}, {"133Ba", 3e5}}},
        {"B (300 V, holes 6e-5)", detector(1.0e-3, 6e-5, 300, 0.45, 0.004, 0.004, 0.0985, 0.31), 0.10,
         {{"241Am", 1e5}, {"109Cd", 1e5}, {"133Ba", 3e5}}},
        {"C (800 V, holes 3e-4)", detector(3e-3, 3e-4, 800, 0.20, 0.002, 0.003, 0.2013, -0.45), 0.20,
         {{"241Am", 1e5}, {"57Co", 2e5}, {"133Ba", 3e5}}},
        {"D (200 V, holes 1e-4)", detector(2e-3, 1e-4, 200, 0.35, 0.003, 0.005, 0.1492, 0.12), 0.15,
         {{"241Am", 1e5}, {"57Co", 2e5}, {"153Gd", 2e5}}},
    };
}

std::vector<std::vector<double>> simulateSources(const BenchDetector& d, std::uint64_t seed, double countScale,
                                                 int threads)
{
    tvdet::Rng rng(tvdet::streamSeed(seed, 0xBE7C, 0));
    std::vector<std::vector<double>> out;
    std::uint64_t k = 0;
    for (const auto& [nuclide, photons] : d.sources) {
        tvdet::SourceSetup s;
        s.nuclide = nuclide;
        s.photons = photons * countScale;
        s.encapsulation = tvdet::stainlessSteel();
        s.encapsulationGPerCm2 = 0.002 + 0.008 * rng.uniform();  // 3 to 13 um of steel
        s.scatterShare = 0.02 + 0.04 * rng.uniform();
        s.minAngleDeg = 20 + 20 * rng.uniform();
        s.maxAngleDeg = 140 + 30 * rng.uniform();
        s.flatPerChannel = 0.1 + 0.4 * rng.uniform();
        out.push_back(tvdet::simulateSourceMeasurement(d.detector, s, tvdet::streamSeed(seed, 0xBE7D, k++), threads));
    }
    return out;
}

std::vector<std::string> writeSourceSpectra(const std::string& out, double countScale, int threads)
{
    const BenchDetector d = benchDetectors().front();
    const auto counts = simulateSources(d, 1, countScale, threads);
    std::vector<std::string> files;
    for (std::size_t k = 0; k < counts.size(); ++k) {
        std::vector<std::string> header(31, "");
        header[0] = "Simulated calibration spectrum (tvgen)";
        header[1] = std::string("Source ") + d.sources[k].first;
        header[2] = std::string("Detector ") + d.name[0] + " of tvgen --characterize-recovery";
        char buf[64];
        std::snprintf(buf, sizeof buf, "Gain %.4f keV/ch offset %.2f keV", d.detector.gain, d.detector.offset);
        header[3] = buf;
        ChannelCounts c{};
        for (std::size_t i = 0; i < c.size() && i < counts[k].size(); ++i)
            c[i] = static_cast<std::int64_t>(counts[k][i]);
        const std::string file = out + "/" + d.sources[k].first + ".csv";
        fixedio::writeFileAtomically(file, formatMeasuredCsv(header, c, d.nominalKevPerChannel));
        files.push_back(file);
    }
    return files;
}

void characterizeRecovery(const CharacterizeBenchOptions& o, std::ostream& out, std::ostream& progress)
{
    struct Figure {
        const char* name;
        double goal;   // the goal of a characterization, in the unit of the error
        double sum = 0, sumSq = 0, worst = 0;
        double pullSum = 0, pullSq = 0;
        int n = 0;
        void add(double error, double pull)
        {
            sum += error;
            sumSq += error * error;
            worst = std::max(worst, std::abs(error));
            pullSum += pull;
            pullSq += pull * pull;
            ++n;
        }
    };
    out << "| detector | seed | counts (k) | gain error (%) | offset error (keV) | FWHM(59.54) error (%) | hole mu-tau "
           "error (%) | electron mu-tau error (%) | deviance per channel | time (s) |\n"
           "|---|---|---|---|---|---|---|---|---|---|\n";
    std::vector<std::vector<Figure>> figures;
    const auto detectors = benchDetectors();
    for (const auto& d : detectors) {
        if (!o.only.empty() && std::string(d.name).rfind(o.only, 0) != 0) {
            figures.emplace_back();
            continue;
        }
        std::vector<Figure> f = {{"gain (%)", 0.1}, {"offset (keV)", 0.02}, {"FWHM at 59.54 keV (%)", 3},
                                 {"hole mu-tau (%)", 15}, {"electron mu-tau (%)", 0}};
        for (int seed = o.firstSeed; seed < o.firstSeed + o.seeds; ++seed) {
            const auto counts = simulateSources(d, static_cast<std::uint64_t>(seed), o.countScale, o.threads);
            std::vector<tvdet::CalibrationSpectrum> spectra;
            double total = 0;
            for (std::size_t k = 0; k < counts.size(); ++k) {
                spectra.push_back({d.sources[k].first, std::string(d.sources[k].first) + ".csv", counts[k]});
                for (double v : counts[k]) total += v;
            }
            tvdet::Construction c;
            c.biasVolts = d.detector.config.biasVolts;
            tvdet::CharacterizeOptions co;
            co.threads = o.threads;
            co.seed = tvdet::streamSeed(static_cast<std::uint64_t>(seed), 0xC4A8, 0);
            const auto t0 = std::chrono::steady_clock::now();
            std::string row = std::string("| ") + d.name + " | " + std::to_string(seed) + " | " +
                              std::to_string(static_cast<long>(total / 1000)) + " | ";
            try {
                const tvdet::Characterization r = tvdet::characterize(spectra, d.nominalKevPerChannel, c, co);
                const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
                const auto& t = d.detector;
                const double fwhm = fwhmAt(t, 59.54);
                const double e[5] = {100 * (r.gain.value / t.gain - 1), r.offset.value - t.offset,
                                     100 * (r.fwhmAt5954.value / fwhm - 1),
                                     100 * (r.mutauHoles.value / t.config.mutauHoles - 1),
                                     100 * (r.mutauElectrons.value / t.config.mutauElectrons - 1)};
                const double u[5] = {100 * r.gain.uncertainty / t.gain, r.offset.uncertainty,
                                     100 * r.fwhmAt5954.uncertainty / fwhm,
                                     100 * r.mutauHoles.uncertainty / t.config.mutauHoles,
                                     100 * r.mutauElectrons.uncertainty / t.config.mutauElectrons};
                for (int k = 0; k < 5; ++k) f[static_cast<std::size_t>(k)].add(e[k], u[k] > 0 ? e[k] / u[k] : 0.0);
                row += fixed(e[0], 4) + " | " + fixed(e[1], 4) + " | " + fixed(e[2], 2) + " | " + fixed(e[3], 2) +
                       " | " + fixed(e[4], 1) + " | " + fixed(r.deviancePerChannel, 3).substr(1) + " | " +
                       fixed(seconds, 1).substr(1) + " |";
            } catch (const std::exception& ex) {
                row += std::string("refused: ") + ex.what() + " | | | | | | |";
            }
            out << row << std::endl;
            progress << row << std::endl;
        }
        figures.push_back(f);
    }
    out << "\n| detector | figure | goal | mean error | RMS error | largest error | mean of error/u | SD of error/u |\n"
           "|---|---|---|---|---|---|---|---|\n";
    for (std::size_t i = 0; i < detectors.size(); ++i)
        for (const auto& f : figures[i]) {
            if (f.n == 0) continue;
            const double mean = f.sum / f.n, rms = std::sqrt(f.sumSq / f.n);
            const double pm = f.pullSum / f.n, ps = std::sqrt(std::max(0.0, f.pullSq / f.n - pm * pm));
            char buf[256];
            std::snprintf(buf, sizeof buf, "| %s | %s | %s | %+.4f | %.4f | %.4f | %+.2f | %.2f |\n", detectors[i].name,
                          f.name, f.goal > 0 ? (std::to_string(f.goal).substr(0, 4)).c_str() : "-", mean, rms, f.worst,
                          pm, ps);
            out << buf;
        }
}

namespace {

// A tube spectrum measured by a simulated detector: its charge loss on its
// calibrated scale, its resolution, its gain and offset, Poisson noise.
tvstrip::Counts measureTube(const tvdet::SimulatedDetector& d, const PhotonSpectrum& spectrum, std::int64_t photons,
                            std::uint64_t seed, int threads)
{
    tvdet::DetectorConfig config = d.config;
    config.chargeLoss = true;
    const tvdet::Detector detector(config);
    const double scale = 1.0 / detector.peakCollection();
    std::vector<double> cumulative(spectrum.weight.size());
    double sum = 0;
    for (std::size_t i = 0; i < spectrum.weight.size(); ++i) cumulative[i] = (sum += spectrum.weight[i]);
    const double perFwhm = 1.0 / (2.0 * std::sqrt(2.0 * std::log(2.0)));
    const std::int64_t per = 100000;
    const int chunks = static_cast<int>((photons + per - 1) / per);
    const tvdet::Histogram h = tvdet::runChunks(0, chunks, tvstrip::kChannels, threads, [&](int chunk, tvdet::Histogram& out) {
        tvdet::Rng rng(tvdet::streamSeed(seed, 0x7B0E, static_cast<std::uint64_t>(chunk)));
        const std::int64_t n = std::min<std::int64_t>(per, photons - static_cast<std::int64_t>(chunk) * per);
        for (std::int64_t k = 0; k < n; ++k) {
            const double u = rng.uniform() * sum;
            const auto it = std::upper_bound(cumulative.begin(), cumulative.end(), u);
            const std::size_t i = std::min<std::size_t>(static_cast<std::size_t>(it - cumulative.begin()), cumulative.size() - 1);
            const tvdet::PhotonResult r = detector.simulate(spectrum.energyKeV[i], rng);
            if (r.collected <= 0) continue;
            const double recorded = r.collected * scale;
            const double c = d.fwhmProportional;
            const double fwhm = std::sqrt(d.fwhm2Constant + d.fwhm2Linear * recorded + c * c * recorded * recorded);
            const double e = recorded + rng.normal() * fwhm * perFwhm;
            const double channel = std::ceil((e - d.offset) / d.gain);
            if (channel >= 1 && channel <= tvstrip::kChannels) ++out[static_cast<std::size_t>(channel) - 1];
        }
    });
    tvstrip::Counts counts{};
    for (std::size_t i = 0; i < counts.size(); ++i) counts[i] = static_cast<std::int32_t>(std::min<std::int64_t>(h[i], 999999));
    return counts;
}

std::string cell(double v, int decimals)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%+.*f", decimals, v);
    return buf;
}

} // namespace

void characterizeRoundTrip(const CharacterizeRoundTripOptions& o, std::ostream& out, std::ostream& progress)
{
    namespace fs = std::filesystem;
    std::unique_ptr<tvstrip::UnfoldResponse> shipped;
    if (!o.shippedRes.empty()) shipped = std::make_unique<tvstrip::UnfoldResponse>(tvstrip::loadUnfoldResponse(o.shippedRes));
    out << "| detector | kV | keV/ch | RES | mean true (keV) | mean error (keV) | HVL true (mm Al) | HVL error (%) | RMS 1 keV bins (%) |\n"
           "|---|---|---|---|---|---|---|---|---|\n";
    for (const auto& d : benchDetectors()) {
        if (!o.only.empty() && std::string(d.name).rfind(o.only, 0) != 0) continue;
        // Characterized from its own calibration sources (seed 1).
        const auto counts = simulateSources(d, 1, 1.0, o.threads);
        std::vector<tvdet::CalibrationSpectrum> spectra;
        for (std::size_t k = 0; k < counts.size(); ++k)
            spectra.push_back({d.sources[k].first, std::string(d.sources[k].first) + ".csv", counts[k]});
        tvdet::Construction c;
        c.biasVolts = d.detector.config.biasVolts;
        tvdet::CharacterizeOptions co;
        co.threads = o.threads;
        const tvdet::Characterization r = tvdet::characterize(spectra, d.nominalKevPerChannel, c, co);
        const fs::path dir = fs::temp_directory_path() / ("tvgen_characterized_" + std::to_string(getpid()) + "_" + d.name[0]);
        tvdet::OutputOptions oo;
        oo.standardRes = o.shippedRes.empty() ? fs::path("data/RES") : fs::path(o.shippedRes);
        oo.threads = o.threads;
        oo.replace = true;
        oo.unfoldPhotonsPerNode = o.photonsPerNode;
        tvdet::writeCharacterization(r, dir, oo);
        const tvstrip::UnfoldResponse characterized = tvstrip::loadUnfoldResponse(dir / "RES");
        progress << d.name << ": characterized (gain " << r.gain.value << ", offset " << r.offset.value << ", mu-tau holes "
                 << r.mutauHoles.value << ")" << std::endl;
        const double w = d.nominalKevPerChannel;
        const auto wf = static_cast<float>(w);
        for (int kv : o.kilovolts) {
            TubeModel tube;
            tube.kilovolts = kv;
            tube.aluminiumMm = o.filtrationMm;
            const PhotonSpectrum truth = tubeSpectrum(tube);
            tvdet::Rng poisson(tvdet::streamSeed(4244, static_cast<std::uint64_t>(kv), static_cast<std::uint64_t>(d.name[0])));
            const double mean = static_cast<double>(o.photons);
            const auto photons = static_cast<std::int64_t>(std::llround(mean + std::sqrt(mean) * poisson.normal()));
            const tvstrip::Counts measured =
                measureTube(d.detector, truth, photons, tvdet::streamSeed(4245, static_cast<std::uint64_t>(kv), 0), o.threads);
            // What the nominal grid can show: up to the top of the range.
            const double top = std::min<double>(kv, tvstrip::kChannels * w);
            PhotonSpectrum trueIn;
            for (std::size_t i = 0; i < truth.weight.size(); ++i)
                if (truth.energyKeV[i] >= 10.0 && truth.energyKeV[i] <= top) {
                    trueIn.energyKeV.push_back(truth.energyKeV[i]);
                    trueIn.weight.push_back(truth.weight[i]);
                }
            const int lo = 15, hi = static_cast<int>(std::floor(std::min<double>(kv - 5, top)));
            std::vector<double> trueChannels(tvstrip::kChannels, 0.0);
            for (std::size_t i = 0; i < trueIn.weight.size(); ++i) {
                const auto ch = static_cast<long>(std::ceil(trueIn.energyKeV[i] / w));
                if (ch >= 1 && ch <= tvstrip::kChannels) trueChannels[static_cast<std::size_t>(ch - 1)] += trueIn.weight[i];
            }
            const std::vector<double> trueBins = photonsPerKeV(trueChannels, w, lo, hi);
            const double trueMean = trueIn.meanEnergy(), trueHvl = halfValueLayerMm(trueIn);
            auto row = [&](const char* label, const tvstrip::UnfoldResponse& response) {
                tvstrip::UnfoldOptions uo;
                uo.maxLastChange = 1.0;  // the bench reports, it does not refuse
                const tvstrip::Counts u = tvstrip::unfoldSpectrum(measured, wf, kv, response, uo);
                PhotonSpectrum rec;
                std::vector<double> perChannel(u.begin(), u.end());
                for (int i = 1; i <= tvstrip::kChannels; ++i) {
                    const double e = (i - 0.5) * w;
                    if (e < 10.0 || u[static_cast<std::size_t>(i - 1)] <= 0) continue;
                    rec.energyKeV.push_back(e);
                    rec.weight.push_back(u[static_cast<std::size_t>(i - 1)]);
                }
                // Bins compared as shapes: both normalised over the bins.
                std::vector<double> bins = photonsPerKeV(perChannel, w, lo, hi);
                double sb = 0, st = 0;
                for (std::size_t b = 0; b < bins.size(); ++b) {
                    sb += bins[b];
                    st += trueBins[b];
                }
                for (double& b : bins) b *= st / sb;
                out << "| " << d.name << " | " << kv << " | " << w << " | " << label << " | " << cell(trueMean, 2).substr(1)
                    << " | " << cell(rec.meanEnergy() - trueMean, 3) << " | " << cell(trueHvl, 3).substr(1) << " | "
                    << cell(100.0 * (halfValueLayerMm(rec) / trueHvl - 1.0), 2) << " | "
                    << cell(rmsDeviationPercent(bins, trueBins), 1).substr(1) << " |" << std::endl;
            };
            row("characterized", characterized);
            if (shipped) row("shipped", *shipped);
        }
        fs::remove_all(dir);
    }
}

} // namespace tvgen
