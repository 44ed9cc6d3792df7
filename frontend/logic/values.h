// The front end's rules for turning entry-box texts into numbers and numbers
// into texts.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarvik {

// Leading-number value: blanks, tabs and line feeds are removed from the
// whole text, then the longest beginning that forms a number (sign, digits,
// optional "." and digits, optional exponent E[sign]digits) is taken; 0 when
// the text does not begin with a number.  "1 5" gives 15, "0,2" gives 0.
double leadingNumber(std::string_view text);

// Shortest decimal form with at most 15 significant digits, no trailing zeros
// or point, "-" only for negatives ("0.2", "150", "0.25"); no value gives "".
std::string numberAsText(std::optional<double> value);
std::string numberAsText(double value);

// Formatting pattern ("####", "0.000", " 000000", "000", "00.00", "0000",
// "###0", "##0.00 keV", "0.0"): rounded to the pattern's decimals, halves away
// from zero; the integer part is written in full even when longer than the
// pattern; "####" gives "" for 0.
std::string formatPattern(double value, std::string_view pattern);

} // namespace tarvik
