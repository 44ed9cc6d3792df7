// The logarithmic count axis (decades chosen for the loaded spectra, the
// heights of curves, grid, labels and cursor on it, the window's check box)
// and what the display saves: the table of the loaded spectra and the
// picture format chosen by a file name.
#include "cursor.h"
#include "displaylogic.h"
#include "export.h"
#include "graph.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace tarvik;
using Kind = RecordingSurface::Kind;
using Op = RecordingSurface::Op;

namespace {

// One spectrum of 0.2 keV per channel over 0..150 keV: every channel holds
// `floor`, channel 100 holds `peak` (the largest), channel 101 holds 0.
AppState oneSpectrum(double peak, double floor) {
    AppState st;
    st.spectrumCount = 1;
    st.energyMin = 0;
    st.energyMax = 150;
    st.kevPerChannel = 0.2;
    for (int ch = 1; ch <= kChannels; ++ch) st.spectrumCounts[1][static_cast<std::size_t>(ch)] = floor;
    st.spectrumCounts[1][100] = peak;
    st.spectrumCounts[1][101] = 0.0;
    st.spectrumMax[1] = peak;
    st.spectrumColour[1] = palette::Blue;
    st.spectrumFile[1] = "one.mca1";
    return st;
}

// The curve's points in drawing order (lines in the slot's colour that
// start where the previous one ended).
std::vector<Op> curvePoints(const std::vector<Op>& ops, int colour) {
    std::vector<Op> out;
    for (const Op& o : ops)
        if (o.kind == Kind::Line && o.colour == colour && !(o.y1 == o.y2 && o.x1 == 7300)) out.push_back(o);
    return out;
}

std::vector<double> horizontalGrid(const std::vector<Op>& ops, int colour, double left, double right) {
    std::vector<double> ys;
    for (const Op& o : ops)
        if (o.kind == Kind::Line && o.colour == colour && o.y1 == o.y2 && o.x1 == left && o.x2 == right)
            ys.push_back(o.y1);
    return ys;
}

const Op* text(const std::vector<Op>& ops, const std::string& t) {
    for (const Op& o : ops)
        if (o.kind == Kind::Text && o.text == t) return &o;
    return nullptr;
}

std::vector<std::string> linesOf(const std::string& s) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < s.size()) {
        std::size_t end = s.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(s.substr(start));
            break;
        }
        lines.push_back(s.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

} // namespace

// ------------------------------------------------------------ count axis ----

TEST(CountAxisTest, DecadesReachTheSmallestCountShown) {
    EXPECT_EQ(logCountAxis(oneSpectrum(1000, 1)).decades, 3);      // 1e-3 exactly
    EXPECT_EQ(logCountAxis(oneSpectrum(1000, 1.1)).decades, 3);    // 1.1e-3
    EXPECT_EQ(logCountAxis(oneSpectrum(1000, 0.99)).decades, 4);   // just below 1e-3
    EXPECT_EQ(logCountAxis(oneSpectrum(100, 100)).decades, 1);     // a flat spectrum
    EXPECT_EQ(logCountAxis(oneSpectrum(1e9, 1)).decades, kMaxDecades);
    EXPECT_TRUE(logCountAxis(oneSpectrum(10, 1)).log);

    // Zero and negative counts are not on a logarithmic axis at all.
    AppState st = oneSpectrum(1000, 100);
    st.spectrumCounts[1][200] = -5.0;
    EXPECT_EQ(logCountAxis(st).decades, 1);

    // Only channels inside the shown range count: channel 800 is 160 keV.
    st.spectrumCounts[1][800] = 0.001;
    EXPECT_EQ(logCountAxis(st).decades, 1);
    st.energyMax = 170;
    EXPECT_EQ(logCountAxis(st).decades, kMaxDecades);

    // A second spectrum with a deeper valley decides for both.
    st = oneSpectrum(1000, 100);
    st.spectrumCount = 2;
    st.spectrumCounts[2] = st.spectrumCounts[1];
    st.spectrumCounts[2][300] = 0.5;
    st.spectrumMax[2] = 1000;
    EXPECT_EQ(logCountAxis(st).decades, 4);

    // A width of 0 is refused elsewhere; the axis must not loop or throw.
    st.kevPerChannel = 0.0;
    EXPECT_NO_THROW(logCountAxis(st));
}

TEST(CountAxisTest, SharesOfThePlotHeight) {
    const CountAxis two{true, 2};
    EXPECT_DOUBLE_EQ(countAxisShare(two, 1), 1);
    EXPECT_DOUBLE_EQ(countAxisShare(two, 0.1), 0.5);
    EXPECT_NEAR(countAxisShare(two, std::sqrt(0.1)), 0.75, 1e-12);
    EXPECT_DOUBLE_EQ(countAxisShare(two, 0.01), 0);
    EXPECT_DOUBLE_EQ(countAxisShare(two, 1e-5), 0);  // below the axis: on the baseline
    EXPECT_DOUBLE_EQ(countAxisShare(two, 0), 0);
    EXPECT_DOUBLE_EQ(countAxisShare(two, -3), 0);
    // The linear axis keeps its values, negative ones below the frame too.
    EXPECT_DOUBLE_EQ(countAxisShare(CountAxis{}, 0.3), 0.3);
    EXPECT_DOUBLE_EQ(countAxisShare(CountAxis{}, -0.2), -0.2);
    // A decade count out of bounds is held to 1..6 rather than divided by 0.
    EXPECT_DOUBLE_EQ(countAxisShare(CountAxis{true, 0}, 0.1), 0);
    EXPECT_EQ(decadeLabel(0), "1");
    EXPECT_EQ(decadeLabel(-2), "0.01");
    EXPECT_EQ(decadeLabel(-5), "1E-5");
}

TEST(CountAxisTest, GraphOnDecadesScreenAndPage) {
    AppState st = oneSpectrum(1000, 10);  // floor at 1e-2: two decades
    const CountAxis axis = logCountAxis(st);
    ASSERT_EQ(axis.decades, 2);

    RecordingSurface screen;
    drawGraph(st, screen, axis);
    auto points = curvePoints(screen.ops, palette::Blue);
    ASSERT_GE(points.size(), 101u);
    // Channel 100 (the largest) at the top edge, channel 99 (1e-2) and 101
    // (0) on the baseline; channel 1 starts at the baseline's left end.
    EXPECT_DOUBLE_EQ(points[99].y2, 300);
    EXPECT_DOUBLE_EQ(points[98].y2, 6800);
    EXPECT_DOUBLE_EQ(points[100].y2, 6800);

    // One dark line half-way up (0.1), eight light lines in each decade,
    // the linear axis's lines and labels gone.
    auto major = horizontalGrid(screen.ops, palette::Grey, 2200, 9700);
    ASSERT_EQ(major.size(), 1u);
    EXPECT_DOUBLE_EQ(major[0], 3550);
    auto minor = horizontalGrid(screen.ops, palette::LightGrey, 2200, 9700);
    ASSERT_EQ(minor.size(), 16u);
    EXPECT_NEAR(minor[0], 6800 - 3250 * std::log10(2.0), 1e-9);
    EXPECT_EQ(text(screen.ops, "0.5"), nullptr);
    ASSERT_NE(text(screen.ops, "1"), nullptr);
    ASSERT_NE(text(screen.ops, "0.1"), nullptr);
    ASSERT_NE(text(screen.ops, "0.01"), nullptr);
    // Labels 200 above their lines, like the linear ones, and right-aligned
    // left of the frame.
    EXPECT_DOUBLE_EQ(text(screen.ops, "1")->y1, 100);
    EXPECT_DOUBLE_EQ(text(screen.ops, "0.1")->y1, 3350);
    EXPECT_DOUBLE_EQ(text(screen.ops, "0.01")->y1, 6600);
    EXPECT_LT(text(screen.ops, "0.01")->x1, text(screen.ops, "1")->x1);
    EXPECT_LT(text(screen.ops, "1")->x1, 2200);
    // The widest label stays clear of the axis title beside it ("Relative"
    // is some 1100 twips wide in 16 points).
    ASSERT_NE(text(screen.ops, "Relative"), nullptr);
    EXPECT_LT(text(screen.ops, "Relative")->x1 + 1100, text(screen.ops, "0.01")->x1);

    RecordingSurface page;
    printGraph(st, page, axis);
    for (const Op& o : page.ops) {
        if (o.kind == Kind::Line) {
            EXPECT_EQ(o.colour, palette::Black);
        }
    }
    // The page is moved by +1000 across and +3000 down: the peak at the
    // top edge of the printed frame, the decade line heavier than the rest.
    auto pagePoints = curvePoints(page.ops, palette::Black);
    bool peakAtTop = false;
    for (const Op& o : pagePoints) peakAtTop = peakAtTop || (o.y2 == 3300 && o.lineWidth == 5);
    EXPECT_TRUE(peakAtTop);
    bool heavyDecade = false;
    for (const Op& o : page.ops)
        heavyDecade = heavyDecade || (o.kind == Kind::Line && o.y1 == 6550 && o.y2 == 6550 && o.lineWidth == 2);
    EXPECT_TRUE(heavyDecade);
    ASSERT_NE(text(page.ops, "0.1"), nullptr);
    EXPECT_DOUBLE_EQ(text(page.ops, "0.1")->y1, 6350);
}

TEST(CountAxisTest, CursorLineStandsOnTheCurveOfTheAxis) {
    AppState st = oneSpectrum(1000, 10);
    const CountAxis axis = logCountAxis(st);
    st.cursorChannel = 100;
    EXPECT_DOUBLE_EQ(*cursorReadout(st, true, axis).line6Y, 300);
    st.cursorChannel = 50;  // 1e-2: the baseline
    EXPECT_DOUBLE_EQ(*cursorReadout(st, true, axis).line6Y, 6800);
    st.spectrumCounts[1][50] = 100.0;  // 0.1: half-way
    EXPECT_DOUBLE_EQ(*cursorReadout(st, true, axis).line6Y, 3550);
    EXPECT_DOUBLE_EQ(*cursorReadout(st, true).line6Y, 6800 - 100 * 6500.0 / 1000);
}

TEST(CountAxisTest, CheckBoxRedrawsLoadedSpectraAndStaysForTheCursor) {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("countaxis_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    std::filesystem::create_directories(dir);
    {
        // 22 header lines, counts 1000 at channel 10 and 1 elsewhere.
        std::ofstream f(dir / "a.mca1", std::ios::binary);
        f << "c1\r\nc2\r\n   80\r\n0.2\r\n";
        for (int i = 5; i <= 22; ++i) f << "h\r\n";
        for (int ch = 1; ch <= kChannels; ++ch) f << ch << "  " << ch * 0.2 << "  " << (ch == 10 ? 1000 : 1) << "\r\n";
    }
    AppState st;
    DisplayLogic logic(st);
    RecordingSurface picture;
    logic.open(picture);

    // Nothing loaded: the box changes only the choice.
    picture.ops.clear();
    EXPECT_FALSE(logic.setLogScale(true, picture));
    EXPECT_TRUE(picture.ops.empty());
    EXPECT_TRUE(logic.controls().logScale);

    logic.preview(dir.string(), "a.mca1", picture);
    picture.ops.clear();
    ASSERT_FALSE(logic.addSpectrum(dir.string(), "a.mca1", picture));
    EXPECT_NE(text(picture.ops, "1E-3"), nullptr);
    EXPECT_EQ(logic.countAxis(), (CountAxis{true, 3}));

    // The cursor on channel 10 stands at the top, on channel 11 (1e-3) at the bottom.
    logic.mouseDown(2200 + 10 * 10 - 5, 1000);
    EXPECT_DOUBLE_EQ(logic.controls().line6Y, 300);
    logic.stepUp();
    EXPECT_DOUBLE_EQ(logic.controls().line6Y, 6800);

    // Unchecking draws the linear graph again with the boxes' range.
    logic.controls().text5 = "100";
    picture.ops.clear();
    ASSERT_FALSE(logic.setLogScale(false, picture));
    EXPECT_NE(text(picture.ops, "0.5"), nullptr);
    EXPECT_EQ(text(picture.ops, "1E-3"), nullptr);
    EXPECT_EQ(st.energyMax, 100);
    EXPECT_EQ(logic.countAxis(), CountAxis{});
    EXPECT_FALSE(logic.controls().line5Visible);  // a redraw hides the cursor lines

    // The same choice again does nothing.
    picture.ops.clear();
    EXPECT_FALSE(logic.setLogScale(false, picture));
    EXPECT_TRUE(picture.ops.empty());

    // The close box forgets the choice.
    logic.setLogScale(true, picture);
    logic.resetControls();
    EXPECT_FALSE(logic.controls().logScale);
    EXPECT_EQ(logic.countAxis(), CountAxis{});
    std::filesystem::remove_all(dir);
}

// ------------------------------------------------------------------ saving ----

TEST(ExportTest, TableOfLoadedSpectra) {
    AppState st = oneSpectrum(1000, 10);
    st.kevPerChannel = 0.1;
    st.spectrumCount = 2;
    st.spectrumFile[2] = "W80kV, \"PMMA\".mca2";
    st.spectrumCounts[2] = st.spectrumCounts[1];
    st.spectrumCounts[2][3] = 12.5;
    st.spectrumCounts[2][4].reset();  // an empty cell
    // Slot 3 is not loaded and must not appear even though it holds data.
    st.spectrumFile[3] = "stale.mca1";

    const std::string csv = spectraCsv(st);
    ASSERT_GE(csv.size(), 1u);
    EXPECT_EQ(csv.back(), '\n');
    EXPECT_EQ(csv.find('\r'), std::string::npos);
    auto lines = linesOf(csv);
    ASSERT_EQ(lines.size(), 2u + kChannels);
    EXPECT_EQ(lines[0], "channel,energy,one.mca1,\"W80kV, \"\"PMMA\"\".mca2\"");
    EXPECT_EQ(lines[1], ",keV,counts,counts");
    EXPECT_EQ(lines[2], "1,0.1,10,10");
    EXPECT_EQ(lines[4], "3,0.3,10,12.5");  // 3 × 0.1 without binary noise
    EXPECT_EQ(lines[5], "4,0.4,10,");
    EXPECT_EQ(lines[101], "100,10,1000,1000");
    EXPECT_EQ(lines[102], "101,10.1,0,0");
    EXPECT_EQ(lines.back(), "1024,102.4,10,10");
    EXPECT_EQ(csv.find("stale"), std::string::npos);

    st.spectrumCount = 0;
    EXPECT_EQ(spectraCsv(st), "");
}

TEST(ExportTest, PictureFormatByExtension) {
    EXPECT_EQ(graphFileFormatOf("graph.png"), GraphFileFormat::Png);
    EXPECT_EQ(graphFileFormatOf("/tmp/a.b/Graph.SVG"), GraphFileFormat::Svg);
    EXPECT_EQ(graphFileFormatOf("page.Pdf"), GraphFileFormat::Pdf);
    EXPECT_FALSE(graphFileFormatOf("graph"));
    EXPECT_FALSE(graphFileFormatOf("graph.png.txt"));
    EXPECT_FALSE(graphFileFormatOf("folder.png/graph"));
    EXPECT_FALSE(graphFileFormatOf("graph.jpeg"));
    EXPECT_EQ(csvField("plain name"), "plain name");
    EXPECT_EQ(csvField("two\nlines"), "\"two\nlines\"");
}
