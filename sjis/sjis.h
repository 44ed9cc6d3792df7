// Shift_JIS (code page 932), the encoding of every text file that the front
// end and the console programs exchange.  One module for both sides, with
// two rules for bytes that do not convert, each named for what it serves:
//
//  * toUtf8ForPath   keeps such a byte as it is, so a file name read from an
//                    exchange file still names the file that carries those
//                    bytes on disk;
//  * toUtf8ForDisplay turns it into U+FFFD, so a damaged file still shows
//                    its readable parts in a window as valid UTF-8.
//
// Decoding uses a table made at build time from the C library's CP932
// converter (sjis_tablegen), so it needs no converter at run time; encoding
// (fromUtf8, encodedLength, used by the front end only) uses the converter.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace sjis {

// True for a byte that starts a double-byte character (0x81-0x9F,
// 0xE0-0xFC).  Half-width katakana (0xA1-0xDF) are single bytes.
bool isLeadByte(unsigned char byte);

// The first n bytes of a line as a fixed-width text field, padded with
// blanks to n.  When the line goes on beyond byte n and byte n is the first
// half of a double-byte character, that orphaned half becomes a blank.  A
// line of n bytes or fewer passes byte for byte, even when it ends in a lone
// first half.
std::string cutField(std::string_view line, std::size_t n);

// Shift_JIS to UTF-8 for names of files: a byte that does not convert (an
// invalid second byte, a lone first byte at the end, 0x80, 0xA0, 0xFD-0xFF)
// is copied unchanged.  Never fails.
std::string toUtf8ForPath(std::string_view text);

// Shift_JIS to UTF-8 for texts shown to a person: every byte that does not
// convert becomes U+FFFD, and conversion goes on with the next byte.
std::string toUtf8ForDisplay(std::string_view text);

// UTF-8 to Shift_JIS.  Empty when the text holds a character that code page
// 932 cannot represent (U+FFFD among them) or is not valid UTF-8.
std::optional<std::string> fromUtf8(std::string_view utf8);

// Bytes the text takes in Shift_JIS; empty when it cannot be represented.
std::optional<std::size_t> encodedLength(std::string_view utf8);

} // namespace sjis
