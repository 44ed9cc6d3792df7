#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include "detector/characterize.h"
#include "detector/characterize_output.h"
#include "detector/source_sim.h"
using namespace tvdet;
int main(int argc, char** argv)
{
    const double scaleCounts = argc > 1 ? std::atof(argv[1]) : 1.0;
    const int threads = argc > 2 ? std::atoi(argv[2]) : 2;
    const std::uint64_t seed = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 1;
    SimulatedDetector d;
    auto env = [](const char* n, double v) { const char* e = std::getenv(n); return e ? std::atof(e) : v; };
    d.config.mutauHoles = env("MUH", 2e-4);
    d.config.mutauElectrons = env("MUE", 1.5e-3);
    d.config.biasVolts = env("BIAS", 400);
    d.fwhm2Constant = env("FA", 0.30); d.fwhm2Linear = env("FB", 0.0035); d.fwhmProportional = env("FC", 0.0025);
    d.gain = env("GAIN", 0.1508); d.offset = env("OFFSET", -0.23);
    const double nominal = env("W", 0.15);
    auto t0 = std::chrono::steady_clock::now();
    std::vector<CalibrationSpectrum> spectra;
    const char* names[] = {"241Am", "57Co", "133Ba"};
    const double photons[] = {1.0e6, 1.0e6, 2.0e6};
    for (int k = 0; k < 3; ++k) {
        SourceSetup s;
        s.nuclide = names[k];
        s.photons = photons[k] * scaleCounts;
        s.encapsulation = stainlessSteel();
        s.encapsulationGPerCm2 = k == 0 ? 0.004 : 0.008;
        s.scatterShare = std::getenv("NOSCATTER") ? 0.0 : 0.04;
        s.flatPerChannel = std::getenv("NOFLAT") ? 0.0 : 0.3;
        if (std::getenv("NOCAPSULE")) s.encapsulationGPerCm2 = 0;
        if (std::getenv("ONLY") && std::string(std::getenv("ONLY")) != names[k]) continue;
        auto c = simulateSourceMeasurement(d, s, seed * 100 + k, threads);
        double tot = 0; for (double v : c) tot += v;
        std::printf("%s: %.0f counts\n", names[k], tot);
        spectra.push_back({names[k], std::string(names[k]) + ".csv", c});
    }
    auto t1 = std::chrono::steady_clock::now();
    std::printf("simulated in %.1f s\n", std::chrono::duration<double>(t1 - t0).count());
    Construction c; c.biasVolts = d.config.biasVolts;
    CharacterizeOptions o; o.threads = threads; o.seed = seed;
    try {
        auto r = characterize(spectra, nominal, c, o, [&](double f, const std::string& s) {
            std::fprintf(stderr, "%5.1f %% %6.1f s %s\n", 100 * f, std::chrono::duration<double>(std::chrono::steady_clock::now() - t1).count(), s.c_str());
        });
        auto t2 = std::chrono::steady_clock::now();
        std::printf("characterized in %.1f s, %d iterations\n", std::chrono::duration<double>(t2 - t1).count(), r.iterations);
        auto pr = [](const char* n, Value v, double truth) { std::printf("%-22s %12.6g ± %-10.3g truth %12.6g  (%+.2f sigma, %+.3f %%)\n", n, v.value, v.uncertainty, truth, (v.value - truth) / v.uncertainty, 100 * (v.value / truth - 1)); };
        pr("gain", r.gain, d.gain);
        pr("offset", r.offset, d.offset);
        pr("a", r.fwhm2Constant, d.fwhm2Constant);
        pr("b", r.fwhm2Linear, d.fwhm2Linear);
        pr("c", r.fwhmProportional, d.fwhmProportional);
        pr("mutau e", r.mutauElectrons, d.config.mutauElectrons);
        pr("mutau h", r.mutauHoles, d.config.mutauHoles);
        pr("fwhm59", r.fwhmAt5954, std::sqrt(d.fwhm2Constant + d.fwhm2Linear * 59.54 + std::pow(d.fwhmProportional * 59.54, 2)));
        std::printf("deviance/channel %.3f (%d channels)\n", r.deviancePerChannel, r.channels);
        for (auto& s : r.sources) {
            std::printf("%s residuals per keV block: E  sum(n-mu)/sqrt(sum mu)  dev\n", s.nuclide.c_str());
            double sn = 0, sm = 0, sd = 0; int cnt = 0; double e0 = r.offset.value + (s.firstChannel - 1) * r.gain.value;
            for (std::size_t i = 0; i < s.measured.size(); ++i) {
                sn += s.measured[i]; sm += s.model[i];
                const double n = s.measured[i], m = s.model[i];
                sd += 2 * (n > 0 ? m - n + n * std::log(n / m) : m); ++cnt;
                const double e = r.offset.value + (s.firstChannel + i) * r.gain.value;
                if (e - e0 >= 2.0 || i + 1 == s.measured.size()) {
                    std::printf("   %6.1f-%6.1f  n %9.0f  %+7.2f  dev/ch %.2f\n", e0, e, sn, (sn - sm) / std::sqrt(sm), sd / cnt);
                    sn = sm = sd = 0; cnt = 0; e0 = e;
                }
            }
        }
        if (std::getenv("OUT")) {
            OutputOptions oo; oo.standardRes = TARVIK_SOURCE_DIR "/data/RES"; oo.threads = threads; oo.replace = true;
            oo.unfoldPhotonsPerNode = static_cast<std::int64_t>(env("PPN", 1e6));
            auto t3 = std::chrono::steady_clock::now();
            writeCharacterization(r, std::getenv("OUT"), oo, [&](double f, const std::string& s) {
                std::fprintf(stderr, "%5.1f %% %6.1f s %s\n", 100 * f, std::chrono::duration<double>(std::chrono::steady_clock::now() - t3).count(), s.c_str()); });
            std::printf("written in %.1f s\n", std::chrono::duration<double>(std::chrono::steady_clock::now() - t3).count());
        }
        for (auto& n : r.notes) std::printf("NOTE: %s\n", n.c_str());
        for (auto& s : r.sources) std::printf("  %s: dev/ch %.3f, absorber %.4g ± %.2g, scatter %.3g, flat %.3g, events %lld\n", s.nuclide.c_str(), s.deviance / s.measured.size(), s.absorberGPerCm2.value, s.absorberGPerCm2.uncertainty, s.scatteredPhotons.value / s.decays.value, s.flatPerKeV.value, (long long)s.simulatedEvents);
    } catch (const std::exception& e) {
        std::printf("ERROR: %s\n", e.what());
    }
}
