// A measured ".csv" as the front end reads it: the stripping dialog's click
// and "補正 GO" (the exchange files then go through the stripping program's
// readers and the correction), and the display window.
#include "frontend_support.h"
#include "fuzz_support.h"
#include "shipped_tables.h"

#include "fixedio/fixedio.h"
#include "strip/exchange.h"
#include "strip/stripping.h"

#include "dialogs.h"
#include "exchange.h"
#include "spectrumfiles.h"

#include <filesystem>

namespace fs = std::filesystem;

namespace {

// What tvstrip does with the files that "補正 GO" wrote.
void runStripping(const fs::path& work)
{
    using namespace tvstrip;
    FUZZ_REFUSALS_BEGIN
        StripJob job;
        fixedio::LineReader temp(work / kTempFileName, kTempFileName);
        readTempFile(temp, job);
        fixedio::LineReader header(work / kHeaderFileName, kHeaderFileName);
        readHeaderLines(header, job);
        const Counts corrected = stripSpectrum(job.counts, job.voltage, job.kevPerChannel, fuzzsupport::shippedTable);
        fuzzsupport::requireResultLayout(formatResult(job, corrected), 4 + kHeaderLines + 1 + kChannels, "result");
    FUZZ_REFUSAL(fixedio::Error)
    FUZZ_REFUSAL(StripInputError)
    FUZZ_REFUSAL(StripArithmeticError)
    FUZZ_REFUSALS_END
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzsupport::shippedResponseTables();
    fs::create_directories(fuzzsupport::scratchDir() / "Tarvik_data");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const fs::path work = fuzzsupport::scratchDir();
    const std::string folder = (work / "Tarvik_data").string();
    const fs::path file = fuzzsupport::writeInput("Tarvik_data/measured.csv", data, size);
    fs::remove(work / tvstrip::kTempFileName);
    fs::remove(work / tvstrip::kHeaderFileName);

    FUZZ_REFUSALS_BEGIN
        tarvik::AppState state;
        const tarvik::StripClick click = tarvik::stripFileClicked(state, folder, "measured.csv");
        if (click.error && click.error->text.empty()) fuzzsupport::finding("a refusal without a text");

        tarvik::StripEntries e;
        e.folder = folder;
        e.selectedFile = "measured.csv";
        e.text3 = "80";
        e.text4 = "fuzz";
        e.text5 = "0.1";
        e.text6 = "32";
        fuzzsupport::YesPrompt prompt;
        tarvik::RecordingLauncher launcher;
        if (tarvik::stripGo(state, e, work, prompt, launcher) == tarvik::GoOutcome::Started) runStripping(work);
    FUZZ_REFUSALS_END

    fuzzsupport::exerciseDisplay(folder, "measured.csv");
    fuzzsupport::drawDirectly(file);
    return 0;
}
