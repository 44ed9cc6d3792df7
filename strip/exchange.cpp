#include "strip/exchange.h"

#include <string>

#include "fixedio/sjis.h"

namespace tvstrip {

void readTempFile(fixedio::LineReader& in, StripJob& job)
{
    const std::string pathLine = in.line("the path of the result file");
    job.resultPath = fixedio::trimTrailing(fixedio::sjisTextField(pathLine, kTextWidth));
    if (job.resultPath.empty())
        throw in.error("the path of the result file is empty");
    job.comment1 = fixedio::sjisTextField(in.line("comment line 1"), kTextWidth);
    in.requireNoCarriageReturn(job.comment1, "comment line 1");
    job.comment2 = fixedio::sjisTextField(in.line("comment line 2"), kTextWidth);
    in.requireNoCarriageReturn(job.comment2, "comment line 2");
    job.voltage = in.listInt("the X-ray tube voltage in kV");
    job.kevPerChannel = in.listFloat("the energy width per channel in keV");

    for (int first = 1; first <= kChannels; first += 10) {
        const int count = first + 9 <= kChannels ? 10 : kChannels - first + 1;
        const std::string expected = std::to_string(count) + " counts of 7 columns (channels " +
                                     std::to_string(first) + " to " + std::to_string(first + count - 1) + ")";
        const std::vector<std::int32_t> values = in.ints(count, 7, expected);
        for (int i = 0; i < count; ++i)
            job.counts[static_cast<std::size_t>(first - 1 + i)] = values[static_cast<std::size_t>(i)];
    }

    job.method = StripMethod::Standard;
    job.methodNamed = false;
    if (in.atEnd())
        return;
    const std::string line = in.line("the correction method");
    const auto begin = line.find_first_not_of(" \t");
    if (begin == std::string::npos)
        return;
    const std::string word = line.substr(begin, line.find_last_not_of(" \t") - begin + 1);
    if (word == kMethodStandard)
        job.method = StripMethod::Standard;
    else if (word == kMethodUnfold)
        job.method = StripMethod::Unfold;
    else
        throw in.error("unknown correction method \"" + fixedio::sjisToUtf8(word) + "\": the line names the method, \"" +
                       kMethodStandard + "\" or \"" + kMethodUnfold + "\" (or leave it out for the standard method)");
    job.methodNamed = true;
}

void readHeaderLines(fixedio::LineReader& in, StripJob& job)
{
    for (int i = 0; i < kHeaderLines; ++i) {
        const std::string expected = "header line " + std::to_string(i + 1) +
                                     " of the measured spectrum (the file must hold at least 17 lines)";
        job.header[static_cast<std::size_t>(i)] = fixedio::sjisTextField(in.line(expected), kTextWidth);
        in.requireNoCarriageReturn(job.header[static_cast<std::size_t>(i)], "header line " + std::to_string(i + 1));
    }
}

std::string formatChannelRecord(int channel, float kevPerChannel, std::int32_t count)
{
    const float energy = static_cast<float>(static_cast<double>(channel) * static_cast<double>(kevPerChannel));
    std::string rec = fixedio::formatI(channel, 4);
    rec += ' ';
    rec += fixedio::formatF(energy, 7, 2);
    rec += ' ';
    rec += fixedio::formatI(count, 7);
    return rec;
}

std::string formatResult(const StripJob& job, const Counts& corrected)
{
    fixedio::LineWriter out;
    out.line(fixedio::sjisTextField(job.comment1, kTextWidth));
    out.line(fixedio::sjisTextField(job.comment2, kTextWidth));
    out.line(fixedio::formatI(job.voltage, 3));
    out.line(fixedio::formatF(job.kevPerChannel, 6, 3));
    for (const std::string& h : job.header)
        out.line(fixedio::sjisTextField(h, kTextWidth));
    out.line("  Ch.   KeV    Counts");
    for (int i = 1; i <= kChannels; ++i)
        out.line(formatChannelRecord(i, job.kevPerChannel, corrected[static_cast<std::size_t>(i - 1)]));
    return out.take();
}

} // namespace tvstrip
