// Conversion of a spectrum of Compton-scattered photons, measured at the
// scattering angle A off a carbon or PMMA block, into the spectrum of the
// primary beam that struck the block.
//
// Numerics: every named quantity (angles, energies, x, S, D, σ, G, C, the
// shares, the accumulator, the totals, μ) is held in single precision and
// rounded when it is assigned; each formula is evaluated in double from its
// single-precision operands.  π is the single-precision 3.14159, every other
// real constant is single as well (12.4 is 12.3999996…).  Running sums are
// rounded after each addition and conversions to integers truncate toward
// zero.  The results therefore depend on every rounding point: keep the
// operations and their order as they are.
#pragma once

#include "scatterer.h"

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <stdexcept>
#include <vector>

namespace tvconv {

inline constexpr int channelCount = 1024;
inline constexpr int firstConvertedChannel = 21;
inline constexpr int endSearchStart = 300;
inline constexpr int firstAttenuatedChannel = 117;
inline constexpr int angleSteps = 180;  // whole degrees 1..180 of the total cross-section

inline constexpr float pi = 3.14159f;
inline constexpr float degreesPerHalfTurn = 180.0f;
inline constexpr float electronRestEnergy = 511.0f;  // keV
inline constexpr float wavelengthConstant = 12.4f;   // keV·Å: λ = 12.4 / E

// Counts of channels 1..1024; element 0 is channel 1.
using Spectrum = std::array<std::int32_t, channelCount>;

// Input that the conversion refuses, or a floating-point fault (division by
// zero, invalid operation, overflow) met while converting.  The message says
// what was being computed and names the channel, the value and, for table
// problems, the scatterer file and row.
class ConversionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The two kinds of table lookup differ in where they round: over the
// scattering-function table ln t and F stay in double within the formula;
// over the coefficient table ln t and F are rounded to single precision, and
// the ln u(J−1) in the numerator of F is the unrounded one.
enum class LookupKind { scatteringFunction, coefficient };

// Log–log interpolation in the table (u, v) at t: rows J−1 and J where J is
// the first index from the second row on whose abscissa exceeds t (a target
// below u(2) is extrapolated along the first two rows).  The abscissae must
// be ascending and positive, the values positive.  Throws ConversionError
// when t is not positive or lies at or beyond the last abscissa, or when the
// table has fewer than two rows.
float interpolateLogLog(std::span<const float> u, std::span<const double> v, float t, LookupKind kind);

// θ = (A / 180.0)·π in radians, rounded to single precision.
float angleInRadians(std::int32_t degrees);

// Centre, lower and upper edge of a channel in keV: E0 = i·W − W·0.5,
// Elo = E0 − W·0.5, Ehi = W·0.5 + E0.
struct ChannelEnergies {
    float centre;
    float lower;
    float upper;
};
ChannelEnergies channelEnergies(int channel, float width);

// The primary energy that Compton scattering at θ turns into the energy e:
// E1 = 511·e / (511 − (1 − cos θ)·e).  hasPrimaryEnergy tells whether the
// denominator is positive, that is whether there is a positive solution.
bool hasPrimaryEnergy(float e, float theta);
float primaryEnergy(float e, float theta);

// x = sin(angle / 2) / (12.4 / E1) in 1/Å, for a rounded angle in radians.
float momentumTransfer(float angle, float primaryEnergy);

// Share f of the primary-energy interval [e1lo, e1hi] that falls into each
// primary channel m it covers; channels above 1024 are dropped.
struct Share {
    int channel;
    float f;
};
std::vector<Share> spreadShares(float e1lo, float e1hi, float width);

// End channel K: the first channel from 300 up whose count is 0; 1024 when
// no zero count follows.
int endChannel(const Spectrum& counts);

struct ConversionInput {
    Spectrum counts{};
    std::int32_t angle = 0;           // scattering angle A in whole degrees
    float attenuationLength = 0.0f;   // self-attenuation length L in cm
    float channelWidth = 0.0f;        // W in keV per channel
};

// Refuses input for which a step of the conversion is undefined, before any
// channel is converted: unusable tables, W not above 0, a negative count, an
// angle without a positive momentum transfer (A = 0), no counts in the
// channels to convert (T_p would be 0), a channel edge without a positive
// Compton solution, and a lookup target at or beyond the last row of its
// table.  Throws ConversionError (or fixedio::Error for the tables).
void checkConversionInput(const ConversionInput& input, const ScattererData& scatterer);

// Called with the channel number before each converted channel.
using ProgressFn = std::function<void(int channel)>;

// The whole conversion: checks the input, converts channels 21..K onto the
// primary grid, normalises to the measured total and corrects channels
// 117..1024 for the attenuation in the scatterer.  Returns Q(1..1024).
Spectrum convertSpectrum(const ConversionInput& input, const ScattererData& scatterer,
                         const ProgressFn& progress = {});

} // namespace tvconv
