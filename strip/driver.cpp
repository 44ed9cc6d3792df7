#include "strip/driver.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <string>
#include <system_error>

#include "fixedio/files.h"
#include "fixedio/fixedio.h"
#include "fixedio/installed.h"
#include "fixedio/sjis.h"
#include "strip/exchange.h"
#include "strip/stripping.h"
#include "strip/unfold.h"

namespace tvstrip {

namespace {

namespace fs = std::filesystem;

std::string energyOfCode(int code)
{
    return std::to_string(code / 10) + "." + std::to_string(code % 10);
}

void requireInputFile(const fs::path& workDir, const char* name, const char* what)
{
    std::error_code ec;
    if (!fs::is_regular_file(workDir / name, ec))
        throw fixedio::Error(std::string(name) + " (" + what +
                             ") is missing from the working folder; start the correction from the "
                             "stripping dialog of the front end");
}

void waitForEnter(const Console& console)
{
    std::fflush(console.out);
    // Whatever is typed before Enter is ignored; the end of the input counts
    // as Enter so that a run without a terminal never hangs.
    for (int ch = std::getc(console.in); ch != EOF && ch != '\n'; ch = std::getc(console.in)) {
    }
}

// The console line of an unfolding run on pile-up.
std::string pileupLine(const PileupReport& p)
{
    char buf[240];
    switch (p.source) {
    case PileupSource::None:
        return "  Pile-up: none in the model (no counts above the tube voltage)";
    case PileupSource::Counts:
        std::snprintf(buf, sizeof buf,
                      "  Pile-up: %.2f %% of the recorded pulses (fitted to the spectrum; %.0f counts above the tube "
                      "voltage)",
                      100.0 * p.share, p.countsAboveVoltage);
        return buf;
    default:
        std::snprintf(buf, sizeof buf, "  Pile-up: %.2f %% of the recorded pulses (from the count rate)",
                      100.0 * p.share);
        return buf;
    }
}

void printLines(std::FILE* out, std::initializer_list<const char*> lines)
{
    for (const char* l : lines) {
        std::fputs(l, out);
        std::fputc('\n', out);
    }
}

} // namespace

void ResponseTableFiles::leaveScratch()
{
    if (scratchLine_.empty())
        return;
    const fs::path file = workDir_ / kTableNameFileName;
    // Rewritten in place and then cut to its new length: on ext4 a file
    // emptied by O_TRUNC and written again is flushed to the disk at close.
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    bool ok = fd >= 0;
    if (ok)
        ok = ::write(fd, scratchLine_.data(), scratchLine_.size()) == static_cast<ssize_t>(scratchLine_.size()) &&
             ::ftruncate(fd, static_cast<off_t>(scratchLine_.size())) == 0;
    const int err = errno;
    if (fd >= 0 && ::close(fd) != 0 && ok)
        ok = false;
    if (!ok)
        throw fixedio::Error(std::string(kTableNameFileName) + ": cannot write the file (" + std::strerror(err) + ")");
}

const ResponseTable& ResponseTableFiles::operator()(int code)
{
    if (currentCode_ == code)
        return current_;

    // The name of the table passes through the scratch file Dataname.kat:
    // its line as written there, of which the first 30 characters without
    // trailing blanks are the name opened.
    fixedio::LineWriter w;
    w.line(responseFileName(code));
    if (loaded_.insert(code).second)
        scratchLine_ = w.content();
    auto scratch = fixedio::LineReader::fromText(kTableNameFileName, w.content());
    const std::string name = fixedio::trimTrailing(fixedio::textField(scratch.line("the name of a response table"), 30));
    const fs::path relative = fixedio::exchangePath(name);
    const fs::path file = tableRoot_ / relative;
    std::string text;
    bool complete = false;
    switch (fixedio::readFileHead(file, fixedio::kMaxInputBytes, text, complete)) {
    case fixedio::ReadStatus::Ok:
        break;
    case fixedio::ReadStatus::Missing:
        throw fixedio::Error("the response table " + relative.generic_string() + " for " + energyOfCode(code) +
                             " keV is missing from the folder " + kResponseFolderName);
    case fixedio::ReadStatus::Special:
        throw fixedio::Error(relative.generic_string() +
                             ": cannot read the response table (a named pipe or device, not a file)");
    default:
        throw fixedio::Error(relative.generic_string() + ": cannot read the response table");
    }
    auto in = fixedio::LineReader::fromText(relative.generic_string(), std::move(text), !complete);
    currentCode_.reset();  // until the new table is read whole
    current_ = readResponseTable(in);
    currentCode_ = code;
    return current_;
}

int runStripping(const fs::path& workDir, const Console& console)
{
    try {
        // Everything the run reads from the front end is read now, so that a
        // newer run prepared meanwhile cannot mix into this one.
        requireInputFile(workDir, kTempFileName, "the spectrum to correct");
        requireInputFile(workDir, kHeaderFileName, "the header lines of the measured spectrum");
        StripJob job;
        {
            fixedio::LineReader in(workDir / kTempFileName, kTempFileName);
            readTempFile(in, job);
        }
        {
            fixedio::LineReader in(workDir / kHeaderFileName, kHeaderFileName);
            readHeaderLines(in, job);
        }

        StripPlan plan;
        try {
            plan = planStripping(job.voltage, job.kevPerChannel);
        } catch (const StripInputError& e) {
            throw StripInputError(std::string(kTempFileName) + ": " + e.what());
        }

        const fs::path resultFile = workDir / fixedio::exchangePath(job.resultPath);
        fixedio::requireWritableResult(resultFile, "result file");
        // The working folder's own RES, else the one installed with the
        // program (a working folder prepared without a copy of the tables).
        const fs::path tableFolder =
            fixedio::dataPath(kResponseFolderName, workDir, fixedio::installedDataFolder());
        std::error_code ec;
        if (!fs::is_directory(tableFolder, ec))
            throw fixedio::Error(std::string("the folder ") + kResponseFolderName +
                                 " with the detector response tables is missing from the working folder");

        // The unfolding's data are read and checked before the start prompt.
        UnfoldResponse response;
        UnfoldRange range;
        if (job.method == StripMethod::Unfold) {
            response = loadUnfoldResponse(tableFolder, unfoldNeededKeV(job.voltage, job.kevPerChannel));
            range = unfoldRange(response, job.voltage, job.kevPerChannel);
        }

        // The standard method empties the channels above its start channel
        // first; the unfolding takes the measurement as it is (counts above
        // the tube voltage tell it the pile-up).
        const Counts measured = job.counts;
        WorkingSpectrum s = prepareSpectrum(job.counts, plan);

        if (!job.methodNamed)
            printLines(console.out, {" ", "  ----- Stripping correction -----", " ", "      Push Enter key to start"});
        else if (job.method == StripMethod::Standard)
            printLines(console.out, {" ", "  ----- Stripping correction -----", "  Method: standard (stripping with the response tables)",
                                     " ", "      Push Enter key to start"});
        else
            printLines(console.out, {" ", "  ----- Stripping correction -----",
                                     "  Method: unfold (maximum-likelihood unfolding with the detector response)", " ",
                                     "      Push Enter key to start"});
        waitForEnter(console);

        Counts corrected;
        if (job.method == StripMethod::Unfold) {
            if (const auto note = energyScaleNote(response.profile, job.kevPerChannel))
                std::fprintf(console.out, "%s\n", note->c_str());
            std::fprintf(console.out, "  Unfolding channels %d to %d\n", range.firstMeasured, range.last);
            std::fflush(console.out);
            UnfoldReport report;
            corrected = unfoldSpectrum(measured, job.kevPerChannel, job.voltage, response, {}, &report);
            std::fprintf(console.out, "  Converged after %d iterations (last change %.3f %%)\n", report.iterations,
                         100.0 * report.lastChange);
            std::fprintf(console.out, "%s\n", pileupLine(report.pileup).c_str());
            if (report.smoothBelowKeV > 0)
                std::fprintf(console.out,
                             "  Below %.1f keV the spectrum is one smooth shape (the counts there are mostly what "
                             "higher energies leave)\n",
                             report.smoothBelowKeV);
        } else {
            ResponseTableFiles tables(workDir, tableFolder.parent_path());
            try {
                stripChannels(s, plan, std::ref(tables),
                              [&](int channel) { std::fprintf(console.out, " Channel No = %d\n", channel); });
            } catch (...) {
                try {
                    tables.leaveScratch();
                } catch (const std::exception&) {
                    // The reason the loading stopped is the one to report.
                }
                throw;
            }
            tables.leaveScratch();
            corrected = finishSpectrum(s, plan);
        }
        fixedio::writeFileAtomically(resultFile, formatResult(job, corrected));

        printLines(console.out, {" ", "    ----- Finished -----", " ", "  Push Enter key to END"});
        waitForEnter(console);
        printLines(console.out, {"Stop - Program terminated."});
        std::fflush(console.out);
        return 0;
    } catch (const std::exception& e) {
        std::fflush(console.out);
        std::fprintf(console.err, "tvstrip: %s\ntvstrip: the correction was stopped; no result file was written.\n",
                     e.what());
        std::fflush(console.err);
        // In a console window of its own the message would vanish with the
        // window: let the user read it first.
        if (::isatty(::fileno(console.in))) {
            printLines(console.out, {"  Push Enter key to END"});
            waitForEnter(console);
        }
        return 1;
    }
}

} // namespace tvstrip
