// The demo chain without a display: every measured spectrum in Tarvik_data
// goes through the stripping dialog's "補正 GO" and tvstrip, once with the
// standard stripping and once with the unfolding (the check box "高精度補正");
// a spectrum measured behind a scatterer (its name says "PMMA" or "Carbon"
// and the angle as "<n>deg") then goes through the conversion dialog's
// "変換 Go" and tvconv: the standard result with the standard conversion, the
// unfolded one with the unfolding conversion.  The dialogs' own logic writes
// the exchange files; the console programs run in this working folder with
// Enter answered for them, their console output going to a log file.  For
// each spectrum the mean energy and first half-value layer of the results
// (quality/) are printed beside the truth its header states (the simulated
// demo spectra state it).  Run it in a prepared working folder.
#include "dialogs.h"
#include "spectrumfiles.h"
#include "quality/beamquality.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <span>
#include <fcntl.h>
#include <iostream>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace tarvik;

namespace {

// Runs ./program in the working folder, answers both Enter prompts, and
// waits for it: the console output goes to <program>.log.
class ConsoleRunner : public ProgramLauncher {
public:
    int lastStatus = -1;
    std::optional<std::string> start(const std::string& program, const fs::path& workDir) override
    {
        fs::path exe = workDir / program;
        if (!fs::exists(exe)) return program + " is missing in " + workDir.string();
        int in[2];
        if (pipe(in) != 0) return std::string("cannot create a pipe");
        pid_t pid = fork();
        if (pid < 0) return std::string("cannot start ") + program;
        if (pid == 0) {
            dup2(in[0], 0);
            close(in[0]);
            close(in[1]);
            std::string log = (workDir / (program + ".log")).string();
            int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd >= 0) {
                dup2(fd, 1);
                dup2(fd, 2);
                close(fd);
            }
            if (chdir(workDir.c_str()) != 0) _exit(127);
            execl(exe.c_str(), program.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(in[0]);
        const char enter[] = "\n\n";
        ssize_t written = write(in[1], enter, 2);
        (void)written;
        close(in[1]);
        int status = 0;
        waitpid(pid, &status, 0);
        lastStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
        return std::nullopt;
    }
};

class ConsolePrompt : public UserPrompt {
public:
    void tell(const Notice& n) override { std::cout << "  message: " << n.text << "\n"; }
    bool askYesNo(const Notice& q) override
    {
        std::cout << "  question: " << q.text << " -> はい\n";
        return true;
    }
};

struct Summary {
    double total = 0;
    double meanKeV = 0;
};

Summary summarise(const Counts& counts, double kevPerChannel)
{
    Summary s;
    double weighted = 0;
    for (int c = 1; c <= kChannels; ++c) {
        s.total += counts[static_cast<std::size_t>(c)];
        weighted += counts[static_cast<std::size_t>(c)] * (c - 0.5) * kevPerChannel;
    }
    s.meanKeV = s.total > 0 ? weighted / s.total : 0;
    return s;
}

void report(const char* what, const fs::path& file, const Counts& counts, double kev)
{
    Summary s = summarise(counts, kev);
    std::printf("  %-10s %-56s %12.0f photons, mean energy %6.2f keV\n", what, file.string().c_str(), s.total,
                s.meanKeV);
}

// The number written right before `unit` in a name ("W80kV_..." gives 80 for
// "kV"), or the fallback when the name has none.
int numberBefore(const std::string& name, const std::string& unit, int fallback)
{
    std::size_t at = name.find(unit);
    std::size_t start = at;
    while (start != std::string::npos && start > 0 && std::isdigit(static_cast<unsigned char>(name[start - 1])))
        --start;
    if (at == std::string::npos || start == at) return fallback;
    return std::stoi(name.substr(start, at - start));
}

// Mean energy and first half-value layer as a demo spectrum's header states
// them for the truth.
struct Figures {
    double meanKeV = 0;
    double hvlMm = 0;
};

std::optional<double> statedValue(const std::vector<std::string>& header, const std::string& label)
{
    for (const std::string& line : header)
        if (line.rfind(label, 0) == 0) {
            const char* start = line.c_str() + label.size();
            char* end = nullptr;
            const double v = std::strtod(start, &end);
            if (end != start) return v;
        }
    return std::nullopt;
}

std::optional<Figures> statedTruth(const std::vector<std::string>& header, const std::string& meanLabel,
                                   const std::string& hvlLabel)
{
    const auto mean = statedValue(header, meanLabel), hvl = statedValue(header, hvlLabel);
    if (!mean || !hvl) return std::nullopt;
    return Figures{*mean, *hvl};
}

std::string figureText(double meanKeV, double hvlMm)
{
    char line[80];
    std::snprintf(line, sizeof line, "%8.2f keV  %7.3f mm Al", meanKeV, hvlMm);
    return line;
}

// The figures of a result (0.1 keV per channel) by the beam-quality library.
std::string figuresOf(const fs::path& result)
{
    try {
        const Counts counts = readResultFile(result).counts;
        quality::Options o;
        o.resamples = 0;
        const std::span<const double> channels(counts.data() + 1, static_cast<std::size_t>(kChannels));
        const quality::BeamQuality q =
            quality::computeFigures(channels, *quality::attenuationFor(0.1, channels.size()), o);
        return figureText(q.meanEnergyKeV.value, q.hvl1AlMm.value);
    } catch (const std::exception& e) {
        return std::string("not computed: ") + e.what();
    }
}

// One table: the truth the header states, then the results of the standard
// method and of the unfolding (names without the extension; empty when the
// run failed).
void table(const std::string& title, const std::optional<Figures>& truth, const char* const (&labels)[2],
           const std::string (&results)[2], const fs::path& data, const char* extension)
{
    std::printf("  %s\n    %-34s %12s  %13s\n", title.c_str(), "", "mean energy", "HVL1 Al");
    std::printf("    %-34s %s\n", "truth (the file's header)",
                truth ? figureText(truth->meanKeV, truth->hvlMm).c_str() : "(not stated in the file)");
    for (int k = 0; k < 2; ++k)
        if (!results[k].empty())
            std::printf("    %-34s %s\n", labels[k], figuresOf(data / (results[k] + extension)).c_str());
}

} // namespace

int main()
{
    const fs::path work = fs::current_path();
    const fs::path data = work / "Tarvik_data";
    if (!fs::is_directory(data)) {
        std::cerr << "There is no folder Tarvik_data in " << work << ": run this in a prepared working folder.\n";
        return 1;
    }
    std::vector<std::string> csvs;
    for (const auto& e : fs::directory_iterator(data))
        if (e.is_regular_file() && e.path().extension() == ".csv") csvs.push_back(e.path().filename().string());
    std::sort(csvs.begin(), csvs.end());
    if (csvs.empty()) {
        std::cerr << "No measured spectrum (.csv) in " << data << "\n";
        return 1;
    }

    AppState state;
    ConsolePrompt prompt;
    ConsoleRunner runner;
    int failures = 0;
    for (const std::string& csv : csvs) {
        const std::string name = csv.substr(0, csv.size() - 4);
        const fs::path measured = fs::path("Tarvik_data") / csv;
        const MeasuredSpectrum m = readMeasuredFile(data / csv, 32);
        report("measured", measured, m.counts, 0.1);
        // The standard stripping, then the unfolding of the same spectrum.
        std::string results[2];
        for (const bool unfold : {false, true}) {
            std::cout << "Stripping correction of " << csv << (unfold ? " (unfold)" : "") << "\n";
            StripEntries se;
            se.folder = "Tarvik_data";
            se.selectedFile = csv;
            se.text1 = "Demo: " + name;
            se.text3 = std::to_string(numberBefore(name, "kV", 80));
            se.text4 = unfold ? name + "_unfold" : name;
            se.text5 = "0.1";
            se.text6 = "32";
            se.unfold = unfold;
            if (stripGo(state, se, work, prompt, runner) != GoOutcome::Started || runner.lastStatus != 0) {
                std::cout << "  tvstrip failed: see tvstrip.log\n";
                ++failures;
                continue;
            }
            const fs::path mca1 = fs::path("Tarvik_data") / (se.text4 + ".mca1");
            report("corrected", mca1, readResultFile(work / mca1).counts, 0.1);
            results[unfold ? 1 : 0] = se.text4;
        }
        table(csv + ", the spectrum at the detector (HVL of air kerma):",
              statedTruth(m.headerLines, "True mean energy at the detector:", "True HVL (air kerma):"),
              {"standard (stripping)", "unfold"}, results, data, ".mca1");

        const bool pmma = name.find("PMMA") != std::string::npos;
        const bool carbon = name.find("Carbon") != std::string::npos;
        if (!pmma && !carbon) continue;
        // Each corrected spectrum with the conversion of its own kind.
        std::string primaries[2];
        for (int k = 0; k < 2; ++k) {
            if (results[k].empty()) continue;
            const bool unfold = k == 1;
            const std::string mca1 = results[k] + ".mca1";
            std::cout << "Scatter-to-primary conversion of " << mca1 << (unfold ? " (unfold)" : "") << "\n";
            convertFileClicked(state, "Tarvik_data", mca1);
            ConvertEntries ce;
            ce.folder = "Tarvik_data";
            ce.selectedFile = mca1;
            ce.text1 = "Demo: primary spectrum from " + name;
            ce.text4 = name + (unfold ? "_primary_unfold" : "_primary");
            ce.text5 = std::to_string(numberBefore(name, "deg", 90));
            ce.text6 = "10";
            ce.carbon = carbon;
            ce.unfold = unfold;
            if (convertGo(state, ce, work, prompt, runner) != GoOutcome::Started || runner.lastStatus != 0) {
                std::cout << "  tvconv failed: see tvconv.log\n";
                ++failures;
                continue;
            }
            const fs::path mca2 = fs::path("Tarvik_data") / (ce.text4 + ".mca2");
            report("converted", mca2, readResultFile(work / mca2).counts, 0.1);
            primaries[k] = ce.text4;
        }
        table(csv + ", the primary beam after the conversion:",
              statedTruth(m.headerLines, "True primary mean energy:", "True primary HVL (air kerma):"),
              {"standard (stripping, conversion)", "unfold (both unfolding)"}, primaries, data, ".mca2");
    }
    std::cout << "\nThe results are in " << data.string() << " (console output: tvstrip.log, tvconv.log).\n"
              << "Start Tarvik_CdTe in " << work.string() << " on a display to see them as graphs.\n";
    return failures == 0 ? 0 : 1;
}
