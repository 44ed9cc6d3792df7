// The display graph saved as a picture file: drawGraph in the screen's
// colours over the picture's 10000 × 7635 twips, as PNG (twice the screen's
// pixels), SVG or PDF (a page of the picture's size).  The file is written
// whole or not at all.
#pragma once

#include "appstate.h"
#include "export.h"
#include "graph.h"

#include <QString>

#include <optional>

namespace tarvik {

// Empty on success, else what went wrong in the user's words (Japanese).
// GraphError passes through (nothing is written then).
std::optional<QString> exportGraph(const AppState& state, const CountAxis& axis, const QString& path,
                                   GraphFileFormat format);

// `content` into `path` whole or not at all; empty on success, else the
// reason in the user's words.
std::optional<QString> writeWholeFile(const QString& path, const std::string& content);

} // namespace tarvik
