// The beam-quality figures of the spectra loaded in the display, as the
// text its quality window shows and copies: one block per spectrum, in the
// order they were added, with the keV per channel they are drawn with.
#pragma once

#include "appstate.h"

#include "quality/beamquality.h"

#include <string>

namespace tarvik {

// A spectrum whose figures cannot be computed (no counts, a half-value
// layer out of reach) gets its reason in its block; the others are not
// affected.  A measured ".csv" is marked as not stripping-corrected, and the
// uncertainties of every spectrum take its counts as Poisson counts.
std::string qualityReport(const AppState& state, const quality::Options& options = {});

} // namespace tarvik
