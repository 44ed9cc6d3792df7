// The graph's recorded drawing against the figures it must meet, the cursor
// arithmetic, the spectrum reading and the display window's logic.
#include "cursor.h"
#include "displaylogic.h"
#include "graph.h"
#include "spectrumload.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

using namespace tarvik;
using Kind = RecordingSurface::Kind;
using Op = RecordingSurface::Op;

namespace {

// A state with `n` spectra loaded: slot i holds count (ch % 200) * i and its
// colour is a distinct palette entry.
AppState stateWith(int n, double lo = 0, double hi = 150, double k = 0.2) {
    AppState st;
    st.spectrumCount = n;
    st.energyMin = lo;
    st.energyMax = hi;
    st.kevPerChannel = k;
    const int colours[] = {0, 9, 10, 3, 12, 13};
    for (int i = 1; i <= n; ++i) {
        auto slot = static_cast<std::size_t>(i);
        double max = 0;
        for (int ch = 1; ch <= kChannels; ++ch) {
            double c = (ch % 200) * i;
            st.spectrumCounts[slot][static_cast<std::size_t>(ch)] = c;
            max = std::max(max, c);
        }
        st.spectrumMax[slot] = max;
        st.spectrumColour[slot] = colours[i];
        st.spectrumFile[slot] = "spectrum" + std::to_string(i) + ".mca1";
    }
    return st;
}

std::vector<Op> opsOf(const std::vector<Op>& ops, Kind kind) {
    std::vector<Op> out;
    std::copy_if(ops.begin(), ops.end(), std::back_inserter(out), [&](const Op& o) { return o.kind == kind; });
    return out;
}

// Vertical grid lines (from plot top to bottom) of one colour, by x.
std::vector<double> verticalGrid(const std::vector<Op>& ops, int colour, double top = 300, double bottom = 6800) {
    std::vector<double> xs;
    for (const Op& o : ops)
        if (o.kind == Kind::Line && o.colour == colour && o.x1 == o.x2 && o.y1 == top && o.y2 == bottom)
            xs.push_back(o.x1);
    return xs;
}

const Op* findText(const std::vector<Op>& ops, const std::string& text) {
    for (const Op& o : ops)
        if (o.kind == Kind::Text && o.text == text) return &o;
    return nullptr;
}

bool allFinite(const std::vector<Op>& ops) {
    return std::all_of(ops.begin(), ops.end(), [](const Op& o) {
        return std::isfinite(o.x1) && std::isfinite(o.y1) && std::isfinite(o.x2) && std::isfinite(o.y2);
    });
}

std::filesystem::path tempDir() {
    auto dir = std::filesystem::temp_directory_path() /
               ("display_tests_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir);
    return dir;
}

// A result file: 2 comments, voltage, keV/ch, 17 header lines (line 8 is
// the annotation), column heading, `records` records with count 3·ch.
void writeResultFile(const std::filesystem::path& p, double kev = 0.25, int records = kChannels,
                     const std::string& badCount = "") {
    std::ofstream f(p, std::ios::binary);
    f << "first comment\r\nsecond comment\r\n   80\r\n" << kev << "\r\n";
    for (int i = 5; i <= 21; ++i) {
        if (i == 8)
            f << "annotation line\r\n";
        else
            f << "header " << i << "\r\n";
    }
    f << " ch   keV   count\r\n";
    for (int ch = 1; ch <= records; ++ch) {
        f << ch << "  " << ch * kev << "  ";
        if (ch == 500 && !badCount.empty())
            f << badCount;
        else
            f << 3 * ch;
        f << "\r\n";
    }
}

void writeMeasuredFile(const std::filesystem::path& p) {
    std::ofstream f(p, std::ios::binary);
    for (int i = 1; i <= 31; ++i) {
        if (i == 4)
            f << "measured annotation\r\n";
        else
            f << "h" << i << "\r\n";
    }
    for (int ch = 1; ch <= kChannels; ++ch) f << ch << "," << ch * 0.2 << "," << (ch == 100 ? 5000 : 7) << "\r\n";
}

} // namespace

// ---------------------------------------------------------------- graph ----

TEST(GraphTest, DefaultRangeGridAndAxisNumbers) {
    AppState st = stateWith(1);
    RecordingSurface s;
    drawGraph(st, s);

    ASSERT_FALSE(s.ops.empty());
    EXPECT_EQ(s.ops.front().kind, Kind::FillRect);
    EXPECT_EQ(s.ops.front().colour, palette::White);
    EXPECT_EQ(s.ops.front().x2, 10000);
    EXPECT_EQ(s.ops.front().y2, 8000);

    std::vector<double> dark = verticalGrid(s.ops, palette::Grey);
    std::vector<double> light = verticalGrid(s.ops, palette::LightGrey);
    ASSERT_EQ(dark.size(), 16u);
    ASSERT_EQ(light.size(), 15u);
    for (std::size_t j = 0; j < dark.size(); ++j) EXPECT_DOUBLE_EQ(dark[j], 2200 + 500.0 * j);
    for (std::size_t j = 0; j < light.size(); ++j) EXPECT_DOUBLE_EQ(light[j], 2450 + 500.0 * j);

    // Axis numbers 0..140 every 20 keV; three-digit ones 100 twips further left.
    for (int e = 0; e <= 140; e += 20) {
        const Op* t = findText(s.ops, " " + std::to_string(e) + " ");
        ASSERT_NE(t, nullptr) << e;
        EXPECT_DOUBLE_EQ(t->x1, e * 50.0 + (e >= 100 ? 1850 : 1950)) << e;
        EXPECT_DOUBLE_EQ(t->y1, 6850);
        EXPECT_EQ(t->font.name, "Times New Roman");
        EXPECT_EQ(t->font.size, 16);
    }
    EXPECT_EQ(findText(s.ops, " 160 "), nullptr);

    // Ten relative labels 0.1 .. 1.0, none at 0.
    for (int i = 1; i <= 10; ++i) {
        std::string label = i == 10 ? "1.0" : "0." + std::to_string(i);
        const Op* t = findText(s.ops, label);
        ASSERT_NE(t, nullptr) << label;
        EXPECT_NEAR(t->y1, 6600 - 650.0 * i, 1e-9);
        EXPECT_EQ(t->x1, 1700);
    }
    EXPECT_EQ(findText(s.ops, "0.0"), nullptr);
    EXPECT_EQ(findText(s.ops, "1.1"), nullptr);

    const Op* title = findText(s.ops, "Photon energy in keV");
    ASSERT_NE(title, nullptr);
    EXPECT_TRUE(title->font.italic);
    EXPECT_FALSE(findText(s.ops, " 0 ")->font.italic);

    // Horizontal grid: 9 dark, 10 light.
    int hDark = 0, hLight = 0;
    for (const Op& o : s.ops)
        if (o.kind == Kind::Line && o.y1 == o.y2 && o.x1 == 2200 && o.x2 == 9700)
            (o.colour == palette::Grey ? hDark : hLight) += 1;
    EXPECT_EQ(hDark, 9);
    EXPECT_EQ(hLight, 10);
}

TEST(GraphTest, NarrowRangeGridEveryTwoKeV) {
    AppState st = stateWith(1, 0, 40);
    RecordingSurface s;
    drawGraph(st, s);
    std::vector<double> light = verticalGrid(s.ops, palette::LightGrey);
    std::vector<double> dark = verticalGrid(s.ops, palette::Grey);
    ASSERT_EQ(light.size(), 21u);  // 0, 2, ... 40 keV
    for (std::size_t j = 0; j < light.size(); ++j) EXPECT_DOUBLE_EQ(light[j], 2200 + 375.0 * j);
    ASSERT_EQ(dark.size(), 5u);  // 0, 10, ... 40 keV
    for (std::size_t j = 0; j < dark.size(); ++j) EXPECT_DOUBLE_EQ(dark[j], 2200 + 1875.0 * j);
    // The light lines come first, then the dark ones over them.
    auto firstLight = std::find_if(s.ops.begin(), s.ops.end(), [](const Op& o) { return o.colour == palette::LightGrey; });
    auto firstDark = std::find_if(s.ops.begin(), s.ops.end(), [](const Op& o) { return o.colour == palette::Grey; });
    EXPECT_LT(firstLight, firstDark);
    for (int e : {0, 10, 20, 30, 40}) {
        // Built step by step: GCC 12 warns wrongly (-Wrestrict) about " " + std::string.
        std::string label(" ");
        label += std::to_string(e);
        label += ' ';
        EXPECT_NE(findText(s.ops, label), nullptr) << e;
    }
    EXPECT_EQ(findText(s.ops, " 50 "), nullptr);
    // Exactly 50 keV wide takes the 10/5 keV grid.
    RecordingSurface s50;
    AppState st50 = stateWith(1, 20, 70);
    drawGraph(st50, s50);
    EXPECT_EQ(verticalGrid(s50.ops, palette::Grey).size(), 6u);
    EXPECT_EQ(verticalGrid(s50.ops, palette::LightGrey).size(), 5u);
}

TEST(GraphTest, CurveStartsAtFirstChannelAndStopsAtRangeEnd) {
    AppState st = stateWith(1);
    RecordingSurface s;
    drawGraph(st, s);
    // The pen is set at the baseline's left end, then one line per channel 1..750.
    auto point = std::find_if(s.ops.begin(), s.ops.end(), [](const Op& o) { return o.kind == Kind::Point; });
    ASSERT_NE(point, s.ops.end());
    EXPECT_EQ(point->x1, 2200);
    EXPECT_EQ(point->y1, 6800);
    std::vector<Op> curve(point + 1, point + 1 + 750);
    for (const Op& o : curve) ASSERT_EQ(o.colour, palette::Blue);
    EXPECT_DOUBLE_EQ(curve.front().x2, 2200);  // channel 1, not 2210
    EXPECT_DOUBLE_EQ(curve.front().x1, 2200);  // from the pen
    EXPECT_DOUBLE_EQ(curve.front().y1, 6800);
    EXPECT_NEAR(curve.back().x2, 9690, 1e-9);  // channel 750 (150 keV)
    // count of channel 750 is 750 % 200 = 150 of max 199
    EXPECT_NEAR(curve.back().y2, 6800 - 150 * 6500.0 / 199, 1e-9);
    // channel 751 would be the next line: it is not drawn
    const Op& after = *(point + 1 + 750);
    EXPECT_FALSE(after.kind == Kind::Line && after.x2 > 9690);

    // From 10 keV at 0.25 keV/ch the first channel is 40, drawn at the left edge.
    EXPECT_EQ(firstChannel(10, 0.25), 40);
    EXPECT_EQ(firstChannel(10.1, 0.25), 41);
    EXPECT_EQ(firstChannel(-5, 0.25), 1);
    EXPECT_EQ(firstChannel(1e6, 0.25), kChannels + 1);  // nothing to draw, no endless search
    EXPECT_THROW(firstChannel(10, 0), GraphError);
}

TEST(GraphTest, LegendAndMaximaWithFiveSpectra) {
    AppState st = stateWith(5);
    st.spectrumFile[2] = "ABCDEFGHIJKLMNOPQRST.mca1";
    st.spectrumFile[3] = "あいうえおかきくけこさしすせそたち.csv";
    RecordingSurface s;
    drawGraph(st, s);

    auto fills = opsOf(s.ops, Kind::FillRect);
    ASSERT_EQ(fills.size(), 2u);
    EXPECT_EQ(fills[1].x1, 7200);
    EXPECT_EQ(fills[1].y1, 500);
    EXPECT_EQ(fills[1].x2, 9500);
    EXPECT_EQ(fills[1].y2, 2900);
    EXPECT_EQ(fills[1].colour, palette::White);

    const int colours[] = {0, 9, 10, 3, 12, 13};
    for (int j = 1; j <= 5; ++j) {
        double y = 250 + 450.0 * j;
        auto legendLine = std::find_if(s.ops.begin(), s.ops.end(), [&](const Op& o) {
            return o.kind == Kind::Line && o.x1 == 7300 && o.x2 == 8500 && o.y1 == y;
        });
        ASSERT_NE(legendLine, s.ops.end()) << j;
        EXPECT_EQ(legendLine->colour, colours[j]);
        EXPECT_EQ(legendLine->lineWidth, 2);
        const Op& name = *(legendLine + 1);
        ASSERT_EQ(name.kind, Kind::Text);
        EXPECT_EQ(name.x1, 7400);
        EXPECT_EQ(name.y1, y + 50);
        EXPECT_EQ(name.colour, palette::Black);
        EXPECT_EQ(name.font.size, 14);
    }
    EXPECT_NE(findText(s.ops, "ABCDEFGHIJKLMNO"), nullptr);
    EXPECT_NE(findText(s.ops, "あいうえおかきくけこさしすせそ"), nullptr);
    EXPECT_NE(findText(s.ops, "spectrum1.mca1"), nullptr);

    // Largest counts in the slot colours under "Max count".
    const Op* head = findText(s.ops, "Max count");
    ASSERT_NE(head, nullptr);
    EXPECT_EQ(head->x1, 100);
    EXPECT_EQ(head->y1, 50);
    for (int j = 1; j <= 5; ++j) {
        const Op* m = findText(s.ops, " " + std::to_string(199 * j) + " ");
        ASSERT_NE(m, nullptr) << j;
        EXPECT_EQ(m->x1, 300);
        EXPECT_EQ(m->y1, 100 + 250.0 * j);
        EXPECT_EQ(m->colour, colours[j]);
    }
    EXPECT_EQ(s.textColour(), palette::Black);

    // The frame is the last outline, drawn after every curve.
    auto outlines = opsOf(s.ops, Kind::RectOutline);
    ASSERT_FALSE(outlines.empty());
    const Op& frame = outlines.back();
    EXPECT_EQ(frame.x1, 2200);
    EXPECT_EQ(frame.y1, 300);
    EXPECT_EQ(frame.x2, 9700);
    EXPECT_EQ(frame.y2, 6800);
    EXPECT_EQ(frame.lineWidth, 2);
    auto lastCurveLine = std::find_if(s.ops.rbegin(), s.ops.rend(), [](const Op& o) {
        return o.kind == Kind::Line && o.colour == 13 && o.y1 != o.y2;
    });
    auto frameIt = std::find_if(s.ops.rbegin(), s.ops.rend(), [](const Op& o) { return o.kind == Kind::RectOutline; });
    EXPECT_LT(frameIt, lastCurveLine);  // reverse iterators: the frame comes later
}

TEST(GraphTest, NothingLoadedDrawsOnlyLegendAndFrame) {
    AppState st = stateWith(0);
    RecordingSurface s;
    drawGraph(st, s);
    EXPECT_TRUE(opsOf(s.ops, Kind::Line).empty());
    EXPECT_TRUE(opsOf(s.ops, Kind::Clear).empty());
    auto fills = opsOf(s.ops, Kind::FillRect);
    ASSERT_EQ(fills.size(), 1u);
    EXPECT_EQ(fills[0].y2, 650);
    EXPECT_NE(findText(s.ops, "Max count"), nullptr);
}

TEST(GraphTest, FailuresStopWithoutDrawingInfinities) {
    AppState st = stateWith(2, 40, 40);
    RecordingSurface s;
    try {
        drawGraph(st, s);
        FAIL() << "an empty range must fail";
    } catch (const GraphError& e) {
        EXPECT_EQ(e.reason(), GraphError::Reason::EmptyRange);
    }
    EXPECT_TRUE(allFinite(s.ops));
    EXPECT_FALSE(s.ops.empty());  // background and frame were drawn before the failure

    st = stateWith(2);
    st.spectrumMax[2] = 0;
    RecordingSurface s2;
    try {
        drawGraph(st, s2);
        FAIL() << "an empty slot must fail";
    } catch (const GraphError& e) {
        EXPECT_EQ(e.reason(), GraphError::Reason::EmptySpectrum);
    }
    EXPECT_TRUE(allFinite(s2.ops));

    RecordingSurface s3;
    st = stateWith(1, 0, 1e300);
    EXPECT_THROW(drawGraph(st, s3), GraphError);  // would never finish its grid
    // A few zeros too many: refused before a grid of millions of lines.
    for (auto [lo, hi] : {std::pair{0.0, 1.5e6}, std::pair{-8e5, 8e5}, std::pair{-2e6, 150.0}}) {
        try {
            checkRange(lo, hi);
            ADD_FAILURE() << lo << ".." << hi << " must be refused";
        } catch (const GraphError& e) {
            EXPECT_EQ(e.reason(), GraphError::Reason::RangeOutOfReach) << lo << ".." << hi;
        }
    }
    EXPECT_NO_THROW(checkRange(0, 1e6));
    RecordingSurface s4;
    st = stateWith(1, 0, 150, 0);
    EXPECT_THROW(drawGraph(st, s4), GraphError);
    RecordingSurface s5;
    EXPECT_THROW(printGraph(stateWith(1, 5, 5), s5), GraphError);
}

TEST(GraphTest, ReversedRangeDrawsFrameAndHorizontalGridOnly) {
    AppState st = stateWith(1, 100, 20);
    RecordingSurface s;
    drawGraph(st, s);
    EXPECT_TRUE(verticalGrid(s.ops, palette::Grey).empty());
    EXPECT_TRUE(verticalGrid(s.ops, palette::LightGrey).empty());
    EXPECT_EQ(findText(s.ops, " 100 "), nullptr);
    for (const Op& o : s.ops) EXPECT_FALSE(o.kind == Kind::Line && o.colour == palette::Blue && o.y1 != o.y2);
    EXPECT_NE(findText(s.ops, "1.0"), nullptr);
    EXPECT_NE(findText(s.ops, "Max count"), nullptr);
}

TEST(GraphTest, PrintedPageIsBlackWithFrameFirstAndFooter) {
    AppState st = stateWith(3);
    st.facilityName = "中央病院 放射線科";
    RecordingSurface s;
    printGraph(st, s);

    ASSERT_GE(s.ops.size(), 2u);
    EXPECT_EQ(s.ops.front().kind, Kind::SetScale);
    EXPECT_EQ(s.ops.front().x2, 12000);
    EXPECT_EQ(s.ops.front().y2, 16900);
    EXPECT_EQ(s.ops.back().kind, Kind::EndDocument);
    for (const Op& o : s.ops) ASSERT_EQ(o.colour, palette::Black);

    // Grid on paper: dark lines width 2 every 10 keV, light width 1 between.
    auto dark = std::count_if(s.ops.begin(), s.ops.end(), [](const Op& o) {
        return o.kind == Kind::Line && o.x1 == o.x2 && o.y1 == 3300 && o.y2 == 9800 && o.lineWidth == 2;
    });
    auto light = std::count_if(s.ops.begin(), s.ops.end(), [](const Op& o) {
        return o.kind == Kind::Line && o.x1 == o.x2 && o.y1 == 3300 && o.y2 == 9800 && o.lineWidth == 1;
    });
    EXPECT_EQ(dark, 16);
    EXPECT_EQ(light, 15);
    const Op* n140 = findText(s.ops, " 140 ");
    ASSERT_NE(n140, nullptr);
    EXPECT_EQ(n140->x1, 140 * 50 + 2850);
    EXPECT_EQ(n140->y1, 9850);
    EXPECT_EQ(findText(s.ops, " 20 ")->x1, 20 * 50 + 2950);
    EXPECT_EQ(findText(s.ops, "Relative")->y1, 4800);
    EXPECT_EQ(findText(s.ops, "Photon energy in keV")->x1, 7500);

    // The frame, width 8, as one path before the first curve.
    auto frameStart = std::find_if(s.ops.begin(), s.ops.end(), [](const Op& o) { return o.lineWidth == 8; });
    ASSERT_NE(frameStart, s.ops.end());
    EXPECT_EQ(frameStart->x1, 3200);
    EXPECT_EQ(frameStart->y1, 3300);
    EXPECT_EQ(frameStart->x2, 10700);
    EXPECT_EQ((frameStart + 3)->x2, 3200);
    EXPECT_EQ((frameStart + 3)->y2, 3300);
    EXPECT_EQ((frameStart + 4)->kind, Kind::Point);
    EXPECT_EQ((frameStart + 4)->lineWidth, 5);
    EXPECT_EQ(std::count_if(s.ops.begin(), s.ops.end(), [](const Op& o) { return o.lineWidth == 8; }), 4);
    EXPECT_EQ(opsOf(s.ops, Kind::Point).size(), 3u);
    EXPECT_TRUE(opsOf(s.ops, Kind::RectOutline).empty());
    EXPECT_TRUE(opsOf(s.ops, Kind::FillRect).empty());
    EXPECT_EQ(findText(s.ops, "Max count"), nullptr);
    EXPECT_EQ(findText(s.ops, "spectrum1.mca1"), nullptr);

    // Four ruled rows and the facility name.
    std::vector<double> rules;
    for (const Op& o : s.ops)
        if (o.kind == Kind::Line && o.x1 == 1500 && o.x2 == 10700) rules.push_back(o.y1);
    EXPECT_EQ(rules, (std::vector<double>{12200, 12800, 13400, 14000, 14600}));
    const Op& footer = s.ops[s.ops.size() - 2];
    ASSERT_EQ(footer.kind, Kind::Text);
    EXPECT_EQ(footer.text, "中央病院 放射線科");
    EXPECT_EQ(footer.font.name, "HG正楷書体-PRO");
    EXPECT_EQ(footer.font.size, 10);
    EXPECT_EQ(footer.x1, 4000);
    EXPECT_EQ(footer.y1, 15800);
}

TEST(GraphTest, NumberTexts) {
    EXPECT_EQ(axisNumberText(20), " 20 ");
    EXPECT_EQ(axisNumberText(-10), "-10 ");
    EXPECT_EQ(axisNumberText(-0.0), " 0 ");
    EXPECT_EQ(axisNumberText(12.5), " 12.5 ");
    EXPECT_EQ(legendName("short.csv"), "short.csv");
}

// --------------------------------------------------------------- cursor ----

TEST(CursorTest, ChannelUnderMouseAndLinePositions) {
    AppState st = stateWith(2);
    EXPECT_EQ(channelUnderMouse(st, 2200), 1);
    EXPECT_EQ(channelUnderMouse(st, 2210), 1);  // 0.2 keV: channel 1's energy is not below it
    EXPECT_EQ(channelUnderMouse(st, 2215), 2);
    EXPECT_EQ(channelUnderMouse(st, 9700), 750);
    EXPECT_EQ(channelUnderMouse(st, 100), 1);

    st.cursorChannel = 123;
    CursorReadout r = cursorReadout(st, true);
    EXPECT_EQ(r.channelText, "123 ch");
    EXPECT_EQ(r.energyText, "24.60 keV");
    EXPECT_EQ(r.countText, "246");  // slot 2, the one added last: (123 % 200) · 2
    // One channel right of the curve's point, which lies at 2200 + 10·(c − 1).
    ASSERT_TRUE(r.line5X);
    EXPECT_NEAR(*r.line5X, 2200 + 10 * 123, 1e-9);
    ASSERT_TRUE(r.line6Y);
    EXPECT_NEAR(*r.line6Y, 6800 - 246 * 6500.0 / 398, 1e-9);
    EXPECT_EQ(cursorReadout(st, false).channelText, "123");
}

TEST(CursorTest, StepsStopAtRangeEndsAndChannelZero) {
    AppState st = stateWith(1, 0, 150);
    st.cursorChannel = 1;
    ASSERT_TRUE(stepCursorDown(st));
    EXPECT_EQ(st.cursorChannel, 0);
    CursorReadout r = cursorReadout(st, true);
    EXPECT_EQ(r.channelText, "0 ch");
    EXPECT_EQ(r.energyText, "0.00 keV");
    EXPECT_EQ(r.countText, "");
    ASSERT_TRUE(r.line6Y);
    EXPECT_EQ(*r.line6Y, 6800);
    EXPECT_FALSE(stepCursorDown(st));
    EXPECT_EQ(st.cursorChannel, 0);

    st.cursorChannel = 750;
    EXPECT_FALSE(stepCursorUp(st));  // 150.2 keV is past the range
    ASSERT_TRUE(stepCursorDown(st));
    EXPECT_EQ(st.cursorChannel, 749);

    st = stateWith(1, 10, 150, 0.25);
    st.cursorChannel = 40;
    EXPECT_FALSE(stepCursorDown(st));  // 39 · 0.25 is below 10 keV

    // Negative lower end: the step still stops at channel 0.
    st = stateWith(1, -20, 150);
    st.cursorChannel = 0;
    EXPECT_FALSE(stepCursorDown(st));
}

TEST(CursorTest, ChannelLimitedToCountTable) {
    AppState st = stateWith(1, 0, 1000, 0.2);
    EXPECT_EQ(channelUnderMouse(st, 9700), kCursorChannelMax);
    st.cursorChannel = kCursorChannelMax;
    EXPECT_FALSE(stepCursorUp(st));
    CursorReadout r = cursorReadout(st, true);
    EXPECT_EQ(r.countText, "");  // channels above 1024 hold no count
    // A tiny channel width ends at the table's end too.
    st.kevPerChannel = 1e-300;
    EXPECT_EQ(channelUnderMouse(st, 9000), kCursorChannelMax);
}

TEST(CursorTest, NothingLoadedOrEmptyRangeShowsNoHeightOrLine) {
    AppState st;  // after a preview: no spectrum, range 0..0
    st.kevPerChannel = 0.2;
    st.cursorChannel = channelUnderMouse(st, 5000);
    CursorReadout r = cursorReadout(st, true);
    EXPECT_EQ(r.countText, "");
    EXPECT_FALSE(r.line6Y);
    EXPECT_FALSE(r.line5X);
}

// -------------------------------------------------------- spectrum files ----

TEST(SpectrumFileTest, KindsByLastFourCharacters) {
    EXPECT_EQ(spectrumKindOf("Tarvik_data/a.mca1"), SpectrumKind::Result);
    EXPECT_EQ(spectrumKindOf("Tarvik_data/a.mca2"), SpectrumKind::Result);
    EXPECT_EQ(spectrumKindOf("Tarvik_data/a.csv"), SpectrumKind::Measured);
    EXPECT_EQ(spectrumKindOf("Tarvik_data/a.CSV"), SpectrumKind::Other);
    EXPECT_EQ(spectrumKindOf("Tarvik_data/a.MCA1"), SpectrumKind::Other);
    EXPECT_EQ(spectrumKindOf("Tarvik_data/a.mca"), SpectrumKind::Other);
    EXPECT_EQ(spectrumKindOf("Tarvik_data/a.csv1"), SpectrumKind::Other);
    EXPECT_EQ(spectrumKindOf("Tarvik_data/"), SpectrumKind::Other);
}

TEST(SpectrumFileTest, LoadsCountsAndLargest) {
    auto dir = tempDir();
    writeResultFile(dir / "r.mca1");
    auto r = loadSpectrum(dir / "r.mca1");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->counts[1], 3);
    EXPECT_EQ(r->counts[1024], 3072);
    EXPECT_EQ(r->max, 3072);

    writeMeasuredFile(dir / "m.csv");
    auto m = loadSpectrum(dir / "m.csv");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->counts[100], 5000);
    EXPECT_EQ(m->counts[101], 7);
    EXPECT_EQ(m->max, 5000);

    EXPECT_FALSE(loadSpectrum(dir / "r.mca"));  // other kinds are not read
    EXPECT_THROW(loadSpectrum(dir / "missing.mca1"), SpectrumLoadError);
    writeResultFile(dir / "short.mca1", 0.25, 1000);
    EXPECT_THROW(loadSpectrum(dir / "short.mca1"), SpectrumLoadError);
    writeResultFile(dir / "bad.mca1", 0.25, kChannels, "lots");
    EXPECT_THROW(loadSpectrum(dir / "bad.mca1"), SpectrumLoadError);
    std::filesystem::remove_all(dir);
}

// --------------------------------------------------------- window logic ----

class DisplayLogicTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = tempDir();
        writeResultFile(dir / "corrected.mca1");
        writeMeasuredFile(dir / "measured.csv");
        std::ofstream(dir / "other.mca") << "x\r\n";
        logic.open(picture);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::optional<DisplayMessage> add(const std::string& file) {
        logic.preview(dir.string(), file, picture);
        return logic.addSpectrum(dir.string(), file, picture);
    }

    std::filesystem::path dir;
    AppState st;
    DisplayLogic logic{st};
    RecordingSurface picture;
};

TEST_F(DisplayLogicTest, OpeningResetsTheWindow) {
    st.displayOpened = 0;
    st.spectrumCount = 3;
    st.trackingEnabled = 1;
    st.cursorActive = 1;
    st.dataFilePath = "x";
    logic.controls().text4 = "20";
    logic.controls().colourOption = 5;
    EXPECT_TRUE(logic.open(picture));
    EXPECT_FALSE(logic.open(picture));  // the data folder only on the first opening
    const DisplayControls& c = logic.controls();
    EXPECT_EQ(st.spectrumCount, 0);
    EXPECT_EQ(st.trackingEnabled, 0);
    EXPECT_EQ(st.cursorActive, 0);
    EXPECT_EQ(st.dataFilePath, "");
    EXPECT_EQ(c.text4, "0");
    EXPECT_EQ(c.text5, "150");
    EXPECT_EQ(c.colourOption, 2);
    EXPECT_FALSE(c.command4Enabled || c.command5Enabled || c.stepButtonsVisible || c.stepButtonsEnabled ||
                 c.readoutsVisible || c.readoutLabelsVisible || c.line5Visible || c.line6Visible);
    EXPECT_EQ(picture.ops.back().kind, Kind::Clear);
}

TEST_F(DisplayLogicTest, PreviewWritesHeaderAndSetsWidth) {
    logic.preview(dir.string(), "corrected.mca1", picture);
    EXPECT_EQ(logic.controls().text6, "0.250");
    EXPECT_EQ(st.tubeVoltage, 80);
    EXPECT_EQ(st.commentLine1, "first comment");
    EXPECT_EQ(st.trackingEnabled, 1);
    EXPECT_EQ(st.dataFilePath, (dir / "corrected.mca1").string());
    std::vector<std::string> lines;
    for (const Op& o : opsOf(picture.ops, Kind::Text)) lines.push_back(o.text);
    EXPECT_EQ(lines, (std::vector<std::string>{"", " first comment", " second comment", "",
                                               " Ｘ線管電圧 =  80  [kV]", "", " annotation line"}));
    EXPECT_EQ(opsOf(picture.ops, Kind::Text)[1].font.name, "ＭＳ ゴシック");
    EXPECT_GT(opsOf(picture.ops, Kind::Text)[1].y1, opsOf(picture.ops, Kind::Text)[0].y1);
    EXPECT_EQ(picture.font().name, "Times New Roman");

    logic.preview(dir.string(), "measured.csv", picture);
    EXPECT_EQ(logic.controls().text6, "0.200");
    EXPECT_EQ(st.tubeVoltage, 150);
    EXPECT_EQ(opsOf(picture.ops, Kind::Text).back().text, " measured annotation");

    // A file that cannot be read leaves the picture alone.
    std::size_t before = picture.ops.size();
    logic.preview(dir.string(), "missing.mca2", picture);
    EXPECT_EQ(picture.ops.size(), before);
    EXPECT_EQ(logic.controls().text6, "0.200");
}

TEST_F(DisplayLogicTest, AddingFiveSpectraThenClear) {
    for (int i = 1; i <= 5; ++i) {
        logic.controls().colourOption = i == 5 ? 6 : i;
        EXPECT_FALSE(add(i % 2 ? "corrected.mca1" : "measured.csv")) << i;
        EXPECT_EQ(st.spectrumCount, i);
        EXPECT_EQ(logic.controls().command1Enabled, i < 5);
    }
    EXPECT_EQ(st.spectrumColour[1], palette::Black);
    EXPECT_EQ(st.spectrumColour[4], palette::DarkCyan);
    EXPECT_EQ(st.spectrumColour[5], palette::Magenta);
    EXPECT_EQ(st.spectrumFile[2], "measured.csv");
    EXPECT_EQ(st.spectrumMax[2], 5000);
    EXPECT_EQ(st.kevPerChannel, 0.25);  // the width of the last preview
    const DisplayControls& c = logic.controls();
    EXPECT_TRUE(c.command4Enabled && c.command5Enabled && c.readoutsVisible && c.readoutLabelsVisible &&
                c.stepButtonsVisible);
    EXPECT_FALSE(c.stepButtonsEnabled || c.line5Visible || c.line6Visible);

    logic.clear(picture);
    EXPECT_EQ(st.spectrumCount, 0);
    EXPECT_TRUE(c.command1Enabled);
    EXPECT_FALSE(c.command4Enabled || c.command5Enabled || c.readoutsVisible || c.stepButtonsVisible);
    EXPECT_EQ(c.text6, "");
    EXPECT_EQ(st.spectrumMax[1], 3072);  // the tables are kept; slot 1 is overwritten next
}

TEST_F(DisplayLogicTest, FailedAddsLeaveTheCountAndSayWhy) {
    // Nothing clicked: a plain box, and the window acts as after a load.
    auto m = logic.addSpectrum(dir.string(), "", picture);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->kind, DisplayMessage::Kind::Plain);
    EXPECT_EQ(m->text, display_text::ClickAFile);
    EXPECT_TRUE(logic.controls().command4Enabled);

    m = add("other.mca");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->kind, DisplayMessage::Kind::Warning);
    EXPECT_EQ(m->text, display_text::CannotRead);
    EXPECT_EQ(st.spectrumCount, 0);

    // Empty range: the graph cannot be drawn, the slot is dropped.
    logic.controls().text5 = "0";
    m = add("corrected.mca1");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->text, display_text::CannotRead);
    EXPECT_EQ(st.spectrumCount, 0);
    logic.controls().text5 = "150";

    // A failed fifth load enables the draw button again.
    for (int i = 0; i < 4; ++i) ASSERT_FALSE(add("corrected.mca1"));
    logic.preview(dir.string(), "corrected.mca1", picture);
    std::filesystem::remove(dir / "corrected.mca1");
    m = logic.addSpectrum(dir.string(), "corrected.mca1", picture);
    ASSERT_TRUE(m);
    EXPECT_EQ(st.spectrumCount, 4);
    EXPECT_TRUE(logic.controls().command1Enabled);

    // A width of 0 (the box emptied by clear) is refused before anything changes.
    logic.clear(picture);
    m = logic.addSpectrum(dir.string(), "measured.csv", picture);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->text, display_text::BadChannelWidth);
    EXPECT_EQ(st.spectrumCount, 0);
    EXPECT_FALSE(logic.controls().command4Enabled);
}

TEST_F(DisplayLogicTest, RedrawAndPrintRefuseWhatCannotBeDrawn) {
    auto m = logic.redraw(picture);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->text, display_text::NothingLoaded);
    ASSERT_FALSE(add("corrected.mca1"));
    logic.controls().text4 = "30";
    logic.controls().text5 = "30";
    m = logic.redraw(picture);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->text, display_text::EmptyRange);
    EXPECT_EQ(st.energyMax, 150);  // the range of the graph shown is kept
    m = logic.preparePrint();
    ASSERT_TRUE(m);
    EXPECT_EQ(m->text, display_text::EmptyRange);

    logic.controls().text5 = "60";
    logic.controls().text6 = "0";  // not re-read by redraw
    EXPECT_FALSE(logic.redraw(picture));
    EXPECT_EQ(st.energyMin, 30);
    EXPECT_EQ(st.trackingEnabled, 1);
    EXPECT_FALSE(logic.preparePrint());

    logic.controls().text5 = "1500000";  // 150 typed with four zeros too many
    m = logic.redraw(picture);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->text, display_text::RangeOutOfReach);
    EXPECT_EQ(st.energyMax, 60);
    logic.controls().text5 = "60";

    st.kevPerChannel = 0;  // e.g. a previewed file with a width of 0
    m = logic.redraw(picture);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->text, display_text::BadChannelWidthInUse);
}

TEST_F(DisplayLogicTest, CursorFollowsMouseClicksAndKeys) {
    ASSERT_FALSE(add("corrected.mca1"));  // 0.25 keV/ch over 0..150
    EXPECT_FALSE(logic.arrowKey(true));  // cursor not active yet
    logic.mouseMove(5000, 7000);         // inside the plot width, below the plot
    DisplayControls& c = logic.controls();
    EXPECT_FALSE(c.crosshair);
    EXPECT_EQ(st.cursorActive, 1);
    EXPECT_EQ(c.text3, "224 ch");  // 56 keV
    EXPECT_TRUE(c.line5Visible && c.line6Visible);
    EXPECT_FALSE(c.stepButtonsEnabled);
    logic.mouseMove(5000, 3000);
    EXPECT_TRUE(c.crosshair);

    logic.mouseMove(9800, 3000);  // outside: lines hidden, read-outs kept
    EXPECT_FALSE(c.line5Visible || c.line6Visible || c.crosshair);
    EXPECT_EQ(c.text3, "224 ch");

    logic.mouseDown(2300, 9000);  // y is not tested
    EXPECT_EQ(c.text3, "8");  // 2 keV, without the unit after a click
    EXPECT_TRUE(c.stepButtonsEnabled);
    EXPECT_TRUE(logic.arrowKey(true));
    EXPECT_EQ(c.text3, "9 ch");
    EXPECT_EQ(c.text1, "2.25 keV");
    EXPECT_EQ(c.text2, "27");
    EXPECT_NEAR(c.line5X, 2200 + 50 * 2.25, 1e-9);
    EXPECT_NEAR(c.line6Y, 6800 - 27 * 6500.0 / 3072, 1e-9);
    for (int i = 0; i < 12; ++i) logic.stepDown();
    EXPECT_EQ(st.cursorChannel, 0);
    EXPECT_EQ(c.text2, "");
    EXPECT_EQ(c.line6Y, 6800);

    logic.clear(picture);
    logic.mouseMove(5000, 3000);  // tracking is off after clear
    EXPECT_FALSE(c.line5Visible);
    EXPECT_EQ(st.cursorActive, 0);
}
