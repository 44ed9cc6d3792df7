#include "values.h"

#include <cctype>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace tarvik {

double leadingNumber(std::string_view text) {
    std::string s;
    s.reserve(text.size());
    for (char c : text)
        if (c != ' ' && c != '\t' && c != '\n') s += c;

    auto isDigit = [&](std::size_t i) {
        return i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]));
    };
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t intStart = i;
    while (isDigit(i)) ++i;
    bool haveDigits = i > intStart;
    std::size_t end = haveDigits ? i : 0;
    if (i < s.size() && s[i] == '.' && isDigit(i + 1)) {
        ++i;
        while (isDigit(i)) ++i;
        haveDigits = true;
        end = i;
    }
    if (!haveDigits) return 0.0;
    if (i < s.size() && (s[i] == 'E' || s[i] == 'e')) {
        std::size_t j = i + 1;
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
        if (isDigit(j)) {
            while (isDigit(j)) ++j;
            end = j;
        }
    }
    double v = std::strtod(s.substr(0, end).c_str(), nullptr);
    // A number beyond the range of double is held at the largest value, so
    // that later arithmetic and checks see a huge but finite number.
    if (std::isinf(v)) v = v > 0 ? DBL_MAX : -DBL_MAX;
    if (v == 0.0) v = 0.0;  // no negative zero
    return v;
}

namespace {

// The decimal digits of |value| to 15 significant digits and its decimal
// exponent: value = 0.d1d2...d15 * 10^(exp+1), i.e. d1 stands at 10^exp.
struct Decimal {
    std::string digits;  // 15 digits, the first non-zero unless value is 0
    int exp = 0;
    bool negative = false;
};

Decimal toDecimal(double value) {
    Decimal d;
    d.negative = std::signbit(value) && value != 0.0;
    char buf[64];
    // The same text as printf's "%.14e" (std::to_chars with a precision is
    // defined so), several times faster.
    const auto r = std::to_chars(buf, buf + sizeof buf - 1, std::fabs(value), std::chars_format::scientific, 14);
    if (r.ec == std::errc()) *r.ptr = '\0';
    else std::snprintf(buf, sizeof buf, "%.14e", std::fabs(value));
    // buf: "d.dddddddddddddde[+-]xx"
    std::string s(buf);
    std::size_t e = s.find('e');
    d.digits = s.substr(0, 1) + s.substr(2, e - 2);
    d.exp = std::atoi(s.c_str() + e + 1);
    return d;
}

// |value| rounded to `decimals` decimals, halves away from zero, working on
// the 15-digit decimal form (so 1.005 rounds to 1.01 as it reads).  Returns
// the integer digits (no leading zeros, "" for 0) and exactly `decimals`
// fraction digits.
void roundDecimal(const Decimal& d, int decimals, std::string& intPart, std::string& fracPart) {
    // Place the digits on a grid from 10^hi down to 10^-decimals.
    int hi = std::max(d.exp, 0);
    int lo = -decimals;
    std::string grid(static_cast<std::size_t>(hi - lo + 1), '0');
    bool roundUp = false;
    for (std::size_t k = 0; k < d.digits.size(); ++k) {
        int pos = d.exp - static_cast<int>(k);
        if (pos >= lo && pos <= hi)
            grid[static_cast<std::size_t>(hi - pos)] = d.digits[k];
        else if (pos == lo - 1)
            roundUp = d.digits[k] >= '5';
    }
    if (roundUp) {
        int k = static_cast<int>(grid.size()) - 1;
        while (k >= 0) {
            if (grid[static_cast<std::size_t>(k)] == '9') {
                grid[static_cast<std::size_t>(k)] = '0';
                --k;
            } else {
                ++grid[static_cast<std::size_t>(k)];
                break;
            }
        }
        if (k < 0) grid.insert(grid.begin(), '1');
    }
    std::size_t intLen = grid.size() - static_cast<std::size_t>(decimals);
    intPart = grid.substr(0, intLen);
    fracPart = grid.substr(intLen);
    std::size_t nz = intPart.find_first_not_of('0');
    intPart = nz == std::string::npos ? std::string() : intPart.substr(nz);
}

} // namespace

std::string numberAsText(double value) {
    if (!std::isfinite(value)) return value > 0 ? "Infinity" : (value < 0 ? "-Infinity" : "NaN");
    if (value == 0.0) return "0";
    Decimal d = toDecimal(value);
    std::string digits = d.digits;
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
    std::string out = d.negative ? "-" : "";
    int n = static_cast<int>(digits.size());
    if (d.exp >= 15 || d.exp < -15) {
        // Exponent form for numbers that fixed notation would bloat.
        out += digits.substr(0, 1);
        if (n > 1) {
            out += '.';
            out.append(digits, 1, std::string::npos);
        }
        char e[16];
        std::snprintf(e, sizeof e, "E%+03d", d.exp);
        return out + e;
    }
    if (d.exp >= 0) {
        if (n <= d.exp + 1) {
            out += digits + std::string(static_cast<std::size_t>(d.exp + 1 - n), '0');
        } else {
            out += digits.substr(0, static_cast<std::size_t>(d.exp + 1)) + "." +
                   digits.substr(static_cast<std::size_t>(d.exp + 1));
        }
    } else {
        out += "0." + std::string(static_cast<std::size_t>(-d.exp - 1), '0') + digits;
    }
    return out;
}

std::string numberAsText(std::optional<double> value) {
    return value ? numberAsText(*value) : std::string();
}

std::string formatPattern(double value, std::string_view pattern) {
    if (!std::isfinite(value)) value = 0.0;
    std::size_t point = pattern.find('.');
    std::string_view intPat = pattern.substr(0, point);
    std::string_view fracPat =
        point == std::string_view::npos ? std::string_view() : pattern.substr(point + 1);
    int decimals = 0;
    for (char c : fracPat)
        if (c == '0' || c == '#') ++decimals;

    std::string intDigits, fracDigits;
    Decimal d = toDecimal(value);
    roundDecimal(d, decimals, intDigits, fracDigits);
    bool negative = d.negative &&
                    (!intDigits.empty() || fracDigits.find_first_not_of('0') != std::string::npos);

    // Integer part: placeholders are filled from the right with the digits;
    // the leftmost placeholder takes every digit that is left over.
    std::size_t firstPh = intPat.find_first_of("0#");
    std::string intOut;
    if (firstPh == std::string_view::npos) {
        intOut = std::string(intPat) + (negative ? "-" : "") + intDigits;
    } else {
        // Minimum digits: placeholders from the first "0" to the end.
        std::size_t firstZero = intPat.find('0');
        std::string body;  // built right to left
        int di = static_cast<int>(intDigits.size()) - 1;
        for (int k = static_cast<int>(intPat.size()) - 1; k >= 0; --k) {
            char c = intPat[static_cast<std::size_t>(k)];
            if (c == '0' || c == '#') {
                if (static_cast<std::size_t>(k) == firstPh) {
                    // all remaining digits, or this placeholder's zero
                    std::string rest = di >= 0 ? intDigits.substr(0, static_cast<std::size_t>(di + 1)) : "";
                    if (rest.empty() && c == '0') rest = "0";
                    if (negative) rest = "-" + rest;
                    body.insert(0, rest);
                    di = -1;
                } else if (di >= 0) {
                    body.insert(body.begin(), intDigits[static_cast<std::size_t>(di--)]);
                } else if (c == '0' && firstZero != std::string_view::npos &&
                           static_cast<std::size_t>(k) >= firstZero) {
                    body.insert(body.begin(), '0');
                }
            } else {
                body.insert(body.begin(), c);
            }
        }
        intOut = body;
    }

    if (point == std::string_view::npos) return intOut;

    // Fraction part: "0" always writes its digit, "#" only a significant one.
    std::size_t lastSignificant = fracDigits.find_last_not_of('0');
    std::string fracOut = ".";
    std::size_t fi = 0;
    for (char c : fracPat) {
        if (c == '0') {
            fracOut += fracDigits[fi++];
        } else if (c == '#') {
            if (lastSignificant != std::string::npos && fi <= lastSignificant) fracOut += fracDigits[fi];
            ++fi;
        } else {
            fracOut += c;
        }
    }
    return intOut + fracOut;
}

} // namespace tarvik
