// The measured ".csv" of the stripping dialog: header lines of free text
// (31 of them: the records start at line 32, or at the line given), then
// one record a line of three fields, the third the channel's count.
//
// Fields follow the front end's rules: a field ends at a comma or the line
// end, a field that begins like a number also at a blank, a field in double
// quotes at its closing quote.  The front end takes three fields per
// channel wherever they stand; here each line must hold exactly one record,
// so that a line with a field too many or too few (which would shift every
// later channel) is refused instead of read.
#include "detail.h"
#include "measuredcsv_writer.h"

namespace formats::detail {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// The fields of one line by the front end's rules.
std::vector<std::string_view> recordFields(std::string_view line)
{
    std::vector<std::string_view> out;
    std::size_t pos = 0;
    bool afterComma = false;
    for (;;) {
        while (pos < line.size() && isBlank(line[pos])) ++pos;
        if (pos >= line.size()) {
            if (afterComma || out.empty()) out.push_back({});
            break;
        }
        const char c = line[pos];
        std::string_view field;
        if (c == '"') {
            const std::size_t close = line.find('"', pos + 1);
            const std::size_t stop = close == std::string_view::npos ? line.size() : close;
            field = line.substr(pos + 1, stop - pos - 1);
            pos = close == std::string_view::npos ? line.size() : close + 1;
            // What stands between the closing quote and the comma is dropped.
            while (pos < line.size() && line[pos] != ',') ++pos;
        } else {
            const bool numeric = (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
            const std::size_t start = pos;
            while (pos < line.size() && line[pos] != ',' && !(numeric && isBlank(line[pos]))) ++pos;
            field = trim(line.substr(start, pos - start));
        }
        out.push_back(field);
        while (pos < line.size() && isBlank(line[pos])) ++pos;
        afterComma = pos < line.size() && line[pos] == ',';
        if (afterComma) ++pos;
    }
    return out;
}

} // namespace

std::vector<Spectrum> readMeasuredCsv(std::string_view bytes, const std::string& file, int firstDataLine)
{
    const std::string_view text = requireText(bytes, file);
    if (firstDataLine < 1) fail(file, "", "the first data line must be 1 or later");
    Lines lines(text);
    Line line;
    Spectrum s;
    for (int i = 1; i < firstDataLine; ++i) {
        if (!lines.next(line))
            fail(file, lineWhere(lines.lastNumber()),
                 "the file ends before its first data line " + std::to_string(firstDataLine) + " (header lines 1 to " +
                     std::to_string(firstDataLine - 1) + ")");
        s.headerLines.push_back(textOf(line.text));
    }
    if (s.headerLines.size() >= 4) s.name = std::string(trim(s.headerLines[3]));
    // The live and real time `tarvik import` kept in the header.
    const HeaderTimes times = importedTimes(s.headerLines, file);
    s.liveTimeS = times.liveTimeS;
    s.realTimeS = times.realTimeS;

    std::size_t blankLine = 0;  // the first blank line after a record
    while (lines.next(line)) {
        if (trim(line.text).empty()) {
            if (blankLine == 0) blankLine = line.number;
            continue;
        }
        if (blankLine != 0)
            fail(file, lineWhere(blankLine),
                 "an empty line between the records: expected one record (channel, energy, count) a line");
        const auto f = recordFields(line.text);
        if (f.size() != 3)
            fail(file, lineWhere(line.number),
                 "expected one record of three fields (channel, energy, count), found " + std::to_string(f.size()) +
                     " fields in " + quoted(line.text));
        for (int k = 0; k < 2; ++k)
            if (!parseReal(f[static_cast<std::size_t>(k)]))
                fail(file, lineWhere(line.number),
                     std::string("expected the ") + (k == 0 ? "channel" : "energy") + " as a number, found " +
                         quoted(f[static_cast<std::size_t>(k)]));
        std::string why;
        const std::optional<std::uint64_t> c = parseCount(f[2], why);
        if (!c) fail(file, lineWhere(line.number), "channel " + std::to_string(s.counts.size() + 1) + ": " + why);
        if (s.counts.size() >= kMaxChannels) checkChannelCount(kMaxChannels + 1, file, lineWhere(line.number));
        s.counts.push_back(*c);
    }
    if (s.counts.empty())
        fail(file, lineWhere(static_cast<std::size_t>(firstDataLine)),
             "no records from the first data line " + std::to_string(firstDataLine) + " on");
    std::vector<Spectrum> out;
    out.push_back(std::move(s));
    return out;
}

} // namespace formats::detail
