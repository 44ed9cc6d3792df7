// Shift_JIS (code page 932) aware handling of the bytes that the front end
// writes into the exchange files: cutting texts without splitting a
// double-byte character, and turning a result path written with "\" into a
// path of this platform in the file system's encoding.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace fixedio {

// True for a byte that starts a Shift_JIS double-byte character
// (0x81-0x9F, 0xE0-0xFC).
bool isSjisLeadByte(unsigned char byte);

// "A n" for Shift_JIS text: the first n bytes, padded with blanks to n; when
// byte n is the first half of a double-byte character whose second half was
// cut off, that orphaned byte becomes a blank.
std::string sjisTextField(std::string_view line, std::size_t n);

// Converts Shift_JIS (CP932) text to UTF-8; bytes that do not convert are
// kept as they are.
std::string sjisToUtf8(std::string_view text);

// A path as written in an exchange file ("Tarvik_data\name.mca1",
// "RES\235kev.dat"): every backslash that stands as a character of its own
// (not the second byte of a double-byte character) becomes this platform's
// separator, and the name is converted to the file system's encoding.
std::filesystem::path exchangePath(std::string_view sjisPath);

} // namespace fixedio
