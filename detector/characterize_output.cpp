#include "detector/characterize_output.h"

#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <system_error>

#include <nlohmann/json.hpp>

#include "detector/response_tables.h"
#include "detector/unfold_data.h"
#include "fixedio/files.h"
#include "strip/detector_profile.h"
#include "strip/unfold_response.h"

namespace tvdet {

namespace fs = std::filesystem;

namespace {

std::string format(const char* pattern, double v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, pattern, v);
    return buf;
}

nlohmann::json number(double v)
{
    if (!std::isfinite(v)) return nullptr;
    return v;
}

// A hidden name beside `target` that no other run uses.
fs::path asideOf(const fs::path& target, const char* kind)
{
    static std::atomic<int> counter{0};
    return target.parent_path() / ("." + target.filename().string() + "." + kind + std::to_string(getpid()) + "-" +
                                   std::to_string(counter++));
}

void removeQuietly(const fs::path& p)
{
    std::error_code ec;
    fs::remove_all(p, ec);
}

std::string reasonOf(const std::error_code& ec) { return ec.message(); }

void writeText(const fs::path& file, const std::string& text)
{
    try {
        fixedio::writeFileAtomically(file, text);
    } catch (const std::exception& e) {
        throw OutputError(e.what());
    }
}

} // namespace

std::string reportFileName(const Characterization& c, std::size_t k)
{
    return "report_" + std::to_string(k + 1) + "_" + c.sources[k].nuclide + ".png";
}

std::string characterizationJson(const Characterization& c)
{
    nlohmann::ordered_json j;
    auto put = [&](const char* key, const Value& v) {
        j[key] = number(v.value);
        j[std::string(key) + "_u"] = number(v.uncertainty);
    };
    put("kev_per_channel", c.gain);
    put("offset_keV", c.offset);
    put("fwhm2_constant_keV2", c.fwhm2Constant);
    put("fwhm2_linear_keV", c.fwhm2Linear);
    put("fwhm_proportional", c.fwhmProportional);
    put("mutau_electrons_cm2_per_V", c.mutauElectrons);
    put("mutau_holes_cm2_per_V", c.mutauHoles);
    put("fwhm_keV_at_59_54", c.fwhmAt5954);
    j["deviance_per_channel"] = number(c.deviancePerChannel);
    j["deviance"] = number(c.deviance);
    j["channels"] = c.channels;
    j["free_parameters"] = c.freeParameters;
    j["iterations"] = c.iterations;
    j["nominal_kev_per_channel"] = c.nominalKevPerChannel;
    j["threshold_keV"] = c.thresholdKeV;
    j["bias_V"] = c.construction.biasVolts;
    j["thickness_mm"] = c.construction.thicknessMm;
    j["window_um"] = c.construction.windowUm;
    j["crystal_side_mm"] = c.construction.sideMm;
    j["density_g_per_cm3"] = c.construction.densityGPerCm3;
    auto sources = nlohmann::ordered_json::array();
    for (const auto& s : c.sources) {
        nlohmann::ordered_json o;
        o["nuclide"] = s.nuclide;
        o["file"] = s.name;
        o["first_channel"] = s.firstChannel;
        o["last_channel"] = s.lastChannel;
        o["counts"] = s.counts;
        o["deviance_per_channel"] = number(s.deviance / static_cast<double>(s.measured.size()));
        o["absorber_al_g_per_cm2"] = number(s.absorberGPerCm2.value);
        o["absorber_al_g_per_cm2_u"] = number(s.absorberGPerCm2.uncertainty);
        o["scattered_photons_per_direct_photon"] = number(s.decays.value > 0 ? s.scatteredPhotons.value / s.decays.value : NAN);
        o["flat_counts_per_keV"] = number(s.flatPerKeV.value);
        o["lines"] = static_cast<int>(s.lines.size());
        o["monte_carlo_events"] = s.simulatedEvents;
        sources.push_back(o);
    }
    j["sources"] = sources;
    j["notes"] = c.notes;
    return j.dump(2) + "\n";
}

std::string characterizationText(const Characterization& c)
{
    std::string t;
    auto line = [&](const std::string& s) { t += s + "\n"; };
    auto value = [&](const char* name, const Value& v, const char* pattern, const char* unit) {
        std::string u = std::isfinite(v.uncertainty) ? format(pattern, v.uncertainty) : std::string("(not determined)");
        line(std::string(name) + format(pattern, v.value) + " ± " + u + " " + unit);
    };
    line("Detector characterization from calibration-source spectra");
    line("");
    line("Construction (given, not fitted): bias " + format("%g", c.construction.biasVolts) + " V, thickness " +
         format("%g", c.construction.thicknessMm) + " mm, window " + format("%g", c.construction.windowUm) +
         " um Be, crystal " + format("%g", c.construction.sideMm) + " mm, " +
         format("%g", c.construction.densityGPerCm3) + " g/cm3");
    line("");
    value("energy gain                     ", c.gain, "%.6f", "keV per channel");
    line("  (nominal " + format("%g", c.nominalKevPerChannel) + " keV per channel)");
    value("energy offset                   ", c.offset, "%.4f", "keV");
    value("FWHM2 constant term a           ", c.fwhm2Constant, "%.5f", "keV2");
    value("FWHM2 linear term b             ", c.fwhm2Linear, "%.6f", "keV");
    value("FWHM proportional term c        ", c.fwhmProportional, "%.6f", "");
    value("FWHM at 59.54 keV               ", c.fwhmAt5954, "%.4f", "keV");
    value("mu-tau of electrons             ", c.mutauElectrons, "%.4g", "cm2/V");
    value("mu-tau of holes                 ", c.mutauHoles, "%.4g", "cm2/V");
    line("");
    line("deviance per degree of freedom " + format("%.3f", c.deviancePerChannel) + " (" + std::to_string(c.channels) +
         " channels, " + std::to_string(c.freeParameters) + " parameters, " + std::to_string(c.iterations) +
         " iterations)");
    line("");
    for (std::size_t k = 0; k < c.sources.size(); ++k) {
        const auto& s = c.sources[k];
        line(s.nuclide + ": " + s.name);
        line("  channels " + std::to_string(s.firstChannel) + " to " + std::to_string(s.lastChannel) + ", " +
             format("%.0f", s.counts) + " counts, deviance per channel " +
             format("%.3f", s.deviance / static_cast<double>(s.measured.size())));
        line(s.absorberGPerCm2.value > 0
                 ? "  absorber in front of the source " + format("%.4f", s.absorberGPerCm2.value) + " ± " +
                       format("%.4f", s.absorberGPerCm2.uncertainty) + " g/cm2 aluminium equivalent"
                 : std::string("  no absorber in front of the source beyond what the line intensities hold"));
        line("  photons scattered by the surroundings " +
             format("%.3f", s.decays.value > 0 ? s.scatteredPhotons.value / s.decays.value : 0.0) +
             " per photon from the source; flat background " + format("%.3g", s.flatPerKeV.value) + " counts per keV");
        line("  " + std::to_string(s.lines.size()) + " lines of the radionuclide table, " +
             std::to_string(s.simulatedEvents) + " Monte Carlo events");
    }
    if (!c.notes.empty()) {
        line("");
        line("Notes:");
        for (const auto& n : c.notes) line("  " + n);
    }
    return t;
}

bool sameTableGeometry(const fs::path& res, const tvstrip::DetectorProfile& p)
{
    tvstrip::DetectorProfile made = defaultDetectorProfile();
    const fs::path file = res / tvstrip::kDetectorProfileName;
    std::error_code ec;
    if (fs::exists(file, ec)) made = tvstrip::loadDetectorProfile(file.string());
    auto same = [](double a, double b) { return std::abs(a - b) <= 1e-9 * std::max(std::abs(a), std::abs(b)); };
    return made.material == p.material && made.windowMaterial == p.windowMaterial &&
           same(made.crystalSideMm, p.crystalSideMm) && same(made.crystalThicknessMm, p.crystalThicknessMm) &&
           same(made.densityGPerCm3, p.densityGPerCm3) && same(made.windowThicknessUm, p.windowThicknessUm);
}

void checkOutputFolder(const fs::path& dir, bool replace)
{
    std::error_code ec;
    const fs::path parent = dir.has_parent_path() ? dir.parent_path() : fs::path(".");
    if (!fs::is_directory(parent, ec))
        throw OutputError("the folder " + parent.string() + " for the result " + dir.filename().string() +
                          " does not exist");
    if (fs::exists(dir, ec)) {
        if (!fs::is_directory(dir, ec)) throw OutputError(dir.string() + " exists and is not a folder");
        if (!replace) throw OutputError(dir.string() + " exists already (use --force to replace it)");
    }
    if (access(parent.c_str(), W_OK) != 0)
        throw OutputError("the folder " + parent.string() + " cannot be written");
}

void writeCharacterization(const Characterization& c, const fs::path& target, const OutputOptions& o,
                           const std::function<void(double, const std::string&)>& progress)
{
    auto report = [&](double share, const std::string& what) {
        if (progress) progress(share, what);
    };
    const fs::path dir = target.has_parent_path() ? target : fs::path(".") / target;
    checkOutputFolder(dir, o.replace);
    const fs::path temp = asideOf(dir, "part");
    std::error_code ec;
    try {
        fs::create_directories(temp / "RES", ec);
        if (ec) throw OutputError("cannot create " + (temp / "RES").string() + ": " + reasonOf(ec));
        const fs::path res = temp / "RES";

        // The profile and the unfolding's response data made for it.
        const tvstrip::DetectorProfile profile = c.profile();
        std::string sources;
        for (const auto& s : c.sources) sources += (sources.empty() ? "" : ", ") + s.nuclide;
        const std::string profileText = tvstrip::formatDetectorProfile(
            profile, "Characterized from calibration-source spectra (" + sources +
                         "); see characterization.json beside this folder.");
        writeText(res / tvstrip::kDetectorProfileName, profileText);
        UnfoldDataOptions uo;
        uo.photonsPerNode = o.unfoldPhotonsPerNode;
        uo.threads = o.threads;
        uo.seed = o.seed;
        report(0.0, "simulating the unfolding's response data");
        const tvstrip::UnfoldResponse response = simulateUnfoldResponse(profile, uo, [&](std::size_t done, std::size_t total) {
            report(0.8 * static_cast<double>(done) / static_cast<double>(total),
                   "simulating the unfolding's response data (" + std::to_string(done) + " of " +
                       std::to_string(total) + " energies)");
        });
        writeText(res / tvstrip::kUnfoldResponseName, tvstrip::formatUnfoldResponse(response));

        // The standard response tables.
        if (sameTableGeometry(o.standardRes, profile)) {
            report(0.8, "copying the standard response tables");
            int copied = 0;
            for (const auto& entry : fs::directory_iterator(o.standardRes, ec)) {
                const std::string name = entry.path().filename().string();
                if (name.size() <= 7 || name.substr(name.size() - 7) != "kev.dat") continue;
                fs::copy_file(entry.path(), res / name, ec);
                if (ec) throw OutputError("cannot copy " + entry.path().string() + ": " + reasonOf(ec));
                ++copied;
            }
            if (ec) throw OutputError("cannot read " + o.standardRes.string() + ": " + reasonOf(ec));
            if (copied == 0) throw OutputError(o.standardRes.string() + " holds no response tables (<code>kev.dat)");
        } else {
            DetectorConfig config = detectorConfig(profile);
            config.chargeLoss = false;  // the tables hold the photon interactions alone
            const Detector detector(config);
            ResponseOptions ro;
            ro.seed = o.seed;
            ro.threads = o.threads;
            ro.minChunks = static_cast<int>(std::max<std::int64_t>(1, o.tablePhotons / ro.photonsPerChunk));
            const int total = (kLastCode - kFirstCode) / kCodeStep + 1;
            int done = 0;
            for (int code = kFirstCode; code <= kLastCode; code += kCodeStep) {
                const ResponseRun run = simulateResponse(detector, code, ro);
                writeText(res / responseFileName(code), formatResponseTable(scaledTable(run)));
                ++done;
                report(0.8 + 0.15 * done / total, "simulating the standard response tables for this crystal (" +
                                                      std::to_string(done) + " of " + std::to_string(total) + ")");
            }
        }

        report(0.95, "writing the report");
        writeText(temp / "characterization.json", characterizationJson(c));
        writeText(temp / "characterization.txt", characterizationText(c));
        if (o.drawReport)
            for (std::size_t k = 0; k < c.sources.size(); ++k) {
                const std::string failure = o.drawReport(c, k, temp / reportFileName(c, k));
                if (!failure.empty()) throw OutputError("cannot draw the report of " + c.sources[k].name + ": " + failure);
            }

        // Into place: an existing folder is moved aside first and removed
        // only when the new one stands.
        fs::path old;
        if (fs::exists(dir, ec)) {
            old = asideOf(dir, "old");
            fs::rename(dir, old, ec);
            if (ec) throw OutputError("cannot replace " + dir.string() + ": " + reasonOf(ec));
        }
        fs::rename(temp, dir, ec);
        if (ec) {
            const std::string why = reasonOf(ec);
            if (!old.empty()) fs::rename(old, dir, ec);
            throw OutputError("cannot write " + dir.string() + ": " + why);
        }
        if (!old.empty()) removeQuietly(old);
    } catch (const OutputError&) {
        removeQuietly(temp);
        throw;
    } catch (const std::exception& e) {
        removeQuietly(temp);
        throw OutputError(e.what());
    }
    report(1.0, "done");
}

std::string installRes(const fs::path& res, const fs::path& work, const std::string& stamp)
{
    std::error_code ec;
    if (!fs::is_directory(res, ec)) throw OutputError(res.string() + " is not a folder");
    for (const char* needed : {tvstrip::kDetectorProfileName, tvstrip::kUnfoldResponseName})
        if (!fs::is_regular_file(res / needed, ec))
            throw OutputError(res.string() + " is not a complete RES folder (" + needed + " is missing)");
    const fs::path target = work / "RES";
    const fs::path temp = asideOf(target, "new");
    fs::copy(res, temp, fs::copy_options::recursive, ec);
    if (ec) {
        removeQuietly(temp);
        throw OutputError("cannot copy " + res.string() + " into " + work.string() + ": " + reasonOf(ec));
    }
    std::string kept;
    if (fs::exists(target, ec)) {
        kept = "RES.bak-" + stamp;
        for (int n = 2; fs::exists(work / kept, ec); ++n) kept = "RES.bak-" + stamp + "-" + std::to_string(n);
        fs::rename(target, work / kept, ec);
        if (ec) {
            removeQuietly(temp);
            throw OutputError("cannot keep the earlier " + target.string() + " as " + kept + ": " + reasonOf(ec));
        }
    }
    fs::rename(temp, target, ec);
    if (ec) {
        const std::string why = reasonOf(ec);
        if (!kept.empty()) fs::rename(work / kept, target, ec);
        removeQuietly(temp);
        throw OutputError("cannot install " + target.string() + ": " + why);
    }
    return kept;
}

} // namespace tvdet
