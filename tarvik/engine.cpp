#include "engine.h"

#include "conv/conversion.h"
#include "conv/exchange.h"
#include "dialogs.h"
#include "fixedio/files.h"
#include "fixedio/fixedio.h"
#include "fixedio/sjis.h"
#include "spectrumfiles.h"
#include "strip/exchange.h"
#include "strip/stripping.h"
#include "strip/unfold.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace tarvikcli {

namespace fs = std::filesystem;

namespace {

// Result names do not reach the result file's content; the exchange files
// carry a short stand-in so that no name length limits the command line.
constexpr const char* kStandInName = "tarvik";

std::string utf8Of(const fs::path& p)
{
    const auto u = p.u8string();
    return std::string(u.begin(), u.end());
}

std::string folderOf(const fs::path& file)
{
    const fs::path parent = file.parent_path();
    return parent.empty() ? std::string(".") : utf8Of(parent);
}

std::string readWhole(const fs::path& file)
{
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw FileFailure("cannot read " + file.string());
    std::string content;
    char buf[16384];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            ::close(fd);
            throw FileFailure("cannot read " + file.string());
        }
        if (n == 0) break;
        content.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return content;
}

} // namespace

bool methodAvailable(Method m)
{
    return m == Method::Standard || m == Method::Unfold;
}

void requireMethod(Method m)
{
    if (!methodAvailable(m)) throw FileFailure("this method is not available in this build; use --method standard");
}

const tvstrip::UnfoldResponse& ResponseTables::unfoldResponse()
{
    const std::lock_guard lock(mutex_);
    if (unfold_) return *unfold_;
    if (unfoldFailure_) throw FileFailure(*unfoldFailure_);
    try {
        std::error_code ec;
        if (!fs::is_directory(folder_, ec))
            throw FileFailure("the folder of the detector response data " + folder_.string() + " is missing");
        unfold_ = tvstrip::loadUnfoldResponse(folder_);
    } catch (const std::exception& e) {
        unfoldFailure_ = e.what();
        throw FileFailure(*unfoldFailure_);
    }
    return *unfold_;
}

const tvstrip::ResponseTable& ResponseTables::operator()(int code)
{
    const std::lock_guard lock(mutex_);
    if (auto it = cache_.find(code); it != cache_.end()) return it->second;
    // The same name the stripping program passes through its scratch file.
    const fs::path relative = fixedio::exchangePath(tvstrip::responseFileName(code));
    const fs::path file = folder_ / relative.filename();
    std::error_code ec;
    if (!fs::is_regular_file(file, ec))
        throw fixedio::Error("the response table " + relative.filename().string() + " for " +
                             std::to_string(code / 10) + "." + std::to_string(code % 10) +
                             " keV is missing from " + folder_.string());
    auto in = fixedio::LineReader::fromText(file.string(), readWhole(file));
    return cache_.emplace(code, tvstrip::readResponseTable(in)).first->second;
}

namespace {

// The options of the unfolding for what is known of the count rate.
tvstrip::UnfoldOptions unfoldOptionsFor(const tvstrip::UnfoldResponse& response, const tvstrip::PileupInput& rates)
{
    tvstrip::UnfoldOptions o;
    o.pileup = rates;
    if (response.profile.pulsePairResolvingTimeUs) o.pileup.resolvingTimeUs = response.profile.pulsePairResolvingTimeUs;
    return o;
}

std::string percent(double fraction)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f %%", 100.0 * fraction);
    return buf;
}

} // namespace

std::string pileupNote(const tvstrip::PileupReport& p)
{
    std::string note;
    switch (p.source) {
    case tvstrip::PileupSource::None:
        note = "no pile-up in the model (no count rate known, no counts above the tube voltage)";
        break;
    case tvstrip::PileupSource::Counts: {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.0f", p.countsAboveVoltage);
        note = "pile-up " + percent(p.share) + " of the recorded pulses (fitted to " + buf +
               " counts above the tube voltage)";
        break;
    }
    case tvstrip::PileupSource::Rates:
        note = "pile-up " + percent(p.share) + " of the recorded pulses (from the count rate)";
        break;
    case tvstrip::PileupSource::Given:
        note = "pile-up " + percent(p.share) + " of the recorded pulses (given)";
        break;
    }
    if (p.deadTimeFraction) note += "; dead time " + percent(*p.deadTimeFraction);
    return note;
}

namespace {

// The stripping dialog's entries for these settings and a file name.
tarvik::StripEntries stripEntries(const StripSettings& s, const fs::path& csv)
{
    tarvik::StripEntries e;
    e.folder = folderOf(csv);
    e.selectedFile = utf8Of(csv.filename());
    e.text1 = s.comment1;
    e.text2 = s.comment2;
    e.text3 = s.kv;
    e.text4 = kStandInName;
    e.text5 = s.kevPerChannel;
    e.text6 = s.firstLine;
    e.unfold = s.method == Method::Unfold;
    return e;
}

// What tvstrip does with the two exchange files; the unfolding is told
// what is known of the count rate.
StripRun runStripping(const tarvik::StripExchange& x, ResponseTables& tables, const tvstrip::PileupInput& rates)
{
    tvstrip::StripJob job;
    auto in = fixedio::LineReader::fromText("TempFile.dat", x.tempFile);
    tvstrip::readTempFile(in, job);
    auto hin = fixedio::LineReader::fromText("Com.txt", x.comTxt);
    tvstrip::readHeaderLines(hin, job);
    StripRun run;
    run.voltage = job.voltage;
    run.kevPerChannel = job.kevPerChannel;
    run.measured.assign(job.counts.begin(), job.counts.end());
    const tvstrip::StripPlan plan = tvstrip::planStripping(job.voltage, job.kevPerChannel);
    tvstrip::Counts corrected;
    if (job.method == tvstrip::StripMethod::Unfold) {
        // As tvstrip does with line 109 "unfold": the data checked against
        // the run's voltage and width first, then the unfolding itself.
        const tvstrip::UnfoldResponse& response = tables.unfoldResponse();
        tvstrip::unfoldRange(response, job.voltage, job.kevPerChannel);
        tvstrip::UnfoldReport report;
        corrected = tvstrip::unfoldSpectrum(job.counts, job.kevPerChannel, job.voltage, response,
                                            unfoldOptionsFor(response, rates), &report);
        run.pileup = report.pileup;
        run.rates = rates;
    } else {
        std::error_code ec;
        if (!fs::is_directory(tables.folder(), ec))
            throw FileFailure("the folder of the detector response tables " + tables.folder().string() +
                              " is missing");
        tvstrip::WorkingSpectrum w = tvstrip::prepareSpectrum(job.counts, plan);
        tvstrip::stripChannels(w, plan, std::ref(tables), {});
        corrected = tvstrip::finishSpectrum(w, plan);
    }
    run.result = tvstrip::formatResult(job, corrected);
    run.corrected.assign(corrected.begin(), corrected.end());
    return run;
}

} // namespace

StripRun stripFile(const fs::path& csv, const StripSettings& s, ResponseTables& tables,
                   const tvstrip::PileupInput& rates)
{
    requireMethod(s.method);
    const tarvik::StripEntries e = stripEntries(s, csv);
    if (auto n = tarvik::checkStripValues(e)) throw FileFailure(n->text);
    tarvik::AppState state;
    tarvik::takeStripEntries(state, e);
    auto built = tarvik::buildStripExchange(state, e);
    if (auto* n = std::get_if<tarvik::Notice>(&built)) throw FileFailure(n->text);
    return runStripping(std::get<tarvik::StripExchange>(built), tables, rates);
}

StripRun stripMeasured(const tarvik::MeasuredSpectrum& m, const StripSettings& s, ResponseTables& tables,
                       const tvstrip::PileupInput& rates)
{
    requireMethod(s.method);
    // The first line is the dialog's entry for a file; it is checked, but
    // the header lines are given.
    const tarvik::StripEntries e = stripEntries(s, "spectrum.csv");
    if (auto n = tarvik::checkStripValues(e)) throw FileFailure(n->text);
    tarvik::AppState state;
    tarvik::takeStripEntries(state, e);
    auto built = tarvik::stripExchangeFor(state, m);
    if (auto* n = std::get_if<tarvik::Notice>(&built)) throw FileFailure(n->text);
    return runStripping(std::get<tarvik::StripExchange>(built), tables, rates);
}

std::vector<double> stripCounts(std::span<const double> measured, std::int32_t voltage, float kevPerChannel,
                                ResponseTables& tables, Method method, tvstrip::UnfoldReport* report,
                                const tvstrip::PileupInput& rates)
{
    tvstrip::Counts c{};
    for (std::size_t i = 0; i < c.size() && i < measured.size(); ++i)
        c[i] = static_cast<std::int32_t>(std::lround(measured[i]));
    const tvstrip::Counts out =
        method == Method::Unfold
            ? tvstrip::unfoldSpectrum(c, kevPerChannel, voltage, tables.unfoldResponse(),
                                      unfoldOptionsFor(tables.unfoldResponse(), rates), report)
            : tvstrip::stripSpectrum(c, voltage, kevPerChannel, std::ref(tables));
    return {out.begin(), out.end()};
}

namespace {

// The conversion dialog's entries for these settings, the file's name and
// what a click on it proposed.
tarvik::ConvertEntries convertEntries(const ConvertSettings& s, const std::string& folder, const std::string& name,
                                      const tarvik::ConvertClick& click)
{
    tarvik::ConvertEntries e;
    e.folder = folder;
    e.selectedFile = name;
    e.text1 = s.comment1.value_or(click.text1);
    e.text2 = s.comment2.value_or(click.text2);
    e.text3 = click.text3;
    e.text4 = kStandInName;
    e.text5 = s.angle;
    e.text6 = s.lengthMm;
    e.carbon = s.carbonName;
    e.unfold = s.method == Method::Unfold;
    return e;
}

// What tvconv does with the two exchange files.
ConvertRun runConversion(const tarvik::ConvertExchange& x, const tvconv::ScattererData& scatterer,
                         const tvconv::ScatterModelData* model)
{
    auto in = fixedio::LineReader::fromText("TempFile2.dat", x.tempFile2);
    const tvconv::ConversionRequest request = tvconv::readConversionRequest(in);
    auto hin = fixedio::LineReader::fromText("Com.dat", x.comDat);
    const std::vector<std::string> header = tvconv::readResultHeader(hin);
    tvconv::Spectrum primary{};
    if (request.method == tvconv::ConversionMethod::unfold) {
        // As tvconv does with line 110 "unfold".
        if (!model) throw FileFailure("the Compton profile of the scatterer was not read for the unfold method");
        tvconv::checkUnfoldInput(request.input, *model);
        primary = tvconv::unfoldPrimary(request.input, *model).primary;
    } else {
        tvconv::checkConversionInput(request.input, scatterer);
        primary = tvconv::convertSpectrum(request.input, scatterer);
    }
    ConvertRun run;
    run.angle = request.input.angle;
    run.lengthCm = request.input.attenuationLength;
    run.kevPerChannel = request.input.channelWidth;
    run.result = tvconv::formatResult(header, request.input.channelWidth, primary);
    run.corrected.assign(primary.begin(), primary.end());
    return run;
}

} // namespace

ConvertRun convertFile(const fs::path& mca1, const ConvertSettings& s, const tvconv::ScattererData& scatterer,
                       const tvconv::ScatterModelData* model)
{
    requireMethod(s.method);
    tarvik::AppState state;
    const std::string folder = folderOf(mca1), name = utf8Of(mca1.filename());
    // What a click on the file proposes: its own comments.
    const tarvik::ConvertClick click = tarvik::convertFileClicked(state, folder, name);
    if (click.error) throw FileFailure(click.error->text);
    const tarvik::ConvertEntries e = convertEntries(s, folder, name, click);
    if (auto n = tarvik::checkConvertValues(e)) throw FileFailure(n->text);
    auto built = tarvik::buildConvertExchange(state, e);
    if (auto* n = std::get_if<tarvik::Notice>(&built)) throw FileFailure(n->text);
    return runConversion(std::get<tarvik::ConvertExchange>(built), scatterer, model);
}

ConvertRun convertResultContent(const fs::path& name, const std::string& content, const ConvertSettings& s,
                                const tvconv::ScattererData& scatterer, const tvconv::ScatterModelData* model)
{
    requireMethod(s.method);
    tarvik::AppState state;
    const std::string folder = folderOf(name), file = utf8Of(name.filename());
    tarvik::ConvertClick click;
    tarvik::ResultSpectrum r;
    try {
        click = tarvik::convertClickFor(state, tarvik::readResultPreviewContent(name, content), file);
        r = tarvik::readResultContent(name, content);
    } catch (const tarvik::SpectrumFileError& e) {
        throw FileFailure(e.what());
    }
    const tarvik::ConvertEntries e = convertEntries(s, folder, file, click);
    if (auto n = tarvik::checkConvertValues(e)) throw FileFailure(n->text);
    auto built = tarvik::convertExchangeFor(state, e, r);
    if (auto* n = std::get_if<tarvik::Notice>(&built)) throw FileFailure(n->text);
    return runConversion(std::get<tarvik::ConvertExchange>(built), scatterer, model);
}

std::vector<double> convertCounts(std::span<const double> counts, std::int32_t angle, float lengthCm,
                                  float kevPerChannel, const tvconv::ScattererData& scatterer,
                                  const tvconv::ScatterModelData* model)
{
    tvconv::ConversionInput input;
    for (std::size_t i = 0; i < input.counts.size() && i < counts.size(); ++i)
        input.counts[i] = static_cast<std::int32_t>(std::lround(counts[i]));
    input.angle = angle;
    input.attenuationLength = lengthCm;
    input.channelWidth = kevPerChannel;
    if (model) tvconv::checkUnfoldInput(input, *model);
    const tvconv::Spectrum out =
        model ? tvconv::unfoldPrimary(input, *model).primary : tvconv::convertSpectrum(input, scatterer);
    return {out.begin(), out.end()};
}

SpectrumData readSpectrum(const fs::path& file, std::optional<double> kevPerChannel, double firstLine)
{
    const std::string ext = file.extension().string();
    SpectrumData d;
    try {
        if (ext == ".csv") {
            if (!kevPerChannel)
                throw FileFailure("a .csv carries no keV per channel: give it with --kev-per-channel W");
            const tarvik::MeasuredSpectrum m = tarvik::readMeasuredFile(file, firstLine);
            d.counts.assign(m.counts.begin() + 1, m.counts.begin() + 1 + tarvik::kChannels);
            d.kevPerChannel = *kevPerChannel;
            d.measured = true;
        } else if (ext == ".mca1" || ext == ".mca2") {
            const tarvik::ResultPreview p = tarvik::readResultPreview(file);
            const tarvik::ResultSpectrum r = tarvik::readResultFile(file);
            d.counts.assign(r.counts.begin() + 1, r.counts.begin() + 1 + tarvik::kChannels);
            d.kevPerChannel = p.kevPerChannel;
            // A width given for the .csv files of the same call must not
            // silently change the meaning of a result file.
            if (kevPerChannel && std::fabs(*kevPerChannel - p.kevPerChannel) > 1e-9 * p.kevPerChannel) {
                char buf[160];
                std::snprintf(buf, sizeof buf, "its header says %g keV per channel, --kev-per-channel %g",
                              p.kevPerChannel, *kevPerChannel);
                throw FileFailure(buf);
            }
        } else {
            throw FileFailure("not a spectrum file (.csv, .mca1 or .mca2)");
        }
    } catch (const tarvik::SpectrumFileError& e) {
        throw FileFailure(e.what());
    }
    if (!(d.kevPerChannel > 0)) throw FileFailure("the keV per channel must be above 0");
    return d;
}

namespace {

std::string csvField(const std::string& s)
{
    if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
    std::string out = "\"";
    for (char c : s) out += (c == '"') ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

// The upper edge of channel k (0-based) of a spectrum.
double upperEdge(const SpectrumData& s, std::size_t k)
{
    return s.upperEdgesKeV.empty() ? static_cast<double>(k + 1) * s.kevPerChannel : s.upperEdgesKeV[k];
}

// The table when a file of another format is among the spectra.
std::string exportAnyChannels(const std::vector<std::string>& names, const std::vector<SpectrumData>& spectra)
{
    std::size_t rows = 0;
    for (const auto& s : spectra) rows = std::max(rows, s.counts.size());
    bool shared = true;
    for (const auto& s : spectra) {
        if (s.counts.size() != spectra.front().counts.size()) shared = false;
        for (std::size_t k = 0; shared && k < s.counts.size(); ++k)
            shared = std::fabs(upperEdge(s, k) - upperEdge(spectra.front(), k)) <= 1e-9 * std::fabs(upperEdge(s, k));
    }
    std::string out = "channel";
    std::string units;
    if (shared) {
        out += ",energy";
        units = ",keV";
    }
    for (const auto& n : names) {
        if (!shared) {
            out += ',';
            out += csvField("energy " + n);
            units += ",keV";
        }
        out += ',';
        out += csvField(n);
        units += ",counts";
    }
    out += '\n';
    out += units;
    out += '\n';
    char buf[64];
    for (std::size_t k = 0; k < rows; ++k) {
        std::snprintf(buf, sizeof buf, "%zu", k + 1);
        out += buf;
        if (shared) {
            std::snprintf(buf, sizeof buf, ",%.6g", upperEdge(spectra.front(), k));
            out += buf;
        }
        for (const auto& s : spectra) {
            if (k >= s.counts.size()) {
                out += shared ? "," : ",,";
                continue;
            }
            if (!shared) {
                std::snprintf(buf, sizeof buf, ",%.6g", upperEdge(s, k));
                out += buf;
            }
            std::snprintf(buf, sizeof buf, ",%.10g", s.counts[k]);
            out += buf;
        }
        out += "\n";
    }
    return out;
}

} // namespace

std::string exportCsv(const std::vector<std::string>& names, const std::vector<SpectrumData>& spectra)
{
    if (spectra.empty()) throw FileFailure("no spectrum to export");
    for (const auto& s : spectra)
        if (!s.upperEdgesKeV.empty()) return exportAnyChannels(names, spectra);
    const double w = spectra.front().kevPerChannel;
    for (std::size_t k = 1; k < spectra.size(); ++k)
        if (spectra[k].kevPerChannel != w)
            throw FileFailure(names[k] + " has " + std::to_string(spectra[k].kevPerChannel) +
                              " keV per channel, " + names.front() + " " + std::to_string(w) +
                              ": one energy column cannot serve both");
    auto field = [](const std::string& s) {
        if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
        std::string out = "\"";
        for (char c : s) out += (c == '"') ? std::string("\"\"") : std::string(1, c);
        return out + "\"";
    };
    std::string out = "channel,energy";
    for (const auto& n : names) {
        out += ',';
        out += field(n);
    }
    out += "\n,keV";
    for (std::size_t k = 0; k < names.size(); ++k) out += ",counts";
    out += "\n";
    char buf[64];
    for (int i = 1; i <= tarvik::kChannels; ++i) {
        std::snprintf(buf, sizeof buf, "%d,%.6g", i, i * w);
        out += buf;
        for (const auto& s : spectra) {
            std::snprintf(buf, sizeof buf, ",%.10g", s.counts[static_cast<std::size_t>(i - 1)]);
            out += buf;
        }
        out += "\n";
    }
    return out;
}

} // namespace tarvikcli
