#include "exchange.h"

#include "fixedio/sjis.h"

#include <algorithm>
#include <cmath>

namespace tvconv {

namespace {

// A 60-column text line used as a file name: cut without splitting a
// double-byte character, trailing blanks dropped.
std::string nameField(fixedio::LineReader& in, std::string_view expected)
{
    std::string name = fixedio::trimTrailing(fixedio::sjisTextField(in.line(expected), textColumns));
    if (name.empty()) {
        std::string what(expected);
        throw in.error(what + " is empty");
    }
    return name;
}

} // namespace

std::optional<ConversionMethod> methodFromWord(std::string_view word)
{
    while (!word.empty() && (word.front() == ' ' || word.front() == '\t')) word.remove_prefix(1);
    while (!word.empty() && (word.back() == ' ' || word.back() == '\t')) word.remove_suffix(1);
    auto same = [&](std::string_view name) {
        if (word.size() != name.size()) return false;
        for (std::size_t k = 0; k < name.size(); ++k) {
            char c = word[k];
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
            if (c != name[k]) return false;
        }
        return true;
    };
    if (word.empty() || same("standard")) return ConversionMethod::standard;
    if (same("unfold")) return ConversionMethod::unfold;
    return std::nullopt;
}

ConversionRequest readConversionRequest(fixedio::LineReader& in)
{
    ConversionRequest r;
    r.resultName = nameField(in, "the path of the result file");
    r.resultPath = fixedio::exchangePath(r.resultName);
    r.input.angle = in.listInt("the scattering angle in degrees");
    r.input.attenuationLength = in.listFloat("the self-attenuation length in cm");
    r.scattererName = nameField(in, "the name of the scatterer data file");
    r.scattererPath = fixedio::exchangePath(r.scattererName);

    // The tube voltage is not used; the front end writes nothing for 0.
    const std::string voltageLine = in.line("the tube voltage in kV");
    const std::string_view item = fixedio::firstListItem(voltageLine);
    if (!item.empty()) {
        try {
            r.voltage = fixedio::parseIntField(item);
        } catch (const std::invalid_argument&) {
            throw in.error("expected the tube voltage in kV as a whole number, found \"" + std::string(item) + "\"");
        }
    }
    r.input.channelWidth = in.listFloat("the channel width in keV per channel");

    std::size_t c = 0;
    for (int k = 1; k <= 102; ++k) {
        const std::vector<std::int32_t> v =
            in.ints(10, 7, "the counts of channels " + std::to_string(10 * k - 9) + " to " + std::to_string(10 * k));
        for (std::int32_t n : v) r.input.counts[c++] = n;
    }
    for (std::int32_t n : in.ints(4, 7, "the counts of channels 1021 to 1024")) r.input.counts[c++] = n;

    // The method line is read as a text field of 60 columns; NUL bytes
    // count as blanks, so a file padded with zeros after line 109 reads as
    // one without the line.
    if (!in.atEnd()) {
        std::string word = in.lineStart(textColumns, "the conversion method");
        for (char& ch : word)
            if (ch == '\0') ch = ' ';
        const std::optional<ConversionMethod> m = methodFromWord(word);
        if (!m) {
            std::string shown = fixedio::trimTrailing(word);
            for (char& ch : shown)
                if (static_cast<unsigned char>(ch) < 0x20 || static_cast<unsigned char>(ch) >= 0x7f) ch = '?';
            throw in.error("unknown conversion method \"" + shown +
                           "\"; the method line holds \"standard\" or \"unfold\" (or nothing)");
        }
        r.method = *m;
    }
    return r;
}

ConversionRequest readConversionRequest(const std::filesystem::path& file)
{
    fixedio::LineReader in(file);
    return readConversionRequest(in);
}

std::vector<std::string> readResultHeader(const std::filesystem::path& file)
{
    fixedio::LineReader in(file);
    return readResultHeader(in);
}

std::vector<std::string> readResultHeader(fixedio::LineReader& in)
{
    std::vector<std::string> lines;
    lines.reserve(headerLineCount);
    for (int k = 1; k <= headerLineCount; ++k) {
        lines.push_back(fixedio::sjisTextField(
            in.line("header line " + std::to_string(k) + " of " + std::to_string(headerLineCount)), textColumns));
        in.requireNoCarriageReturn(lines.back(), "header line " + std::to_string(k));
    }
    return lines;
}

namespace {

constexpr std::size_t recordColumns = 20;

// `value` right-aligned in `width` columns when 0 ≤ value < 10^width.
bool putWhole(char* field, int width, std::int64_t value)
{
    if (value < 0) return false;
    for (int k = width - 1; k >= 0; --k) {
        field[k] = static_cast<char>('0' + value % 10);
        value /= 10;
        if (value == 0) {
            std::fill(field, field + k, ' ');
            return true;
        }
    }
    return false;
}

// F7.2 of a single-precision energy from 0 to below 9999 (any other goes
// the general way).  v = m·2^e with m below 2^24 and e at most 14, so
// 100·v = 100m / 2^(24 − e) is rounded exactly, a tie away from zero; a
// zero integer part is not written.
bool putEnergy(char* field, float energy)
{
    if (!(energy >= 0.0f) || !(energy < 9999.0f)) return false;
    int e = 0;
    const float fraction = std::frexp(energy, &e);  // energy = fraction·2^e, fraction 0 or in [0.5, 1)
    const std::uint64_t hundredM = 100 * static_cast<std::uint64_t>(std::ldexp(fraction, 24));
    const int shift = 24 - e;  // at least 10
    std::uint64_t scaled = 0;  // below 2^-30 the value rounds to .00
    if (shift < 63) {
        scaled = hundredM >> shift;
        if (((hundredM >> (shift - 1)) & 1) != 0) ++scaled;  // the first dropped bit: half or more
    }
    if (scaled > 999999) return false;
    const std::uint64_t whole = scaled / 100;
    const std::uint64_t hundredths = scaled % 100;
    field[6] = static_cast<char>('0' + hundredths % 10);
    field[5] = static_cast<char>('0' + hundredths / 10);
    field[4] = '.';
    if (whole == 0) std::fill(field, field + 4, ' ');
    else putWhole(field, 4, static_cast<std::int64_t>(whole));
    return true;
}

// The 20 columns of a record written directly, where every field fits
// plainly; false leaves it to the general formatting (overflow asterisks
// and all).
bool plainRecord(char (&text)[recordColumns], int channel, float energy, std::int32_t count)
{
    text[4] = ' ';
    text[12] = ' ';
    return putWhole(text, 4, channel) && putEnergy(text + 5, energy) && putWhole(text + 13, 7, count);
}

} // namespace

std::string formatRecord(int channel, float energy, std::int32_t count)
{
    if (char text[recordColumns]; plainRecord(text, channel, energy, count)) return std::string(text, recordColumns);
    return fixedio::formatI(channel, 4) + " " + fixedio::formatF(static_cast<double>(energy), 7, 2) + " " +
           fixedio::formatI(count, 7);
}

std::string formatResult(const std::vector<std::string>& header, float width, const Spectrum& counts)
{
    fixedio::LineWriter out;
    out.reserve(header.size() * 62 + static_cast<std::size_t>(channelCount) * 22);
    for (const std::string& line : header) out.line(line);
    for (int i = 1; i <= channelCount; ++i) {
        const float energy = static_cast<float>(static_cast<double>(i) * static_cast<double>(width));
        const std::int32_t count = counts[static_cast<std::size_t>(i - 1)];
        if (char text[recordColumns]; plainRecord(text, i, energy, count))
            out.line(std::string_view(text, recordColumns));
        else
            out.line(formatRecord(i, energy, count));
    }
    return out.take();
}

} // namespace tvconv
