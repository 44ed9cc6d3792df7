// Conversion between the windows' UTF-8 texts and the Shift_JIS (code page
// 932) bytes of the text files the front end reads and writes.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarvik {

// UTF-8 to Shift_JIS.  Empty when the text holds a character that code page
// 932 cannot represent (or is not valid UTF-8).
std::optional<std::string> toSjis(std::string_view utf8);

// Shift_JIS to UTF-8.  A byte sequence that is not valid Shift_JIS becomes
// U+FFFD, so a damaged file still shows its readable parts.
std::string fromSjis(std::string_view sjis);

// Number of bytes the text takes in Shift_JIS; empty when it cannot be
// represented.
std::optional<std::size_t> sjisLength(std::string_view utf8);

} // namespace tarvik
