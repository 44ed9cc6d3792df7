// Logarithms and exponentials four at a time, with exactly the results of
// the C library's std::log and std::exp.
//
// The conversion's angle sum takes 180 logarithms and 180 exponentials per
// channel, which made them most of a run's time.  On processors with AVX2
// and FMA these routines work out each value to well over double precision
// and take it only when its rounding cannot differ from the library's: a
// logarithm must lie far enough from a rounding boundary of double
// precision, an exponential (which the conversion rounds to single
// precision at once) far enough from one of single precision.  The library's
// own function gives every other value, so results are bit-identical
// whichever way they were reached.  Elsewhere every value comes from the
// library.
#pragma once

#include <cstddef>

namespace tvconv::vecmath {

// True when this processor runs the four-lane routines and they are not
// switched off.
bool vectorPath();

// Switches the four-lane routines off (false) or back on where the
// processor has them; tests compare both paths.
void allowVectorPath(bool allowed);

// out[k] = std::log(double(x[k])) for k < n.
void logOfFloats(const float* x, double* out, std::size_t n);

// out[k] = float(std::exp(a[k])) for k < n.
void expToFloats(const double* a, float* out, std::size_t n);

} // namespace tvconv::vecmath
