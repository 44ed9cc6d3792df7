// What a characterization leaves behind: a complete RES folder for the
// characterized detector (its profile with the energy scale, the response
// data of the unfolding made for it, the standard response tables), the
// fitted values as JSON and as text, and a report picture per source.
// Everything is written into a hidden folder beside the target and renamed
// into place when complete: a failure leaves nothing behind and never
// harms an earlier result.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>

#include "detector/characterize.h"

namespace tvdet {

class OutputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct OutputOptions {
    // The RES folder the programs would use: its standard response tables
    // are copied when they were made for the same crystal and window (its
    // detector.txt says; without one, the shipped detector's), and
    // simulated again otherwise.
    std::filesystem::path standardRes;
    std::int64_t unfoldPhotonsPerNode = 1000000;
    std::int64_t tablePhotons = 500000;  // per table, when they are simulated again
    int threads = 1;
    std::uint64_t seed = 20240606;
    // Draws the report picture of source k into `file`; returns an empty
    // text on success, else the reason.  Unset: no pictures (the text
    // report is always written).
    std::function<std::string(const Characterization&, std::size_t, const std::filesystem::path&)> drawReport;
    // Replace an existing folder (otherwise it is refused).
    bool replace = false;
};

// characterization.json: the fitted values (keys kev_per_channel,
// offset_keV, fwhm2_constant_keV2, fwhm2_linear_keV, fwhm_proportional,
// mutau_electrons_cm2_per_V, mutau_holes_cm2_per_V, fwhm_keV_at_59_54, each
// followed by the same key with "_u" for its standard uncertainty, null
// where there is none), deviance_per_channel, the construction values, the
// sources used and the notes.
std::string characterizationJson(const Characterization& c);

// The fitted values and the per-source figures as plain text.
std::string characterizationText(const Characterization& c);

// Whether the response tables of `res` were made for the crystal and
// window of `profile` (detector.txt of `res`, else the shipped detector).
bool sameTableGeometry(const std::filesystem::path& res, const tvstrip::DetectorProfile& profile);

// Checks before any work that `dir` can be written (its parent exists; an
// existing `dir` only with `replace`).  Throws OutputError.
void checkOutputFolder(const std::filesystem::path& dir, bool replace);

// Writes everything into `dir`:
//   RES/               detector.txt, unfold.rsp, <code>kev.dat
//   characterization.json, characterization.txt
//   report_<n>_<nuclide>.png per source (when options.drawReport is set)
// progress(share, what) as the work goes on.  Throws OutputError.
void writeCharacterization(const Characterization& c, const std::filesystem::path& dir, const OutputOptions& options,
                           const std::function<void(double, const std::string&)>& progress = {});

// Installs `res` (a RES folder) as the RES of `workFolder`: copied beside it
// first, then the existing RES renamed to RES.bak-<stamp> and the copy
// renamed to RES.  Returns the name of the kept folder (empty when there
// was none).  `stamp` is e.g. "20240607-153012".  Throws OutputError and
// leaves the working folder as it was.
std::string installRes(const std::filesystem::path& res, const std::filesystem::path& workFolder,
                       const std::string& stamp);

// The report picture's file name of source k: "report_1_241Am.png".
std::string reportFileName(const Characterization& c, std::size_t k);

} // namespace tvdet
