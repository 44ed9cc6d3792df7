#include "spectrum.h"

#include "detail.h"

#include "fixedio/files.h"

#include <cmath>
#include <cstdio>
#include <numeric>

namespace formats {

namespace {

std::string message(const std::string& file, const std::string& where, const std::string& what)
{
    std::string m = file;
    if (!where.empty()) m += ", " + where;
    return m + ": " + what;
}

struct FormatInfo {
    Format format;
    const char* name;
    const char* key;
};
constexpr FormatInfo kFormats[] = {
    {Format::PmcaMca, "<<PMCA SPECTRUM>> .mca", "mca"},
    {Format::Spe, ".Spe", "spe"},
    {Format::Chn, ".Chn", "chn"},
    {Format::N42, "N42 XML", "n42"},
    {Format::PlainText, "text columns", "text"},
    {Format::MeasuredCsv, "measured .csv", "csv"},
};

const FormatInfo& infoOf(Format f)
{
    for (const auto& i : kFormats)
        if (i.format == f) return i;
    return kFormats[0];
}

constexpr double kMaxCalibratedKeV = 1e7;

std::string numberText(double v)
{
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.6g", v);
    return buf;
}

} // namespace

FormatError::FormatError(const std::string& file, const std::string& where, const std::string& what)
    : std::runtime_error(message(file, where, what)), file_(file), where_(where), reason_(what)
{
}

const char* formatName(Format f) { return infoOf(f).name; }
const char* formatKey(Format f) { return infoOf(f).key; }

std::optional<Format> formatFromKey(std::string_view key)
{
    for (const auto& i : kFormats)
        if (detail::equalsNoCase(key, i.key)) return i.format;
    return std::nullopt;
}

std::uint64_t Spectrum::total() const { return std::accumulate(counts.begin(), counts.end(), std::uint64_t{0}); }

// ---------------------------------------------------------------- calibration

double Calibration::edgeKeV(double k) const
{
    const double x = point == ChannelPoint::Centre ? k - 0.5 : k;
    double e = 0;
    for (auto it = coefficients.rbegin(); it != coefficients.rend(); ++it) e = e * x + *it;
    return e;
}

Calibration makeCalibration(std::vector<double> coefficients, ChannelPoint point, std::size_t channels,
                            std::string basis, std::vector<CalibrationPoint> points)
{
    while (coefficients.size() > 2 && coefficients.back() == 0) coefficients.pop_back();
    if (coefficients.size() < 2) throw std::invalid_argument("the calibration has no energy per channel");
    for (double c : coefficients)
        if (!std::isfinite(c)) throw std::invalid_argument("a calibration coefficient is not a finite number");
    if (channels == 0) throw std::invalid_argument("a calibration needs channels");
    Calibration cal;
    cal.coefficients = std::move(coefficients);
    cal.point = point;
    cal.basis = std::move(basis);
    cal.points = std::move(points);
    const std::size_t n = channels + 1;  // edges
    if (cal.coefficients.size() == 2) {
        if (!(cal.coefficients[1] > 0))
            throw std::invalid_argument("the calibration gives " + numberText(cal.coefficients[1]) +
                                        " keV per channel: energies must rise with the channel");
        cal.gainKeV = cal.coefficients[1];
        cal.offsetKeV = cal.edgeKeV(0);
        cal.linearityKeV = 0;
    } else {
        // The least-squares line through the channel edges.
        double sx = 0, sy = 0, sxx = 0, sxy = 0;
        double previous = 0;
        for (std::size_t k = 0; k < n; ++k) {
            const double x = static_cast<double>(k), y = cal.edgeKeV(x);
            if (!std::isfinite(y)) throw std::invalid_argument("the calibration polynomial overflows");
            if (k > 0 && !(y > previous))
                throw std::invalid_argument("the calibration's energies stop rising at channel " + std::to_string(k) +
                                            " (" + numberText(y) + " keV)");
            previous = y;
            sx += x;
            sy += y;
            sxx += x * x;
            sxy += x * y;
        }
        const double dn = static_cast<double>(n);
        const double d = dn * sxx - sx * sx;
        cal.gainKeV = (dn * sxy - sx * sy) / d;
        cal.offsetKeV = (sy - cal.gainKeV * sx) / dn;
        for (std::size_t k = 0; k < n; ++k) {
            const double x = static_cast<double>(k);
            cal.linearityKeV = std::max(cal.linearityKeV, std::fabs(cal.edgeKeV(x) - (cal.offsetKeV + cal.gainKeV * x)));
        }
    }
    // Rising as the numbers are computed, not only on paper: a gain too
    // small beside the offset adds nothing to it.  And within reach of any
    // spectrometer: no channel beyond 10 GeV.
    double previous = cal.edgeKeV(0);
    for (std::size_t k = 0; k < n; ++k) {
        const double e = cal.edgeKeV(static_cast<double>(k));
        if (k > 0 && !(e > previous))
            throw std::invalid_argument("the calibration's energies stop rising at channel " + std::to_string(k) +
                                        " (" + numberText(e) + " keV)");
        if (!(std::fabs(e) <= kMaxCalibratedKeV))
            throw std::invalid_argument("the calibration puts channel " + std::to_string(k) + " at " + numberText(e) +
                                        " keV: no spectrometer reaches that far");
        previous = e;
    }
    if (!std::isfinite(cal.offsetKeV) || !std::isfinite(previous) || !(cal.gainKeV > 0) || !std::isfinite(cal.gainKeV))
        throw std::invalid_argument("the calibration does not give finite rising energies");
    return cal;
}

std::vector<double> fitLine(const std::vector<CalibrationPoint>& points, double& residualKeV)
{
    residualKeV = 0;
    for (const auto& p : points)
        if (!std::isfinite(p.channel) || !std::isfinite(p.energyKeV))
            throw std::invalid_argument("a calibration point is not a finite number");
    if (points.empty()) throw std::invalid_argument("no calibration points");
    if (points.size() == 1) {
        const auto& p = points.front();
        if (!(p.channel > 0) || !(p.energyKeV > 0))
            throw std::invalid_argument("a single calibration point must lie above channel 0 and 0 keV");
        return {0.0, p.energyKeV / p.channel};
    }
    double sx = 0, sy = 0;
    for (const auto& p : points) {
        sx += p.channel;
        sy += p.energyKeV;
    }
    const double n = static_cast<double>(points.size());
    const double mx = sx / n, my = sy / n;
    double sxx = 0, sxy = 0;
    for (const auto& p : points) {
        sxx += (p.channel - mx) * (p.channel - mx);
        sxy += (p.channel - mx) * (p.energyKeV - my);
    }
    if (!(sxx > 0)) throw std::invalid_argument("the calibration points all lie on one channel");
    const double slope = sxy / sxx;
    if (!(slope > 0) || !std::isfinite(slope))
        throw std::invalid_argument("the calibration points do not rise with the channel");
    const double intercept = my - slope * mx;
    for (const auto& p : points)
        residualKeV = std::max(residualKeV, std::fabs(p.energyKeV - (intercept + slope * p.channel)));
    return {intercept, slope};
}

// ---------------------------------------------------------------- recognition

std::optional<Format> recogniseFormat(std::string_view bytes)
{
    std::string_view b = bytes;
    if (detail::startsWith(b, "\xEF\xBB\xBF")) b.remove_prefix(3);
    // The binary header: a 16-bit -1, then the MCA and segment numbers.
    if (bytes.size() >= 32 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFF)
        return Format::Chn;
    // UTF-16 with its byte-order mark: XML reads it, the text readers refuse
    // it with a word on saving the file as UTF-8.
    if (detail::startsWith(bytes, "\xFF\xFE") || detail::startsWith(bytes, "\xFE\xFF")) {
        const std::size_t low = static_cast<unsigned char>(bytes[0]) == 0xFF ? 2 : 3;
        std::string ascii;
        for (std::size_t k = low; k < bytes.size() && ascii.size() < 6; k += 2) ascii += bytes[k];
        if (detail::startsWith(ascii, "<<")) return Format::PmcaMca;
        if (detail::startsWith(ascii, "<")) return Format::N42;
        if (detail::startsWith(ascii, "$")) return Format::Spe;
        return Format::PlainText;
    }
    std::size_t i = 0;
    while (i < b.size() && (b[i] == ' ' || b[i] == '\t' || b[i] == '\r' || b[i] == '\n')) ++i;
    const std::string_view rest = b.substr(i);
    if (detail::startsWith(rest, "<<PMCA SPECTRUM>>")) return Format::PmcaMca;
    if (detail::startsWith(rest, "<")) return Format::N42;
    if (detail::startsWith(rest, "$")) {
        const std::size_t colon = rest.find(':');
        const std::size_t eol = rest.find_first_of("\r\n");
        if (colon != std::string_view::npos && colon < eol) return Format::Spe;
    }
    if (rest.empty()) return std::nullopt;
    if (bytes.find('\0') != std::string_view::npos) return std::nullopt;
    return detail::looksLikePlainColumns(b) ? Format::PlainText : Format::MeasuredCsv;
}

std::vector<Spectrum> parseSpectra(std::string_view bytes, const std::string& file, const ReadOptions& options)
{
    if (bytes.size() > kMaxFileBytes)
        detail::fail(file, "", "the file is larger than " + std::to_string(kMaxFileBytes >> 20) +
                                   " MiB: no spectrum file comes near that");
    if (bytes.empty()) detail::fail(file, "", "the file is empty");
    std::optional<Format> format = options.format;
    if (!format) format = recogniseFormat(bytes);
    if (!format)
        detail::fail(file, "",
                     "not a spectrum file of a known format (<<PMCA SPECTRUM>> .mca, .Spe, .Chn, N42 XML, "
                     "text columns or a measured .csv)");
    std::vector<Spectrum> spectra;
    switch (*format) {
    case Format::PmcaMca: spectra = detail::readPmca(bytes, file); break;
    case Format::Spe: spectra = detail::readSpe(bytes, file); break;
    case Format::Chn: spectra = detail::readChn(bytes, file); break;
    case Format::N42: spectra = detail::readN42(bytes, file); break;
    case Format::PlainText: spectra = detail::readPlainText(bytes, file); break;
    case Format::MeasuredCsv: spectra = detail::readMeasuredCsv(bytes, file, options.measuredFirstLine); break;
    }
    for (Spectrum& s : spectra) {
        s.format = *format;
        s.file = file;
    }
    return spectra;
}

std::vector<Spectrum> readSpectra(const std::filesystem::path& file, const ReadOptions& options)
{
    const std::string name = file.string();
    std::string bytes;
    bool complete = false;
    switch (fixedio::readFileHead(file, kMaxFileBytes + 1, bytes, complete)) {
    case fixedio::ReadStatus::Ok: break;
    case fixedio::ReadStatus::Missing: detail::fail(name, "", "no such file");
    case fixedio::ReadStatus::NotAFile: detail::fail(name, "", "a folder, not a spectrum file");
    case fixedio::ReadStatus::Special: detail::fail(name, "", "a pipe or device, not a spectrum file");
    case fixedio::ReadStatus::CannotOpen: detail::fail(name, "", "cannot open the file");
    case fixedio::ReadStatus::CannotRead: detail::fail(name, "", "cannot read the file");
    }
    if (!complete || bytes.size() > kMaxFileBytes)
        detail::fail(name, "", "the file is larger than " + std::to_string(kMaxFileBytes >> 20) +
                                   " MiB: no spectrum file comes near that");
    return parseSpectra(bytes, name, options);
}

Spectrum readSpectrum(const std::filesystem::path& file, const ReadOptions& options)
{
    std::vector<Spectrum> all = readSpectra(file, options);
    if (all.size() != 1)
        detail::fail(file.string(), "",
                     "the file holds " + std::to_string(all.size()) + " spectra: read it with readSpectra");
    return std::move(all.front());
}

} // namespace formats
