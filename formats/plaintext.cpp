// Plain columns of text or CSV: one channel a line, two or three columns
// separated by commas, semicolons (then a decimal comma is allowed), tabs
// or blanks, after optional "#" comment lines and one optional header line.
//
//   channel,count        energy,count        channel,energy,count
//
// The header's words name the columns (channel/ch, energy/keV, count/counts,
// also in Japanese); without a header three columns are channel, energy,
// count, and two columns are channel, count when the first column counts
// up by one, else energy, count.  Energies are taken as channel centres.
#include "detail.h"

#include <cmath>
#include <cstdio>

namespace formats::detail {

namespace {

enum class Role { Channel, Energy, Count, Unknown };

struct Splitter {
    char separator = ' ';  // ' ' for blanks and tabs
    bool decimalComma = false;

    std::vector<std::string_view> fields(std::string_view line) const
    {
        std::vector<std::string_view> out;
        if (separator == ' ') return splitBlanks(line);
        std::size_t start = 0;
        for (;;) {
            const std::size_t end = line.find(separator, start);
            std::string_view f = trim(line.substr(start, end == std::string_view::npos ? end : end - start));
            if (f.size() >= 2 && f.front() == '"' && f.back() == '"') f = f.substr(1, f.size() - 2);
            out.push_back(f);
            if (end == std::string_view::npos) break;
            start = end + 1;
        }
        // A separator at the end of the line adds no column.
        if (out.size() > 1 && out.back().empty()) out.pop_back();
        return out;
    }
    std::string number(std::string_view f) const
    {
        std::string s(f);
        if (decimalComma)
            for (char& c : s)
                if (c == ',') c = '.';
        return s;
    }
};

Splitter splitterFor(std::string_view line)
{
    Splitter s;
    if (line.find('\t') != std::string_view::npos) s.separator = '\t';
    else if (line.find(';') != std::string_view::npos) s.separator = ';', s.decimalComma = true;
    else if (line.find(',') != std::string_view::npos) s.separator = ',';
    // Tabs with blanks around them are read as blanks too.
    if (s.separator == '\t' && line.find(' ') != std::string_view::npos) s.separator = ' ';
    return s;
}

bool allNumbers(const Splitter& sp, const std::vector<std::string_view>& f)
{
    if (f.empty()) return false;
    for (std::string_view x : f)
        if (!parseReal(sp.number(x))) return false;
    return true;
}

bool significant(std::string_view t) { return !t.empty() && t.front() != '#'; }

Role roleOf(std::string_view word)
{
    if (containsNoCase(word, "count") || containsNoCase(word, "cnt") || word.find("カウント") != std::string_view::npos ||
        word.find("計数") != std::string_view::npos)
        return Role::Count;
    if (containsNoCase(word, "ener") || containsNoCase(word, "kev") || equalsNoCase(word, "e") ||
        equalsNoCase(word, "ev") || word.find("エネルギー") != std::string_view::npos)
        return Role::Energy;
    if (containsNoCase(word, "ch") || containsNoCase(word, "bin") || containsNoCase(word, "index") ||
        word.find("チャ") != std::string_view::npos)
        return Role::Channel;
    return Role::Unknown;
}

} // namespace

bool looksLikePlainColumns(std::string_view text)
{
    // At most one line that is not a row of two or three numbers before the
    // first such row ("#" comments aside).
    Lines lines(text);
    Line line;
    int words = 0;
    while (lines.next(line)) {
        const std::string_view t = trim(line.text);
        if (!significant(t)) continue;
        const Splitter sp = splitterFor(t);
        const auto f = sp.fields(t);
        if ((f.size() == 2 || f.size() == 3) && allNumbers(sp, f)) return true;
        if (++words > 1) return false;
    }
    return false;
}

std::vector<Spectrum> readPlainText(std::string_view bytes, const std::string& file)
{
    const std::string_view text = requireText(bytes, file);
    Lines lines(text);
    Line line;
    Spectrum s;

    // Comments and the header line.
    std::optional<Line> header;
    std::optional<Line> firstRow;
    while (lines.next(line)) {
        const std::string_view t = trim(line.text);
        if (t.empty()) continue;
        if (t.front() == '#') {
            s.headerLines.push_back(textOf(t));
            continue;
        }
        const Splitter sp = splitterFor(t);
        if (allNumbers(sp, sp.fields(t))) {
            firstRow = Line{t, line.number};
            break;
        }
        if (header) fail(file, lineWhere(line.number), "expected a row of numbers after the header line, found " + quoted(t));
        header = Line{t, line.number};
        s.headerLines.push_back(textOf(t));
    }
    if (!firstRow) fail(file, "", "no row of numbers: expected two or three columns (channel, energy, count)");

    const Splitter sp = splitterFor(firstRow->text);
    const std::size_t columns = sp.fields(firstRow->text).size();
    if (columns < 2 || columns > 3)
        fail(file, lineWhere(firstRow->number),
             "expected two or three columns (channel, energy, count), found " + std::to_string(columns));

    // The rows.
    std::vector<std::vector<double>> values(columns);
    std::vector<std::vector<std::string_view>> tokens(columns);
    std::vector<std::size_t> rowLines;
    auto takeRow = [&](std::string_view t, std::size_t number) {
        const auto f = sp.fields(t);
        if (f.size() != columns)
            fail(file, lineWhere(number),
                 "expected " + std::to_string(columns) + " columns as in line " + std::to_string(firstRow->number) +
                     ", found " + std::to_string(f.size()) + " in " + quoted(t));
        if (rowLines.size() >= kMaxChannels) checkChannelCount(kMaxChannels + 1, file, lineWhere(number));
        for (std::size_t c = 0; c < columns; ++c) {
            tokens[c].push_back(f[c]);
            const std::optional<double> v = parseReal(sp.number(f[c]));
            values[c].push_back(v ? *v : std::nan(""));
        }
        rowLines.push_back(number);
    };
    takeRow(firstRow->text, firstRow->number);
    while (lines.next(line)) {
        const std::string_view t = trim(line.text);
        if (t.empty()) continue;
        if (t.front() == '#') {
            s.headerLines.push_back(textOf(t));
            continue;
        }
        takeRow(t, line.number);
    }

    // What each column holds.
    std::vector<Role> roles(columns, Role::Unknown);
    if (header) {
        const auto words = splitterFor(header->text).fields(header->text);
        if (words.size() == columns)
            for (std::size_t c = 0; c < columns; ++c) roles[c] = roleOf(words[c]);
        int n[4] = {0, 0, 0, 0};
        for (Role r : roles) ++n[static_cast<int>(r)];
        if (n[0] > 1 || n[1] > 1 || n[2] > 1)
            fail(file, lineWhere(header->number), "the header names a column twice: " + quoted(header->text));
        if (n[3] > 0) {
            // Words that name nothing: the columns in their usual order.
            roles.assign(columns, Role::Unknown);
        }
    }
    if (roles[0] == Role::Unknown) {
        if (columns == 3) {
            roles = {Role::Channel, Role::Energy, Role::Count};
        } else {
            bool countsUp = true;
            for (std::size_t i = 0; i < values[0].size() && countsUp; ++i)
                countsUp = values[0][i] == std::floor(values[0][i]) && (i == 0 || values[0][i] == values[0][i - 1] + 1);
            roles = {countsUp ? Role::Channel : Role::Energy, Role::Count};
        }
    }
    std::optional<std::size_t> channelCol, energyCol, countCol;
    for (std::size_t c = 0; c < columns; ++c) {
        if (roles[c] == Role::Channel) channelCol = c;
        if (roles[c] == Role::Energy) energyCol = c;
        if (roles[c] == Role::Count) countCol = c;
    }
    if (!countCol) fail(file, lineWhere(header ? header->number : firstRow->number), "no column of counts");

    const std::size_t rows = rowLines.size();
    s.counts.reserve(rows);
    for (std::size_t i = 0; i < rows; ++i) {
        std::string why;
        const std::optional<std::uint64_t> c = parseCount(sp.number(tokens[*countCol][i]), why);
        if (!c) fail(file, lineWhere(rowLines[i]), "channel " + std::to_string(i) + ": " + why);
        s.counts.push_back(*c);
    }
    if (channelCol) {
        const auto& ch = values[*channelCol];
        for (std::size_t i = 0; i < rows; ++i) {
            if (!(ch[i] == std::floor(ch[i])) || ch[i] < 0)
                fail(file, lineWhere(rowLines[i]), "expected a channel number, found " + quoted(tokens[*channelCol][i]));
            if (i > 0 && ch[i] != ch[i - 1] + 1)
                fail(file, lineWhere(rowLines[i]),
                     "the channel numbers jump from " + std::string(tokens[*channelCol][i - 1]) + " to " +
                         std::string(tokens[*channelCol][i]) + ": expected one row per channel");
        }
    }
    if (energyCol) {
        const auto& e = values[*energyCol];
        std::vector<CalibrationPoint> points;
        points.reserve(rows);
        for (std::size_t i = 0; i < rows; ++i) {
            if (i > 0 && !(e[i] > e[i - 1]))
                fail(file, lineWhere(rowLines[i]),
                     "the energies do not rise: " + std::string(tokens[*energyCol][i]) + " after " +
                         std::string(tokens[*energyCol][i - 1]));
            points.push_back({static_cast<double>(i), e[i]});
        }
        if (rows >= 2) {
            try {
                double residual = 0;
                std::vector<double> line = fitLine(points, residual);
                if (residual > 0.5 * line[1])
                    fail(file, lineWhere(rowLines.front()),
                         "the energy column does not follow a straight calibration (a row lies more than half a "
                         "channel from the best line)");
                char buf[128];
                std::snprintf(buf, sizeof buf, "energy column: %zu channels, least-squares line, largest residual %.3g keV",
                              rows, residual);
                s.calibration = makeCalibration(std::move(line), ChannelPoint::Centre, rows, buf);
            } catch (const std::invalid_argument& ex) {
                fail(file, lineWhere(rowLines.front()), ex.what());
            }
        }
    }
    std::vector<Spectrum> out;
    out.push_back(std::move(s));
    return out;
}

} // namespace formats::detail
