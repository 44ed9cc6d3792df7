// What the readers share: lines with their numbers, strict numbers and
// counts, the checks on text and on times, and one reader per format.
#pragma once

#include "spectrum.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace formats::detail {

// ---- failing ----

[[noreturn]] void fail(const std::string& file, const std::string& where, const std::string& what);
std::string lineWhere(std::size_t number);
std::string byteWhere(std::size_t offset);
// A piece of the file for a message: in quotes, cut to 40 bytes, with bytes
// outside printable ASCII shown as \xNN.
std::string quoted(std::string_view token);

// ---- text ----

struct Line {
    std::string_view text;   // without its line end
    std::size_t number = 0;  // 1-based
};

// The lines of a text: LF, CR LF and a lone CR each end a line.
class Lines {
public:
    explicit Lines(std::string_view text) : text_(text) {}
    bool next(Line& line);
    // The line that next() would return, without taking it.
    bool peek(Line& line) const;
    std::size_t lastNumber() const { return number_; }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
    std::size_t number_ = 0;
};

// A text format's bytes: refuses UTF-16/UTF-32 and NUL bytes (not text) and
// returns the text without a UTF-8 byte-order mark.
std::string_view requireText(std::string_view bytes, const std::string& file);

// Descriptive text for a person in UTF-8: the bytes themselves when they are
// valid UTF-8, else read as Shift_JIS (undecodable bytes become U+FFFD).
// Control characters become blanks.
std::string textOf(std::string_view raw);

std::string_view trim(std::string_view s);
std::vector<std::string_view> splitBlanks(std::string_view s);  // blanks and tabs
bool startsWith(std::string_view s, std::string_view head);
// Case-insensitive ASCII comparison.
bool equalsNoCase(std::string_view a, std::string_view b);
bool containsNoCase(std::string_view s, std::string_view part);

// ---- numbers ----

// The whole token as a finite decimal number ("+1.5", "2e3"); no "inf",
// "nan", hexadecimal or trailing characters.
std::optional<double> parseReal(std::string_view token);

// Counts are whole numbers from 0 to 2^53 (exact in double arithmetic).
inline constexpr std::uint64_t kMaxCount = std::uint64_t{1} << 53;

// A count token: digits, or a decimal number whose value is whole ("12.0",
// "1.2E1").  nullopt with `why` set to what is wrong.
std::optional<std::uint64_t> parseCount(std::string_view token, std::string& why);

// ---- times ----

// Refuses a negative or zero live or real time and a live time above the
// real time (more than 1 ms: both are written to milliseconds at best).
void checkTimes(const std::optional<double>& live, const std::optional<double>& real, const std::string& file,
                const std::string& where);

// "2024-05-01T10:20:30" from its parts; nullopt when a part is out of range.
std::optional<std::string> isoTime(int year, int month, int day, int hour, int minute, int second);
// "mm/dd/yyyy hh:mm:ss" or "yyyy/mm/dd hh:mm:ss" (also with '-' or '.'
// between the date's parts); nullopt for anything else.
std::optional<std::string> isoFromDateText(std::string_view text);

// The coefficients of p(k + shift): a calibration polynomial of the file's
// channel numbers as one of the record's (0 = the first channel read).
std::vector<double> shiftedPolynomial(const std::vector<double>& coefficients, double shift);

// Refuses a spectrum without channels or with more than kMaxChannels.
void checkChannelCount(std::size_t channels, const std::string& file, const std::string& where);

// ---- readers (one per format, in its own file) ----

std::vector<Spectrum> readPmca(std::string_view bytes, const std::string& file);
std::vector<Spectrum> readSpe(std::string_view bytes, const std::string& file);
std::vector<Spectrum> readChn(std::string_view bytes, const std::string& file);
std::vector<Spectrum> readN42(std::string_view bytes, const std::string& file);
std::vector<Spectrum> readPlainText(std::string_view bytes, const std::string& file);
std::vector<Spectrum> readMeasuredCsv(std::string_view bytes, const std::string& file, int firstDataLine);

// Whether a text reads as plain columns (at most one header line before
// rows of numbers) rather than the measured layout with its header lines.
bool looksLikePlainColumns(std::string_view text);

} // namespace formats::detail
