// The spectrum graph: all loaded spectra, normalised to their own largest
// count, against photon energy over the shown range.  drawGraph draws it on
// the display picture (colours, legend, list of largest counts);
// printGraph draws one black page with heavier lines, four ruled rows and
// the facility name.  Both only read the state.
#pragma once

#include "appstate.h"
#include "drawsurface.h"

#include <stdexcept>
#include <string>

namespace tarvik {

// A graph that cannot be drawn.  The drawing stops at the step where the
// problem shows, leaving what was drawn before it.
class GraphError : public std::runtime_error {
public:
    enum class Reason {
        EmptyRange,        // energyMax - energyMin is 0
        RangeOutOfReach,   // the range is not a finite number of keV a grid can be drawn over
        EmptySpectrum,     // a slot whose largest count is 0 (nothing above 0 was read)
        BadChannelWidth,   // keV per channel is 0 or less
    };
    GraphError(Reason reason, const std::string& what) : std::runtime_error(what), reason_(reason) {}
    Reason reason() const { return reason_; }

private:
    Reason reason_;
};

// The plot area on screen (twips in the picture); on paper it is moved by
// +1000 across and +3000 down.
namespace plot {
inline constexpr double Left = 2200, Right = 9700, Top = 300, Bottom = 6800;
inline constexpr double Width = 7500, Height = 6500;
inline constexpr double PaperShiftX = 1000, PaperShiftY = 3000;
inline constexpr double PaperWidth = 12000, PaperHeight = 16900;
// Outer size of the display picture.
inline constexpr double PictureWidth = 10000, PictureHeight = 7635;
} // namespace plot

void drawGraph(const AppState& state, DrawSurface& picture);
void printGraph(const AppState& state, DrawSurface& page);

// Throws GraphError when the range cannot be drawn (width 0, not finite, or
// so wide or far out that its grid would never end).  The window checks
// this before redrawing or printing.
void checkRange(double energyMin, double energyMax);

// The first channel drawn: the smallest channel >= 1 whose energy
// channel × k is at least energyMin; 1025 when no channel up to 1024 is.
// Throws GraphError (BadChannelWidth) for k <= 0.
int firstChannel(double energyMin, double kevPerChannel);

// A number as the graph writes it: a blank (or "-"), the shortest decimal
// form, a blank: 20 gives " 20 ".
std::string axisNumberText(double value);

// The legend shows the first 15 characters of a file name.
std::string legendName(const std::string& fileName);

} // namespace tarvik
