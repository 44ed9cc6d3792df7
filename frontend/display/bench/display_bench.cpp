// Drawing the graph of five full spectra on an image of the display
// picture's size, as every redraw does.
#include "graph.h"
#include "paintersurface.h"

#include <benchmark/benchmark.h>

#include <QGuiApplication>

#include <cmath>

namespace {

tarvik::AppState fiveSpectra() {
    tarvik::AppState st;
    st.spectrumCount = 5;
    st.energyMin = 0;
    st.energyMax = 250;  // all 1024 channels at 0.2 keV per channel are drawn
    st.kevPerChannel = 0.2;
    const int colours[] = {0, 9, 10, 3, 12, 13};
    for (int i = 1; i <= 5; ++i) {
        auto slot = static_cast<std::size_t>(i);
        double max = 0;
        for (int ch = 1; ch <= tarvik::kChannels; ++ch) {
            double c = 1000 * i * (1 + std::sin(ch * 0.05 * i)) + ch;
            st.spectrumCounts[slot][static_cast<std::size_t>(ch)] = c;
            max = std::max(max, c);
        }
        st.spectrumMax[slot] = max;
        st.spectrumColour[slot] = colours[i];
        st.spectrumFile[slot] = "spectrum_" + std::to_string(i) + ".mca1";
    }
    return st;
}

void BM_DrawGraphFiveSpectra(benchmark::State& bench) {
    tarvik::AppState st = fiveSpectra();
    tarvik::PictureCanvas canvas(QSize(663, 505));
    for (auto _ : bench) {
        tarvik::PictureCanvas::Drawing d(canvas);
        tarvik::drawGraph(st, d.surface());
    }
    benchmark::DoNotOptimize(canvas.image().constBits());
}
BENCHMARK(BM_DrawGraphFiveSpectra)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
