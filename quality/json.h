// The beam-quality record as a JSON document, and JSON documents
// (nlohmann::ordered_json: members keep the order they were added in)
// written as one line of text, the way the command line writes its records.
#pragma once

#include "quality/beamquality.h"

#include <nlohmann/json.hpp>

#include <string>

namespace quality {

// One value on one line without spaces.  Numbers with ten significant
// digits, fixed or exponent form as printf's "%.10g" chooses (0.1, 42.5,
// 1e-05, 1.23456789e+11, -0); a number that is not finite is null.  Strings:
// quote and backslash escaped, control characters as \u00XX, valid UTF-8
// passes as it is, and a byte that is not UTF-8 (a name in another
// encoding) becomes the code point of the same number, so nothing is lost.
std::string jsonLine(const nlohmann::ordered_json& value);

// The record of `tarvik quality --json`: "file", "kev_per_channel", then
// each figure and its standard uncertainty ("hvl1_al_mm", "hvl1_al_mm_u",
// ...), in the order of csvHeader(); what is missing is NaN (null).
nlohmann::ordered_json jsonRecord(const BeamQuality& q, const std::string& file);

} // namespace quality
