// Shift_JIS handling of the bytes that the front end writes into the
// exchange files, in the names the fixed-column readers use: cutting texts
// without splitting a double-byte character, and turning a result path
// written with "\" into a path of this platform in the file system's
// encoding.  The conversions themselves live in the shared module sjis/.
#pragma once

#include "sjis/sjis.h"

#include <filesystem>
#include <string>
#include <string_view>

namespace fixedio {

// True for a byte that starts a Shift_JIS double-byte character.
inline bool isSjisLeadByte(unsigned char byte) { return sjis::isLeadByte(byte); }

// "A n" for Shift_JIS text (see sjis::cutField).
inline std::string sjisTextField(std::string_view line, std::size_t n) { return sjis::cutField(line, n); }

// Shift_JIS to UTF-8 for names of files; bytes that do not convert are kept
// as they are.
inline std::string sjisToUtf8(std::string_view text) { return sjis::toUtf8ForPath(text); }

// A path as written in an exchange file ("Tarvik_data\name.mca1",
// "RES\235kev.dat"): every backslash that stands as a character of its own
// (not the second byte of a double-byte character) becomes this platform's
// separator, and the name is converted to the file system's encoding.
std::filesystem::path exchangePath(std::string_view sjisPath);

} // namespace fixedio
