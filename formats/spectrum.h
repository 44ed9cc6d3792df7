// Spectrum files as analysers and their software write them, read into one
// record.  One reader per format, each filling the same `Spectrum` and
// refusing with a `FormatError` (file, line or byte offset, what was
// expected) what it cannot read soundly: a truncated or oversized file, text
// that is not text, a count that is negative, fractional or not a number, a
// header that disagrees with the data (channel count, live time above the
// real time, a live time of zero).  No reader ever returns a count it did
// not read.
//
// One entry point reads every format: readSpectrum(path, options).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace formats {

enum class Format {
    PmcaMca,      // "<<PMCA SPECTRUM>>" text of digital pulse processors (".mca")
    Spe,          // "$SPEC_ID:" block text (".Spe")
    Chn,          // binary: 32-byte header, 32-bit counts, optional trailer (".Chn")
    N42,          // IEC 62755 / ANSI N42.42 XML (".n42", ".xml")
    PlainText,    // two or three columns of text or CSV with an optional header line
    MeasuredCsv,  // the stripping dialog's ".csv": header lines, records from line 32
};

// How a person calls the format ("<<PMCA SPECTRUM>> .mca", ...).
const char* formatName(Format f);
// The short word of --format options: mca, spe, chn, n42, text, csv.
const char* formatKey(Format f);
std::optional<Format> formatFromKey(std::string_view key);

// A file that cannot be read as a spectrum.  what() is the whole message:
// "<file>, line 12: expected a whole count, found "-3"" or
// "<file>, byte 40: ...", or "<file>: ..." where no place applies.
class FormatError : public std::runtime_error {
public:
    FormatError(const std::string& file, const std::string& where, const std::string& what);
    const std::string& file() const { return file_; }
    const std::string& where() const { return where_; }
    const std::string& reason() const { return reason_; }

private:
    std::string file_, where_, reason_;
};

// What a calibration polynomial's channel number x denotes.
enum class ChannelPoint {
    Centre,     // x = k is the middle of channel k (peak positions, most MCA software)
    LowerEdge,  // x = k is where channel k starts (N42: "the first channel starts at 0.0")
};

struct CalibrationPoint {
    double channel = 0;    // in the record's channel numbering (0 = first channel read)
    double energyKeV = 0;
};

// The energy scale of a spectrum.  The polynomial is kept as the file gives
// it (in the record's channel numbering); the straight line on the system's
// channel scale is derived from it.
struct Calibration {
    std::vector<double> coefficients;  // keV: E(x) = c0 + c1 x + c2 x^2 + ...
    ChannelPoint point = ChannelPoint::Centre;
    std::vector<CalibrationPoint> points;  // the calibration points the file lists, if any
    std::string basis;  // what it rests on, for a person: "<<CALIBRATION>>: 2 points, the line through them"

    // The line: channel k (0-based) spans [offsetKeV + gainKeV k,
    // offsetKeV + gainKeV (k + 1)).  For a linear polynomial it is exact;
    // otherwise the least-squares line through the channel edges, and
    // linearityKeV says how far the polynomial's edges lie from it at most.
    double gainKeV = 0;
    double offsetKeV = 0;
    double linearityKeV = 0;

    // Energy (keV) where channel k begins, from the polynomial; k may be
    // fractional, and k = channels is the upper end of the last channel.
    double edgeKeV(double k) const;
};

// Builds a calibration for `channels` channels: derives the line and checks
// that the channel edges rise strictly over the whole spectrum.  Throws
// std::invalid_argument with a reason for a person when they do not (or
// when a coefficient is not finite).
Calibration makeCalibration(std::vector<double> coefficients, ChannelPoint point, std::size_t channels,
                            std::string basis, std::vector<CalibrationPoint> points = {});

// The straight line through calibration points (least squares for more than
// two, the line through the origin's channel 0 and the point for one),
// as coefficients {c0, c1}; `residualKeV` the largest distance of a point
// from it.  Throws std::invalid_argument when the points do not define a
// rising line.
std::vector<double> fitLine(const std::vector<CalibrationPoint>& points, double& residualKeV);

// The settings and counters a digital pulse processor writes beside the
// spectrum.  Units are fixed here; every value is optional.
struct PulseProcessor {
    std::string device;                          // e.g. the status section's device type
    std::optional<double> peakingTimeUs;         // shaping (slow channel) peaking time
    std::optional<double> flatTopUs;             // flat top of the trapezoid
    std::optional<bool> pileUpRejection;         // pile-up rejection on
    std::optional<double> pileUpRejectionMaxUs;  // its interval, when the setting gives one
    std::optional<double> fastPeakingTimeNs;     // fast (pile-up) channel peaking time
    std::optional<double> fastThreshold;         // fast channel threshold, as the device counts it
    std::optional<double> slowThresholdPercent;  // slow channel threshold, % of full scale
    std::optional<bool> riseTimeDiscrimination;
    std::optional<std::uint64_t> inputCounts;    // fast channel: pulses seen
    std::optional<std::uint64_t> outputCounts;   // slow channel: pulses measured
    std::optional<double> accumulationTimeS;     // time the counters ran
    std::optional<double> deadTimePercent;       // as the device reports it
    // Every setting and status line as written (name, value), in file order.
    std::vector<std::pair<std::string, std::string>> settings;
    std::vector<std::pair<std::string, std::string>> status;
};

struct Spectrum {
    Format format = Format::PlainText;
    std::string file;  // as the reader was given it
    std::string name;  // the spectrum's title in the file (tag, id, ...), if any
    std::vector<std::uint64_t> counts;  // channel 0 first, any number of channels
    std::optional<Calibration> calibration;
    std::optional<double> liveTimeS;
    std::optional<double> realTimeS;
    std::optional<std::string> startTime;  // ISO 8601 "2024-05-01T10:20:30" when recognised
    std::vector<std::string> headerLines;  // the file's descriptive lines, UTF-8
    std::optional<PulseProcessor> processor;

    std::uint64_t total() const;
};

struct ReadOptions {
    // Read as this format instead of recognising it from the content.
    std::optional<Format> format;
    // First data line of a measured ".csv" (the dialog's box, 32 by default).
    int measuredFirstLine = 32;
};

// No spectrum file comes near these sizes.
inline constexpr std::size_t kMaxFileBytes = std::size_t{64} << 20;
inline constexpr std::size_t kMaxChannels = 65536;

// The format of a file from its first bytes; nullopt when it is none of them.
std::optional<Format> recogniseFormat(std::string_view bytes);

// Every spectrum in the bytes of one file (`file` names it in messages).
// A file holds one spectrum, except N42 files, which may hold several.
std::vector<Spectrum> parseSpectra(std::string_view bytes, const std::string& file, const ReadOptions& options = {});

// The same from a file: at most kMaxFileBytes are read, a folder, pipe or
// device is refused without waiting on it.
std::vector<Spectrum> readSpectra(const std::filesystem::path& file, const ReadOptions& options = {});

// A file that holds exactly one spectrum.
Spectrum readSpectrum(const std::filesystem::path& file, const ReadOptions& options = {});

} // namespace formats
