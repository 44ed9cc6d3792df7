// The work of the `tarvik` command line on one file at a time: the stripping
// and the conversion exactly as the dialogs and the console programs do them
// (the dialogs' exchange files built in memory and read back by the console
// programs' own readers), the beam-quality figures of a spectrum file and
// the export table.  Every function either returns its result or throws
// FileFailure with the reason for that file; nothing here writes a file.
#pragma once

#include "quality/beamquality.h"
#include "strip/response_table.h"
#include "strip/unfold.h"
#include "strip/unfold_response.h"
#include "conv/scatterer.h"
#include "conv/unfold.h"
#include "spectrumfiles.h"

#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tarvikcli {

class FileFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class Method { Standard, Unfold };

// The response data of one folder (RES), each read once per batch: the
// tables of the standard stripping, and the detector profile with the
// response of the unfolding.
class ResponseTables {
public:
    explicit ResponseTables(std::filesystem::path resFolder) : folder_(std::move(resFolder)) {}
    const tvstrip::ResponseTable& operator()(int code);
    const std::filesystem::path& folder() const { return folder_; }
    // The unfolding's data, read and checked at the first call.  Data that
    // cannot be used throw FileFailure with the reason at every call, so that
    // each file of the batch reports it without reading the data again.
    const tvstrip::UnfoldResponse& unfoldResponse();

private:
    std::filesystem::path folder_;
    // Several files of a batch are corrected at once: the cache is shared.
    // A table, once in the map, stays where it is.
    std::mutex mutex_;
    std::map<int, tvstrip::ResponseTable> cache_;
    std::optional<tvstrip::UnfoldResponse> unfold_;
    std::optional<std::string> unfoldFailure_;
};

// The stripping dialog's entries as texts, as a person would type them.
struct StripSettings {
    std::string kv;             // tube voltage
    std::string kevPerChannel;  // keV per channel
    std::string firstLine = "32";
    std::string comment1, comment2;  // empty: "-- No comment --"
    Method method = Method::Standard;
};

// The measured counts and what the stripping run reads (for resampling).
struct StripRun {
    std::vector<double> measured;  // channels 1..1024
    std::int32_t voltage = 0;
    float kevPerChannel = 0;
    std::string result;            // the ".mca1" bytes
    std::vector<double> corrected; // its counts
    // The unfolding's pile-up share and dead-time fraction (unfold only),
    // and what it was told of the count rate (for the resamples).
    std::optional<tvstrip::PileupReport> pileup;
    tvstrip::PileupInput rates;
};

// The ".mca1" that "補正 GO" and tvstrip write for this measured file.  The
// unfolding takes what is known of the count rate from `rates` (an
// analyser's file); the pulse-pair resolving time of the detector profile,
// when it has one, replaces the one given there.
StripRun stripFile(const std::filesystem::path& csv, const StripSettings& s, ResponseTables& tables,
                   const tvstrip::PileupInput& rates = {});

// The same for a measured spectrum in memory (header lines and counts as the
// dialog reads them from a ".csv"): the entries checked as for a file, then
// the counts, the exchange files and what tvstrip does with them.
StripRun stripMeasured(const tarvik::MeasuredSpectrum& m, const StripSettings& s, ResponseTables& tables,
                       const tvstrip::PileupInput& rates = {});

// Only the correction of counts (channels 1..1024), for resampling: the
// stripping, or with Method::Unfold the unfolding with tables.unfoldResponse()
// (its report, with the pile-up share, into `report` when given).
std::vector<double> stripCounts(std::span<const double> measured, std::int32_t voltage, float kevPerChannel,
                                ResponseTables& tables, Method method = Method::Standard,
                                tvstrip::UnfoldReport* report = nullptr, const tvstrip::PileupInput& rates = {});

// The console note of an unfolding run on pile-up and dead time, e.g.
// "pile-up 4.98 % of the recorded pulses (fitted to 1234 counts above the
// tube voltage); dead time 3.1 %".
std::string pileupNote(const tvstrip::PileupReport& report);

struct ConvertSettings {
    std::string angle;     // degrees
    std::string lengthMm;  // self-attenuation length
    bool carbonName = true;  // which name goes into the request
    std::optional<std::string> comment1, comment2;  // unset: the file's own, as the dialog proposes
    Method method = Method::Standard;
};

struct ConvertRun {
    std::int32_t angle = 0;
    float lengthCm = 0;
    float kevPerChannel = 0;
    std::string result;  // the ".mca2" bytes
    std::vector<double> corrected;
};

// The ".mca2" that "変換 Go" and tvconv write for this result file.  The
// unfolding (s.method) needs `model`, the scatterer with the Compton profile
// beside its file; the standard method reads `scatterer` only.
ConvertRun convertFile(const std::filesystem::path& mca1, const ConvertSettings& s,
                       const tvconv::ScattererData& scatterer, const tvconv::ScatterModelData* model = nullptr);

// The same for the bytes of a ".mca1" in memory; `name` stands for the file
// in messages.
ConvertRun convertResultContent(const std::filesystem::path& name, const std::string& content,
                                const ConvertSettings& s, const tvconv::ScattererData& scatterer,
                                const tvconv::ScatterModelData* model = nullptr);

// Only the conversion of counts: the standard method, or the unfolding when
// `model` (the scatterer with its Compton profile) is given.
std::vector<double> convertCounts(std::span<const double> counts, std::int32_t angle, float lengthCm,
                                  float kevPerChannel, const tvconv::ScattererData& scatterer,
                                  const tvconv::ScatterModelData* model = nullptr);

// A spectrum file as the display reads it: ".csv" (records from firstLine,
// width from the caller) or ".mca1"/".mca2" (width from the header; a
// different width from the caller is refused).
struct SpectrumData {
    std::vector<double> counts;  // channels 1..1024
    double kevPerChannel = 0;
    bool measured = false;       // a ".csv"
    // A file of another format: the energy where each channel ends (any
    // number of channels); empty for the files above, whose channel i ends
    // at i·kevPerChannel.
    std::vector<double> upperEdgesKeV;
};
SpectrumData readSpectrum(const std::filesystem::path& file, std::optional<double> kevPerChannel,
                          double firstLine = 32);

// The export table: "channel,energy,<name>..." then a unit row, then one row
// per channel with the energy i·w (as the result files write it).  All
// spectra must share one width.  With a file of another format among them:
// one row per channel of the longest, and one energy column (the channel's
// upper edge) for all when every spectrum has the same channel energies,
// else an energy column before each count column ("energy <name>").
std::string exportCsv(const std::vector<std::string>& names, const std::vector<SpectrumData>& spectra);

// Whether this build has the method; requireMethod throws FileFailure if not.
bool methodAvailable(Method m);
void requireMethod(Method m);

} // namespace tarvikcli
