#include "qualityreport.h"

#include "export.h"
#include "quality/rates.h"
#include "spectrumload.h"
#include "texts.h"
#include "values.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>

namespace tarvik {

namespace {

// A text of the table kept in a constant, in the front end's language.
std::string text(const char* source) { return translate("QualityTable", source); }

// A figure row: its name, unit and printf format, and where its value is.
struct FigureRow {
    const char* name;
    const char* unit;
    const char* format;
    quality::Value quality::BeamQuality::*member;
};

const FigureRow kFigureRows[] = {
    {TARVIK_TEXT("QualityTable", "総光子数"), "", "%.0f", &quality::BeamQuality::total},
    {TARVIK_TEXT("QualityTable", "平均エネルギー"), "keV", "%.3f", &quality::BeamQuality::meanEnergyKeV},
    {TARVIK_TEXT("QualityTable", "空気カーマ平均エネルギー"), "keV", "%.3f",
     &quality::BeamQuality::kermaMeanEnergyKeV},
    {TARVIK_TEXT("QualityTable", "第1半価層 (Al)"), "mm Al", "%.4f", &quality::BeamQuality::hvl1AlMm},
    {TARVIK_TEXT("QualityTable", "第2半価層 (Al)"), "mm Al", "%.4f", &quality::BeamQuality::hvl2AlMm},
    {TARVIK_TEXT("QualityTable", "第1半価層 (Cu)"), "mm Cu", "%.5f", &quality::BeamQuality::hvl1CuMm},
    {TARVIK_TEXT("QualityTable", "第2半価層 (Cu)"), "mm Cu", "%.5f", &quality::BeamQuality::hvl2CuMm},
    {TARVIK_TEXT("QualityTable", "均等度 (Al)"), "", "%.4f", &quality::BeamQuality::homogeneityAl},
    {TARVIK_TEXT("QualityTable", "均等度 (Cu)"), "", "%.4f", &quality::BeamQuality::homogeneityCu},
    {TARVIK_TEXT("QualityTable", "実効エネルギー (Al)"), "keV", "%.3f", &quality::BeamQuality::effectiveEnergyKeV},
    {TARVIK_TEXT("QualityTable", "最高エネルギー（管電圧推定）"), "keV", "%.2f", &quality::BeamQuality::endPointKeV},
};

std::string formatted(const char* format, double v) {
    if (!std::isfinite(v)) return {};
    char buf[64];
    std::snprintf(buf, sizeof buf, format, v);
    return buf;
}

QualityCell cellOf(const char* format, const quality::Value& v, double scale = 1.0) {
    return {formatted(format, v.value * scale), formatted(format, v.uncertainty * scale)};
}

std::string kindOf(const std::string& file) {
    auto endsWith = [&](std::string_view tail) {
        return file.size() >= tail.size() && file.compare(file.size() - tail.size(), tail.size(), tail) == 0;
    };
    if (endsWith("mca1")) return translate("QualityTable", "Stripping 補正済み (.mca1)");
    if (endsWith("mca2")) return translate("QualityTable", "一次線スペクトル (.mca2)");
    if (spectrumKindOf(file) == SpectrumKind::Measured)
        return translate("QualityTable", "※ 補正前の測定スペクトル (.csv)");
    return {};
}

// A row of a fraction known for some spectra, in per cent.
QualityRow extrasRow(const char* name, const std::vector<QualityColumn>& columns,
                     std::optional<quality::Value> SpectrumExtras::*member) {
    QualityRow row{text(name), "%", {}};
    for (const QualityColumn& c : columns) {
        const auto& v = c.extras.*member;
        row.cells.push_back(v ? cellOf("%.2f", *v, 100.0) : QualityCell{});
    }
    return row;
}

// One line of the spreadsheet table; `field` makes a cell of a text.
template <class Field>
std::string sheet(const std::vector<QualityColumn>& columns, char separator, Field field) {
    std::string out;
    auto line = [&](const std::vector<std::string>& cells) {
        for (std::size_t i = 0; i < cells.size(); ++i) {
            if (i > 0) out += separator;
            out += field(cells[i]);
        }
        out += '\n';
    };
    std::vector<std::string> head{translate("QualityTable", "項目"), translate("QualityTable", "単位")};
    for (std::size_t i = 0; i < columns.size(); ++i) {
        // (Built piece by piece: "x" + std::string trips a false -Wrestrict in GCC 12.)
        std::string name(1, '[');
        name += std::to_string(i + 1);
        name += "] ";
        name += columns[i].file;
        head.push_back(std::move(name));
        head.push_back(translate("QualityTable", "標準不確かさ"));
    }
    line(head);
    for (const QualityRow& r : qualityRows(columns)) {
        std::vector<std::string> cells{r.name, r.unit};
        for (const QualityCell& c : r.cells) {
            cells.push_back(c.value);
            cells.push_back(c.uncertainty);
        }
        line(cells);
    }
    return out;
}

} // namespace

SpectrumExtras extrasOfTimes(std::optional<double> liveTimeS, std::optional<double> realTimeS) {
    SpectrumExtras e;
    if (auto d = quality::deadTimeFraction(liveTimeS, realTimeS)) e.deadTimeFraction = quality::Value{*d, std::nan("")};
    return e;
}

std::vector<QualityColumn> qualityColumns(const AppState& st, const quality::Options& options,
                                          std::span<const SpectrumExtras> extras) {
    const int n = std::clamp(st.spectrumCount, 0, kMaxSpectra);
    const double k = valueOr0(st.kevPerChannel);
    std::vector<QualityColumn> columns;
    for (int i = 1; i <= n; ++i) {
        const auto slot = static_cast<std::size_t>(i);
        QualityColumn c;
        c.file = st.spectrumFile[slot];
        c.kind = kindOf(c.file);
        c.measured = spectrumKindOf(c.file) == SpectrumKind::Measured;
        if (slot - 1 < extras.size()) c.extras = extras[slot - 1];
        std::vector<double> counts(kChannels);
        for (int ch = 1; ch <= kChannels; ++ch)
            counts[static_cast<std::size_t>(ch - 1)] = valueOr0(st.spectrumCounts[slot][static_cast<std::size_t>(ch)]);
        try {
            c.figures = quality::computeBeamQuality(counts, k, options);
        } catch (const std::exception& e) {
            c.problem = e.what();
        }
        columns.push_back(std::move(c));
    }
    return columns;
}

std::vector<QualityRow> qualityRows(const std::vector<QualityColumn>& columns) {
    std::vector<QualityRow> rows;
    QualityRow kind{translate("QualityTable", "スペクトル"), "", {}};
    QualityRow width{translate("QualityTable", "エネルギー幅 / チャネル"), "keV", {}};
    for (const QualityColumn& c : columns) {
        kind.cells.push_back({c.kind, {}});
        width.cells.push_back({c.figures ? numberAsText(c.figures->kevPerChannel) : std::string(), {}});
    }
    rows.push_back(std::move(kind));
    rows.push_back(std::move(width));
    for (const FigureRow& f : kFigureRows) {
        QualityRow row{text(f.name), f.unit, {}};
        for (const QualityColumn& c : columns)
            row.cells.push_back(c.figures ? cellOf(f.format, (*c.figures).*f.member) : QualityCell{});
        rows.push_back(std::move(row));
    }
    auto any = [&](auto has) { return std::any_of(columns.begin(), columns.end(), has); };
    if (any([](const QualityColumn& c) { return c.extras.pileUpShare.has_value(); }))
        rows.push_back(extrasRow(TARVIK_TEXT("QualityTable", "パイルアップの割合"), columns,
                                 &SpectrumExtras::pileUpShare));
    if (any([](const QualityColumn& c) { return c.extras.deadTimeFraction.has_value(); }))
        rows.push_back(extrasRow(TARVIK_TEXT("QualityTable", "不感時間の割合"), columns,
                                 &SpectrumExtras::deadTimeFraction));
    if (any([](const QualityColumn& c) { return !c.problem.empty(); })) {
        QualityRow remarks{translate("QualityTable", "備考"), "", {}};
        const std::string cannot = translate("QualityTable", "計算できません: %1");
        for (const QualityColumn& c : columns)
            remarks.cells.push_back({c.problem.empty() ? std::string() : withArgs(cannot, {c.problem}), {}});
        rows.push_back(std::move(remarks));
    }
    return rows;
}

std::string qualityTsv(const std::vector<QualityColumn>& columns) {
    return sheet(columns, '\t', [](const std::string& s) {
        std::string out = s;
        std::replace_if(out.begin(), out.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, ' ');
        return out;
    });
}

std::string qualityCsv(const std::vector<QualityColumn>& columns) {
    return "\xEF\xBB\xBF" + sheet(columns, ',', [](const std::string& s) { return csvField(s); });
}

} // namespace tarvik
