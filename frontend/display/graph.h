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

// How the counts stand up the plot: the relative photon number from 0 to 1
// (the default), or its logarithm over whole decades from 10^-decades to 1.
struct CountAxis {
    bool log = false;
    int decades = 1;  // log only, 1..kMaxDecades
    friend bool operator==(const CountAxis&, const CountAxis&) = default;
};
inline constexpr int kMaxDecades = 6;

// The logarithmic axis for the loaded spectra: the fewest whole decades
// (1..6) that reach down to the smallest count above 0 (relative to its
// spectrum's largest) among the channels drawn in the shown range.
CountAxis logCountAxis(const AppState& state);

// Height of a relative photon number above the baseline as a share of the
// plot height.  Linear: the value itself (no clipping).  Logarithmic:
// 0 at 10^-decades, 1 at 1; a value at or below the lower end, or not above
// 0, sits on the baseline.
double countAxisShare(const CountAxis& axis, double relative);

// The text of a decade label of the logarithmic axis: "1", "0.1", "0.01",
// then "1E-3", "1E-4", ... (exponent 0 down to -kMaxDecades).
std::string decadeLabel(int exponent);

// With the default axis both draw exactly what they always drew.
void drawGraph(const AppState& state, DrawSurface& picture, const CountAxis& axis = {});
void printGraph(const AppState& state, DrawSurface& page, const CountAxis& axis = {});

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
