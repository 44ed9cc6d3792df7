// Spectra held in memory, for callers that work on arrays of counts (the
// Python module): a spectrum file read into one record, the stripping, the
// conversion and the beam-quality figures of counts given as numbers, and a
// record written in the result layouts.  Every correction goes the way of
// the command line: the dialogs' checks and exchange files built in memory,
// the console programs' readers and corrections, their result bytes read
// back by the front end's reader.  So a result is exactly what tvstrip and
// tvconv write for a file with the same counts and texts.
//
// Input a caller passed that cannot be worked with (counts that are not
// numbers, negative or not whole where whole counts are needed, the wrong
// number of channels, an unknown method) is refused with InputError before
// any work; refusals of the dialogs and the programs keep their own messages
// (FileFailure, fixedio::Error, ...).
#pragma once

#include "engine.h"
#include "foreign.h"

#include <array>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tarvikcli {

class InputError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

// What the counts of a spectrum are.
enum class SpectrumKind {
    Measured,   // as the analyser recorded them (".csv")
    Stripped,   // corrected for the detector's response (".mca1")
    Converted,  // the primary spectrum behind a scatterer (".mca2")
};
// "measured", "stripped", "converted".
const char* kindName(SpectrumKind kind);
// The kind of a name; InputError for any other word.
SpectrumKind kindFromName(std::string_view name);
// "standard" or "unfold"; InputError for any other word.
Method methodFromName(std::string_view name);

// Everything of a spectrum but its counts.  Texts are held as the files
// hold them (Shift_JIS bytes), so a spectrum read and written again keeps
// them byte for byte.
struct SpectrumInfo {
    std::optional<double> kevPerChannel;  // none for a ".csv"
    double offsetKeV = 0;                 // where the first channel starts
    SpectrumKind kind = SpectrumKind::Measured;
    std::string format;                   // "csv", "mca1", "mca2"; empty for a spectrum made in memory
    std::optional<double> tubeVoltage;    // kV, written in a result file
    std::array<std::string, 2> comments;  // a result file's first two lines
    std::vector<std::string> header;      // a ".csv"'s lines before the data, a result's lines 5 to 21
    std::optional<double> liveTimeS, realTimeS;
    std::string file;                     // the file it was read from
    std::string name;                     // the spectrum's title in a file of another format
    // A file of another format as read (calibration, texts, pulse
    // processor): the stripping and the beam quality take it as the command
    // line takes the file, with the counts of the record.
    std::shared_ptr<const formats::Spectrum> source;
};

struct SpectrumRecord {
    SpectrumInfo info;
    std::vector<double> counts;  // channel 1 first
};

// A text of the windows or a script as the files hold it (Shift_JIS);
// InputError naming `what` when it holds a character Shift_JIS lacks.
std::string fileText(std::string_view utf8, const char* what);
// A text of a file for reading (UTF-8, bytes that do not convert shown as
// U+FFFD), without the blanks that fill its fixed-width field.
std::string readableText(std::string_view fileText);

// No spectrum of the system comes near this many channels.
inline constexpr std::size_t kMaxChannels = 65536;

// A spectrum must hold 1 to kMaxChannels channels.
void requireChannelCount(std::size_t channels);

// Reads a ".csv" (records from `firstLine`, no keV per channel), ".mca1" or
// ".mca2" with the front end's readers, a file of another format (see
// isOtherFormat; `forced` reads every file but the result files as that
// format) with the formats library.  FileFailure for a file that holds
// several spectra (N42): readSpectrumFiles reads each.
SpectrumRecord readSpectrumFile(const std::filesystem::path& file, double firstLine = 32,
                                std::optional<formats::Format> forced = std::nullopt);
std::vector<SpectrumRecord> readSpectrumFiles(const std::filesystem::path& file, double firstLine = 32,
                                              std::optional<formats::Format> forced = std::nullopt);

// The record of a result file's bytes (`name` names it in messages).
SpectrumRecord resultRecord(const std::filesystem::path& name, const std::string& bytes, SpectrumKind kind);

// The bytes of the result layout of `kind` (Stripped: what tvstrip writes,
// Converted: what tvconv writes) for these counts and texts.  The counts
// must be 1024 whole numbers 0 to 9999999, the keV per channel 0.001 to
// 99.999 and the tube voltage, if any, 0 to 999 kV.
std::string resultBytes(std::span<const double> counts, const SpectrumInfo& info, SpectrumKind kind);

// Writes the spectrum in the layout its file name asks for (".mca1" for a
// stripped spectrum, ".mca2" for a converted one) through a temporary file.
void writeSpectrumFile(std::span<const double> counts, const SpectrumInfo& info, const std::filesystem::path& file);

// The keV per channel to work with: `given` for a measured spectrum (it
// replaces what the file says), the result file's own for the others (a
// different `given` is refused).  InputError when there is none.
double channelWidth(const SpectrumInfo& info, std::optional<double> given);

struct StripRequest {
    double kv = 0;
    std::optional<double> kevPerChannel;  // see channelWidth
    Method method = Method::Standard;
    std::string comment1, comment2;       // UTF-8; empty: "-- No comment --"
    // A file of another format: share its counts onto 1024 channels of this
    // width by its calibration first (`tarvik strip --rebin-kev-per-channel`).
    std::optional<double> rebinKevPerChannel;
};
// What tvstrip writes for a ".csv" with these counts (1024 numbers 0 to
// 999999; fractions are rounded as the dialog writes them) and header lines
// (blank lines where there are fewer than 17), the voltage and keV per
// channel entered as the dialog takes them.  A spectrum of another format
// (info.source) goes the way `tarvik strip` takes the file: its ".csv" of
// `tarvik import` (with the width given, or rebinned), then as above.
SpectrumRecord stripInMemory(std::span<const double> counts, const SpectrumInfo& info, const StripRequest& request,
                             ResponseTables& tables);

// A scatterer file and, for the unfolding, the Compton profile beside it.
class Scatterer {
public:
    // Reads and checks the scatterer file; fixedio::Error when it cannot be used.
    explicit Scatterer(const std::filesystem::path& file);
    const tvconv::ScattererData& data() const { return data_; }
    // The unfolding's model, read at the first call; FileFailure with the
    // reason at every call when the profile cannot be used.
    const tvconv::ScatterModelData& model();
    const std::filesystem::path& file() const { return file_; }

private:
    std::filesystem::path file_;
    tvconv::ScattererData data_;
    std::mutex mutex_;
    std::optional<tvconv::ScatterModelData> model_;
    std::optional<std::string> modelFailure_;
};

struct ConvertRequest {
    double angle = 0;     // degrees
    double lengthMm = 0;  // self-attenuation length
    Method method = Method::Standard;
    std::optional<std::string> comment1, comment2;  // UTF-8; unset: the spectrum's own
};
// What tvconv writes for the ".mca1" that holds this stripped spectrum
// (resultBytes), with the conversion dialog's entries.
SpectrumRecord convertInMemory(std::span<const double> counts, const SpectrumInfo& info,
                               const ConvertRequest& request, Scatterer& scatterer);

// The beam-quality figures of the counts (any number of channels from 0 keV;
// see channelWidth for the width).  A spectrum of another format is taken
// as `tarvik quality` takes the file: its counts shared onto channels from
// 0 keV by its calibration when they do not start there.
quality::BeamQuality qualityOf(std::span<const double> counts, const SpectrumInfo& info,
                               std::optional<double> kevPerChannel, const quality::Options& options);

// The data the command line uses: RES of the current folder, else of
// `dataDir`; Carbon and PMMA (either letter case) the scatterer files of the
// current folder, else of `dataDir`; any other name a scatterer file.
std::filesystem::path responseFolder(const std::filesystem::path& dataDir);
std::filesystem::path scattererFile(const std::string& name, const std::filesystem::path& dataDir);

// Response data and scatterers read once per process and folder or file,
// shared by every caller (and thread) until forgetSharedData().
std::shared_ptr<ResponseTables> sharedResponseTables(const std::filesystem::path& folder);
// The scatterer of that name (scattererFile); FileFailure "the scatterer
// NAME cannot be used: ..." when its file cannot be read.
std::shared_ptr<Scatterer> sharedScatterer(const std::string& name, const std::filesystem::path& dataDir);
void forgetSharedData();

} // namespace tarvikcli
