#include "exchange.h"

#include "fixedio/sjis.h"

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

std::string formatRecord(int channel, float energy, std::int32_t count)
{
    return fixedio::formatI(channel, 4) + " " + fixedio::formatF(static_cast<double>(energy), 7, 2) + " " +
           fixedio::formatI(count, 7);
}

std::string formatResult(const std::vector<std::string>& header, float width, const Spectrum& counts)
{
    fixedio::LineWriter out;
    for (const std::string& line : header) out.line(line);
    for (int i = 1; i <= channelCount; ++i) {
        const float energy = static_cast<float>(static_cast<double>(i) * static_cast<double>(width));
        out.line(formatRecord(i, energy, counts[static_cast<std::size_t>(i - 1)]));
    }
    return out.content();
}

} // namespace tvconv
