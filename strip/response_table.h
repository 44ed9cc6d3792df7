// Detector response tables: one file per energy on the 0.5 keV grid in the
// folder RES, 30 records of ten 8-column real fields holding R(1)..R(300),
// the counts recorded in each 0.5 keV response bin when 500000 photons of the
// file's energy are incident.
#pragma once

#include <array>
#include <filesystem>
#include <string>

#include "fixedio/fixedio.h"

namespace tvstrip {

// R(0..300); R(0) is never read from a file and is always 0.
using ResponseTable = std::array<float, 301>;

inline constexpr int kResponseBins = 300;
inline constexpr int kResponseRecords = 30;

// Reads the 30 records "(10F8.0)" that follow in `in` into R(1..300).
// Columns after 80 and records after the 30th are not read.  Throws
// fixedio::Error naming the file and line for a short file, a field that is
// not a number, or a value too large for single precision.
ResponseTable readResponseTable(fixedio::LineReader& in);

// Reads a response table file.  Throws fixedio::Error naming the file when
// it cannot be opened or read.  Nothing is ever created.
ResponseTable loadResponseTable(const std::filesystem::path& file);

// The name of the response table of an energy code as the stripping program
// writes it: "RES\" + code + "kev.dat", e.g. "RES\235kev.dat" for 23.5 keV.
// The code is written in a field of 4 columns from 1000 on, 3 from 100 and
// 2 below, so codes 10..9999 give a name without blanks.
std::string responseFileName(int code);

} // namespace tvstrip
