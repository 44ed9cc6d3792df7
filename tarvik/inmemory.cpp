#include "inmemory.h"

#include "conv/exchange.h"
#include "conv/profile.h"
#include "dialogs.h"
#include "exchange.h"
#include "fixedio/files.h"
#include "fixedio/fixedio.h"
#include "formats/measuredcsv_writer.h"
#include "sjis/sjis.h"
#include "strip/exchange.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

namespace tarvikcli {

namespace fs = std::filesystem;

namespace {

// A number as a person would type it into a dialog's box, precise enough
// that the dialog's reading gives the same number back.
std::string entryText(double v)
{
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
}

std::string shortNumber(double v)
{
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.10g", v);
    return buf;
}

void requireChannels(std::span<const double> counts, std::size_t n, const char* what)
{
    if (counts.size() != n)
        throw InputError(std::string(what) + " needs " + std::to_string(n) + " channels, the spectrum has " +
                         std::to_string(counts.size()));
}

// Every count a number, not negative (unless `negatives`), at most
// `limit`; whole when `whole`.
void requireCounts(std::span<const double> counts, double limit, bool whole, const char* what, bool negatives = true)
{
    for (std::size_t i = 0; i < counts.size(); ++i) {
        const double c = counts[i];
        const std::string channel = "channel " + std::to_string(i + 1);
        if (!std::isfinite(c)) throw InputError(channel + " holds " + shortNumber(c) + ": counts must be numbers");
        if (c < 0 && negatives) throw InputError(channel + " holds " + shortNumber(c) + ": counts must not be negative");
        if (whole && c != std::floor(c))
            throw InputError(channel + " holds " + shortNumber(c) + ": " + what +
                             " holds whole counts (numpy.rint rounds them)");
        if (c > limit)
            throw InputError(channel + " holds " + shortNumber(c) + ": " + what + " holds at most " +
                             shortNumber(limit) + " counts a channel");
    }
}

void requireKind(const SpectrumInfo& info, SpectrumKind kind, const char* what)
{
    if (info.kind != kind)
        throw InputError(std::string(what) + " takes a " + kindName(kind) + " spectrum, this one is " +
                         kindName(info.kind));
}

void requireFinite(double v, const char* what)
{
    if (!std::isfinite(v)) throw InputError(std::string(what) + " must be a number, not " + shortNumber(v));
}

} // namespace

const char* kindName(SpectrumKind kind)
{
    switch (kind) {
    case SpectrumKind::Stripped: return "stripped";
    case SpectrumKind::Converted: return "converted";
    case SpectrumKind::Measured: break;
    }
    return "measured";
}

SpectrumKind kindFromName(std::string_view name)
{
    for (SpectrumKind k : {SpectrumKind::Measured, SpectrumKind::Stripped, SpectrumKind::Converted})
        if (name == kindName(k)) return k;
    throw InputError("the kind of a spectrum is \"measured\", \"stripped\" or \"converted\", not \"" +
                     std::string(name) + "\"");
}

Method methodFromName(std::string_view name)
{
    if (name == "standard") return Method::Standard;
    if (name == "unfold") return Method::Unfold;
    throw InputError("the method is \"standard\" or \"unfold\", not \"" + std::string(name) + "\"");
}

std::string fileText(std::string_view utf8, const char* what)
{
    if (auto sjisText = sjis::fromUtf8(utf8)) return *sjisText;
    throw InputError(std::string(what) + " holds a character that the files cannot hold (Shift_JIS): " +
                     std::string(utf8));
}

std::string readableText(std::string_view fileText)
{
    std::string s = sjis::toUtf8ForDisplay(fileText);
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

void requireChannelCount(std::size_t channels)
{
    if (channels == 0) throw InputError("a spectrum needs at least one channel");
    if (channels > kMaxChannels)
        throw InputError("a spectrum of " + std::to_string(channels) + " channels is more than the " +
                         std::to_string(kMaxChannels) + " any spectrum file holds");
}

namespace {

// A spectrum of another format as a record: its counts, the straight line
// of its calibration, its times and texts, and the whole of it as the source.
SpectrumRecord otherRecord(OtherSpectrum&& o)
{
    SpectrumRecord r;
    const formats::Spectrum& s = o.spectrum;
    r.counts.assign(s.counts.begin(), s.counts.end());
    r.info.kind = SpectrumKind::Measured;
    r.info.format = formats::formatKey(s.format);
    if (s.calibration) {
        r.info.kevPerChannel = s.calibration->gainKeV;
        r.info.offsetKeV = s.calibration->offsetKeV;
    }
    r.info.liveTimeS = s.liveTimeS;
    r.info.realTimeS = s.realTimeS;
    // The descriptive lines as the import writes them (Shift_JIS, what it
    // cannot hold as "?"), without its cut to the dialog's 60 bytes.
    for (const std::string& line : s.headerLines) {
        std::string text;
        for (std::size_t i = 0; i < line.size();) {
            std::size_t n = 1;
            const auto c = static_cast<unsigned char>(line[i]);
            if (c >= 0xC0) n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
            const std::string character = line.substr(i, n);
            const auto converted = sjis::fromUtf8(character);
            text += converted ? *converted : std::string("?");
            i += n;
        }
        r.info.header.push_back(std::move(text));
    }
    r.info.file = o.label;
    r.info.name = s.name;
    r.info.source = std::make_shared<const formats::Spectrum>(std::move(o.spectrum));
    return r;
}

// The source spectrum with the record's counts: whole numbers from 0 up, as
// a file of that format holds them.
formats::Spectrum withCounts(const formats::Spectrum& source, std::span<const double> counts)
{
    requireCounts(counts, 9007199254740992.0, true, "a spectrum file");
    formats::Spectrum s;
    s.format = source.format;
    s.file = source.file;
    s.name = source.name;
    s.calibration = source.calibration;
    s.liveTimeS = source.liveTimeS;
    s.realTimeS = source.realTimeS;
    s.startTime = source.startTime;
    s.headerLines = source.headerLines;
    s.processor = source.processor;
    s.counts.assign(counts.size(), 0);
    for (std::size_t i = 0; i < counts.size(); ++i) s.counts[i] = static_cast<std::uint64_t>(counts[i]);
    if (s.calibration && s.calibration->coefficients.size() > 2 && counts.size() != source.counts.size())
        throw InputError("the spectrum's calibration was made for " + std::to_string(source.counts.size()) +
                         " channels, it has " + std::to_string(counts.size()));
    return s;
}

// The source spectrum as the record now stands: its counts, and the scale
// given (`given`), or the record's own when it was changed from the file's
// calibration line.  `scaleGiven` tells whether a scale took the place of
// the file's calibration.
formats::Spectrum currentSource(const SpectrumInfo& info, std::span<const double> counts, std::optional<double> given,
                                bool& scaleGiven)
{
    formats::Spectrum s = withCounts(*info.source, counts);
    scaleGiven = true;
    if (given) return withGivenScale(std::move(s), GivenScale{given, 0});
    const auto& c = info.source->calibration;
    if (!info.kevPerChannel) {
        s.calibration.reset();
        scaleGiven = false;
        return s;
    }
    if (c && c->gainKeV == *info.kevPerChannel && c->offsetKeV == info.offsetKeV) {
        scaleGiven = false;
        return s;
    }
    // An offset of rounding size (a calibration through points) is none.
    const double offset = std::fabs(info.offsetKeV) > 1e-9 * *info.kevPerChannel ? info.offsetKeV : 0.0;
    return withGivenScale(std::move(s), GivenScale{info.kevPerChannel, offset});
}

} // namespace

namespace {

// The spectra of a file of another format; a refusal names the file, as the
// command line's report of it does.
std::vector<OtherSpectrum> readOther(const fs::path& file, std::optional<formats::Format> forced)
{
    try {
        return readOtherFormat(file, forced);
    } catch (const FileFailure& e) {
        throw FileFailure(file.string() + ": " + e.what());
    }
}

} // namespace

std::vector<SpectrumRecord> readSpectrumFiles(const fs::path& file, double firstLine,
                                              std::optional<formats::Format> forced)
{
    std::vector<SpectrumRecord> out;
    if (isOtherFormat(file, forced)) {
        for (OtherSpectrum& o : readOther(file, forced)) out.push_back(otherRecord(std::move(o)));
        return out;
    }
    out.push_back(readSpectrumFile(file, firstLine, forced));
    return out;
}

SpectrumRecord readSpectrumFile(const fs::path& file, double firstLine, std::optional<formats::Format> forced)
{
    if (isOtherFormat(file, forced)) {
        std::vector<OtherSpectrum> all = readOther(file, forced);
        if (all.size() != 1)
            throw FileFailure(file.string() + ": it holds " + std::to_string(all.size()) +
                              " spectra: read each with tarvik.read_all (readSpectrumFiles)");
        return otherRecord(std::move(all.front()));
    }
    const std::string ext = file.extension().string();
    SpectrumRecord r;
    r.info.file = file.string();
    try {
        if (ext == ".csv") {
            const tarvik::MeasuredSpectrum m = tarvik::readMeasuredFile(file, firstLine);
            r.info.kind = SpectrumKind::Measured;
            r.info.format = "csv";
            r.info.header = m.headerLines;
            r.counts.assign(m.counts.begin() + 1, m.counts.begin() + 1 + tarvik::kChannels);
            // The live and real time `tarvik import` keeps in the header.
            try {
                const formats::HeaderTimes t = formats::importedTimes(m.headerLines, file.string());
                r.info.liveTimeS = t.liveTimeS;
                r.info.realTimeS = t.realTimeS;
            } catch (const formats::FormatError& e) {
                throw FileFailure(e.where() + ": " + e.reason());
            }
            return r;
        }
        if (ext == ".mca1" || ext == ".mca2") {
            const tarvik::ResultPreview p = tarvik::readResultPreview(file);
            const tarvik::ResultSpectrum s = tarvik::readResultFile(file);
            r.info.kind = ext == ".mca1" ? SpectrumKind::Stripped : SpectrumKind::Converted;
            r.info.format = ext.substr(1);
            r.info.kevPerChannel = p.kevPerChannel;
            r.info.tubeVoltage = p.tubeVoltage;
            r.info.comments = {s.commentLines.at(0), s.commentLines.at(1)};
            // Lines 5 to 21; line 22 is the column heading.
            r.info.header.assign(s.headerLines3to22.begin() + 2, s.headerLines3to22.end() - 1);
            r.counts.assign(s.counts.begin() + 1, s.counts.begin() + 1 + tarvik::kChannels);
            return r;
        }
    } catch (const tarvik::SpectrumFileError& e) {
        throw FileFailure(e.what());
    }
    // isOtherFormat takes every other file; a ".csv" it cannot read is the front end's.
    throw FileFailure(file.string() + ": not a spectrum file (.csv, .mca1 or .mca2)");
}

SpectrumRecord resultRecord(const fs::path& name, const std::string& bytes, SpectrumKind kind)
{
    SpectrumRecord r;
    try {
        const tarvik::ResultSpectrum s = tarvik::readResultContent(name, bytes);
        // The voltage and the width as the conversion dialog reads them: the
        // first field of lines 3 and 4.  (Its preview would also convert
        // every later line for its list.)
        tarvik::TextFileReader head(name, s.headerLines3to22.at(0) + "\r\n" + s.headerLines3to22.at(1) + "\r\n");
        r.info.kind = kind;
        r.info.format = kind == SpectrumKind::Converted ? "mca2" : "mca1";
        r.info.tubeVoltage = head.readNumberField();
        r.info.kevPerChannel = head.readNumberField();
        r.info.comments = {s.commentLines.at(0), s.commentLines.at(1)};
        r.info.header.assign(s.headerLines3to22.begin() + 2, s.headerLines3to22.end() - 1);
        r.counts.assign(s.counts.begin() + 1, s.counts.begin() + 1 + tarvik::kChannels);
    } catch (const tarvik::SpectrumFileError& e) {
        throw FileFailure(e.what());
    } catch (const tarvik::FileReadError& e) {
        throw FileFailure(e.what());
    }
    return r;
}

std::string resultBytes(std::span<const double> counts, const SpectrumInfo& info, SpectrumKind kind)
{
    requireChannels(counts, tvstrip::kChannels, "a result file");
    requireCounts(counts, 9999999, true, "a result file");
    if (!info.kevPerChannel) throw InputError("a result file needs the keV per channel");
    const double w = *info.kevPerChannel;
    // The layout holds the width in six columns with three decimals.
    if (!(w >= 0.0005 && w < 99.9995))
        throw InputError("a result file holds 0.001 to 99.999 keV per channel, not " + shortNumber(w));
    const double kv = info.tubeVoltage.value_or(0.0);
    if (!(kv >= 0 && kv < 999.5)) throw InputError("a result file holds a tube voltage of 0 to 999 kV, not " + shortNumber(kv));
    // The layout of the stripping program: its header lines and records.
    tvstrip::StripJob job;
    job.comment1 = info.comments[0];
    job.comment2 = info.comments[1];
    job.voltage = static_cast<std::int32_t>(std::lround(kv));
    job.kevPerChannel = static_cast<float>(w);
    for (std::size_t i = 0; i < job.header.size(); ++i)
        job.header[i] = i < info.header.size() ? info.header[i] : std::string();
    tvstrip::Counts c{};
    for (std::size_t i = 0; i < c.size(); ++i) c[i] = static_cast<std::int32_t>(counts[i]);
    std::string mca1 = tvstrip::formatResult(job, c);
    if (kind != SpectrumKind::Converted) return mca1;
    // The conversion program's layout: its 22 header lines as it takes them
    // from Com.dat (the comments and lines 3 to 22 of the ".mca1").
    auto in = fixedio::LineReader::fromText("Com.dat", mca1);
    const std::vector<std::string> header = tvconv::readResultHeader(in);
    tvconv::Spectrum primary{};
    std::copy(c.begin(), c.end(), primary.begin());
    return tvconv::formatResult(header, job.kevPerChannel, primary);
}

void writeSpectrumFile(std::span<const double> counts, const SpectrumInfo& info, const fs::path& file)
{
    const std::string ext = file.extension().string();
    SpectrumKind kind;
    if (ext == ".mca1") kind = SpectrumKind::Stripped;
    else if (ext == ".mca2") kind = SpectrumKind::Converted;
    else throw InputError("a spectrum is written as .mca1 (stripped) or .mca2 (converted), not " + file.string());
    if (info.kind != kind)
        throw InputError(std::string("a ") + kindName(info.kind) + " spectrum is not written as " + ext + " (it holds " +
                         kindName(kind) + " spectra)");
    const std::string bytes = resultBytes(counts, info, kind);
    fixedio::requireWritableResult(file, "the spectrum");
    fixedio::writeFileAtomically(file, bytes);
}

double channelWidth(const SpectrumInfo& info, std::optional<double> given)
{
    if (given) requireFinite(*given, "the keV per channel");
    if (info.kevPerChannel && given && info.kind != SpectrumKind::Measured &&
        std::fabs(*given - *info.kevPerChannel) > 1e-9 * *info.kevPerChannel)
        throw InputError("the spectrum says " + shortNumber(*info.kevPerChannel) + " keV per channel, kev_per_channel " +
                         shortNumber(*given));
    if (given) return *given;
    if (info.kevPerChannel) return *info.kevPerChannel;
    throw InputError("the spectrum carries no keV per channel (a .csv has none): give kev_per_channel");
}

SpectrumRecord stripInMemory(std::span<const double> counts, const SpectrumInfo& info, const StripRequest& request,
                             ResponseTables& tables)
{
    requireKind(info, SpectrumKind::Measured, "the stripping");
    requireFinite(request.kv, "the tube voltage");
    if (info.source) {
        // As `tarvik strip` takes the file: its ".csv" of `tarvik import`.
        OtherSpectrum o;
        o.label = info.file;
        o.stem = fs::path(info.file).stem().string();
        bool scaleGiven = false;
        o.spectrum = currentSource(info, counts, request.kevPerChannel, scaleGiven);
        if (scaleGiven && o.spectrum.calibration && o.spectrum.calibration->offsetKeV != 0 && !request.rebinKevPerChannel)
            throw InputError("the stripping takes channels from 0 keV: with offset_kev give rebin_kev_per_channel");
        StripSettings s;
        s.kv = entryText(request.kv);
        s.comment1 = request.comment1;
        s.comment2 = request.comment2;
        s.method = request.method;
        const StripRun run = stripImported(o, s, scaleGiven, request.rebinKevPerChannel, tables);
        SpectrumRecord r = resultRecord("spectrum.mca1", run.result, SpectrumKind::Stripped);
        r.info.liveTimeS = info.liveTimeS;
        r.info.realTimeS = info.realTimeS;
        return r;
    }
    if (request.rebinKevPerChannel)
        throw InputError("rebin_kev_per_channel is for spectra of other formats, which bring their calibration");
    requireChannels(counts, tvstrip::kChannels, "the stripping");
    const double w = channelWidth(info, request.kevPerChannel);
    tarvik::MeasuredSpectrum m;
    m.headerLines = info.header;
    if (m.headerLines.size() < tvstrip::kHeaderLines) m.headerLines.resize(tvstrip::kHeaderLines);
    std::copy(counts.begin(), counts.end(), m.counts.begin() + 1);
    // The dialog's own check refuses what does not fit the exchange file,
    // with its message; what no file can hold (numbers that are no numbers)
    // and small negatives that the dialog would round to 0 are refused here.
    requireCounts(counts, HUGE_VAL, false, "the stripping", false);
    if (auto n = tarvik::checkCounts(m.counts)) throw FileFailure(n->text);
    requireCounts(counts, HUGE_VAL, false, "the stripping");
    StripSettings s;
    s.kv = entryText(request.kv);
    s.kevPerChannel = entryText(w);
    s.comment1 = request.comment1;
    s.comment2 = request.comment2;
    s.method = request.method;
    const StripRun run = stripMeasured(m, s, tables);
    SpectrumRecord r = resultRecord("spectrum.mca1", run.result, SpectrumKind::Stripped);
    r.info.liveTimeS = info.liveTimeS;
    r.info.realTimeS = info.realTimeS;
    return r;
}

Scatterer::Scatterer(const fs::path& file) : file_(file), data_(tvconv::readScattererFile(file)) {}

const tvconv::ScatterModelData& Scatterer::model()
{
    const std::lock_guard lock(mutex_);
    if (model_) return *model_;
    if (modelFailure_) throw FileFailure(*modelFailure_);
    try {
        model_ = tvconv::ScatterModelData{data_, tvconv::readProfileFile(tvconv::profilePathFor(file_))};
    } catch (const std::exception& e) {
        modelFailure_ = e.what();
        throw FileFailure(*modelFailure_);
    }
    return *model_;
}

SpectrumRecord convertInMemory(std::span<const double> counts, const SpectrumInfo& info, const ConvertRequest& request,
                               Scatterer& scatterer)
{
    requireKind(info, SpectrumKind::Stripped, "the conversion");
    requireChannels(counts, tvstrip::kChannels, "the conversion");
    requireFinite(request.angle, "the scattering angle");
    requireFinite(request.lengthMm, "the self-attenuation length");
    const std::string mca1 = resultBytes(counts, info, SpectrumKind::Stripped);
    ConvertSettings s;
    s.angle = entryText(request.angle);
    s.lengthMm = entryText(request.lengthMm);
    s.comment1 = request.comment1;
    s.comment2 = request.comment2;
    s.method = request.method;
    const tvconv::ScatterModelData* model = request.method == Method::Unfold ? &scatterer.model() : nullptr;
    const fs::path name = info.file.empty() ? fs::path("spectrum.mca1") : fs::path(info.file);
    const ConvertRun run = convertResultContent(name, mca1, s, scatterer.data(), model);
    SpectrumRecord r = resultRecord("spectrum.mca2", run.result, SpectrumKind::Converted);
    r.info.liveTimeS = info.liveTimeS;
    r.info.realTimeS = info.realTimeS;
    return r;
}

quality::BeamQuality qualityOf(std::span<const double> counts, const SpectrumInfo& info,
                               std::optional<double> kevPerChannel, const quality::Options& options)
{
    requireChannelCount(counts.size());
    if (options.resamples < 0) throw InputError("the number of resamples must not be negative");
    requireFinite(options.lowerLimitKeV, "the lower energy limit");
    if (options.lowerLimitKeV < 0) throw InputError("the lower energy limit must not be negative");
    if (info.source) {
        // As `tarvik quality` takes the file: on channels from 0 keV.
        bool scaleGiven = false;
        const ZeroScale z = ontoZeroScale(currentSource(info, counts, kevPerChannel, scaleGiven));
        return quality::computeBeamQuality(z.counts, z.kevPerChannel, options);
    }
    const double w = channelWidth(info, kevPerChannel);
    if (!(w > 0)) throw InputError("the keV per channel must be above 0, not " + shortNumber(w));
    if (info.offsetKeV != 0)
        throw InputError("the beam-quality figures need channels from 0 keV; the spectrum starts at " +
                         shortNumber(info.offsetKeV) + " keV");
    return quality::computeBeamQuality(counts, w, options);
}

fs::path responseFolder(const fs::path& dataDir)
{
    std::error_code ec;
    return fs::is_directory("RES", ec) ? fs::path("RES") : dataDir / "RES";
}

fs::path scattererFile(const std::string& name, const fs::path& dataDir)
{
    auto item = [&](const char* file) {
        std::error_code ec;
        return fs::exists(fs::path(file), ec) ? fs::path(file) : dataDir / file;
    };
    if (name == "Carbon" || name == "carbon") return item("Carbon.dat");
    if (name == "PMMA" || name == "pmma") return item("PMMA.dat");
    return fs::path(name);
}

namespace {

std::mutex sharedMutex;
std::map<fs::path, std::shared_ptr<ResponseTables>> sharedTables;
std::map<fs::path, std::shared_ptr<Scatterer>> sharedScatterers;

fs::path key(const fs::path& p)
{
    std::error_code ec;
    fs::path k = fs::absolute(p, ec);
    return (ec ? p : k).lexically_normal();
}

} // namespace

std::shared_ptr<ResponseTables> sharedResponseTables(const fs::path& folder)
{
    const std::lock_guard lock(sharedMutex);
    // Held under the absolute name: the tables are read when first needed,
    // whatever the current folder is then.
    const fs::path k = key(folder);
    auto& slot = sharedTables[k];
    if (!slot) slot = std::make_shared<ResponseTables>(k);
    return slot;
}

std::shared_ptr<Scatterer> sharedScatterer(const std::string& name, const fs::path& dataDir)
{
    const fs::path file = scattererFile(name, dataDir);
    const std::lock_guard lock(sharedMutex);
    auto& slot = sharedScatterers[key(file)];
    if (!slot) {
        try {
            slot = std::make_shared<Scatterer>(file);
        } catch (const std::exception& e) {
            sharedScatterers.erase(key(file));
            throw FileFailure("the scatterer " + name + " cannot be used: " + e.what());
        }
    }
    return slot;
}

void forgetSharedData()
{
    const std::lock_guard lock(sharedMutex);
    sharedTables.clear();
    sharedScatterers.clear();
}

} // namespace tarvikcli
