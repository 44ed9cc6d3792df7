// tvconv: converts the scattered spectrum that the conversion dialog left in
// TempFile2.dat into the primary spectrum and writes it, with the header
// lines of Com.dat, to the result file named in TempFile2.dat.
//
// Every input is read and checked before the first console text, so a
// missing file or an unusable value stops the run at once with a message
// and a non-zero exit status; the result is written through a temporary
// file, so a failed run leaves no half-written or damaged result.
#include "conversion.h"
#include "exchange.h"
#include "scatterer.h"
#include "unfold.h"

#include "fixedio/files.h"
#include "fixedio/installed.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>
#include <unistd.h>

namespace {

// Console text is collected and written out before each wait for Enter.
class Console {
public:
    // Room for a line per channel from the start: the buffer is not
    // copied again and again as it grows.
    Console() { buffer_.reserve(static_cast<std::size_t>(tvconv::channelCount) * 20); }

    void line(std::string_view text)
    {
        buffer_.append(text);
        buffer_ += '\n';
    }
    void flush()
    {
        std::fwrite(buffer_.data(), 1, buffer_.size(), stdout);
        std::fflush(stdout);
        buffer_.clear();
    }
    // Whatever is typed before Enter is ignored; the end of the input
    // counts as Enter.
    void waitForEnter()
    {
        flush();
        for (int ch = std::getchar(); ch != EOF && ch != '\n'; ch = std::getchar()) {
        }
    }

private:
    std::string buffer_;
};

int stop(Console& console, const std::exception& e)
{
    console.flush();
    std::fprintf(stderr, "tvconv: %s\ntvconv: no result file was written.\n", e.what());
    std::fflush(stderr);
    // Keep a console window open until the message has been read.
    if (isatty(STDIN_FILENO)) {
        console.line("          Push Enter key to END");
        console.waitForEnter();
    }
    return 1;
}

const char kUsage[] =
    "Usage: tvconv\n"
    "Converts a corrected spectrum of radiation scattered off carbon or PMMA into\n"
    "the primary spectrum. Run in a working folder that holds TempFile2.dat and\n"
    "Com.dat (written by the conversion dialog of Tarvik_CdTe or by 'tarvik convert')\n"
    "and the scatterer file they name. Line 110 of TempFile2.dat chooses the method:\n"
    "absent or 'standard' for the standard conversion, 'unfold' for the unfolding\n"
    "with coherent scattering, Doppler broadening and attenuation. Press Enter to\n"
    "start and again to close; the result is the .mca2 file named in TempFile2.dat.\n"
    "For many spectra without Enter presses use 'tarvik convert'.\n";

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    Console console;
    tvconv::ConversionRequest request;
    tvconv::ScattererData scatterer;
    tvconv::ScatterModelData model;
    std::vector<std::string> header;
    bool unfold = false;
    try {
        request = tvconv::readConversionRequest(std::filesystem::path("TempFile2.dat"));
        // The working folder's scatterer file, else the one installed with
        // the program; the unfolding's profile file lies beside it.
        request.scattererPath = fixedio::dataPath(request.scattererPath, {}, fixedio::installedDataFolder());
        unfold = request.method == tvconv::ConversionMethod::unfold;
        if (unfold)
            model = tvconv::loadScatterModel(request.scattererPath);
        else
            scatterer = tvconv::readScattererFile(request.scattererPath);
        header = tvconv::readResultHeader("Com.dat");
        fixedio::requireWritableResult(request.resultPath, "result file");
        if (unfold)
            tvconv::checkUnfoldInput(request.input, model);
        else
            tvconv::checkConversionInput(request.input, scatterer);
    } catch (const std::exception& e) {
        return stop(console, e);
    }

    console.line("");
    console.line(" ----- 散乱線 → 一次線スペクトル変換 -----");
    console.line("");
    // The standard method's console stays as it always was.
    if (unfold) {
        console.line(" Method: unfold (maximum-likelihood unfolding: Compton and coherent scattering,");
        console.line("         Doppler broadening, attenuation in the scatterer)");
        console.line("");
    }
    console.line("        Push Enter key to start");
    console.waitForEnter();
    console.line("");

    try {
        tvconv::Spectrum primary{};
        if (unfold) {
            const tvconv::UnfoldResult u = tvconv::unfoldPrimary(request.input, model);
            primary = u.primary;
            console.line(" Unfolding converged after " + std::to_string(u.iterations) + " iterations, primary channels " +
                         std::to_string(u.firstPrimary) + " to " + std::to_string(u.lastPrimary));
        } else {
            primary = tvconv::convertSpectrum(request.input, scatterer,
                                              [&](int channel) {
                                                  char text[32] = " Channel No = ";
                                                  char* end = std::to_chars(text + 14, text + sizeof text, channel).ptr;
                                                  console.line(std::string_view(text, static_cast<std::size_t>(end - text)));
                                              });
        }
        fixedio::writeFileAtomically(request.resultPath,
                                     tvconv::formatResult(header, request.input.channelWidth, primary));
    } catch (const std::exception& e) {
        return stop(console, e);
    }

    console.line("");
    console.line("          ----- Finished -----");
    console.line("");
    console.line("          Push Enter key to END");
    console.waitForEnter();
    console.line("Stop - Program terminated.");
    console.flush();
    return 0;
}
