// A spectrum written as the "<<PMCA SPECTRUM>>" text of digital pulse
// processors (".mca"): the header (tag, description, live, real and start
// time), a two-point energy calibration in keV, the counts, and the pulse
// processor's settings and counters when the record has them.  The readers of
// this library read it back to the same record; the demo spectra use it.
#pragma once

#include "spectrum.h"

#include <string>

namespace formats {

// Throws std::invalid_argument for a record the format cannot hold soundly:
// no counts, a calibration that is not a straight rising line, a live time
// above the real time, a start time that is not "YYYY-MM-DDThh:mm:ss".
std::string formatPmca(const Spectrum& s);

} // namespace formats
