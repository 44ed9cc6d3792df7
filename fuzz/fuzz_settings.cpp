// UserName.txt as the front end reads it at its start (a file it cannot
// read must come with the reason); accepted settings
// are shown as the windows show them, printed on a page with a spectrum,
// and saved again as the settings window saves them.
#include "frontend_support.h"
#include "fuzz_support.h"
#include "shipped_tables.h"

#include "exchange.h"
#include "graph.h"
#include "settings.h"
#include "values.h"

#include <filesystem>

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzsupport::demoCounts();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const fs::path file = fuzzsupport::writeInput(tarvik::kSettingsFile, data, size);
    FUZZ_REFUSALS_BEGIN
        // The file exists: either it is read, or the user is told why not
        // and the settings window is offered instead.
        const tarvik::SettingsAtStart read = tarvik::readSettingsAtStart(file);
        if (!read.settings) {
            if (read.problem.empty()) fuzzsupport::finding("settings not read and no reason given");
            return 0;
        }
        if (!read.problem.empty()) fuzzsupport::finding("settings read and a problem reported");
        const std::optional<tarvik::Settings>& s = read.settings;
        tarvik::AppState state;
        state.facilityName = s->facilityName;
        state.kevPerChannel = s->kevPerChannel;
        const std::string kevText = tarvik::numberAsText(state.kevPerChannel);
        (void)tarvik::formatPattern(tarvik::valueOr0(state.kevPerChannel), "0.000");

        // A page printed with the shipped demo spectrum.
        const tvstrip::Counts& demo = fuzzsupport::demoCounts();
        double max = 0;
        for (int ch = 1; ch <= tarvik::kChannels; ++ch) {
            const double c = demo[static_cast<std::size_t>(ch - 1)];
            state.spectrumCounts[1][static_cast<std::size_t>(ch)] = c;
            if (c > max) max = c;
        }
        state.spectrumMax[1] = max;
        state.spectrumCount = 1;
        state.energyMin = 0;
        state.energyMax = 150;
        try {
            fuzzsupport::NullSurface page;
            tarvik::printGraph(state, page);
        } catch (const tarvik::GraphError& e) {
            fuzzsupport::requireMessage(e);
        }

        // The settings window's OK writes what it shows; the next start must
        // read the same names back.
        const fs::path again = fuzzsupport::scratchDir() / "UserName-again.txt";
        try {
            tarvik::writeSettings(again, s->facilityName, s->analyserName, s->detectorName, kevText);
        } catch (const tarvik::ExchangeError& e) {
            fuzzsupport::requireMessage(e);
            return 0;
        }
        const std::optional<tarvik::Settings> back = tarvik::readSettingsAtStart(again).settings;
        if (!back) fuzzsupport::finding("saved settings cannot be read back");
        if (back->facilityName != s->facilityName || back->analyserName != s->analyserName ||
            back->detectorName != s->detectorName)
            fuzzsupport::finding("saved settings read back with other names");
    FUZZ_REFUSALS_END
    return 0;
}
