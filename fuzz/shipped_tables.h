// The shipped data read once per fuzzing process: the response tables of
// data/RES by energy code and the two scatterer files.
#pragma once

#include <map>

#include "conv/scatterer.h"
#include "strip/response_table.h"
#include "strip/stripping.h"

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

// Checks that a result file text consists of `lines` lines, each ended by
// CR LF, and that no line holds a CR or LF of its own (the front end would
// read such a line as two and misplace every record after it).
void requireResultLayout(const std::string& text, int lines, const char* what);

} // namespace fuzzsupport
