// A result file (".mca1"; ".mca2" has the same layout) as the front end
// reads it: the conversion dialog's click and "変換 Go" (the exchange files
// then go through the conversion program's readers and the conversion), and
// the display window.
#include "frontend_support.h"
#include "fuzz_support.h"
#include "shipped_tables.h"

#include "conv/conversion.h"
#include "conv/exchange.h"
#include "fixedio/fixedio.h"

#include "dialogs.h"
#include "exchange.h"
#include "spectrumfiles.h"

#include <filesystem>

namespace fs = std::filesystem;

namespace {

// What tvconv does with the files that "変換 Go" wrote.
void runConversion(const fs::path& work)
{
    using namespace tvconv;
    FUZZ_REFUSALS_BEGIN
        const ConversionRequest r = readConversionRequest(work / "TempFile2.dat");
        const ScattererData& scatterer =
            r.scattererPath.filename() == "PMMA.dat" ? fuzzsupport::shippedPmma() : fuzzsupport::shippedCarbon();
        const std::vector<std::string> header = readResultHeader(work / "Com.dat");
        const Spectrum primary = convertSpectrum(r.input, scatterer);
        fuzzsupport::requireResultLayout(formatResult(header, r.input.channelWidth, primary),
                                         headerLineCount + channelCount, "result");
    FUZZ_REFUSAL(fixedio::Error)
    FUZZ_REFUSAL(ConversionError)
    FUZZ_REFUSALS_END
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzsupport::shippedCarbon();
    fuzzsupport::shippedPmma();
    fs::create_directories(fuzzsupport::scratchDir() / "Tarvik_data");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const fs::path work = fuzzsupport::scratchDir();
    const std::string folder = (work / "Tarvik_data").string();
    const fs::path file = fuzzsupport::writeInput("Tarvik_data/corrected.mca1", data, size);
    fs::remove(work / "TempFile2.dat");
    fs::remove(work / "Com.dat");

    FUZZ_REFUSALS_BEGIN
        tarvik::AppState state;
        const tarvik::ConvertClick click = tarvik::convertFileClicked(state, folder, "corrected.mca1");
        if (click.error && click.error->text.empty()) fuzzsupport::finding("a refusal without a text");

        tarvik::ConvertEntries e;
        e.folder = folder;
        e.selectedFile = "corrected.mca1";
        e.text1 = click.text1;
        e.text2 = click.text2;
        e.text4 = "fuzz";
        e.text5 = "90";
        e.text6 = "10";
        e.carbon = size % 2 == 0;
        fuzzsupport::YesPrompt prompt;
        tarvik::RecordingLauncher launcher;
        if (tarvik::convertGo(state, e, work, prompt, launcher) == tarvik::GoOutcome::Started) runConversion(work);
    FUZZ_REFUSALS_END

    fuzzsupport::exerciseDisplay(folder, "corrected.mca1");
    fuzzsupport::drawDirectly(file);
    return 0;
}
