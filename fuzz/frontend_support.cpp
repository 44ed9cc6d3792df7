#include "frontend_support.h"

#include "fuzz_support.h"

#include "displaylogic.h"
#include "graph.h"
#include "spectrumload.h"
#include "textfile.h"

#include <cmath>

namespace fuzzsupport {

void NullSurface::check(double x1, double y1, double x2, double y2)
{
    ++operations;
    if (!std::isfinite(x1) || !std::isfinite(y1) || !std::isfinite(x2) || !std::isfinite(y2))
        finding("a drawing operation at a coordinate that is not finite");
}

void YesPrompt::tell(const tarvik::Notice& notice)
{
    if (notice.text.empty()) finding("a message box without a text");
}

void exerciseDisplay(const std::string& folder, const std::string& file)
{
    tarvik::AppState state;
    tarvik::DisplayLogic d(state);
    NullSurface picture;
    d.open(picture);
    d.preview(folder, file, picture);
    (void)d.addSpectrum(folder, file, picture);
    (void)d.redraw(picture);
    for (double x = tarvik::plot::Left - 100; x <= tarvik::plot::Right + 100; x += 1500) d.mouseMove(x, 3000);
    d.mouseDown(5000, 3000);
    for (int i = 0; i < 3; ++i) d.stepDown();
    for (int i = 0; i < 3; ++i) d.stepUp();
    (void)d.arrowKey(true);
    (void)d.preparePrint();
}

void drawDirectly(const std::filesystem::path& file)
{
    tarvik::AppState state;
    FUZZ_REFUSALS_BEGIN
        (void)tarvik::readPreview(file, state);
    FUZZ_REFUSAL(tarvik::FileReadError)
    FUZZ_REFUSALS_END
    FUZZ_REFUSALS_BEGIN
        const std::optional<tarvik::LoadedSpectrum> s = tarvik::loadSpectrum(file);
        if (!s) finding("a spectrum file of a known kind was not read");
        for (int ch = 1; ch <= tarvik::kChannels; ++ch)
            state.spectrumCounts[1][static_cast<std::size_t>(ch)] = s->counts[static_cast<std::size_t>(ch)];
        state.spectrumMax[1] = s->max;
        state.spectrumCount = 1;
        state.spectrumColour[1] = tarvik::palette::Blue;
        state.spectrumFile[1] = file.filename().string();
        state.kevPerChannel = 0.1;
        state.energyMin = 0;
        state.energyMax = 150;
        NullSurface screen, paper, logScreen;
        tarvik::drawGraph(state, screen);
        tarvik::printGraph(state, paper);
        // The logarithmic count axis takes the logarithm of every count drawn.
        const tarvik::CountAxis axis = tarvik::logCountAxis(state);
        if (axis.decades < 1 || axis.decades > tarvik::kMaxDecades)
            finding("a logarithmic axis of " + std::to_string(axis.decades) + " decades");
        tarvik::drawGraph(state, logScreen, axis);
    FUZZ_REFUSAL(tarvik::SpectrumLoadError)
    FUZZ_REFUSAL(tarvik::GraphError)
    FUZZ_REFUSALS_END
}

} // namespace fuzzsupport
