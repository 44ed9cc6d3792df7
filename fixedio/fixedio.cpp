#include "fixedio.h"
#include "files.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <limits>
#include <type_traits>
#include <sstream>

namespace fixedio {

namespace {

// What a real field that overflows its floating-point type throws, so that
// the record readers can say "too large" rather than "not a number".
constexpr const char* kOutOfRange = "number out of range";

bool isBlank(char c) { return c == ' ' || c == '\t'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The field `index` of `width` columns on a line, short lines padded with
// blanks (an empty view stands for an all-blank field).
std::string_view fieldAt(std::string_view line, std::size_t start, std::size_t width)
{
    if (start >= line.size()) return {};
    return line.substr(start, width);
}

std::string quoted(std::string_view s)
{
    std::string out = "\"";
    out.append(s);
    out += '"';
    return out;
}

} // namespace

std::string textField(std::string_view line, std::size_t n)
{
    std::string out(line.substr(0, std::min(n, line.size())));
    out.resize(n, ' ');
    return out;
}

std::string trimTrailing(std::string_view text)
{
    std::size_t end = text.size();
    while (end > 0 && isBlank(text[end - 1])) --end;
    return std::string(text.substr(0, end));
}

std::int32_t parseIntField(std::string_view field)
{
    bool negative = false;
    bool sawSign = false;
    bool sawDigit = false;
    std::int64_t value = 0;
    for (char c : field) {
        if (c == ' ') continue;
        if ((c == '+' || c == '-') && !sawSign && !sawDigit) {
            sawSign = true;
            negative = (c == '-');
            continue;
        }
        if (!isDigit(c)) throw std::invalid_argument("not a whole number");
        sawDigit = true;
        value = value * 10 + (c - '0');
        if (value > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1)
            throw std::invalid_argument("whole number too large");
    }
    if (sawSign && !sawDigit) throw std::invalid_argument("sign without digits");
    if (negative) value = -value;
    if (value > std::numeric_limits<std::int32_t>::max() ||
        value < std::numeric_limits<std::int32_t>::min())
        throw std::invalid_argument("whole number too large");
    return static_cast<std::int32_t>(value);
}

std::string canonicalRealField(std::string_view field, int decimals)
{
    // Collect the characters that count: blanks are ignored inside the field.
    std::string s;
    for (char c : field)
        if (c != ' ') s += c;
    if (s.empty()) return "0";

    std::size_t i = 0;
    std::string out;
    if (s[i] == '+' || s[i] == '-') {
        if (s[i] == '-') out += '-';
        ++i;
    }
    std::string digits;  // mantissa digits without the point
    bool point = false;
    int fractionDigits = 0;
    for (; i < s.size(); ++i) {
        char c = s[i];
        if (isDigit(c)) {
            digits += c;
            if (point) ++fractionDigits;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (digits.empty()) throw std::invalid_argument("not a number");

    long exponent = 0;
    if (i < s.size()) {
        char c = s[i];
        bool letter = (c == 'E' || c == 'e' || c == 'D' || c == 'd');
        if (letter) ++i;
        if (!letter && c != '+' && c != '-') throw std::invalid_argument("not a number");
        bool negExp = false;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
            negExp = (s[i] == '-');
            ++i;
        } else if (!letter) {
            throw std::invalid_argument("not a number");
        }
        if (i >= s.size()) {
            // "1.5E" with nothing after the letter: the exponent is 0.
            if (!letter) throw std::invalid_argument("not a number");
        }
        // A field may hold any number of exponent digits ("1-999999" fits
        // eight columns).  Beyond 100000 the value is already far outside
        // every floating-point range, so the exponent saturates there: an
        // underflow still reads 0 and an overflow is still refused.
        for (; i < s.size(); ++i) {
            if (!isDigit(s[i])) throw std::invalid_argument("not a number");
            if (exponent < 100000) exponent = exponent * 10 + (s[i] - '0');
        }
        if (negExp) exponent = -exponent;
    }
    // Without a decimal point the field has `decimals` implied decimal places.
    long scale = exponent - (point ? fractionDigits : decimals);
    out += digits;
    out += 'e';
    out += std::to_string(scale);
    return out;
}

namespace {

template <typename T>
T fromCanonical(const char* first, const char* last)
{
    // The text is a number from_chars reads in full: the canonical form, or
    // a plain field too long for the one-pass reading in parseReal.
    T value{};
    auto [ptr, ec] = std::from_chars(first, last, value);
    if (ec == std::errc::result_out_of_range) {
        // Underflow reads as zero; overflow is an error.
        std::string_view text(first, static_cast<std::size_t>(last - first));
        if (text.find("e-") != std::string_view::npos) return T{0};
        throw std::invalid_argument(kOutOfRange);
    }
    if (ec != std::errc() || ptr != last) throw std::invalid_argument("not a number");
    return value;
}

// The common form of a field, "[-]digits[.digits]" between blanks, is read
// in one pass: when its digits form an integer m held exactly in T and its
// power of ten 10^k is exact in T too, m / 10^k (one division of two exact
// values) is the correctly rounded value from_chars would find.  Any other
// field goes through the canonical form.
template <typename T>
T parseReal(std::string_view field, int decimals)
{
    constexpr std::uint64_t exactMantissa = std::uint64_t{1} << std::numeric_limits<T>::digits;
    constexpr int exactPowers = std::is_same_v<T, float> ? 10 : 22;
    static constexpr double powers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                        1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    const char* p = field.data();
    const char* const end = p + field.size();
    while (p != end && *p == ' ') ++p;
    if (p == end) return T{0};
    const char* const first = p;
    const bool negative = *p == '-';
    if (negative) ++p;
    std::uint64_t m = 0;
    int digits = 0, fraction = -1;
    bool large = false;
    for (; p != end; ++p) {
        const char c = *p;
        if (c >= '0' && c <= '9') {
            if (m > exactMantissa)
                large = true;  // stays too large whatever follows
            else
                m = m * 10 + static_cast<std::uint64_t>(c - '0');
            ++digits;
            if (fraction >= 0) ++fraction;
        } else if (c == '.' && fraction < 0) {
            fraction = 0;
        } else {
            break;
        }
    }
    const char* const last = p;
    while (p != end && *p == ' ') ++p;
    const bool plain = p == end && digits > 0 && (fraction >= 0 || decimals == 0);
    if (plain) {
        const int k = fraction < 0 ? 0 : fraction;
        if (!large && m <= exactMantissa && k <= exactPowers) {
            const T v = static_cast<T>(m) / static_cast<T>(powers[k]);
            return negative ? -v : v;
        }
        return fromCanonical<T>(first, last);
    }
    std::string canon = canonicalRealField(field, decimals);
    return fromCanonical<T>(canon.data(), canon.data() + canon.size());
}

} // namespace

float parseRealFieldFloat(std::string_view field, int decimals)
{
    return parseReal<float>(field, decimals);
}

double parseRealFieldDouble(std::string_view field, int decimals)
{
    return parseReal<double>(field, decimals);
}

std::string_view firstListItem(std::string_view line)
{
    std::size_t i = 0;
    while (i < line.size() && isBlank(line[i])) ++i;
    std::size_t start = i;
    while (i < line.size() && !isBlank(line[i]) && line[i] != ',' && line[i] != '/') ++i;
    return line.substr(start, i - start);
}

// ---- LineReader ----

LineReader::LineReader(const std::filesystem::path& path, std::string displayName)
    : name_(displayName.empty() ? path.string() : std::move(displayName))
{
    bool complete = false;
    switch (readFileHead(path, kMaxInputBytes, content_, complete)) {
    case ReadStatus::Ok:
        break;
    case ReadStatus::Missing:
    case ReadStatus::NotAFile:
    case ReadStatus::Special:
        throw Error(name_ + ": the file does not exist or is not a regular file");
    case ReadStatus::CannotOpen:
        throw Error(name_ + ": cannot open the file");
    case ReadStatus::CannotRead:
        throw Error(name_ + ": cannot read the file");
    }
    cut_ = !complete;
}

LineReader LineReader::fromText(std::string displayName, std::string content, bool cut)
{
    LineReader r;
    r.name_ = std::move(displayName);
    r.content_ = std::move(content);
    r.cut_ = cut;
    return r;
}

Error LineReader::tooLarge()
{
    return error("the file is larger than " + std::to_string(kMaxInputBytes >> 20) +
                 " MiB, which no file of this kind is; only that much of it was read");
}

void LineReader::requireNoCarriageReturn(std::string_view text, std::string_view what) const
{
    const std::size_t at = text.find('\r');
    if (at == std::string_view::npos)
        return;
    std::string msg(what);
    msg += " holds a carriage return (CR) at column " + std::to_string(at + 1) +
           "; it would end the line early in the result file";
    throw error(msg);
}

Error LineReader::error(std::string_view what) const
{
    std::string msg = name_;
    if (line_ > 0) msg += ", line " + std::to_string(line_);
    msg += ": ";
    msg.append(what);
    return Error(msg);
}

std::string LineReader::line(std::string_view expected)
{
    if (atEnd()) {
        ++line_;
        if (cut_) throw tooLarge();
        std::string what = "the file ends early, expected ";
        what.append(expected);
        throw error(what);
    }
    std::size_t end = content_.find('\n', pos_);
    if (end == std::string::npos && cut_) {
        ++line_;
        throw tooLarge();
    }
    std::size_t next = (end == std::string::npos) ? content_.size() : end + 1;
    if (end == std::string::npos) end = content_.size();
    std::size_t stop = end;
    if (stop > pos_ && content_[stop - 1] == '\r') --stop;
    std::string result = content_.substr(pos_, stop - pos_);
    pos_ = next;
    ++line_;
    return result;
}

std::string LineReader::lineStart(std::size_t n, std::string_view expected)
{
    if (!atEnd() && cut_ && content_.find('\n', pos_) == std::string::npos && content_.size() - pos_ >= n) {
        std::string result = content_.substr(pos_, n);
        pos_ = content_.size();
        ++line_;
        return result;
    }
    std::string ln = line(expected);
    if (ln.size() > n) ln.resize(n);
    return ln;
}

std::string LineReader::text(std::size_t n, std::string_view expected)
{
    return textField(line(expected), n);
}

std::int32_t LineReader::listInt(std::string_view expected)
{
    std::string ln = line(expected);
    std::string_view item = firstListItem(ln);
    std::string what = "expected ";
    what.append(expected);
    if (item.empty()) throw error(what + " as a whole number, found an empty line");
    try {
        return parseIntField(item);
    } catch (const std::invalid_argument&) {
        throw error(what + " as a whole number, found " + quoted(item));
    }
}

float LineReader::listFloat(std::string_view expected)
{
    std::string ln = line(expected);
    std::string_view item = firstListItem(ln);
    std::string what = "expected ";
    what.append(expected);
    if (item.empty()) throw error(what + " as a number, found an empty line");
    try {
        return parseRealFieldFloat(item, 0);
    } catch (const std::invalid_argument&) {
        throw error(what + " as a number, found " + quoted(item));
    }
}

std::vector<std::int32_t> LineReader::ints(int count, int width, std::string_view expected)
{
    std::string ln = line(expected);
    std::vector<std::int32_t> values;
    values.reserve(count);
    for (int f = 0; f < count; ++f) {
        std::string_view field = fieldAt(ln, static_cast<std::size_t>(f) * width, width);
        try {
            values.push_back(parseIntField(field));
        } catch (const std::invalid_argument&) {
            std::string what = "expected ";
            what.append(expected);
            what += ", field " + std::to_string(f + 1) + " (columns " +
                    std::to_string(f * width + 1) + "-" + std::to_string((f + 1) * width) +
                    ") is not a whole number: " + quoted(field);
            throw error(what);
        }
    }
    return values;
}

std::vector<float> LineReader::floatsAt(const std::string& ln, const std::vector<RealField>& fields,
                                        std::string_view expected)
{
    return floatsIn(ln, fields.size(), [&](std::size_t f) { return fields[f]; }, expected);
}

template <class FieldOf>
std::vector<float> LineReader::floatsIn(const std::string& ln, std::size_t count, FieldOf fieldOf,
                                        std::string_view expected)
{
    std::vector<float> values;
    values.reserve(count);
    std::size_t column = 0;
    for (std::size_t f = 0; f < count; ++f) {
        const RealField layout = fieldOf(f);
        std::size_t width = static_cast<std::size_t>(layout.width);
        std::string_view field = fieldAt(ln, column, width);
        try {
            values.push_back(parseRealFieldFloat(field, layout.decimals));
        } catch (const std::invalid_argument& e) {
            std::string what = "expected ";
            what.append(expected);
            what += ", field " + std::to_string(f + 1) + " (columns " + std::to_string(column + 1) +
                    "-" + std::to_string(column + width) + ") " +
                    (std::string_view(e.what()) == kOutOfRange ? "is too large for single precision: "
                                                               : "is not a number: ") +
                    quoted(field);
            throw error(what);
        }
        column += width;
    }
    return values;
}

std::vector<float> LineReader::floats(std::initializer_list<RealField> fields, std::string_view expected)
{
    std::string ln = line(expected);
    return floatsAt(ln, std::vector<RealField>(fields), expected);
}

std::vector<float> LineReader::floats(int count, RealField field, std::string_view expected)
{
    // One field layout repeated: no list of fields is built for each line.
    std::string ln = line(expected);
    return floatsIn(ln, static_cast<std::size_t>(count), [field](std::size_t) { return field; }, expected);
}

// ---- writing ----

std::string formatI(std::int64_t value, int width)
{
    std::string digits = std::to_string(value);
    if (static_cast<int>(digits.size()) > width) return std::string(static_cast<std::size_t>(width), '*');
    return std::string(static_cast<std::size_t>(width) - digits.size(), ' ') + digits;
}

namespace {

// The decimal digits of |value| rounded to `decimals` places, a tie rounded
// away from zero, decided on the exact binary value.  Returns the integer
// part and the fraction digits.
void roundExact(double value, int decimals, std::string& intPart, std::string& fracPart)
{
    // glibc prints the exact binary value correctly rounded at any precision.
    // Twenty extra digits are enough to tell a true tie from a value just
    // beside it: a double that is not a tie differs from it by at least one
    // unit in the 17th significant digit.
    const int extra = 24;
    char buf[512];
    // std::to_chars with a precision writes exactly what printf's "%.*f"
    // writes, several times faster (a batch formats thousands of records).
    const auto r = std::to_chars(buf, buf + sizeof buf - 1, std::fabs(value), std::chars_format::fixed,
                                 decimals + extra);
    if (r.ec == std::errc()) *r.ptr = '\0';
    else std::snprintf(buf, sizeof buf, "%.*f", decimals + extra, std::fabs(value));
    std::string s(buf);
    std::size_t dot = s.find('.');
    std::string ip = s.substr(0, dot);
    std::string fp = s.substr(dot + 1);
    bool roundUp = fp[static_cast<std::size_t>(decimals)] >= '5';
    std::string kept = ip + fp.substr(0, static_cast<std::size_t>(decimals));
    if (roundUp) {
        int i = static_cast<int>(kept.size()) - 1;
        while (i >= 0) {
            if (kept[static_cast<std::size_t>(i)] == '9') {
                kept[static_cast<std::size_t>(i)] = '0';
                --i;
            } else {
                ++kept[static_cast<std::size_t>(i)];
                break;
            }
        }
        if (i < 0) kept.insert(kept.begin(), '1');
    }
    std::size_t intLen = kept.size() - static_cast<std::size_t>(decimals);
    intPart = kept.substr(0, intLen);
    fracPart = kept.substr(intLen);
    // Drop leading zeros of the integer part; an integer part of 0 is not written.
    std::size_t nz = intPart.find_first_not_of('0');
    intPart = (nz == std::string::npos) ? std::string() : intPart.substr(nz);
}

std::string fitRight(const std::string& text, int width)
{
    if (static_cast<int>(text.size()) > width) return std::string(static_cast<std::size_t>(width), '*');
    return std::string(static_cast<std::size_t>(width) - text.size(), ' ') + text;
}

// |value| x 10^decimals rounded to a whole number, a tie away from zero,
// exactly: |value| = m x 2^e with m < 2^53, so |value| x 10^decimals is
// m x 10^decimals shifted by e bits, whose dropped bits decide the rounding.
// False when the value or the result is outside what 128 and 64 bits hold
// (the caller then takes the decimal expansion).
bool roundScaled(double value, int decimals, std::uint64_t& scaled)
{
    static constexpr std::uint64_t powers[] = {1,      10,      100,      1000,      10000,
                                               100000, 1000000, 10000000, 100000000, 1000000000};
    if (decimals < 0 || decimals > 9) return false;
    int e = 0;
    const double f = std::frexp(std::fabs(value), &e);
    if (f == 0.0) {
        scaled = 0;
        return true;
    }
    const auto m = static_cast<std::uint64_t>(std::ldexp(f, 53));  // exact: f has 53 bits
    e -= 53;
    using u128 = unsigned __int128;
    const u128 n = static_cast<u128>(m) * powers[decimals];  // below 2^83
    u128 q = 0;
    if (e >= 0) {
        if (e > 10) return false;
        q = n << e;
    } else {
        const int shift = -e;
        if (shift > 120) return false;
        q = n >> shift;
        const u128 rest = n - (q << shift);
        if (rest >= (static_cast<u128>(1) << (shift - 1))) ++q;
    }
    if (q > std::numeric_limits<std::uint64_t>::max()) return false;
    scaled = static_cast<std::uint64_t>(q);
    return true;
}

} // namespace

std::string formatF(double value, int width, int decimals)
{
    if (!std::isfinite(value)) return std::string(static_cast<std::size_t>(width), '*');
    std::string ip, fp;
    if (std::uint64_t scaled = 0; roundScaled(value, decimals, scaled)) {
        // The digits of the rounded number, the last `decimals` of them the
        // fraction; an integer part of 0 is not written.
        char buf[32];
        const auto r = std::to_chars(buf, buf + sizeof buf, scaled);
        std::string digits(buf, r.ptr);
        if (digits.size() < static_cast<std::size_t>(decimals) + 1)
            digits.insert(0, static_cast<std::size_t>(decimals) + 1 - digits.size(), '0');
        const std::size_t intLen = digits.size() - static_cast<std::size_t>(decimals);
        ip = digits[0] == '0' && intLen == 1 ? std::string() : digits.substr(0, intLen);
        fp = digits.substr(intLen);
    } else {
        roundExact(value, decimals, ip, fp);
    }
    bool allZero = ip.empty() && fp.find_first_not_of('0') == std::string::npos;
    std::string text;
    if (value < 0 && !allZero) text += '-';
    text += ip;
    text += '.';
    text += fp;
    return fitRight(text, width);
}

std::string formatE(double value, int width, int decimals)
{
    if (!std::isfinite(value)) return std::string(static_cast<std::size_t>(width), '*');
    double mag = std::fabs(value);
    std::string digits;
    int exponent = 0;
    if (mag == 0.0) {
        digits.assign(static_cast<std::size_t>(decimals), '0');
    } else {
        // Scientific form with the digits rounded exactly: d.ddd e X, then
        // written as .dddd E X+1.  Rounding a tie away from zero as in F.
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.*e", decimals + 24, mag);
        std::string s(buf);
        std::size_t e = s.find('e');
        exponent = std::stoi(s.substr(e + 1)) + 1;
        std::string mant(1, s[0]);  // all digits, without the point
        mant.append(s, 2, e - 2);
        bool roundUp = mant[static_cast<std::size_t>(decimals)] >= '5';
        digits = mant.substr(0, static_cast<std::size_t>(decimals));
        if (roundUp) {
            int i = decimals - 1;
            while (i >= 0 && digits[static_cast<std::size_t>(i)] == '9') {
                digits[static_cast<std::size_t>(i)] = '0';
                --i;
            }
            if (i >= 0) {
                ++digits[static_cast<std::size_t>(i)];
            } else {
                digits.insert(digits.begin(), '1');
                digits.pop_back();
                ++exponent;
            }
        }
    }
    std::string text;
    if (value < 0) text += '-';
    text += '.';
    text += digits;
    int ae = std::abs(exponent);
    char eb[16];
    if (ae <= 99)
        std::snprintf(eb, sizeof eb, "E%c%02d", exponent < 0 ? '-' : '+', ae);
    else
        std::snprintf(eb, sizeof eb, "%c%03d", exponent < 0 ? '-' : '+', ae);
    text += eb;
    return fitRight(text, width);
}

void LineWriter::line(std::string_view text)
{
    content_.append(text);
    content_ += "\r\n";
}

} // namespace fixedio
