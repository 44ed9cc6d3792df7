#include "foreign.h"

#include "formats/rebin.h"

#include "fixedio/files.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace tarvikcli {

namespace fs = std::filesystem;

namespace {

std::string number(const char* pattern, double v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, pattern, v);
    return buf;
}

} // namespace

bool isOtherFormat(const fs::path& file, std::optional<formats::Format> forced)
{
    const std::string ext = file.extension().string();
    if (ext == ".mca1" || ext == ".mca2") return false;
    if (forced) return !(*forced == formats::Format::MeasuredCsv && ext == ".csv");
    if (ext != ".csv") return true;
    // A ".csv" of text columns; the measured layout keeps its reader.
    std::string head;
    bool complete = false;
    if (fixedio::readFileHead(file, std::size_t{1} << 16, head, complete) != fixedio::ReadStatus::Ok) return false;
    return formats::recogniseFormat(head) == formats::Format::PlainText;
}

std::vector<OtherSpectrum> readOtherFormat(const fs::path& file, std::optional<formats::Format> forced)
{
    std::vector<formats::Spectrum> all;
    try {
        formats::ReadOptions o;
        o.format = forced;
        all = formats::readSpectra(file, o);
    } catch (const formats::FormatError& e) {
        // The report names the file already.
        throw FileFailure(e.where().empty() ? e.reason() : e.where() + ": " + e.reason());
    }
    std::vector<OtherSpectrum> out;
    const std::string stem = file.stem().string();
    for (std::size_t k = 0; k < all.size(); ++k) {
        OtherSpectrum o;
        o.label = file.string();
        o.stem = stem;
        if (all.size() > 1) {
            o.label += '#';
            o.label += std::to_string(k + 1);
            o.stem += '_';
            o.stem += std::to_string(k + 1);
        }
        o.spectrum = std::move(all[k]);
        out.push_back(std::move(o));
    }
    return out;
}

formats::Spectrum withGivenScale(formats::Spectrum s, const GivenScale& given)
{
    if (!given.kevPerChannel) return s;
    try {
        s.calibration = formats::makeCalibration({given.offsetKeV, *given.kevPerChannel}, formats::ChannelPoint::LowerEdge,
                                                 s.counts.size(), "given on the command line");
    } catch (const std::invalid_argument& e) {
        throw FileFailure(std::string("the keV per channel given cannot be used: ") + e.what());
    }
    return s;
}

ZeroScale ontoZeroScale(const formats::Spectrum& s)
{
    if (!s.calibration)
        throw FileFailure("it has no energy calibration: give --kev-per-channel W (and --offset-kev O, the start of "
                          "its first channel in keV)");
    const formats::Calibration& c = *s.calibration;
    ZeroScale z;
    z.kevPerChannel = c.gainKeV;
    if (!formats::directScaleProblem(s, c.gainKeV)) {
        z.counts.assign(s.counts.begin(), s.counts.end());
        return z;
    }
    const double top = c.edgeKeV(static_cast<double>(s.counts.size()));
    if (!(top > 0)) throw FileFailure("its calibration puts every channel below 0 keV");
    const auto channels = static_cast<std::size_t>(std::ceil(top / c.gainKeV - 1e-9));
    if (channels > formats::kMaxChannels * 4)
        throw FileFailure("its calibration spreads the channels over more than " +
                          std::to_string(formats::kMaxChannels * 4) + " channels of its own width");
    const formats::Shared shared = formats::shareOnto(s, c.gainKeV, channels);
    z.counts = shared.counts;
    z.note = "its calibration starts at " + number("%.4g keV", c.edgeKeV(0)) +
             (c.linearityKeV > 0 ? number(" and bends by up to %.3g keV", c.linearityKeV) : std::string()) +
             ": counts shared onto channels of " + number("%.6g keV", c.gainKeV) + " from 0 keV" +
             (shared.belowZero > 0 ? number(" (%.0f counts below 0 keV left out)", shared.belowZero) : std::string());
    return z;
}

SpectrumData exportData(const formats::Spectrum& s)
{
    if (!s.calibration) throw FileFailure("it has no energy calibration: give --kev-per-channel W (and --offset-kev O)");
    SpectrumData d;
    d.counts.assign(s.counts.begin(), s.counts.end());
    d.kevPerChannel = s.calibration->gainKeV;
    d.upperEdgesKeV.reserve(s.counts.size());
    for (std::size_t k = 0; k < s.counts.size(); ++k)
        d.upperEdgesKeV.push_back(s.calibration->edgeKeV(static_cast<double>(k + 1)));
    return d;
}

tvstrip::PileupInput pileupInputOf(const formats::Spectrum& s)
{
    tvstrip::PileupInput in;
    in.liveTimeS = s.liveTimeS;
    in.realTimeS = s.realTimeS;
    if (!s.processor) return in;
    const formats::PulseProcessor& p = *s.processor;
    if (p.pileUpRejection.value_or(false)) {
        if (p.fastPeakingTimeNs && *p.fastPeakingTimeNs > 0) in.resolvingTimeUs = *p.fastPeakingTimeNs * 1e-3;
    } else if (p.peakingTimeUs && *p.peakingTimeUs > 0) {
        in.resolvingTimeUs = *p.peakingTimeUs + std::max(p.flatTopUs.value_or(0.0), 0.0);
    }
    if (p.inputCounts && *p.inputCounts > 0) {
        const double counted = static_cast<double>(*p.inputCounts);
        if (p.accumulationTimeS && *p.accumulationTimeS > 0 && s.realTimeS)
            in.inputCounts = counted * *s.realTimeS / *p.accumulationTimeS;
        else if (s.realTimeS)
            in.inputCounts = counted;
        // A fast channel that counted fewer pulses than the spectrum holds
        // missed the small ones (its threshold lies above the slow
        // channel's): the rate then comes from the recorded pulses.
        if (in.inputCounts && *in.inputCounts < static_cast<double>(s.total())) in.inputCounts.reset();
    }
    return in;
}

formats::MeasuredCsv importCsv(const OtherSpectrum& o, std::optional<double> rebinKevPerChannel)
{
    formats::MeasuredCsvOptions opt;
    opt.rebinKevPerChannel = rebinKevPerChannel;
    opt.sourceName = fs::path(o.spectrum.file).filename().string();
    try {
        return formats::toMeasuredCsv(o.spectrum, opt);
    } catch (const formats::ImportError& e) {
        throw FileFailure(e.what());
    }
}

std::string stripWidth(const formats::Spectrum& s, std::optional<double> rebinKevPerChannel, bool givenOnCommandLine)
{
    if (rebinKevPerChannel) return number("%.10g", *rebinKevPerChannel);
    if (s.counts.size() != formats::kDialogChannels)
        throw FileFailure("it has " + std::to_string(s.counts.size()) +
                          " channels; the stripping takes 1024: give --rebin-kev-per-channel W to share its counts "
                          "onto 1024 channels of W keV by its calibration");
    if (!s.calibration)
        throw FileFailure("it has no energy calibration: give --kev-per-channel W, or --rebin-kev-per-channel W with "
                          "--kev-per-channel and --offset-kev as its calibration");
    if (givenOnCommandLine) return number("%.10g", s.calibration->gainKeV);
    // The exchange file holds the keV per channel with three decimals.
    const double w3 = std::round(s.calibration->gainKeV * 1000) / 1000;
    std::optional<std::string> problem = w3 > 0 ? formats::directScaleProblem(s, w3)
                                                : std::optional<std::string>("its keV per channel rounds to 0.000");
    if (problem)
        throw FileFailure(*problem + "; the stripping takes channels of a keV per channel of three decimals from 0 keV: "
                                     "give --rebin-kev-per-channel W to share its counts onto 1024 channels of W keV, "
                                     "or --kev-per-channel W to take its channels as they are");
    return number("%.3f", w3);
}

StripRun stripImported(const OtherSpectrum& o, StripSettings s, bool widthGiven, std::optional<double> rebin,
                       ResponseTables& tables, std::string* width)
{
    s.kevPerChannel = stripWidth(o.spectrum, rebin, widthGiven);
    if (width) *width = s.kevPerChannel;
    s.firstLine = "32";
    const formats::MeasuredCsv csv = importCsv(o, rebin);
    tarvik::MeasuredSpectrum m;
    try {
        m = tarvik::readMeasuredContent(o.stem + ".csv", csv.bytes, 32);
    } catch (const tarvik::SpectrumFileError& e) {
        throw FileFailure(e.what());
    }
    return stripMeasured(m, s, tables, pileupInputOf(o.spectrum));
}

} // namespace tarvikcli
