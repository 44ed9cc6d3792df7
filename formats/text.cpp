#include "detail.h"

#include "sjis/sjis.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace formats::detail {

void fail(const std::string& file, const std::string& where, const std::string& what)
{
    throw FormatError(file, where, what);
}

std::string lineWhere(std::size_t number) { return "line " + std::to_string(number); }
std::string byteWhere(std::size_t offset) { return "byte " + std::to_string(offset); }

std::string quoted(std::string_view token)
{
    constexpr std::size_t kShown = 40;
    std::string out = "\"";
    for (std::size_t i = 0; i < token.size() && i < kShown; ++i) {
        const auto c = static_cast<unsigned char>(token[i]);
        if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        }
    }
    if (token.size() > kShown) out += "...";
    return out + "\"";
}

bool Lines::next(Line& line)
{
    if (pos_ >= text_.size()) return false;
    std::size_t end = pos_;
    while (end < text_.size() && text_[end] != '\n' && text_[end] != '\r') ++end;
    line.text = text_.substr(pos_, end - pos_);
    line.number = ++number_;
    pos_ = end;
    if (pos_ < text_.size()) {
        if (text_[pos_] == '\r' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '\n') ++pos_;
        ++pos_;
    }
    return true;
}

bool Lines::peek(Line& line) const
{
    Lines copy = *this;
    return copy.next(line);
}

std::string_view requireText(std::string_view bytes, const std::string& file)
{
    auto starts = [&](std::string_view head) { return bytes.substr(0, head.size()) == head; };
    if (starts(std::string_view("\xFF\xFE\x00\x00", 4)) || starts(std::string_view("\x00\x00\xFE\xFF", 4)))
        fail(file, "", "the file is UTF-32 text; save it as UTF-8, ASCII or Shift_JIS");
    if (starts("\xFF\xFE") || starts("\xFE\xFF"))
        fail(file, "", "the file is UTF-16 text; save it as UTF-8, ASCII or Shift_JIS");
    if (const auto nul = bytes.find('\0'); nul != std::string_view::npos)
        fail(file, byteWhere(nul), "a NUL byte: the file is not text (expected a text spectrum file)");
    if (starts("\xEF\xBB\xBF")) bytes.remove_prefix(3);
    return bytes;
}

namespace {

bool validUtf8(std::string_view s)
{
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t n = 0;
        std::uint32_t cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            n = 1;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            n = 2;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            n = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        for (std::size_t k = 1; k <= n; ++k) {
            if (i + k >= s.size()) return false;
            const auto d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (d & 0x3F);
        }
        // Overlong forms, surrogates and values beyond Unicode.
        if ((n == 1 && cp < 0x80) || (n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000) || cp > 0x10FFFF ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += n + 1;
    }
    return true;
}

} // namespace

std::string textOf(std::string_view raw)
{
    std::string out = validUtf8(raw) ? std::string(raw) : sjis::toUtf8ForDisplay(raw);
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
    return out;
}

std::string_view trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

std::vector<std::string_view> splitBlanks(std::string_view s)
{
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
        const std::size_t start = i;
        while (i < s.size() && s[i] != ' ' && s[i] != '\t') ++i;
        if (i > start) out.push_back(s.substr(start, i - start));
    }
    return out;
}

bool startsWith(std::string_view s, std::string_view head) { return s.substr(0, head.size()) == head; }

namespace {
char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
} // namespace

bool equalsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

bool containsNoCase(std::string_view s, std::string_view part)
{
    if (part.size() > s.size()) return false;
    for (std::size_t i = 0; i + part.size() <= s.size(); ++i)
        if (equalsNoCase(s.substr(i, part.size()), part)) return true;
    return false;
}

std::optional<double> parseReal(std::string_view token)
{
    if (!token.empty() && token.front() == '+') token.remove_prefix(1);
    if (token.empty()) return std::nullopt;
    // Only decimal notation: from_chars would also take "inf" and "nan".
    for (char c : token)
        if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E'))
            return std::nullopt;
    double v = 0;
    const auto r = std::from_chars(token.data(), token.data() + token.size(), v, std::chars_format::general);
    if (r.ec != std::errc() || r.ptr != token.data() + token.size() || !std::isfinite(v)) return std::nullopt;
    return v;
}

std::optional<std::uint64_t> parseCount(std::string_view token, std::string& why)
{
    const std::string shown = quoted(token);
    bool digitsOnly = !token.empty();
    for (char c : token)
        if (c < '0' || c > '9') digitsOnly = false;
    if (digitsOnly) {
        std::uint64_t v = 0;
        const auto r = std::from_chars(token.data(), token.data() + token.size(), v);
        if (r.ec == std::errc::result_out_of_range || (r.ec == std::errc() && v > kMaxCount)) {
            why = "the count " + shown + " is larger than any analyser counts (at most 2^53)";
            return std::nullopt;
        }
        if (r.ec != std::errc()) {
            why = "expected a whole count, found " + shown;
            return std::nullopt;
        }
        return v;
    }
    std::string_view t = token;
    if (!t.empty() && t.front() == '+') t.remove_prefix(1);
    if (equalsNoCase(t, "nan") || equalsNoCase(t, "-nan") || equalsNoCase(t, "inf") || equalsNoCase(t, "-inf") ||
        equalsNoCase(t, "infinity") || equalsNoCase(t, "-infinity")) {
        why = "the count " + shown + " is not a number";
        return std::nullopt;
    }
    const std::optional<double> v = parseReal(token);
    if (!v) {
        why = "expected a whole count, found " + shown;
        return std::nullopt;
    }
    if (*v < 0) {
        why = "the count " + shown + " is negative";
        return std::nullopt;
    }
    if (*v != std::floor(*v)) {
        why = "the count " + shown + " is not a whole number";
        return std::nullopt;
    }
    if (*v > static_cast<double>(kMaxCount)) {
        why = "the count " + shown + " is larger than any analyser counts (at most 2^53)";
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(*v);
}

void checkTimes(const std::optional<double>& live, const std::optional<double>& real, const std::string& file,
                const std::string& where)
{
    auto text = [](double v) {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.6g s", v);
        return std::string(buf);
    };
    if (live && *live < 0) fail(file, where, "the live time " + text(*live) + " is negative");
    if (real && *real < 0) fail(file, where, "the real time " + text(*real) + " is negative");
    if (live && *live == 0) fail(file, where, "the live time is zero: no count rate can be taken from the spectrum");
    if (real && *real == 0) fail(file, where, "the real time is zero");
    if (live && real && *live > *real + 1e-3)
        fail(file, where,
             "the live time " + text(*live) + " is longer than the real time " + text(*real) +
                 " (the analyser cannot count longer than it ran)");
}

std::optional<std::string> isoTime(int year, int month, int day, int hour, int minute, int second)
{
    static const int days[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1900 || year > 2999 || month < 1 || month > 12 || day < 1 || day > days[month - 1] || hour < 0 ||
        hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 60)
        return std::nullopt;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (month == 2 && day == 29 && !leap) return std::nullopt;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", year, month, day, hour, minute, second);
    return std::string(buf);
}

std::optional<std::string> isoFromDateText(std::string_view text)
{
    // Numbers of the date and the time, in order.
    std::vector<int> n;
    std::vector<std::size_t> widths;
    std::size_t i = 0;
    text = trim(text);
    while (i < text.size()) {
        if (text[i] >= '0' && text[i] <= '9') {
            int v = 0;
            std::size_t w = 0;
            while (i < text.size() && text[i] >= '0' && text[i] <= '9' && w < 5) {
                v = v * 10 + (text[i] - '0');
                ++i;
                ++w;
            }
            if (i < text.size() && text[i] >= '0' && text[i] <= '9') return std::nullopt;
            n.push_back(v);
            widths.push_back(w);
        } else if (text[i] == '/' || text[i] == '-' || text[i] == '.' || text[i] == ':' || text[i] == ' ' ||
                   text[i] == 'T' || text[i] == '\t') {
            ++i;
        } else {
            return std::nullopt;
        }
    }
    if (n.size() != 5 && n.size() != 6) return std::nullopt;
    const int second = n.size() == 6 ? n[5] : 0;
    if (widths[0] == 4) return isoTime(n[0], n[1], n[2], n[3], n[4], second);  // yyyy/mm/dd
    if (widths[2] == 4) return isoTime(n[2], n[0], n[1], n[3], n[4], second);  // mm/dd/yyyy
    return std::nullopt;
}

void checkChannelCount(std::size_t channels, const std::string& file, const std::string& where)
{
    if (channels == 0) fail(file, where, "the spectrum holds no channels");
    if (channels > kMaxChannels)
        fail(file, where,
             "the spectrum holds more than " + std::to_string(kMaxChannels) + " channels: no analyser writes so many");
}

} // namespace formats::detail
