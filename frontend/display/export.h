// What the display saves besides the printed page: the graph as a picture
// file and the loaded spectra as a table of numbers.  Only the choices and
// the table's text here; the picture is painted by the window's side.
#pragma once

#include "appstate.h"

#include <optional>
#include <string>
#include <string_view>

namespace tarvik {

enum class GraphFileFormat { Png, Svg, Pdf };

// The picture format a file name asks for by its extension (".png", ".svg",
// ".pdf", any case); none for anything else.
std::optional<GraphFileFormat> graphFileFormatOf(std::string_view fileName);

// The loaded spectra (slots 1..spectrumCount) as comma-separated text, the
// layout of the command line's "tarvik export": one line per channel
// 1..1024 after a row of names and a row of units, lines ended by LF:
//   channel,energy,<file 1>,<file 2>,...
//   ,keV,counts,counts,...
//   1,0.1,13,20,...
// The energy of channel c is c × keV per channel (6 significant digits), as
// the spectrum files and the cursor give it; counts with 10 significant
// digits, an empty cell as an empty field.  File names are quoted when they
// hold a comma, a quote or a line break.  With no spectrum loaded the text
// is empty.
std::string spectraCsv(const AppState& state);

// One CSV field: as it is, or in double quotes with inner quotes doubled.
std::string csvField(std::string_view text);

} // namespace tarvik
