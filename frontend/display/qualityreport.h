// The beam-quality figures of the spectra loaded in the display, as the
// table its quality window shows: one column per spectrum in the order they
// were added, one row per figure with its standard uncertainty, the row
// names in the front end's language.  The same table as tab-separated text
// (the clipboard, for spreadsheets) and as CSV.
#pragma once

#include "appstate.h"

#include "quality/beamquality.h"

#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tarvik {

// Figures of a loaded spectrum that other parts of the system may know
// besides its counts: the share of piled-up events and the analyser's dead
// time, as fractions (0.012 is 1.2 %).  Rows for them appear when any
// spectrum has them; a spectrum without shows "—" there.
struct SpectrumExtras {
    std::optional<quality::Value> pileUpShare;
    std::optional<quality::Value> deadTimeFraction;
};

// The extras a file's live and real time give: the dead-time fraction
// 1 - live/real when both are known (no uncertainty: the analyser measured
// the times), nothing otherwise.
SpectrumExtras extrasOfTimes(std::optional<double> liveTimeS, std::optional<double> realTimeS);

// One loaded spectrum.
struct QualityColumn {
    std::string file;
    std::string kind;  // what the spectrum is, in the front end's language
    bool measured = false;  // a ".csv": not stripping-corrected
    std::optional<quality::BeamQuality> figures;
    std::string problem;  // why there are no figures
    SpectrumExtras extras;
};

// The figures of the loaded spectra (slots 1..spectrumCount) at the
// display's keV per channel, their counts taken as Poisson counts.  A
// spectrum whose figures cannot be computed (no counts, a half-value layer
// out of reach) has its reason and no figures; the others are not affected.
// `extras[i]` belongs to slot i + 1 when given.
std::vector<QualityColumn> qualityColumns(const AppState& state, const quality::Options& options = {},
                                          std::span<const SpectrumExtras> extras = {});

// A cell: the value and its standard uncertainty as text, each empty when
// there is none.
struct QualityCell {
    std::string value;
    std::string uncertainty;
};

// A row of the table: name and unit in the front end's language, one cell
// per column.
struct QualityRow {
    std::string name;
    std::string unit;
    std::vector<QualityCell> cells;
};

// The rows: the kind of spectrum, the keV per channel, the figures, the
// pile-up share and dead time when any column has them, and remarks when
// any column has no figures.
std::vector<QualityRow> qualityRows(const std::vector<QualityColumn>& columns);

// The table for spreadsheets: a header row (figure, unit, then for each
// spectrum its name and "standard uncertainty"), then a row per figure with
// the value and the uncertainty in two cells; lines ended by LF.  The
// tab-separated text has no tab or line break inside a cell; the CSV is
// UTF-8 with a byte-order mark (so that spreadsheet programs take the
// Japanese names as UTF-8), fields quoted where needed.
std::string qualityTsv(const std::vector<QualityColumn>& columns);
std::string qualityCsv(const std::vector<QualityColumn>& columns);

} // namespace tarvik
