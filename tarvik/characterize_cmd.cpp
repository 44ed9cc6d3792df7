#include "characterize_cmd.h"

#include "characterize_run.h"
#include "engine.h"
#include "strip/detector_profile.h"

#include "detector/characterize.h"
#include "detector/characterize_output.h"
#ifdef TARVIK_HAVE_REPORT
#include "detector/report/characterize_report.h"
#endif

#include <cmath>
#include <cstdio>

namespace tarvikcli {

namespace fs = std::filesystem;

const char* const kCharacterizeHelp =
    "Usage: tarvik characterize --source NUCLIDE FILE [--source NUCLIDE FILE]...\n"
    "                           [--kev-per-channel W] --out DIR [OPTIONS]\n"
    "\n"
    "Characterizes the detector from spectra of calibration sources: fits the\n"
    "analyser's energy scale (gain and offset), the resolution FWHM^2 = a + b*E +\n"
    "(c*E)^2 and the mu-tau of electrons and holes, each with its standard\n"
    "uncertainty, by Poisson maximum likelihood of every spectrum from 10 keV up\n"
    "with line shapes from the detector Monte Carlo.  Lines and emission\n"
    "probabilities come from xraylib's radionuclide table (241Am, 57Co, 133Ba,\n"
    "109Cd, 153Gd, ...).  Writes DIR: RES/ (the fitted detector.txt with the energy\n"
    "scale, unfold.rsp made for it, the standard response tables),\n"
    "characterization.json, characterization.txt and a report picture per source.\n"
    "DIR is written aside and renamed into place when complete; nothing is\n"
    "written when the spectra do not give a trustworthy result.\n"
    "\n"
    "  --source NUCLIDE FILE  a measured spectrum and its nuclide; at least one,\n"
    "                         best three (e.g. 241Am, 57Co, 133Ba).  A .csv as\n"
    "                         for strip, or an analyser's file (.mca, .Spe,\n"
    "                         .Chn, N42 XML, text columns) of 1024 channels\n"
    "  --kev-per-channel W    the nominal keV per channel (the fit finds the\n"
    "                         true gain; more than 20 % off is refused); for\n"
    "                         analysers' files their calibration when not given\n"
    "  --out DIR              the result folder\n"
    "  --first-line N         first line of the spectrum data (default 32)\n"
    "  --bias V               bias voltage      \\  construction values, not\n"
    "  --thickness-mm T       crystal thickness  > fitted (default: the profile\n"
    "  --window-um U          Be window          /  of the RES in use)\n"
    "  --res DIR              the RES whose standard tables are copied (or, for\n"
    "                         another crystal or window, simulated again);\n"
    "                         default RES/ here, else the installed data\n"
    "  --threads N            threads (default: one per processor)\n"
    "  --photons-per-node N   photons per energy of unfold.rsp (default 1000000)\n"
    "  --force                replace an existing DIR\n"
    "\n"
    "Copy DIR/RES into a working folder (or give --res DIR/RES to strip and\n"
    "quality) to use the characterized detector.\n";

fs::path resFolder(const std::optional<fs::path>& given, const Locations& where)
{
    std::error_code ec;
    if (given) {
        if (!fs::is_directory(*given, ec)) throw FileFailure("the response folder " + given->string() + " does not exist");
        return *given;
    }
    if (fs::is_directory("RES", ec)) return "RES";
    return where.dataDir / "RES";
}

std::string describeProfile(const fs::path& res)
{
    const fs::path file = res / tvstrip::kDetectorProfileName;
    try {
        const tvstrip::DetectorProfile p = tvstrip::loadDetectorProfile(file.string());
        char buf[256];
        std::snprintf(buf, sizeof buf, "mu-tau %g (electrons) and %g (holes) cm2/V at %g V, %g mm", p.mutauElectrons,
                      p.mutauHoles, p.biasVolts, p.crystalThicknessMm);
        std::string s = file.string() + " (" + buf;
        if (p.energyGainKevPerChannel && p.energyOffsetKeV) {
            std::snprintf(buf, sizeof buf, ", energy scale %.6g keV per channel from %.4g keV",
                          *p.energyGainKevPerChannel, *p.energyOffsetKeV);
            s += buf;
        }
        return s + ")";
    } catch (const std::exception&) {
        return file.string() + " (none that can be read)";
    }
}

int characterizeCommand(const CharacterizeRequest& q, const Locations& where, const Io& io)
{
    auto fail = [&](const std::string& why) {
        if (io.terminal) std::fputc('\n', io.err);
        std::fprintf(io.err, "tarvik characterize: %s\ntarvik characterize: nothing was written\n", why.c_str());
        return 1;
    };
    try {
        // Everything a user can get wrong is checked before the work.
        const fs::path res = resFolder(q.res, where);
        tvdet::checkOutputFolder(q.out, q.force);
        const tvdet::Construction c = constructionFor(res, q);
        std::vector<tvdet::CalibrationSpectrum> spectra;
        std::optional<double> nominal = q.kevPerChannel > 0 ? std::optional<double>(q.kevPerChannel) : std::nullopt;
        for (const auto& [nuclide, file] : q.sources)
            spectra.push_back(readCalibrationSource(nuclide, file, nominal, q.firstLine, "--kev-per-channel W"));

        std::string last;
        auto progress = [&](double share, const std::string& what) {
            const int percent = static_cast<int>(std::lround(100.0 * share));
            if (io.terminal) {
                std::string line = what.size() > 60 ? what.substr(0, 57) + "..." : what;
                std::fprintf(io.err, "\r[%3d %%] %-60s", percent, line.c_str());
                std::fflush(io.err);
            } else {
                // One line per stage (the counters inside a stage left out).
                const std::string stage = what.substr(0, what.find(" ("));
                if (stage != last) std::fprintf(io.err, "tarvik characterize: [%3d %%] %s\n", percent, stage.c_str());
                last = stage;
            }
        };
        std::fprintf(io.err, "tarvik characterize: standard tables from %s\n", res.string().c_str());
        const tvdet::CharacterizeOptions o = characterizeOptions(q);
        tvdet::Characterization r;
        try {
            r = tvdet::characterize(spectra, nominal.value_or(0.0), c, o, [&](double s, const std::string& w) { progress(0.4 * s, w); });
        } catch (const tvdet::CharacterizationError& e) {
            return fail(e.what());
        }
        tvdet::OutputOptions oo = characterizeOutputOptions(q, res);
#ifdef TARVIK_HAVE_REPORT
        // One application for the pictures of every source.
        const tvdet::ReportApplication application;
        oo.drawReport = [](const tvdet::Characterization& result, std::size_t k, const fs::path& png) {
            return tvdet::drawCharacterizationReport(result, k, png);
        };
#endif
        tvdet::writeCharacterization(r, q.out, oo, [&](double s, const std::string& w) { progress(0.4 + 0.6 * s, w); });
        if (io.terminal) std::fputc('\n', io.err);
        std::fputs(tvdet::characterizationText(r).c_str(), io.out);
        std::fprintf(io.err, "tarvik characterize: wrote %s (use %s as RES)\n", q.out.string().c_str(),
                     (q.out / "RES").string().c_str());
        return 0;
    } catch (const std::exception& e) {
        return fail(e.what());
    }
}

} // namespace tarvikcli
