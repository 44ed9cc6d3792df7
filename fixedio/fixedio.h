// Fixed-column records of the console programs' text files: reading lines,
// text, integer and real fields, list-directed values, and writing I, F and E
// fields with CR LF line ends.  Lengths and columns are counted in bytes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace fixedio {

// A failure while reading or writing a record file.  The message names the
// file, the line number (when there is one) and what was expected, e.g.
//   TempFile.dat, line 4: expected a whole number (tube voltage in kV), found "abc"
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The width and the implied decimals of one real field ("E9.2" is {9, 2},
// "F8.0" is {8, 0}).
struct RealField {
    int width;
    int decimals;
};

// ---- field parsing (no file context; nullopt-free: they throw std::invalid_argument
// ---- with a short description, which LineReader turns into an Error) ----

// "A n": the first n bytes of the line; a shorter line is padded with blanks.
std::string textField(std::string_view line, std::size_t n);

// Drops trailing blanks (used when a text field is a file name).
std::string trimTrailing(std::string_view text);

// Integer field: blanks anywhere are ignored, all blank reads 0, an optional
// sign, then digits.  Throws std::invalid_argument when it is not a number
// or does not fit 32 bits.
std::int32_t parseIntField(std::string_view field);

// Real field with `decimals` implied decimal places when it has no decimal
// point.  Blanks are ignored, all blank reads 0; an exponent may follow as
// E, D (either case) with an optional sign, or as a bare sign ("1.5+2").
// Returns the decimal number in the canonical form accepted by
// std::from_chars ("12345e-2"), so callers can round it once, correctly,
// to float or to double.
std::string canonicalRealField(std::string_view field, int decimals);
float parseRealFieldFloat(std::string_view field, int decimals);
double parseRealFieldDouble(std::string_view field, int decimals);

// The first item of a line in list-directed (free) format: leading blanks
// skipped, the item ends at a blank, comma, slash or the line end.
// Returns an empty view when the line holds no item.
std::string_view firstListItem(std::string_view line);

// ---- reading files ----

// A text file read whole, handed out line by line.  Accepts CR LF and LF
// line ends (the CR is not part of the line).  Every read that runs past the
// end or cannot convert its field throws an Error that names the file, the
// line number and what was expected.
class LineReader {
public:
    // Reads the file; throws Error ("<name>: cannot open the file") when it
    // does not exist or cannot be read.  Nothing is ever created.  A named
    // pipe or device is refused without waiting on it, and of a file larger
    // than kMaxInputBytes only that much is read: a read beyond it throws.
    // `displayName` is how messages name the file (defaults to the path).
    explicit LineReader(const std::filesystem::path& path, std::string displayName = {});
    // A reader over text already in memory (tests, benchmarks); `cut` when
    // the text is only the first part of a larger file.
    static LineReader fromText(std::string displayName, std::string content, bool cut = false);

    const std::string& name() const { return name_; }
    // Number of the line read last (0 before the first read).
    int lineNumber() const { return line_; }
    bool atEnd() const { return pos_ >= content_.size(); }

    // The next whole line; `expected` describes it for the error message.
    std::string line(std::string_view expected);
    // The first n bytes of the next line (all of it when shorter), without
    // its line end.  Unlike line(), a line that runs past the part of an
    // oversized file that was read is accepted when n bytes of it were.
    std::string lineStart(std::size_t n, std::string_view expected);
    // The next line as an "A n" text field.
    std::string text(std::size_t n, std::string_view expected);
    // The next line read list-directed: its first item as a whole number or a real.
    std::int32_t listInt(std::string_view expected);
    float listFloat(std::string_view expected);
    // The next line as `count` integer fields of `width` columns ("(10I7)").
    std::vector<std::int32_t> ints(int count, int width, std::string_view expected);
    // The next line as real fields of the given widths and decimals
    // ("(10F8.0)", "(E9.3,5E9.2)"), each rounded once to float.
    std::vector<float> floats(std::initializer_list<RealField> fields, std::string_view expected);
    std::vector<float> floats(int count, RealField field, std::string_view expected);

    // An Error naming this file and the current line.
    Error error(std::string_view what) const;

    // A text read from the current line that is copied into a result file
    // line by line must not hold a CR of its own: every reader of the result
    // takes a lone CR for a line end, and each record after it would be read
    // one line off.  Throws an Error naming this file and line, and `what`.
    void requireNoCarriageReturn(std::string_view text, std::string_view what) const;

private:
    LineReader() = default;
    std::vector<float> floatsAt(const std::string& ln, const std::vector<RealField>& fields,
                                std::string_view expected);
    template <class FieldOf>
    std::vector<float> floatsIn(const std::string& ln, std::size_t count, FieldOf fieldOf, std::string_view expected);

    std::string name_;
    std::string content_;
    Error tooLarge();

    std::size_t pos_ = 0;
    int line_ = 0;
    bool cut_ = false;
};

// ---- writing ----

// "I w": right-justified whole number; w asterisks when it does not fit.
std::string formatI(std::int64_t value, int width);
// "F w.d": fixed point, the exact binary value rounded to d decimals with a
// tie rounded away from zero; no 0 before the decimal point ("    .10");
// w asterisks when it does not fit.
std::string formatF(double value, int width, int decimals);
// "E w.d": ".ddddE+xx" right-justified (no 0 before the point); w asterisks
// when it does not fit.
std::string formatE(double value, int width, int decimals);

// Lines for a text file with CR LF line ends.
class LineWriter {
public:
    // Appends one line and its CR LF.
    void line(std::string_view text);
    // Room for `bytes` of content without growing the buffer again.
    void reserve(std::size_t bytes) { content_.reserve(bytes); }
    const std::string& content() const { return content_; }
    // The content, moved out: the writer is empty afterwards.
    std::string take() { return std::move(content_); }

private:
    std::string content_;
};

} // namespace fixedio
