#include "cli.h"

#include "characterize_cmd.h"
#include "engine.h"
#include "foreign.h"
#include "inmemory.h"
#include "fixedio/files.h"
#include "quality/beamquality.h"
#include "quality/json.h"
#include "quality/rates.h"
#include "conv/scatterer.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string_view>
#include <thread>
#include <unistd.h>

#include <CLI/CLI.hpp>

namespace tarvikcli {

namespace fs = std::filesystem;

namespace {

// ---------------------------------------------------------------- help

const char* const kMainHelp =
    "Usage: tarvik COMMAND [OPTIONS] FILE...\n"
    "\n"
    "Batch work on CdTe spectra without the windows and without Enter presses.\n"
    "\n"
    "Commands:\n"
    "  init DIR      prepare a working folder (response tables, scatterer files,\n"
    "                demo spectra, the console programs)\n"
    "  strip         stripping correction of measured spectra (.csv -> .mca1)\n"
    "  convert       scattered to primary spectrum (.mca1 -> .mca2)\n"
    "  quality       beam-quality figures with their uncertainties\n"
    "  export        spectra as one CSV table\n"
    "  plot          spectra drawn to PNG, SVG or PDF\n"
    "  import        analysers' spectrum files (.mca, .Spe, .Chn, N42 XML, text\n"
    "                columns) as measured .csv for the dialogs and tvstrip\n"
    "  characterize  the detector's energy scale, resolution and mu-tau from\n"
    "                spectra of calibration sources, and a RES folder for it\n"
    "\n"
    "strip, quality, export and plot also take those files directly.\n"
    "'tarvik COMMAND --help' describes a command.  The exit status is 0 when\n"
    "every file was done, 1 when any failed (a summary on stderr says which and\n"
    "why), 2 when the command itself was wrong.\n";

const char* const kInitHelp =
    "Usage: tarvik init [--force] DIR\n"
    "\n"
    "Makes DIR a working folder: RES/ (detector response tables), Carbon.dat,\n"
    "PMMA.dat and the Compton profiles beside them (*_profile.dat),\n"
    "Tarvik_data/ with the demo spectra, and the programs tvstrip and tvconv\n"
    "that the front end starts.  They come from the installed data\n"
    "(<prefix>/share/tarvik, programs in <prefix>/bin) or from the build tree.\n"
    "An existing item is kept unless --force is given.\n";

const char* const kStripHelp =
    "Usage: tarvik strip --kv V --kev-per-channel W [OPTIONS] FILE.csv...\n"
    "\n"
    "Stripping correction of each measured spectrum, written as FILE.mca1 beside\n"
    "it (or in --outdir).  The result is the same, byte for byte, as the\n"
    "stripping dialog and tvstrip write for the same entries.\n"
    "\n"
    "  --kv V                 tube voltage in kV\n"
    "  --kev-per-channel W    keV per channel\n"
    "  --first-line N         first line of the spectrum data (default 32)\n"
    "  --comment TEXT         comment line; give it twice for the second line\n"
    "                         (default \"-- No comment --\")\n"
    "  --method standard|unfold   the correction (default standard): unfold is the\n"
    "                         unfolding with the detector's full response, as\n"
    "                         with the dialog's check box \"unfold\" checked\n"
    "  --outdir DIR           write the results into DIR\n"
    "  --res DIR              the response data (default RES/ of the current\n"
    "                         folder, else the installed data), e.g. the RES\n"
    "                         of 'tarvik characterize'\n"
    "  --force                overwrite existing results\n"
    "  --jobs N               correct N files at once (default: one per processor);\n"
    "                         results and messages come in the order of the files\n"
    "\n"
    "The response data come from --res, else from RES/ of the current folder,\n"
    "else from the installed data: the response tables, or for unfold\n"
    "RES/detector.txt and RES/unfold.rsp (read once per call, the profile named\n"
    "on stderr; a file that cannot use them fails\n"
    "with the reason).\n"
    "\n"
    "Spectrum files of analysers (.mca, .Spe, .Chn, N42 XML, text columns) are\n"
    "corrected as their .csv of `tarvik import` would be.  Their keV per channel\n"
    "comes from their calibration (--kev-per-channel is then not needed), which\n"
    "must put their 1024 channels on a scale from 0 keV of three decimals;\n"
    "otherwise, or for other channel counts:\n"
    "  --rebin-kev-per-channel W  share the counts onto 1024 channels of W keV\n"
    "                         from 0 keV by the file's calibration\n"
    "  --kev-per-channel W    take the file's channels as they are, W keV each\n"
    "                         (with --offset-kev O as its calibration for rebinning)\n"
    "  --format mca|spe|chn|n42|text   read them as this format\n";


const char* const kConvertHelp =
    "Usage: tarvik convert --angle A --length-mm L --scatterer Carbon|PMMA|FILE\n"
    "                      [OPTIONS] FILE.mca1...\n"
    "\n"
    "Converts each stripped spectrum of scattered radiation into the primary\n"
    "spectrum, written as FILE.mca2 beside it (or in --outdir); the same bytes\n"
    "as the conversion dialog and tvconv write for the same entries.\n"
    "\n"
    "  --angle A              scattering angle in degrees\n"
    "  --length-mm L          self-attenuation length in mm\n"
    "  --scatterer S          Carbon or PMMA (Carbon.dat / PMMA.dat of the current\n"
    "                         folder, else of the installed data) or a file\n"
    "  --comment TEXT         comment line, twice for the second (default: the\n"
    "                         file's own comments, as the dialog proposes them)\n"
    "  --method standard|unfold   the conversion (default standard): unfold is the\n"
    "                         unfolding with the scattering model, as with the\n"
    "                         dialog's check box \"unfold\" checked; it also reads\n"
    "                         the Compton profile beside the scatterer file\n"
    "                         (Carbon_profile.dat for Carbon.dat), once per call\n"
    "  --outdir DIR           write the results into DIR\n"
    "  --force                overwrite existing results\n";

const char* const kQualityHelp =
    "Usage: tarvik quality [--kev-per-channel W] [--json|--csv] [OPTIONS] FILE...\n"
    "\n"
    "Beam-quality figures of each spectrum (.csv, .mca1, .mca2): total photons,\n"
    "fluence and air-kerma mean energy, first and second half-value layers of\n"
    "air kerma in Al and Cu, homogeneity coefficients, effective energy and end\n"
    "point, each with a standard uncertainty from the counting statistics.\n"
    "\n"
    "  --kev-per-channel W    keV per channel of the .csv files (a .mca1/.mca2\n"
    "                         carries its own; a different W is refused for it)\n"
    "  --first-line N         first data line of a .csv (default 32)\n"
    "  --json                 one JSON object per line\n"
    "  --csv                  a header line, then one CSV line per file\n"
    "  --resamples N          Poisson resamples for the uncertainties (default\n"
    "                         100; 0: none)\n"
    "  --seed N               seed of the resampling (default 1)\n"
    "  --from-kev E           leave out the channels below E keV (a measured\n"
    "                         spectrum's noise in its lowest channels dominates\n"
    "                         the air kerma; default: all channels)\n"
    "  --kv V                 take a .csv through the stripping correction first;\n"
    "                         its uncertainties then come from resampling the\n"
    "                         measured counts through the correction\n"
    "  --method standard|unfold   with --kv: the correction (default standard);\n"
    "                         unfold is the unfolding with the detector's full\n"
    "                         response (RES/detector.txt, RES/unfold.rsp), every\n"
    "                         resample unfolded too (seconds per file); with the\n"
    "                         conversion it unfolds the scattering as well (the\n"
    "                         Compton profile beside the scatterer file)\n"
    "  --angle A --length-mm L --scatterer S\n"
    "                         with --kv: also through the conversion\n"
    "  --res DIR              with --kv: the response data (default RES/ of the\n"
    "                         current folder, else the installed data), e.g. the\n"
    "                         RES of 'tarvik characterize'\n"
    "  --aperture-mm2 A       the detector's entrance area (the collimator's\n"
    "                         aperture) in mm2: with the live time, the photon\n"
    "                         fluence rate and the air-kerma rate at the detector\n"
    "  --mas M                the tube's mAs during the real time: the counts (and\n"
    "                         with --aperture-mm2 the fluence and air kerma) per mAs\n"
    "\n"
    "A file that gives its live and real time (an analyser's file, or its .csv\n"
    "of `tarvik import`) adds them, the dead time (1 - live/real) and the count\n"
    "rate (photons / live time) to its record; a file without gives null there.\n"
    "A converted spectrum (--angle) has no rates: its counts are scaled to the\n"
    "scattered spectrum's.\n"
    "\n"
    "A .csv without --kv is evaluated as measured.  The counts of a .mca1/.mca2\n"
    "are taken as Poisson counts of their own value (a lower bound of the\n"
    "uncertainty: the measured counts are no longer known).\n"
    "\n"
    "Spectrum files of analysers (.mca, .Spe, .Chn, N42 XML, text columns), of\n"
    "any number of channels, bring their keV per channel and offset from their\n"
    "calibration; --kev-per-channel W (and --offset-kev O, where the first channel\n"
    "starts) replaces it.  Counts of a calibration that does not start at 0 keV\n"
    "are shared onto channels of its keV per channel from 0 keV (the progress\n"
    "line says so).  With --kv they are stripped as `tarvik strip` does:\n"
    "  --rebin-kev-per-channel W  with --kv: share the counts onto 1024 channels\n"
    "                         of W keV from 0 keV by the file's calibration first\n"
    "  --format mca|spe|chn|n42|text   read them as this format\n";


const char* const kExportHelp =
    "Usage: tarvik export --csv OUT.csv [--kev-per-channel W] [--first-line N]\n"
    "                     [--force] FILE...\n"
    "\n"
    "Writes the spectra as one table: a channel and an energy column (keV, the\n"
    "channel's upper edge i*W as the result files write it) and one count column\n"
    "per file, after a row of units.  All files must have the same keV per\n"
    "channel; W is needed for .csv files.\n"
    "\n"
    "Spectrum files of analysers (.mca, .Spe, .Chn, N42 XML, text columns) give\n"
    "one row per channel of the file with the energy where the channel ends by\n"
    "its calibration (or by --kev-per-channel W and --offset-kev O); when the\n"
    "spectra do not share their channel energies, each count column gets an\n"
    "energy column of its own before it.\n"
    "  --format mca|spe|chn|n42|text   read them as this format\n";


const char* const kPlotHelp =
    "Usage: tarvik plot --out OUT.png|OUT.svg|OUT.pdf [--log] [--range LO HI]\n"
    "                   [--kev-per-channel W] [--first-line N] [--force] FILE...\n"
    "\n"
    "Draws the spectra (counts over energy in keV) into a PNG, SVG or PDF file.\n"
    "  --log                  logarithmic count axis\n"
    "  --range LO HI          energy range in keV (default: 0 to the highest\n"
    "                         energy with counts)\n"
    "Spectrum files of analysers (.mca, .Spe, .Chn, N42 XML, text columns) are\n"
    "drawn over the energies of their calibration (or of --kev-per-channel W and\n"
    "--offset-kev O); --format mca|spe|chn|n42|text reads them as that format.\n";

const char* const kImportHelp =
    "Usage: tarvik import [--rebin-kev-per-channel W] [--outdir DIR] [--force]\n"
    "                     FILE...\n"
    "\n"
    "Writes each spectrum file of an analyser (<<PMCA SPECTRUM>> .mca, .Spe,\n"
    "binary .Chn, N42 XML, text or CSV columns) as a measured .csv in the\n"
    "stripping dialog's layout: FILE.csv beside it (or in --outdir), a file of\n"
    "several spectra as FILE_1.csv, FILE_2.csv, ...  Lines 1 to 31 keep the\n"
    "source format, the start, live and real time, the calibration and the pulse\n"
    "processor's settings as text; the 1024 records start at line 32, so the\n"
    "dialogs, tvstrip and tarvik strip take it as the analyser's own .csv.\n"
    "\n"
    "  --rebin-kev-per-channel W  share the counts onto 1024 channels of W keV\n"
    "                         from 0 keV by the file's energy calibration (each\n"
    "                         channel's counts spread evenly over its energies);\n"
    "                         needed for files of other than 1024 channels, and\n"
    "                         said in the header\n"
    "  --kev-per-channel W    the file's keV per channel in place of its\n"
    "                         calibration (--offset-kev O: its first channel\n"
    "                         starts at O keV)\n"
    "  --format mca|spe|chn|n42|text   read every file as this format instead of\n"
    "                         recognising it from its content\n"
    "  --outdir DIR           write the results into DIR\n"
    "  --force                overwrite existing results\n"
    "\n"
    "A file that cannot be read is refused with the line or byte and what was\n"
    "expected; nothing is written for it.\n";


const char* const kPlotMissing =
    "\nThis build of tarvik has no plot command (it was built without Qt).\n";

// ---------------------------------------------------------------- options

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The options and files of one command, read by CLI11.  A command declares
// each option once and reads its value after parse():
//
//     CommandLine cl;
//     const auto& kv = cl.value("--kv");        // --kv V or --kv=V; the last one counts
//     const auto& comments = cl.values("--comment");  // every one, in order
//     const bool& force = cl.flag("--force");
//     if (!cl.parse(args)) { help; }
//
// The words: "--" ends the options; "--help" or "-h" before it asks for the
// help; any other word starting with "-" that is no option of the command is
// refused ("unknown option X"), the first one given; an option whose value
// is missing at the end is refused ("X needs a value"); an option's value is
// the next word whatever it looks like (--comment --x).  Values stay texts:
// the command checks them in its own order, with its own messages.
class CommandLine {
public:
    CommandLine()
    {
        app_.set_help_flag();  // the commands' own help texts
        app_.allow_extras();   // files and unknown words, in order, in remaining()
    }

    // An option with one value; the last one given counts.
    const std::optional<std::string>& value(const std::string& name)
    {
        auto& v = values_.emplace_back();
        app_.add_option(name, v)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
        return v;
    }
    // An option that may be given repeatedly: every value, in order.
    const std::vector<std::string>& values(const std::string& name)
    {
        auto& v = lists_.emplace_back();
        app_.add_option(name, v)->expected(1)->allow_extra_args(false)->multi_option_policy(
            CLI::MultiOptionPolicy::TakeAll);
        return v;
    }
    // An option of two words (--range LO HI); the first one given counts.
    const std::vector<std::string>& pair(const std::string& name)
    {
        auto& v = lists_.emplace_back();
        app_.add_option(name, v)->type_size(2)->expected(1)->allow_extra_args(false)->multi_option_policy(
            CLI::MultiOptionPolicy::TakeFirst);
        return v;
    }
    // An option of two words that may be given repeatedly (--source NUCLIDE
    // FILE): every pair, in order, flattened.
    const std::vector<std::string>& pairs(const std::string& name)
    {
        auto& v = lists_.emplace_back();
        app_.add_option(name, v)->type_size(2)->expected(1)->allow_extra_args(false)->multi_option_policy(
            CLI::MultiOptionPolicy::TakeAll);
        return v;
    }
    // A word without a value (--force).  Flags are taken from the words CLI11
    // leaves, as they are written: --force=1 is no flag but an unknown option.
    const bool& flag(const std::string& name) { return flags_[name]; }

    // Reads args[2...].  False when the help was asked for; throws UsageError.
    bool parse(const std::vector<std::string>& args)
    {
        const auto end = std::find(args.begin() + std::min<std::size_t>(2, args.size()), args.end(), "--");
        std::vector<std::string> words;
        for (std::size_t i = args.size(); i-- > 2;) {  // CLI11 takes them last first
            // "--name=" gives the option an empty value (CLI11 would take the next word).
            const std::string& a = args[i];
            const bool option = args.begin() + static_cast<std::ptrdiff_t>(i) < end;
            if (option && a.size() > 3 && a.back() == '=' && app_.get_option_no_throw(a.substr(0, a.size() - 1))) {
                words.push_back("");
                words.push_back(a.substr(0, a.size() - 1));
            } else {
                words.push_back(a);
            }
        }
        try {
            app_.parse(words);
        } catch (const CLI::ArgumentMismatch& e) {
            // A value missing at the end.  The words before it were read: an
            // unknown option among them came first.
            sortRemaining();
            const std::string what = e.what();
            throw UsageError(what.substr(0, what.find(':')) + " needs a value");
        } catch (const CLI::ParseError& e) {
            throw UsageError(e.what());
        }
        sortRemaining();
        return !help_;
    }
    const std::vector<std::string>& files() const { return files_; }

private:
    // The words no option took, in order: files, "--", flags, unknown options.
    void sortRemaining()
    {
        bool options = true;
        for (const std::string& w : app_.remaining()) {
            if (options && w == "--") { options = false; continue; }
            if (options && (w == "--help" || w == "-h")) { help_ = true; continue; }
            if (auto f = flags_.find(w); options && f != flags_.end()) { f->second = true; continue; }
            if (options && w.size() > 1 && w[0] == '-') throw UsageError("unknown option " + w);
            files_.push_back(w);
        }
    }

    CLI::App app_;
    // Where the values go; a deque keeps every element in place.
    std::deque<std::optional<std::string>> values_;
    std::deque<std::vector<std::string>> lists_;
    std::map<std::string, bool> flags_;  // std::map keeps every element in place too
    std::vector<std::string> files_;
    bool help_ = false;
};

double number(const std::string& text, const std::string& what)
{
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || end == text.c_str() || *end != '\0' || !std::isfinite(v))
        throw UsageError(what + " must be a number, not \"" + text + "\"");
    return v;
}

std::string required(const std::optional<std::string>& v, const std::string& name)
{
    if (!v) throw UsageError(name + " is required");
    return *v;
}

Method methodOf(const std::optional<std::string>& given)
{
    const std::string m = given.value_or("standard");
    if (m == "standard") return Method::Standard;
    if (m == "unfold") {
        if (!methodAvailable(Method::Unfold))
            throw UsageError("the unfold method is not available in this build; use --method standard");
        return Method::Unfold;
    }
    throw UsageError("--method must be standard or unfold, not \"" + m + "\"");
}

// --format: every file of another format read as this one.
std::optional<formats::Format> formatOf(const std::optional<std::string>& given)
{
    if (!given) return std::nullopt;
    const auto k = formats::formatFromKey(*given);
    if (!k) throw UsageError("--format must be mca, spe, chn, n42, text or csv, not \"" + *given + "\"");
    return k;
}

// --kev-per-channel W and --offset-kev O as the calibration of files of
// other formats.  Without the check of W: a W of 0 or less then fails each
// such file with the reason, as it fails each measured .csv.
GivenScale givenScaleAsGiven(const std::optional<std::string>& offset, std::optional<double> kevPerChannel)
{
    GivenScale g;
    g.kevPerChannel = kevPerChannel;
    if (offset) {
        if (!kevPerChannel) throw UsageError("--offset-kev needs --kev-per-channel");
        g.offsetKeV = number(*offset, "--offset-kev");
    }
    return g;
}

GivenScale givenScaleOf(const std::optional<std::string>& offset, std::optional<double> kevPerChannel)
{
    const GivenScale g = givenScaleAsGiven(offset, kevPerChannel);
    if (g.kevPerChannel && !(*g.kevPerChannel > 0)) throw UsageError("--kev-per-channel must be above 0");
    return g;
}

std::optional<double> rebinOf(const std::optional<std::string>& given)
{
    if (!given) return std::nullopt;
    const double v = number(*given, "--rebin-kev-per-channel");
    if (!(v > 0)) throw UsageError("--rebin-kev-per-channel must be above 0");
    return v;
}

// ---------------------------------------------------------------- progress

class Progress {
public:
    Progress(const Io& io, std::string command, std::size_t total)
        : io_(io), command_(std::move(command)), total_(total) {}

    void done(const std::string& file, const std::string& what)
    {
        ++count_;
        if (io_.terminal) {
            draw(file);
        } else {
            std::fprintf(io_.err, "tarvik %s: [%zu/%zu] %s: %s\n", command_.c_str(), count_, total_, file.c_str(),
                         what.c_str());
        }
    }
    // A line of its own about a file, before its progress.
    void note(const std::string& file, const std::string& text)
    {
        if (io_.terminal) std::fputs("\r\033[K", io_.err);
        std::fprintf(io_.err, "tarvik %s: %s: %s\n", command_.c_str(), file.c_str(), text.c_str());
    }
    void failed(const std::string& file, const std::string& why)
    {
        failures_.emplace_back(file, why);
        done(file, "FAILED: " + why);
    }
    // The summary; returns the exit status.
    int finish()
    {
        if (io_.terminal && total_ > 0) std::fputc('\n', io_.err);
        if (failures_.empty()) {
            if (io_.terminal || total_ > 1)
                std::fprintf(io_.err, "tarvik %s: %zu of %zu done\n", command_.c_str(), count_, total_);
            return 0;
        }
        std::fprintf(io_.err, "tarvik %s: %zu of %zu failed:\n", command_.c_str(), failures_.size(), total_);
        for (const auto& [file, why] : failures_) std::fprintf(io_.err, "  %s: %s\n", file.c_str(), why.c_str());
        return 1;
    }

private:
    void draw(const std::string& file)
    {
        constexpr int width = 30;
        const int filled = total_ ? static_cast<int>(width * count_ / total_) : width;
        std::string bar(static_cast<std::size_t>(filled), '#');
        bar.resize(width, ' ');
        std::string name = file;
        if (name.size() > 40) name = "..." + name.substr(name.size() - 37);
        std::fprintf(io_.err, "\r[%s] %zu/%zu %-40s", bar.c_str(), count_, total_, name.c_str());
        std::fflush(io_.err);
    }

    const Io& io_;
    std::string command_;
    std::size_t total_;
    std::size_t count_ = 0;
    std::vector<std::pair<std::string, std::string>> failures_;
};

// ---------------------------------------------------------------- helpers

fs::path resultPath(const fs::path& input, const std::optional<std::string>& outdir, const char* extension)
{
    fs::path name = input.filename();
    name.replace_extension(extension);
    return outdir ? fs::path(*outdir) / name : input.parent_path() / name;
}

void requireOutdir(const std::optional<std::string>& outdir)
{
    std::error_code ec;
    if (outdir && !fs::is_directory(*outdir, ec)) throw UsageError("the folder " + *outdir + " does not exist");
}

bool pathExists(const fs::path& p)
{
    std::error_code ec;
    return fs::exists(fs::symlink_status(p, ec));
}

// The response folder of a command: --res (a folder that must exist), else
// RES/ of the current folder, else the installed data's.
fs::path responseFolder(const std::optional<std::string>& res, const Locations& where)
{
    std::error_code ec;
    if (res && !fs::is_directory(*res, ec)) throw UsageError("the response folder " + *res + " does not exist");
    return resFolder(res ? std::optional<fs::path>(*res) : std::nullopt, where);
}

// Names on stderr the response data a run uses: the detector profile for the
// unfolding, the folder of the tables when --res chose it.
void sayResponse(const Io& io, const char* command, const fs::path& folder, Method m, bool chosen)
{
    if (m == Method::Unfold)
        std::fprintf(io.err, "tarvik %s: detector profile %s\n", command, describeProfile(folder).c_str());
    else if (chosen)
        std::fprintf(io.err, "tarvik %s: response tables from %s\n", command, folder.string().c_str());
}

// The results of one call: each written once, each folder swept for stale
// temporary files once.
struct Written {
    std::set<fs::path> files, folders;
};

// Writes one result unless it exists (without --force) or another file of
// the same call has written it.
void writeResult(const fs::path& out, const std::string& bytes, bool force, Written& written)
{
    const fs::path key = fs::weakly_canonical(out);
    if (written.files.count(key)) throw FileFailure("another input of this call has the same result " + out.string());
    if (!force && pathExists(out)) throw FileFailure(out.string() + " exists (use --force to overwrite)");
    const bool first = written.folders.insert(key.parent_path()).second;
    fixedio::writeFileAtomically(out, bytes, first ? fixedio::StaleSweep::Sweep : fixedio::StaleSweep::Skip);
    written.files.insert(key);
}

// Runs work(i) for every i below n on up to `jobs` threads and hands each
// outcome to deliver(i, outcome) on the calling thread, in the order of i:
// messages, result files and failures come out as from one file after the
// other.  work must not throw.
template <class Outcome, class Work, class Deliver>
void inInputOrder(std::size_t n, unsigned jobs, Work work, Deliver deliver)
{
    if (jobs <= 1 || n <= 1) {
        for (std::size_t i = 0; i < n; ++i) deliver(i, work(i));
        return;
    }
    std::vector<std::optional<Outcome>> outcomes(n);
    std::mutex m;
    std::condition_variable ready;
    std::size_t next = 0;  // the next input a worker takes
    std::size_t taken = 0; // outcomes the caller has delivered
    // A worker stays at most this many inputs ahead of the delivery, which
    // bounds the results held in memory.
    const std::size_t ahead = 4 * static_cast<std::size_t>(jobs);
    std::condition_variable room;
    const auto worker = [&] {
        for (;;) {
            std::size_t i = 0;
            {
                std::unique_lock lock(m);
                room.wait(lock, [&] { return next >= n || next < taken + ahead; });
                if (next >= n) return;
                i = next++;
            }
            Outcome o = work(i);
            {
                const std::lock_guard lock(m);
                outcomes[i] = std::move(o);
            }
            ready.notify_all();
        }
    };
    std::vector<std::thread> threads;
    const unsigned count = static_cast<unsigned>(std::min<std::size_t>(jobs, n));
    for (unsigned t = 0; t < count; ++t) threads.emplace_back(worker);
    for (std::size_t i = 0; i < n; ++i) {
        Outcome o;
        {
            std::unique_lock lock(m);
            ready.wait(lock, [&] { return outcomes[i].has_value(); });
            o = std::move(*outcomes[i]);
            outcomes[i].reset();
            taken = i + 1;
        }
        room.notify_all();
        deliver(i, std::move(o));
    }
    for (std::thread& t : threads) t.join();
}

// --jobs N: how many files are worked on at once (default: one per processor).
unsigned jobsOf(const std::optional<std::string>& j)
{
    if (j) {
        const double v = number(*j, "--jobs");
        if (!(v >= 1 && v <= 256 && v == std::floor(v))) throw UsageError("--jobs must be a whole number from 1 to 256");
        return static_cast<unsigned>(v);
    }
    const unsigned hw = std::thread::hardware_concurrency();
    return hw == 0 ? 1 : std::min(hw, 16u);
}

// --comment TEXT, at most twice: the first and second comment line.
void takeComments(const std::vector<std::string>& c, auto& first, auto& second)
{
    if (c.size() > 2) throw UsageError("--comment can be given at most twice (two comment lines)");
    if (c.size() > 0) first = c[0];
    if (c.size() > 1) second = c[1];
}

std::string readableError(const std::exception& e) { return e.what(); }

// ---------------------------------------------------------------- commands

// One spectrum of another format (its scale given or its own) through the
// stripping: its .csv of `tarvik import`, taken as the dialog and tvstrip
// take it.  `width` receives the keV per channel used.
StripRun stripOtherSpectrum(const OtherSpectrum& o, StripSettings s, const GivenScale& given,
                            std::optional<double> rebin, ResponseTables& tables, std::string* width = nullptr)
{
    if (given.kevPerChannel && given.offsetKeV != 0 && !rebin)
        throw FileFailure("the stripping takes channels from 0 keV: with --offset-kev give --rebin-kev-per-channel W");
    return stripImported(o, std::move(s), given.kevPerChannel.has_value(), rebin, tables, width);
}

StripRun stripOtherFormat(const fs::path& file, const StripSettings& s, const GivenScale& given,
                          std::optional<double> rebin, std::optional<formats::Format> forced, ResponseTables& tables)
{
    std::vector<OtherSpectrum> all = readOtherFormat(file, forced);
    if (all.size() != 1)
        throw FileFailure("it holds " + std::to_string(all.size()) +
                          " spectra: write each as a .csv with tarvik import and strip those");
    OtherSpectrum& o = all.front();
    o.spectrum = withGivenScale(std::move(o.spectrum), given);
    return stripOtherSpectrum(o, s, given, rebin, tables);
}

int cmdStrip(const std::vector<std::string>& args, const Locations& where, const Io& io)
{
    CommandLine cl;
    const auto& kv = cl.value("--kv");
    const auto& width = cl.value("--kev-per-channel");
    const auto& firstLine = cl.value("--first-line");
    const auto& comments = cl.values("--comment");
    const auto& method = cl.value("--method");
    const auto& outdir = cl.value("--outdir");
    const auto& jobs = cl.value("--jobs");
    const auto& rebinWidth = cl.value("--rebin-kev-per-channel");
    const auto& offset = cl.value("--offset-kev");
    const auto& format = cl.value("--format");
    const auto& res = cl.value("--res");
    const bool& force = cl.flag("--force");
    if (!cl.parse(args)) { std::fputs(kStripHelp, io.out); return 0; }
    const std::vector<std::string>& files = cl.files();
    StripSettings s;
    s.kv = required(kv, "--kv");
    // Files of other formats bring their keV per channel; the measured
    // .csv files need it as before.
    const auto forced = formatOf(format);
    std::vector<bool> other;
    for (const std::string& f : files) other.push_back(isOtherFormat(f, forced));
    const bool allOther = !files.empty() && std::find(other.begin(), other.end(), false) == other.end();
    if (!allOther || width) s.kevPerChannel = required(width, "--kev-per-channel");
    number(s.kv, "--kv");
    std::optional<double> widthGiven;
    if (!s.kevPerChannel.empty()) widthGiven = number(s.kevPerChannel, "--kev-per-channel");
    // With measured .csv files in the call, --kev-per-channel is theirs.
    if (!allOther && offset)
        throw UsageError("--offset-kev is for files of other formats only (this call has measured .csv files)");
    const GivenScale given = allOther ? givenScaleOf(offset, widthGiven) : GivenScale{};
    const std::optional<double> rebin = rebinOf(rebinWidth);
    if (firstLine) { number(*firstLine, "--first-line"); s.firstLine = *firstLine; }
    takeComments(comments, s.comment1, s.comment2);
    s.method = methodOf(method);
    requireOutdir(outdir);
    if (files.empty()) throw UsageError("no measured spectrum (.csv) given");
    std::error_code ec;
    ResponseTables tables(responseFolder(res, where));
    sayResponse(io, "strip", tables.folder(), s.method, res.has_value());
    Progress progress(io, "strip", files.size());
    Written written;
    // Where each result goes, and which input is the first of the call to
    // name its result file (a later one with the same result is written only
    // when the earlier failed).  Each result folder is swept for stale
    // temporary files once, before any result is written.
    std::vector<fs::path> outs, keys;
    std::vector<bool> first;
    {
        std::map<fs::path, fs::path> folderKeys;
        std::set<fs::path> claimed;
        for (const std::string& f : files) {
            const fs::path out = resultPath(f, outdir, ".mca1");
            const fs::path folder = out.parent_path().empty() ? fs::path(".") : out.parent_path();
            auto it = folderKeys.find(folder);
            if (it == folderKeys.end()) {
                it = folderKeys.emplace(folder, fs::weakly_canonical(folder, ec)).first;
                fixedio::sweepStaleTemporaries(folder);
            }
            outs.push_back(out);
            keys.push_back(it->second / out.filename());
            first.push_back(claimed.insert(keys.back()).second);
        }
    }
    // The corrections, and the writing of results no other input of the
    // call names, run side by side; each file is reported, and a result
    // named twice settled, in the order of the files given.
    struct Outcome {
        std::optional<StripRun> run;  // corrected but not yet written
        std::optional<tvstrip::PileupReport> pileup;  // the unfolding's
        bool written = false;
        std::string failure;
    };
    const auto existing = [&](const fs::path& out) {
        if (!force && pathExists(out)) throw FileFailure(out.string() + " exists (use --force to overwrite)");
    };
    inInputOrder<Outcome>(
        files.size(), jobsOf(jobs),
        [&](std::size_t i) {
            Outcome o;
            try {
                requireMethod(s.method);
                // An input whose result another input names first is checked
                // when its turn comes, once the earlier one has been written.
                if (first[i]) existing(outs[i]);
                o.run = other[i] ? stripOtherFormat(files[i], s, given, rebin, forced, tables)
                                 : stripFile(files[i], s, tables);
                o.pileup = o.run->pileup;
                if (first[i]) {
                    existing(outs[i]);
                    fixedio::writeFileAtomically(outs[i], o.run->result, fixedio::StaleSweep::Skip);
                    o.run.reset();
                    o.written = true;
                }
            } catch (const std::exception& e) {
                o.run.reset();
                o.failure = readableError(e);
            }
            return o;
        },
        [&](std::size_t i, Outcome o) {
            const std::string& f = files[i];
            try {
                if (!o.failure.empty()) throw FileFailure(o.failure);
                if (o.pileup) progress.note(f, pileupNote(*o.pileup));
                if (!o.written) {
                    existing(outs[i]);
                    if (written.files.count(keys[i]))
                        throw FileFailure("another input of this call has the same result " + outs[i].string());
                    fixedio::writeFileAtomically(outs[i], o.run->result, fixedio::StaleSweep::Skip);
                }
                written.files.insert(keys[i]);
                progress.done(f, outs[i].string());
            } catch (const std::exception& e) {
                progress.failed(f, readableError(e));
            }
        });
    return progress.finish();
}

int cmdConvert(const std::vector<std::string>& args, const Locations& where, const Io& io)
{
    CommandLine cl;
    const auto& angle = cl.value("--angle");
    const auto& length = cl.value("--length-mm");
    const auto& scattererName = cl.value("--scatterer");
    const auto& comments = cl.values("--comment");
    const auto& method = cl.value("--method");
    const auto& outdir = cl.value("--outdir");
    const bool& force = cl.flag("--force");
    if (!cl.parse(args)) { std::fputs(kConvertHelp, io.out); return 0; }
    const std::vector<std::string>& files = cl.files();
    ConvertSettings s;
    s.angle = required(angle, "--angle");
    s.lengthMm = required(length, "--length-mm");
    number(s.angle, "--angle");
    number(s.lengthMm, "--length-mm");
    const std::string sc = required(scattererName, "--scatterer");
    s.carbonName = !(sc == "PMMA" || sc == "pmma");
    takeComments(comments, s.comment1, s.comment2);
    s.method = methodOf(method);
    requireOutdir(outdir);
    if (files.empty()) throw UsageError("no stripped spectrum (.mca1) given");
    tvconv::ScattererData scatterer;
    const fs::path scattererPath = scattererFile(sc, where.dataDir);
    try {
        scatterer = tvconv::readScattererFile(scattererPath);
    } catch (const std::exception& e) {
        throw UsageError("the scatterer " + sc + " cannot be used: " + e.what());
    }
    // The unfolding's Compton profile beside the scatterer file, read once;
    // when it cannot be used, every file fails with the reason.
    std::optional<tvconv::ScatterModelData> model;
    std::string modelFailure;
    if (s.method == Method::Unfold) {
        try {
            model = tvconv::ScatterModelData{scatterer, tvconv::readProfileFile(tvconv::profilePathFor(scattererPath))};
        } catch (const std::exception& e) {
            modelFailure = e.what();
        }
    }
    Progress progress(io, "convert", files.size());
    Written written;
    for (const std::string& f : files) {
        try {
            requireMethod(s.method);
            const fs::path out = resultPath(f, outdir, ".mca2");
            if (!force && pathExists(out)) throw FileFailure(out.string() + " exists (use --force to overwrite)");
            if (s.method == Method::Unfold && !model) throw FileFailure(modelFailure);
            const ConvertRun run = convertFile(f, s, scatterer, model ? &*model : nullptr);
            writeResult(out, run.result, force, written);
            progress.done(f, out.string());
        } catch (const std::exception& e) {
            progress.failed(f, readableError(e));
        }
    }
    return progress.finish();
}

int cmdQuality(const std::vector<std::string>& args, const Locations& where, const Io& io)
{
    CommandLine cl;
    const auto& width = cl.value("--kev-per-channel");
    const auto& firstLineText = cl.value("--first-line");
    const auto& resamples = cl.value("--resamples");
    const auto& seed = cl.value("--seed");
    const auto& kv = cl.value("--kv");
    const auto& angle = cl.value("--angle");
    const auto& length = cl.value("--length-mm");
    const auto& scattererName = cl.value("--scatterer");
    const auto& fromKev = cl.value("--from-kev");
    const auto& method = cl.value("--method");
    const auto& offset = cl.value("--offset-kev");
    const auto& format = cl.value("--format");
    const auto& rebinWidth = cl.value("--rebin-kev-per-channel");
    const auto& res = cl.value("--res");
    const auto& apertureText = cl.value("--aperture-mm2");
    const auto& masText = cl.value("--mas");
    const bool& json = cl.flag("--json");
    const bool& csv = cl.flag("--csv");
    if (!cl.parse(args)) { std::fputs(kQualityHelp, io.out); return 0; }
    const auto forced = formatOf(format);
    const std::optional<double> rebin = rebinOf(rebinWidth);
    const std::vector<std::string>& files = cl.files();
    if (json && csv) throw UsageError("--json and --csv exclude each other");
    std::optional<double> w;
    if (width) {
        w = number(*width, "--kev-per-channel");
        if (!(*w > 0)) throw UsageError("--kev-per-channel must be above 0");
    }
    const double firstLine = firstLineText ? number(*firstLineText, "--first-line") : 32.0;
    quality::Options options;
    if (resamples) {
        const double n = number(*resamples, "--resamples");
        if (n < 0 || n > 100000 || n != std::floor(n)) throw UsageError("--resamples must be a whole number 0..100000");
        options.resamples = static_cast<int>(n);
    }
    if (fromKev) {
        options.lowerLimitKeV = number(*fromKev, "--from-kev");
        if (options.lowerLimitKeV < 0) throw UsageError("--from-kev must not be negative");
    }
    if (seed) options.seed = static_cast<std::uint64_t>(number(*seed, "--seed"));
    // What every record's rates are computed with besides its file's times.
    quality::Exposure measurement;
    if (apertureText) {
        measurement.apertureMm2 = number(*apertureText, "--aperture-mm2");
        if (!(*measurement.apertureMm2 > 0))
            throw UsageError("--aperture-mm2 must be above 0 (the detector's entrance area in mm2)");
    }
    if (masText) {
        measurement.mAs = number(*masText, "--mas");
        if (!(*measurement.mAs > 0)) throw UsageError("--mas must be above 0 (the tube's mAs during the measurement)");
    }
    if (kv) number(*kv, "--kv");
    if (method && !kv) throw UsageError("--method is the method of the correction: it needs --kv");
    const Method m = methodOf(method);
    const bool convert = angle || length || scattererName;
    std::optional<ConvertSettings> conv;
    tvconv::ScattererData scatterer;
    // The unfolding conversion's Compton profile beside the scatterer file,
    // read once; when it cannot be used, every .csv fails with the reason.
    std::optional<tvconv::ScatterModelData> model;
    std::string modelFailure;
    if (convert) {
        if (!kv) throw UsageError("the conversion (--angle, --length-mm, --scatterer) needs --kv for the stripping");
        if (apertureText || masText)
            throw UsageError("--aperture-mm2 and --mas give figures at the detector; a converted spectrum (--angle, "
                             "--length-mm, --scatterer) is the primary beam's shape scaled to the scattered counts");
        measurement.countsAtDetector = false;
        conv = ConvertSettings{};
        conv->angle = required(angle, "--angle");
        conv->lengthMm = required(length, "--length-mm");
        number(conv->angle, "--angle");
        number(conv->lengthMm, "--length-mm");
        const std::string sc = required(scattererName, "--scatterer");
        const fs::path scattererPath = scattererFile(sc, where.dataDir);
        try {
            scatterer = tvconv::readScattererFile(scattererPath);
        } catch (const std::exception& e) {
            throw UsageError("the scatterer " + sc + " cannot be used: " + e.what());
        }
        if (m == Method::Unfold) {
            try {
                model = tvconv::ScatterModelData{scatterer,
                                                 tvconv::readProfileFile(tvconv::profilePathFor(scattererPath))};
            } catch (const std::exception& e) {
                modelFailure = e.what();
            }
        }
    }
    if (res && !kv) throw UsageError("--res is the response data of the correction: it needs --kv");
    if (files.empty()) throw UsageError("no spectrum given");
    const GivenScale given = givenScaleOf(offset, w);
    ResponseTables tables(responseFolder(res, where));
    if (kv) sayResponse(io, "quality", tables.folder(), m, res.has_value());
    Progress progress(io, "quality", files.size());
    if (csv) std::fprintf(io.out, "%s,%s\n", quality::csvHeader().c_str(), quality::ratesCsvHeader().c_str());
    // One record: the figures and what is known of the measurement.
    struct Record {
        std::string name;
        quality::BeamQuality figures;
        quality::Exposure exposure;
    };
    // The exposure of a file that gives its live and real time.
    const auto timed = [&](std::optional<double> live, std::optional<double> real) {
        quality::Exposure e = measurement;
        e.liveTimeS = live;
        e.realTimeS = real;
        return e;
    };
    // The figures of a stripped spectrum: the correction (and conversion) of
    // the measured counts and of each resample.
    // The hook for the pile-up estimate: with --method unfold the
    // unfolding's estimate of the pile-up share goes into
    // record.exposure.pileupShare here (value, and its uncertainty over the
    // resamples); quality::computeRates passes it on to the text, JSON and
    // CSV records (pileup_share, pileup_share_u).
    const auto throughCorrection = [&](const StripRun& run, double kevPerChannel, Record& record) {
        // The unfolding's pile-up share of the measured counts (the chain's
        // first call), then of each resample.
        std::vector<std::optional<double>> shares;
        quality::Chain chain = [&](std::span<const double> measured) {
            tvstrip::UnfoldReport report;
            std::vector<double> c = stripCounts(measured, run.voltage, run.kevPerChannel, tables, m,
                                                m == Method::Unfold ? &report : nullptr, run.rates);
            if (m == Method::Unfold) shares.push_back(tvstrip::pileupShareOf(report.pileup));
            if (conv) {
                const float lengthCm = static_cast<float>(number(conv->lengthMm, "--length-mm") * 0.1);
                const auto degrees = static_cast<std::int32_t>(number(conv->angle, "--angle"));
                c = convertCounts(c, degrees, lengthCm, run.kevPerChannel, scatterer, model ? &*model : nullptr);
            }
            return c;
        };
        record.figures = quality::computeBeamQualityThrough(run.measured, kevPerChannel, chain, options);
        if (!shares.empty() && shares.front()) {
            quality::Value v;
            v.value = *shares.front();
            // The spread over the resamples whose model held pile-up.
            double n = 0, sum = 0, sum2 = 0;
            for (std::size_t i = 1; i < shares.size(); ++i)
                if (shares[i]) {
                    n += 1;
                    sum += *shares[i];
                    sum2 += *shares[i] * *shares[i];
                }
            if (n > 1) v.uncertainty = std::sqrt(std::max(0.0, (sum2 - sum * sum / n) / (n - 1)));
            record.exposure.pileupShare = v;
        }
    };
    // The rates are computed before anything is printed, so that a file
    // whose times cannot be used fails whole.
    const auto print = [&](const std::vector<Record>& records) {
        std::vector<quality::Rates> rates;
        for (const Record& r : records) rates.push_back(quality::computeRates(r.figures, r.exposure));
        for (std::size_t i = 0; i < records.size(); ++i) {
            const Record& r = records[i];
            if (json) {
                std::fprintf(io.out, "%s\n", quality::jsonLine(quality::qualityRecord(r.figures, r.name, rates[i])).c_str());
            } else if (csv) {
                std::fprintf(io.out, "%s,%s\n", quality::toCsv(r.figures, r.name).c_str(),
                             quality::ratesCsv(rates[i]).c_str());
            } else {
                std::fprintf(io.out, "%s\n",
                             quality::formatText(r.figures, r.name, quality::formatRatesText(rates[i], r.exposure))
                                 .c_str());
            }
        }
        std::fflush(io.out);
    };
    for (const std::string& f : files) {
        try {
            const fs::path file(f);
            if (isOtherFormat(file, forced)) {
                // Every spectrum of the file, each under its own name.
                std::vector<Record> records;
                std::string notes;
                for (OtherSpectrum& o : readOtherFormat(file, forced)) {
                    o.spectrum = withGivenScale(std::move(o.spectrum), given);
                    if (kv) {
                        if (conv && m == Method::Unfold && !model) throw FileFailure(modelFailure);
                        StripSettings s;
                        s.kv = *kv;
                        s.method = m;
                        std::string kevPerChannel;
                        const StripRun run = stripOtherSpectrum(o, s, given, rebin, tables, &kevPerChannel);
                        Record& r = records.emplace_back(
                            Record{o.label, {}, timed(o.spectrum.liveTimeS, o.spectrum.realTimeS)});
                        throughCorrection(run, std::strtod(kevPerChannel.c_str(), nullptr), r);
                    } else {
                        const ZeroScale z = ontoZeroScale(o.spectrum);
                        if (!z.note.empty() && notes.find(z.note) == std::string::npos) {
                            notes += notes.empty() ? "; " : ", ";
                            notes += z.note;
                        }
                        records.push_back({o.label, quality::computeBeamQuality(z.counts, z.kevPerChannel, options),
                                           timed(o.spectrum.liveTimeS, o.spectrum.realTimeS)});
                    }
                }
                print(records);
                progress.done(f, records.size() > 1 ? "ok (" + std::to_string(records.size()) + " spectra)" + notes
                                                    : "ok" + notes);
                continue;
            }
            // A measured .csv keeps the times `tarvik import` wrote into its header.
            Record record{f, {}, measurement};
            if (file.extension() == ".csv") {
                std::string head;
                bool complete = false;
                if (fixedio::readFileHead(file, std::size_t{1} << 16, head, complete) == fixedio::ReadStatus::Ok) {
                    try {
                        const formats::HeaderTimes t = formats::importedTimesOfBytes(
                            head, f, static_cast<int>(std::clamp(firstLine, 1.0, 100000.0)));
                        record.exposure = timed(t.liveTimeS, t.realTimeS);
                    } catch (const formats::FormatError& e) {
                        throw FileFailure(e.where() + ": " + e.reason());
                    }
                }
            }
            if (file.extension() == ".csv" && kv) {
                if (!w) throw FileFailure("a .csv carries no keV per channel: give it with --kev-per-channel W");
                if (conv && m == Method::Unfold && !model) throw FileFailure(modelFailure);
                StripSettings s;
                s.kv = *kv;
                s.method = m;
                char buf[40];
                std::snprintf(buf, sizeof buf, "%.10g", *w);
                s.kevPerChannel = buf;
                std::snprintf(buf, sizeof buf, "%.10g", firstLine);
                s.firstLine = buf;
                // The times of an imported .csv tell the unfolding the count
                // rate when the profile gives the resolving time.
                tvstrip::PileupInput rates;
                rates.liveTimeS = record.exposure.liveTimeS;
                rates.realTimeS = record.exposure.realTimeS;
                const StripRun run = stripFile(file, s, tables, rates);
                throughCorrection(run, *w, record);
            } else {
                const SpectrumData d = readSpectrum(file, w, firstLine);
                record.figures = quality::computeBeamQuality(d.counts, d.kevPerChannel, options);
            }
            print({record});
            progress.done(f, "ok");
        } catch (const std::exception& e) {
            progress.failed(f, readableError(e));
        }
    }
    return progress.finish();
}

int cmdCharacterize(const std::vector<std::string>& args, const Locations& where, const Io& io)
{
    CommandLine cl;
    const auto& sources = cl.pairs("--source");
    const auto& width = cl.value("--kev-per-channel");
    const auto& out = cl.value("--out");
    const auto& firstLine = cl.value("--first-line");
    const auto& bias = cl.value("--bias");
    const auto& thickness = cl.value("--thickness-mm");
    const auto& window = cl.value("--window-um");
    const auto& res = cl.value("--res");
    const auto& threads = cl.value("--threads");
    const auto& photons = cl.value("--photons-per-node");
    const bool& force = cl.flag("--force");
    if (!cl.parse(args)) { std::fputs(kCharacterizeHelp, io.out); return 0; }
    CharacterizeRequest q;
    if (sources.empty()) throw UsageError("--source NUCLIDE FILE is required (one per calibration source)");
    for (std::size_t i = 0; i + 1 < sources.size(); i += 2) q.sources.emplace_back(sources[i], sources[i + 1]);
    if (!cl.files().empty())
        throw UsageError("\"" + cl.files().front() + "\" is no option: give each spectrum with --source NUCLIDE FILE");
    if (width) {
        q.kevPerChannel = number(*width, "--kev-per-channel");
        if (!(q.kevPerChannel > 0)) throw UsageError("--kev-per-channel must be above 0");
    }
    q.out = required(out, "--out");
    if (firstLine) q.firstLine = number(*firstLine, "--first-line");
    auto positive = [](const std::optional<std::string>& v, const char* name, bool zero) -> std::optional<double> {
        if (!v) return std::nullopt;
        const double x = number(*v, name);
        if (zero ? !(x >= 0) : !(x > 0)) throw UsageError(std::string(name) + (zero ? " must not be negative" : " must be above 0"));
        return x;
    };
    q.biasVolts = positive(bias, "--bias", false);
    q.thicknessMm = positive(thickness, "--thickness-mm", false);
    q.windowUm = positive(window, "--window-um", true);
    if (res) {
        std::error_code ec;
        if (!fs::is_directory(*res, ec)) throw UsageError("the response folder " + *res + " does not exist");
        q.res = fs::path(*res);
    }
    if (threads) {
        const double n = number(*threads, "--threads");
        if (n < 1 || n > 256 || n != std::floor(n)) throw UsageError("--threads must be a whole number 1..256");
        q.threads = static_cast<int>(n);
    }
    if (photons) {
        const double n = number(*photons, "--photons-per-node");
        if (n < 1000 || n > 1e9 || n != std::floor(n)) throw UsageError("--photons-per-node must be a whole number 1000..1000000000");
        q.photonsPerNode = static_cast<std::int64_t>(n);
    }
    q.force = force;
    return characterizeCommand(q, where, io);
}

int cmdExport(const std::vector<std::string>& args, const Locations&, const Io& io)
{
    CommandLine cl;
    const auto& table = cl.value("--csv");
    const auto& width = cl.value("--kev-per-channel");
    const auto& firstLineText = cl.value("--first-line");
    const auto& offset = cl.value("--offset-kev");
    const auto& format = cl.value("--format");
    const bool& force = cl.flag("--force");
    if (!cl.parse(args)) { std::fputs(kExportHelp, io.out); return 0; }
    const std::vector<std::string>& files = cl.files();
    const fs::path out = required(table, "--csv");
    std::optional<double> w;
    if (width) w = number(*width, "--kev-per-channel");
    const double firstLine = firstLineText ? number(*firstLineText, "--first-line") : 32.0;
    const auto forced = formatOf(format);
    const GivenScale given = givenScaleAsGiven(offset, w);
    if (files.empty()) throw UsageError("no spectrum given");
    if (!force && pathExists(out)) throw UsageError(out.string() + " exists (use --force to overwrite)");
    Progress progress(io, "export", files.size());
    std::vector<std::string> names;
    std::vector<SpectrumData> spectra;
    std::optional<std::size_t> firstOfOneWidth;  // the first .csv/.mca1/.mca2 read
    for (const std::string& f : files) {
        try {
            if (isOtherFormat(f, forced)) {
                // One count column per spectrum, with its own energies.
                std::vector<std::pair<std::string, SpectrumData>> read;
                for (OtherSpectrum& o : readOtherFormat(f, forced))
                    read.emplace_back(o.label, exportData(withGivenScale(std::move(o.spectrum), given)));
                for (auto& [name, d] : read) {
                    names.push_back(name);
                    spectra.push_back(std::move(d));
                }
                progress.done(f, "read");
                continue;
            }
            SpectrumData d = readSpectrum(f, w, firstLine);
            if (firstOfOneWidth && d.kevPerChannel != spectra[*firstOfOneWidth].kevPerChannel)
                throw FileFailure("its keV per channel differs from " + names[*firstOfOneWidth] +
                                  "'s: one energy column cannot serve both (give --kev-per-channel)");
            if (!firstOfOneWidth) firstOfOneWidth = spectra.size();
            names.push_back(f);
            spectra.push_back(std::move(d));
            progress.done(f, "read");
        } catch (const std::exception& e) {
            progress.failed(f, readableError(e));
        }
    }
    if (!spectra.empty()) {
        try {
            fixedio::writeFileAtomically(out, exportCsv(names, spectra));
        } catch (const std::exception& e) {
            progress.failed(out.string(), readableError(e));
        }
    }
    return progress.finish();
}

int cmdPlot(const std::vector<std::string>& args, const Locations&, const Io& io)
{
    CommandLine cl;
    const auto& outName = cl.value("--out");
    const auto& range = cl.pair("--range");
    const auto& width = cl.value("--kev-per-channel");
    const auto& firstLineText = cl.value("--first-line");
    const auto& offset = cl.value("--offset-kev");
    const auto& format = cl.value("--format");
    const bool& logScale = cl.flag("--log");
    const bool& force = cl.flag("--force");
    if (!cl.parse(args)) {
        std::fputs(kPlotHelp, io.out);
        if (!plotAvailable()) std::fputs(kPlotMissing, io.out);
        return 0;
    }
    if (!plotAvailable()) throw UsageError("this build has no plot command (built without Qt)");
    const std::vector<std::string>& files = cl.files();
    const fs::path out = required(outName, "--out");
    const std::string ext = out.extension().string();
    if (ext != ".png" && ext != ".svg" && ext != ".pdf") throw UsageError("--out must end in .png, .svg or .pdf");
    double lo = 0, hi = 0;
    if (range.size() == 2) {
        lo = number(range[0], "--range LO");
        hi = number(range[1], "--range HI");
        if (!(hi > lo) || lo < 0) throw UsageError("--range needs 0 <= LO < HI");
    }
    std::optional<double> w;
    if (width) w = number(*width, "--kev-per-channel");
    const double firstLine = firstLineText ? number(*firstLineText, "--first-line") : 32.0;
    const auto forced = formatOf(format);
    const GivenScale given = givenScaleAsGiven(offset, w);
    if (files.empty()) throw UsageError("no spectrum given");
    if (!force && pathExists(out)) throw UsageError(out.string() + " exists (use --force to overwrite)");
    Progress progress(io, "plot", files.size());
    std::vector<PlotSeries> series;
    for (const std::string& f : files) {
        try {
            if (isOtherFormat(f, forced)) {
                // Over the energies of each channel's centre by the calibration.
                std::vector<PlotSeries> read;
                for (OtherSpectrum& o : readOtherFormat(f, forced)) {
                    const formats::Spectrum sp = withGivenScale(std::move(o.spectrum), given);
                    if (!sp.calibration)
                        throw FileFailure("it has no energy calibration: give --kev-per-channel W (and --offset-kev O)");
                    PlotSeries ps;
                    ps.name = fs::path(o.label).filename().string();
                    ps.counts.assign(sp.counts.begin(), sp.counts.end());
                    ps.kevPerChannel = sp.calibration->gainKeV;
                    for (std::size_t k = 0; k < sp.counts.size(); ++k)
                        ps.centresKeV.push_back(sp.calibration->edgeKeV(static_cast<double>(k) + 0.5));
                    ps.topKeV = sp.calibration->edgeKeV(static_cast<double>(sp.counts.size()));
                    read.push_back(std::move(ps));
                }
                for (auto& ps : read) series.push_back(std::move(ps));
                progress.done(f, "read");
                continue;
            }
            SpectrumData d = readSpectrum(f, w, firstLine);
            PlotSeries ps;
            ps.name = fs::path(f).filename().string();
            ps.counts = std::move(d.counts);
            ps.kevPerChannel = d.kevPerChannel;
            series.push_back(std::move(ps));
            progress.done(f, "read");
        } catch (const std::exception& e) {
            progress.failed(f, readableError(e));
        }
    }
    if (!series.empty()) {
        const std::string why = plotSpectra(series, logScale, lo, hi, out);
        if (!why.empty()) progress.failed(out.string(), why);
    }
    return progress.finish();
}

int cmdImport(const std::vector<std::string>& args, const Locations&, const Io& io)
{
    CommandLine cl;
    const auto& outdir = cl.value("--outdir");
    const auto& rebinWidth = cl.value("--rebin-kev-per-channel");
    const auto& width = cl.value("--kev-per-channel");
    const auto& offset = cl.value("--offset-kev");
    const auto& format = cl.value("--format");
    const bool& force = cl.flag("--force");
    if (!cl.parse(args)) { std::fputs(kImportHelp, io.out); return 0; }
    const std::vector<std::string>& files = cl.files();
    const auto forced = formatOf(format);
    std::optional<double> w;
    if (width) w = number(*width, "--kev-per-channel");
    const GivenScale given = givenScaleOf(offset, w);
    const std::optional<double> rebin = rebinOf(rebinWidth);
    requireOutdir(outdir);
    if (files.empty()) throw UsageError("no spectrum file given");
    Progress progress(io, "import", files.size());
    Written written;
    for (const std::string& f : files) {
        try {
            const fs::path file(f);
            if (!isOtherFormat(file, forced)) {
                const std::string ext = file.extension().string();
                if (ext == ".mca1" || ext == ".mca2")
                    throw FileFailure("a result of the stripping or the conversion, not a measured spectrum");
                throw FileFailure("already a measured .csv in the stripping dialog's layout: nothing to import");
            }
            // Every spectrum written, or none: all are made and checked first.
            std::vector<std::pair<fs::path, formats::MeasuredCsv>> results;
            for (OtherSpectrum& o : readOtherFormat(file, forced)) {
                o.spectrum = withGivenScale(std::move(o.spectrum), given);
                const fs::path out = (outdir ? fs::path(*outdir) : file.parent_path()) / (o.stem + ".csv");
                std::error_code ec;
                if (fs::weakly_canonical(out, ec) == fs::weakly_canonical(file, ec))
                    throw FileFailure("its .csv " + out.string() + " would replace the file itself: give --outdir DIR");
                if (!force && pathExists(out)) throw FileFailure(out.string() + " exists (use --force to overwrite)");
                results.emplace_back(out, importCsv(o, rebin));
            }
            std::string what;
            for (const auto& [out, made] : results) {
                writeResult(out, made.bytes, force, written);
                if (!what.empty()) what += ", ";
                what += out.string();
                if (made.rebinned) what += " (counts shared onto 1024 channels)";
            }
            progress.done(f, what);
        } catch (const std::exception& e) {
            progress.failed(f, readableError(e));
        }
    }
    return progress.finish();
}

// Copies a file or a folder to `to` through a temporary name, so that a
// failed copy leaves nothing half-made; an existing item is replaced only
// with `force`.
void copyItem(const fs::path& from, const fs::path& to, bool force)
{
    if (pathExists(to) && !force) throw FileFailure(to.string() + " exists (use --force to replace it)");
    const fs::path tmp = to.parent_path() / ("." + to.filename().string() + ".tarvik-tmp");
    std::error_code ec;
    fs::remove_all(tmp, ec);
    fs::copy(from, tmp, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    if (pathExists(to)) fs::remove_all(to);
    fs::rename(tmp, to);
}

int cmdInit(const std::vector<std::string>& args, const Locations& where, const Io& io)
{
    CommandLine cl;
    const bool& force = cl.flag("--force");
    if (!cl.parse(args)) { std::fputs(kInitHelp, io.out); return 0; }
    if (cl.files().size() != 1) throw UsageError("give exactly one folder: tarvik init DIR");
    const fs::path dir = cl.files().front();
    std::error_code ec;
    if (!fs::is_directory(where.dataDir / "RES", ec))
        throw UsageError("the shipped data (RES/) were not found at " + where.dataDir.string());
    if (pathExists(dir) && !fs::is_directory(dir, ec)) throw UsageError(dir.string() + " exists and is not a folder");
    fs::create_directories(dir, ec);
    if (ec) throw UsageError("cannot create " + dir.string() + ": " + ec.message());

    std::vector<std::pair<fs::path, fs::path>> items;  // from, to
    items.emplace_back(where.dataDir / "RES", dir / "RES");
    // Every data file beside the response tables (Carbon.dat, PMMA.dat, ...).
    std::vector<fs::path> dats;
    for (const auto& e : fs::directory_iterator(where.dataDir))
        if (e.is_regular_file() && e.path().extension() == ".dat") dats.push_back(e.path());
    std::sort(dats.begin(), dats.end());
    for (const auto& d : dats) items.emplace_back(d, dir / d.filename());
    items.emplace_back(where.dataDir / "Tarvik_data", dir / "Tarvik_data");
    for (const auto& prog : where.programs) items.emplace_back(prog, dir / prog.filename());

    Progress progress(io, "init", items.size());
    for (const auto& [from, to] : items) {
        try {
            if (!pathExists(from)) throw FileFailure("not found: " + from.string());
            copyItem(from, to, force);
            progress.done(to.filename().string(), "from " + from.string());
        } catch (const std::exception& e) {
            progress.failed(to.filename().string(), readableError(e));
        }
    }
    return progress.finish();
}

} // namespace

Locations locate(const fs::path& executable)
{
    Locations l;
    std::error_code ec;
    const fs::path exeDir = executable.parent_path();
    const fs::path installed = exeDir / ".." / "share" / "tarvik";
    if (fs::is_directory(installed / "RES", ec)) {
        l.dataDir = fs::weakly_canonical(installed, ec);
    } else {
#ifdef TARVIK_BUILD_DATA_DIR
        l.dataDir = TARVIK_BUILD_DATA_DIR;
#endif
    }
    for (const char* name : {"tvstrip", "tvconv"}) {
        fs::path beside = exeDir / name;
        if (fs::is_regular_file(beside, ec)) {
            l.programs.push_back(beside);
            continue;
        }
#if defined(TARVIK_BUILD_TVSTRIP) && defined(TARVIK_BUILD_TVCONV)
        l.programs.push_back(std::string_view(name) == "tvstrip" ? TARVIK_BUILD_TVSTRIP : TARVIK_BUILD_TVCONV);
#else
        l.programs.push_back(beside);
#endif
    }
    return l;
}

int run(const std::vector<std::string>& args, const Locations& where, const Io& io)
{
    if (args.size() < 2 || args[1] == "--help" || args[1] == "-h" || args[1] == "help") {
        std::fputs(kMainHelp, args.size() < 2 ? io.err : io.out);
        return args.size() < 2 ? 2 : 0;
    }
    const std::string& cmd = args[1];
    static const std::map<std::string, std::function<int(const std::vector<std::string>&, const Locations&, const Io&)>>
        commands = {{"init", cmdInit},       {"strip", cmdStrip},   {"convert", cmdConvert},
                    {"quality", cmdQuality}, {"export", cmdExport}, {"plot", cmdPlot},
                    {"import", cmdImport}, {"characterize", cmdCharacterize}};
    auto it = commands.find(cmd);
    if (it == commands.end()) {
        std::fprintf(io.err, "tarvik: unknown command \"%s\" (try tarvik --help)\n", cmd.c_str());
        return 2;
    }
    try {
        return it->second(args, where, io);
    } catch (const UsageError& e) {
        std::fprintf(io.err, "tarvik %s: %s (see tarvik %s --help)\n", cmd.c_str(), e.what(), cmd.c_str());
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(io.err, "tarvik %s: %s\n", cmd.c_str(), e.what());
        return 1;
    }
}

} // namespace tarvikcli
