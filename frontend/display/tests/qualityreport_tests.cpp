// The quality window's table: one column per loaded spectrum with the
// figures of its own counts at the display's keV per channel, a spectrum
// that has no figures named with its reason without hiding the others, and
// the same table as tab-separated text and CSV for spreadsheets.
#include "qualityreport.h"

#include "texts.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>

using namespace tarvik;

namespace {

void loadSlot(AppState& st, int slot, const std::string& name, int channel, double count) {
    const auto s = static_cast<std::size_t>(slot);
    for (int ch = 1; ch <= kChannels; ++ch) st.spectrumCounts[s][static_cast<std::size_t>(ch)] = 0.0;
    if (channel > 0) st.spectrumCounts[s][static_cast<std::size_t>(channel)] = count;
    st.spectrumMax[s] = count;
    st.spectrumFile[s] = name;
}

const QualityRow* rowNamed(const std::vector<QualityRow>& rows, const std::string& name) {
    for (const QualityRow& r : rows)
        if (r.name == name) return &r;
    return nullptr;
}

double number(const std::string& s) { return s.empty() ? std::nan("") : std::strtod(s.c_str(), nullptr); }

// The cells of one line of the tab-separated or comma-separated text (the
// CSV with its quoting rules).
std::vector<std::vector<std::string>> cellsOf(const std::string& text, char separator) {
    std::vector<std::vector<std::string>> lines(1, std::vector<std::string>(1));
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') lines.back().back() += text[++i];
            else if (c == '"') quoted = false;
            else lines.back().back() += c;
        } else if (c == '"' && separator == ',') quoted = true;
        else if (c == separator) lines.back().emplace_back();
        else if (c == '\n') lines.emplace_back(1);
        else lines.back().back() += c;
    }
    if (lines.back().size() == 1 && lines.back()[0].empty()) lines.pop_back();
    return lines;
}

AppState threeSpectra() {
    AppState st;
    st.kevPerChannel = 0.1;
    st.spectrumCount = 3;
    loadSlot(st, 1, "mono30.mca1", 300, 1e6);  // all photons at 29.95 keV
    loadSlot(st, 2, "empty.mca1", 0, 0);       // no counts at all
    loadSlot(st, 3, "raw60.csv", 600, 1e6);    // 59.95 keV, not corrected
    loadSlot(st, 4, "stale.mca1", 500, 1e6);   // beyond spectrumCount: not shown
    return st;
}

quality::Options fewResamples() {
    quality::Options options;
    options.resamples = 5;
    return options;
}

} // namespace

TEST(QualityTableTest, OneColumnPerSpectrumWithItsOwnFigures) {
    const auto columns = qualityColumns(threeSpectra(), fewResamples());
    ASSERT_EQ(columns.size(), 3u);
    EXPECT_EQ(columns[0].file, "mono30.mca1");
    EXPECT_EQ(columns[1].file, "empty.mca1");
    EXPECT_EQ(columns[2].file, "raw60.csv");
    const auto rows = qualityRows(columns);
    for (const QualityRow& r : rows) EXPECT_EQ(r.cells.size(), 3u) << r.name;

    // A single energy: HVL = ln 2 / mu at the channel centre (i - 0.5) w,
    // and the mean energy is that centre.
    const QualityRow* hvl1 = rowNamed(rows, "第1半価層 (Al)");
    const QualityRow* mean = rowNamed(rows, "平均エネルギー");
    ASSERT_TRUE(hvl1 && mean);
    EXPECT_EQ(hvl1->unit, "mm Al");
    const double hvl30 = std::log(2.0) / quality::aluminiumMuPerMm(29.95);
    const double hvl60 = std::log(2.0) / quality::aluminiumMuPerMm(59.95);
    EXPECT_NEAR(number(hvl1->cells[0].value), hvl30, 1e-4 + 1e-3 * hvl30);
    EXPECT_NEAR(number(hvl1->cells[2].value), hvl60, 1e-4 + 1e-3 * hvl60);
    EXPECT_NEAR(number(mean->cells[0].value), 29.95, 1e-3);
    EXPECT_FALSE(hvl1->cells[0].uncertainty.empty());

    // The empty spectrum has its reason, and no figures of its own.
    EXPECT_TRUE(hvl1->cells[1].value.empty());
    const QualityRow* remarks = rowNamed(rows, "備考");
    ASSERT_TRUE(remarks);
    EXPECT_NE(remarks->cells[1].value.find("計算できません"), std::string::npos);
    EXPECT_TRUE(remarks->cells[0].value.empty());
    // Only the measured spectrum is marked as uncorrected.
    EXPECT_FALSE(columns[0].measured);
    EXPECT_TRUE(columns[2].measured);
    EXPECT_NE(rows[0].cells[2].value.find("補正前"), std::string::npos);
    EXPECT_EQ(rows[0].cells[0].value.find("補正前"), std::string::npos);
    // No pile-up or dead-time rows unless a spectrum has them.
    EXPECT_FALSE(rowNamed(rows, "パイルアップの割合"));
    EXPECT_FALSE(rowNamed(rows, "不感時間の割合"));
}

TEST(QualityTableTest, NothingLoadedNothingReported) {
    AppState st;
    st.kevPerChannel = 0.1;
    EXPECT_TRUE(qualityColumns(st).empty());
    // Only the names and units of the rows.
    const auto lines = cellsOf(qualityTsv({}), '\t');
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], (std::vector<std::string>{"項目", "単位"}));
    for (const auto& line : lines) EXPECT_EQ(line.size(), 2u);
}

TEST(QualityTableTest, PileUpAndDeadTimeRowsWhenAnySpectrumHasThem) {
    AppState st = threeSpectra();
    std::vector<SpectrumExtras> extras(2);
    extras[1].deadTimeFraction = quality::Value{0.0123, 0.0004};
    const auto rows = qualityRows(qualityColumns(st, fewResamples(), extras));
    const QualityRow* dead = rowNamed(rows, "不感時間の割合");
    ASSERT_TRUE(dead);
    EXPECT_EQ(dead->unit, "%");
    EXPECT_EQ(dead->cells[1].value, "1.23");
    EXPECT_EQ(dead->cells[1].uncertainty, "0.04");
    EXPECT_TRUE(dead->cells[0].value.empty());
    EXPECT_TRUE(dead->cells[2].value.empty());  // no extras given for slot 3
    EXPECT_FALSE(rowNamed(rows, "パイルアップの割合"));
}

TEST(QualityTableTest, SpreadsheetTextsHoldTheTableCellForCell) {
    AppState st = threeSpectra();
    st.spectrumFile[1] = "tab\there, \"quoted\".mca1";
    const auto columns = qualityColumns(st, fewResamples());
    const auto rows = qualityRows(columns);

    const std::string csv = qualityCsv(columns);
    ASSERT_EQ(csv.substr(0, 3), "\xEF\xBB\xBF");
    const auto tsv = cellsOf(qualityTsv(columns), '\t');
    const auto fromCsv = cellsOf(csv.substr(3), ',');
    ASSERT_EQ(tsv.size(), rows.size() + 1);
    ASSERT_EQ(fromCsv.size(), rows.size() + 1);
    // The header: figure, unit, then each spectrum's name and its uncertainty.
    const std::vector<std::string> head{"項目",        "単位",         "[1] tab\there, \"quoted\".mca1",
                                        "標準不確かさ", "[2] empty.mca1", "標準不確かさ",
                                        "[3] raw60.csv", "標準不確かさ"};
    EXPECT_EQ(fromCsv[0], head);
    EXPECT_EQ(tsv[0][2], "[1] tab here, \"quoted\".mca1");  // no tab inside a cell
    for (std::size_t r = 0; r < rows.size(); ++r) {
        std::vector<std::string> expected{rows[r].name, rows[r].unit};
        for (const QualityCell& c : rows[r].cells) {
            expected.push_back(c.value);
            expected.push_back(c.uncertainty);
        }
        EXPECT_EQ(tsv[r + 1], expected) << rows[r].name;
        EXPECT_EQ(fromCsv[r + 1], expected) << rows[r].name;
    }
}

TEST(QualityTableTest, RowNamesInTheFrontEndsLanguage) {
    setTranslator([](const char* context, const char* source) -> std::string {
        if (std::string(context) == "QualityTable" && std::string(source) == "第1半価層 (Al)")
            return "First half-value layer (Al)";
        return {};
    });
    const auto rows = qualityRows(qualityColumns(threeSpectra(), fewResamples()));
    setTranslator(nullptr);
    EXPECT_TRUE(rowNamed(rows, "First half-value layer (Al)"));
    EXPECT_FALSE(rowNamed(rows, "第1半価層 (Al)"));
    EXPECT_TRUE(rowNamed(rows, "平均エネルギー"));  // not translated: the source, never empty
}
