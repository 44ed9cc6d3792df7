// The shipped data read once per fuzzing process: the response tables of
// data/RES by energy code and the two scatterer files.
#pragma once

#include <map>

#include "conv/scatterer.h"
#include "strip/response_table.h"
#include "strip/stripping.h"
#include "strip/unfold.h"

namespace fuzzsupport {

const std::map<int, tvstrip::ResponseTable>& shippedResponseTables();

// Looks a code up in the shipped tables; a code without a table is refused
// as the stripping program refuses it (fixedio::Error).
const tvstrip::ResponseTable& shippedTable(int code);

const tvconv::ScattererData& shippedCarbon();
const tvconv::ScattererData& shippedPmma();

// A spectrum of the shipped demo data as the stripping program writes it:
// counts of the measurement behind PMMA at 90 degrees, 0.1 keV per channel.
const tvstrip::Counts& demoCounts();

// The short spectrum the targets of the unfolding's data unfold: the first
// 40 channels of demoCounts(), which rise and fall like a measured
// spectrum, taken as 12 kV at 0.5 keV per channel.
inline constexpr std::int32_t kShortVoltage = 12;
inline constexpr float kShortWidth = 0.5f;

// Unfolds the short spectrum with accepted data in 4 iterations (the
// arithmetic is under test, not whether so few settle); a negative
// incident channel is a finding.
tvstrip::Counts unfoldShortSpectrum(const tvstrip::UnfoldResponse& response, tvstrip::UnfoldReport* report = nullptr);

// Checks that a result file text consists of `lines` lines, each ended by
// CR LF, and that no line holds a CR or LF of its own (the front end would
// read such a line as two and misplace every record after it).
void requireResultLayout(const std::string& text, int lines, const char* what);

} // namespace fuzzsupport
