// The display cursor: the channel under the mouse, one-channel steps, and
// what the read-outs and the two red cursor lines show.  The cursor reads
// off the spectrum added last (slot spectrumCount).
#pragma once

#include "appstate.h"
#include "graph.h"

#include <optional>
#include <string>

namespace tarvik {

// The cursor channel stays within 0..1100, the cells of the count tables.
// The mouse finds channels from 1 up; channel 0 is reached only by a step
// down when energyMin is 0 or less.
inline constexpr int kCursorChannelMin = 0;
inline constexpr int kCursorChannelMax = kCountCells - 1;

// The first channel (from 1) whose energy is not below the energy under the
// mouse at picture x (twips); at most 1100.
int channelUnderMouse(const AppState& state, double x);

// One channel down or up when the neighbour's energy is still within the
// shown range (and within 0..1100); returns whether the cursor moved.
bool stepCursorDown(AppState& state);
bool stepCursorUp(AppState& state);

struct CursorReadout {
    std::string channelText;  // Text3: "###0 ch", or "###0" after a click
    std::string energyText;   // Text1: "##0.00 keV"
    std::string countText;    // Text2: the count as text, empty for an empty cell
    // Line5's x and Line6's y in picture twips; no value when they cannot be
    // placed (an empty range, or no spectrum loaded for the height).
    std::optional<double> line5X;
    std::optional<double> line6Y;
};

// Line6 stands at the height the graph gives the count on `axis`.
CursorReadout cursorReadout(const AppState& state, bool withUnit, const CountAxis& axis = {});

} // namespace tarvik
