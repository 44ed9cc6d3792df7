// tvgen: generates the data files the system ships, from the physics data.
//   tvgen --all --out data          response tables, scatterer files, demo spectra
//   tvgen --tables [--codes 50:1510] [--charge-loss] --out DIR
//   tvgen --scatterers --out DIR
//   tvgen --demo --out DIR
//   tvgen --roundtrip RESDIR [--kv 50,80,120]   check tables against a known spectrum
//   tvgen --unfold-data [--detector FILE] --out DIR   response data of the unfolding method
//   tvgen --roundtrip RESDIR --methods [--kv ...] [--kev-per-channel ...]   both methods
//   tvgen --roundtrip-conv DATADIR [--kv ...] [--kev-per-channel ...] [--photons N] [--no-detector]   check both conversions
//   tvgen --characterize-recovery [--seeds N] [--count-scale X]   the characterization against known detectors
// Options: --threads N (default: all cores), --seed N.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "generator/generate.h"
#include "detector/parallel.h"
#include "detector/unfold_data.h"
#include "strip/detector_profile.h"
#include "generator/roundtrip.h"
#include "generator/roundtrip_characterize.h"
#ifdef TVGEN_HAVE_CONVCHECK
#include "generator/roundtrip_conv.h"
#endif


namespace {

void usage()
{
    std::cerr << "usage: tvgen (--all | --tables | --scatterers | --demo)... [--out DIR] [--threads N]\n"
                 "             [--codes FIRST:LAST] [--charge-loss] [--seed N]\n"
                 "  --all          everything the system ships (response tables, Carbon.dat and\n"
                 "                 PMMA.dat, demo spectra)\n"
                 "  --tables       RES/<code>kev.dat, codes 50..1510 (5.0 to 151.0 keV)\n"
                 "  --scatterers   Carbon.dat and PMMA.dat with their Compton profiles\n"
                 "                 (Carbon_profile.dat, PMMA_profile.dat)\n"
                 "  --demo         Tarvik_data/*.csv demo spectra, measured through the detector of\n"
                 "                 --detector (default: the shipped one) on its calibrated scale\n"
                 "  --demo-truth   *_true.csv: the spectra the demo spectra were measured from\n"
                 "                 (shares of the photons per channel; examples/data is made so)\n"
                 "  --codes A:B    only the response tables of codes A..B (multiples of 5)\n"
                 "  --charge-loss  response tables with Hecht charge loss (not what is shipped)\n"
                 "  --roundtrip RESDIR  measure known tube spectra through the detector with charge\n"
                 "                 loss, strip them with the tables in RESDIR and compare mean\n"
                 "                 energy and half-value layer (--kv 50,80,120 picks the voltages;\n"
                 "                 --ideal measures without charge loss and broadening)\n"
                 "  --unfold-data  RES/unfold.rsp and RES/detector.txt, the response data of tvstrip's\n"
                 "                 unfolding method (line 109 of TempFile.dat: unfold)\n"
                 "  --detector FILE  the detector profile to simulate (default: the shipped detector)\n"
                 "  --photons-per-node N  photons per energy of the unfolding data (default 1000000)\n"
                 "  --methods      with --roundtrip: both correction methods on the calibrated detector\n"
                 "                 of RESDIR/detector.txt, a Markdown table of mean energy, HVL and the\n"
                 "                 RMS deviation in 1 keV bins (--kv 50,80,100,120 and\n"
                 "                 --kev-per-channel 0.1,0.15,0.2 by default; --photons N per\n"
                 "                 measurement, --iterations A,B,... unfolding iterations to try,\n"
                 "                 --truth kramers,tube the true spectra, --measure FILE the profile of\n"
                 "                 a detector that measures (repeatable; default RESDIR's own),\n"
                 "                 --vary holes=F,electrons=F,bias=F,fwhm=F,gain=F,offset=KEV changes\n"
                 "                 every measuring detector (factors; the analyser's gain and offset),\n"
                 "                 --told-scale GAIN,OFFSET writes an energy scale into the response's\n"
                 "                 profile (gain as a factor of the keV per channel), --peak-counts\n"
                 "                 A,B,... thins each measurement to A, B, ... counts in its highest\n"
                 "                 channel (0: the whole measurement), --repeats N thinnings per level,\n"
                 "                 --no-standard leaves the standard method out, --pileup A,B,... measures\n"
                 "                 with pile-up shares A, B, ... made by photons arriving in time)\n"
                 "  --roundtrip-conv DATADIR  scatter known tube spectra off carbon and PMMA (90 and\n"
                 "                 120 degrees, 0 and 1 cm), convert them back with both conversion\n"
                 "                 methods, as scattered and measured through the calibrated detector\n"
                 "                 of DATADIR/RES/detector.txt, then corrected by the stripping\n"
                 "                 (tables DATADIR/RES) and by the unfolding (DATADIR/RES/unfold.rsp),\n"
                 "                 and compare mean energy, half-value layer and the spectrum (--kv\n"
                 "                 picks the voltages, --kev-per-channel the widths, --photons N the\n"
                 "                 mean photons measured per case, --no-detector skips the measurement)\n"
                 "  --characterize-recovery  characterize simulated detectors of known parameters from\n"
                 "                 simulated calibration-source spectra and tabulate the errors\n"
                 "                 (--seeds N measurements per detector from --first-seed, --count-scale X\n"
                 "                 scales the counts, --bench-detector A only detector A)\n"
                 "  --roundtrip-characterize RESDIR  characterize each bench detector from its\n"
                 "                 simulated sources, unfold tube spectra it measured (--kv) with the\n"
                 "                 characterized data and with RESDIR (the shipped data), compare\n"
                 "  --source-spectra  241Am.csv, 57Co.csv and 133Ba.csv of a simulated detector\n"
                 "                 other than the shipped one (0.15 keV per channel nominal), into --out\n";
}

} // namespace

int main(int argc, char** argv)
{
    tvgen::GenerateOptions o;
    o.threads = tvdet::defaultThreads();
    bool tables = false, scatterers = false, demo = false, demoTruth = false;
    std::string roundTripFolder;
    bool ideal = false;
    std::string convCheckFolder;
    bool convDetector = true;
    std::int64_t convPhotons = 4000000;
    std::vector<int> kilovolts{50, 80, 120};
    bool kvGiven = false, unfoldData = false, methods = false;
    std::string detectorFile;
    tvdet::UnfoldDataOptions uo;
    tvgen::MethodBenchOptions mb;
    bool characterizeRecovery = false, sourceSpectra = false;
    std::string roundTripCharacterize;
    tvgen::CharacterizeBenchOptions cb;
    std::vector<std::string> measureFiles;
    std::string vary;
    auto numberList = [](const std::string& v, auto convert) {
        std::vector<decltype(convert(std::string()))> out;
        for (std::size_t p = 0; p < v.size();) {
            const auto q = v.find(',', p);
            out.push_back(convert(v.substr(p, q - p)));
            if (q == std::string::npos) break;
            p = q + 1;
        }
        return out;
    };
    try {
        for (int i = 1; i < argc; ++i) {
            const std::string a = argv[i];
            auto value = [&]() -> std::string {
                if (i + 1 >= argc) throw std::invalid_argument(a + " needs a value");
                return argv[++i];
            };
            if (a == "--all") tables = scatterers = demo = true;
            else if (a == "--characterize-recovery") characterizeRecovery = true;
            else if (a == "--source-spectra") sourceSpectra = true;
            else if (a == "--roundtrip-characterize") roundTripCharacterize = value();
            else if (a == "--seeds") cb.seeds = std::stoi(value());
            else if (a == "--count-scale") cb.countScale = std::stod(value());
            else if (a == "--bench-detector") cb.only = value();
            else if (a == "--first-seed") cb.firstSeed = std::stoi(value());
            else if (a == "--tables") tables = true;
            else if (a == "--scatterers") scatterers = true;
            else if (a == "--demo") demo = true;
            else if (a == "--demo-truth") demoTruth = true;
            else if (a == "--out") o.out = value();
            else if (a == "--threads") o.threads = std::stoi(value());
            else if (a == "--seed") o.seed = std::stoull(value());
            else if (a == "--charge-loss") o.chargeLoss = true;
            else if (a == "--roundtrip") roundTripFolder = value();
            else if (a == "--ideal") ideal = true;
            else if (a == "--roundtrip-conv") convCheckFolder = value();
            else if (a == "--no-detector") convDetector = false;
            else if (a == "--unfold-data") unfoldData = true;
            else if (a == "--detector") detectorFile = value();
            else if (a == "--methods") methods = true;
            else if (a == "--photons-per-node") {
                uo.photonsPerNode = std::stoll(value());
                if (uo.photonsPerNode < 1000 || uo.photonsPerNode > 1000000000)
                    throw std::invalid_argument("--photons-per-node: 1000 to 1000000000");
            } else if (a == "--photons") {
                mb.photons = std::stoll(value());
                if (mb.photons < 10000) throw std::invalid_argument("--photons: at least 10000");
                convPhotons = mb.photons;
            } else if (a == "--kev-per-channel") {
                mb.kevPerChannel = numberList(value(), [](const std::string& x) { return std::stod(x); });
                for (double w : mb.kevPerChannel)
                    if (!(w >= 0.05 && w <= 0.3)) throw std::invalid_argument("--kev-per-channel: 0.05 to 0.3");
            } else if (a == "--iterations") {
                mb.iterations = numberList(value(), [](const std::string& x) { return std::stoi(x); });
                for (int n : mb.iterations)
                    if (n < 1 || n > 100000) throw std::invalid_argument("--iterations: 1 to 100000");
            }
            else if (a == "--truth") {
                mb.truths = numberList(value(), [](const std::string& x) { return x; });
                for (const auto& t : mb.truths)
                    if (t != "kramers" && t != "tube") throw std::invalid_argument("--truth: kramers or tube");
            } else if (a == "--measure") measureFiles.push_back(value());
            else if (a == "--vary") vary = value();
            else if (a == "--told-scale") {
                const auto v = numberList(value(), [](const std::string& x) { return std::stod(x); });
                if (v.size() != 2 || !(v[0] > 0.5 && v[0] < 2.0)) throw std::invalid_argument("--told-scale GAIN,OFFSET");
                mb.told = tvgen::ToldScale{v[0], v[1]};
            } else if (a == "--peak-counts") {
                mb.peakCounts = numberList(value(), [](const std::string& x) { return std::stod(x); });
            } else if (a == "--repeats") {
                mb.repeats = std::stoi(value());
                if (mb.repeats < 1 || mb.repeats > 1000) throw std::invalid_argument("--repeats: 1 to 1000");
            } else if (a == "--no-standard") mb.standard = false;
            else if (a == "--pileup") {
                mb.pileupShares = numberList(value(), [](const std::string& x) { return std::stod(x); });
                for (double sh : mb.pileupShares)
                    if (!(sh >= 0 && sh < 0.5)) throw std::invalid_argument("--pileup: shares from 0 to 0.5");
            }
            else if (a == "--variant") {
                // label:key=value,key=value
                const std::string v = value();
                const auto colon = v.find(':');
                tvgen::UnfoldVariant u{v.substr(0, colon), {}};
                if (colon != std::string::npos)
                    for (const auto& item : numberList(v.substr(colon + 1), [](const std::string& x) { return x; })) {
                        const auto eq = item.find('=');
                        const std::string k = item.substr(0, eq);
                        const double x = std::stod(item.substr(eq + 1));
                        if (k == "iterations") u.options.iterations = static_cast<int>(x);
                        else if (k == "shape-iterations") u.options.shapeIterations = static_cast<int>(x);
                        else if (k == "shape-after") u.options.shapeAfter = static_cast<int>(x);
                        else if (k == "shape-steps") u.options.shapeSteps = static_cast<int>(x);
                        else if (k == "weak") u.options.weakBinError = x;
                        else if (k == "background") u.options.backgroundUncertainty = x;
                        else if (k == "margin") u.options.shapeMarginKeV = x;
                        else if (k == "power-width") u.options.shapePowerWidth = x;
                        else if (k == "smooth") u.options.smoothLowEnd = x != 0;
                        else if (k == "pileup") u.options.estimatePileup = x != 0;
                        else throw std::invalid_argument("--variant: unknown " + k);
                    }
                mb.variants.push_back(u);
            }
            else if (a == "--kv") {
                kvGiven = true;
                kilovolts.clear();
                std::string v = value();
                for (std::size_t p = 0; p < v.size();) {
                    const auto q = v.find(',', p);
                    kilovolts.push_back(std::stoi(v.substr(p, q - p)));
                    if (q == std::string::npos) break;
                    p = q + 1;
                }
                for (int kv : kilovolts)
                    if (kv < 10 || kv > 150) throw std::invalid_argument("--kv: tube voltages from 10 to 150 kV");
            }
            else if (a == "--codes") {
                const std::string v = value();
                const auto colon = v.find(':');
                if (colon == std::string::npos) throw std::invalid_argument("--codes wants FIRST:LAST");
                o.firstCode = std::stoi(v.substr(0, colon));
                o.lastCode = std::stoi(v.substr(colon + 1));
                if (o.firstCode < 10 || o.lastCode > 1510 || o.firstCode > o.lastCode || o.firstCode % 5 != 0 ||
                    o.lastCode % 5 != 0)
                    throw std::invalid_argument("--codes: multiples of 5 from 10 to 1510, first <= last");
            } else if (a == "--help" || a == "-h") {
                usage();
                return 0;
            } else {
                throw std::invalid_argument("unknown option " + a);
            }
        }
        if (!(tables || scatterers || demo || demoTruth || unfoldData || characterizeRecovery || sourceSpectra ||
              !roundTripCharacterize.empty() || !roundTripFolder.empty() ||
              !convCheckFolder.empty())) {
            usage();
            return 2;
        }
        if (o.threads < 1) throw std::invalid_argument("--threads must be at least 1");
    } catch (const std::exception& e) {
        std::cerr << "tvgen: " << e.what() << "\n";
        usage();
        return 2;
    }
    // The profile is checked before anything is simulated or written.
    tvstrip::DetectorProfile profile = tvdet::defaultDetectorProfile();
    std::string profileText = tvstrip::formatDetectorProfile(
        profile, "The shipped detector: CdTe 3 mm x 3 mm x 1 mm behind 100 um Be\n"
                 "(values and sources in generator/README.md).");
    if (!detectorFile.empty()) {
        try {
            profile = tvstrip::loadDetectorProfile(detectorFile);
        } catch (const std::exception& e) {
            std::cerr << "tvgen: " << e.what() << "\nnothing was written\n";
            return 1;
        }
        std::ifstream in(detectorFile, std::ios::binary);
        std::ostringstream ss;
        ss << in.rdbuf();
        profileText = ss.str();
    }
    try {
        if (scatterers) tvgen::generateScattererFiles(o, std::cerr);
        if (tables) tvgen::generateResponseTables(o, std::cerr);
        if (demo) tvgen::generateDemoSpectra(o, profile, std::cerr);
        if (demoTruth) tvgen::generateDemoTruth(o, std::cerr);
        if (unfoldData || (tables && !o.chargeLoss && o.firstCode == 50 && o.lastCode == 1510)) {
            uo.threads = o.threads;
            tvdet::generateUnfoldData(profile, profileText, o.out, uo, std::cerr);
        }
        if (!roundTripFolder.empty()) {
#ifdef TVGEN_HAVE_TVSTRIP
            if (methods) {
                if (kvGiven) mb.kilovolts = kilovolts;
                std::vector<std::pair<std::string, tvstrip::DetectorProfile>> measuring;
                for (const auto& f : measureFiles)
                    measuring.emplace_back(std::filesystem::path(f).stem().string(), tvstrip::loadDetectorProfile(f));
                if (measuring.empty() && !vary.empty())
                    measuring.emplace_back("own", tvstrip::loadDetectorProfile(
                                                      (std::filesystem::path(roundTripFolder) / "detector.txt").string()));
                for (auto& [label, p] : measuring) {
                    tvgen::MeasuringDetector d{label, p, 1.0, 0.0};
                    if (!vary.empty()) {
                        d.label += " [" + vary + "]";
                        for (const auto& item : numberList(vary, [](const std::string& x) { return x; })) {
                            const auto eq = item.find('=');
                            if (eq == std::string::npos) throw std::invalid_argument("--vary: name=value, ...");
                            const std::string k = item.substr(0, eq);
                            const double v = std::stod(item.substr(eq + 1));
                            if (k == "holes") d.profile.mutauHoles *= v;
                            else if (k == "electrons") d.profile.mutauElectrons *= v;
                            else if (k == "bias") d.profile.biasVolts *= v;
                            else if (k == "fwhm") {
                                // FWHM scaled by v at every energy: each term of FWHM² by v².
                                d.profile.fwhm2Constant *= v * v;
                                d.profile.fwhm2Linear *= v * v;
                                d.profile.fwhmProportional *= v;
                            } else if (k == "gain") d.gainFactor = v;
                            else if (k == "offset") d.offsetKeV = v;
                            else throw std::invalid_argument("--vary: unknown " + k);
                        }
                    }
                    mb.detectors.push_back(d);
                }
                mb.threads = o.threads;
                tvgen::roundTripMethods(roundTripFolder, mb, std::cout, std::cerr);
            } else
                tvgen::roundTrip(roundTripFolder, kilovolts, o.threads, std::cout, ideal);
#else
            throw std::runtime_error("this build has no stripping correction for the round-trip check");
#endif
        }
        if (sourceSpectra) {
            std::filesystem::create_directories(o.out);
            for (const auto& f : tvgen::writeSourceSpectra(o.out.string(), cb.countScale, o.threads))
                std::cerr << "wrote " << f << "\n";
        }
        if (!roundTripCharacterize.empty()) {
            tvgen::CharacterizeRoundTripOptions ro;
            ro.shippedRes = roundTripCharacterize;
            ro.only = cb.only;
            if (kvGiven) ro.kilovolts = kilovolts;
            ro.threads = o.threads;
            ro.photonsPerNode = uo.photonsPerNode;
            tvgen::characterizeRoundTrip(ro, std::cout, std::cerr);
        }
        if (characterizeRecovery) {
            cb.threads = o.threads;
            tvgen::characterizeRecovery(cb, std::cout, std::cerr);
        }
        if (!convCheckFolder.empty()) {
#ifdef TVGEN_HAVE_CONVCHECK
            tvgen::ConversionCheckOptions co;
            co.dataFolder = convCheckFolder;
            if (kvGiven) co.kilovolts = kilovolts;
            co.detector = convDetector;
            co.detectorPhotons = convPhotons;
            co.widths = mb.kevPerChannel;
            co.threads = o.threads;
            tvgen::conversionCheck(co, std::cout);
#else
            throw std::runtime_error("this build has no stripping correction or conversion for the conversion check");
#endif
        }
    } catch (const std::exception& e) {
        std::cerr << "tvgen: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
