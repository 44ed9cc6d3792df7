#include "characterize_run.h"

#include "engine.h"
#include "foreign.h"
#include "strip/detector_profile.h"

#include "detector/unfold_data.h"

#include <algorithm>
#include <thread>

namespace tarvikcli {

namespace fs = std::filesystem;

tvdet::Construction constructionFor(const fs::path& res, const CharacterizeSettings& s)
{
    tvstrip::DetectorProfile base = tvdet::defaultDetectorProfile();
    std::error_code ec;
    if (fs::exists(res / tvstrip::kDetectorProfileName, ec))
        base = tvstrip::loadDetectorProfile((res / tvstrip::kDetectorProfileName).string());
    tvdet::Construction c = tvdet::constructionOf(base);
    if (s.biasVolts) c.biasVolts = *s.biasVolts;
    if (s.thicknessMm) c.thicknessMm = *s.thicknessMm;
    if (s.windowUm) c.windowUm = *s.windowUm;
    return c;
}

tvdet::CalibrationSpectrum readCalibrationSource(const std::string& nuclide, const fs::path& file,
                                                 std::optional<double>& nominal, double firstLine,
                                                 const std::string& widthOption)
{
    std::vector<double> counts;
    if (isOtherFormat(file, std::nullopt)) {
        // An analyser's own file: its channels as they are (the fit finds
        // their energy scale); its calibration gives the nominal keV per
        // channel when none is given.
        const std::vector<OtherSpectrum> all = readOtherFormat(file, std::nullopt);
        if (all.size() != 1)
            throw FileFailure(file.string() + " holds " + std::to_string(all.size()) +
                              " spectra; give one spectrum per file");
        const formats::Spectrum& s = all.front().spectrum;
        if (s.counts.size() != 1024)
            throw FileFailure(file.string() + " has " + std::to_string(s.counts.size()) +
                              " channels; the characterization works on the analyser's 1024 channels");
        counts.assign(s.counts.begin(), s.counts.end());
        if (!nominal) {
            if (!s.calibration || !(s.calibration->gainKeV > 0))
                throw FileFailure(file.string() + " has no energy calibration: give " + widthOption);
            nominal = s.calibration->gainKeV;
        }
    } else {
        if (!nominal) throw FileFailure(file.string() + ": a .csv carries no keV per channel: give " + widthOption);
        try {
            counts = readSpectrum(file, *nominal, firstLine).counts;
        } catch (const FileFailure& e) {
            throw FileFailure(file.string() + ": " + e.what());
        }
    }
    return {nuclide, file.string(), counts};
}

int characterizeThreads(const CharacterizeSettings& s)
{
    return s.threads > 0 ? s.threads : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

tvdet::CharacterizeOptions characterizeOptions(const CharacterizeSettings& s)
{
    tvdet::CharacterizeOptions o;
    o.threads = characterizeThreads(s);
    o.thresholdKeV = s.thresholdKeV;
    if (s.eventsPerCount > 0) {
        o.eventsPerCount = s.eventsPerCount;
        o.minEvents = 20000;
    }
    return o;
}

tvdet::OutputOptions characterizeOutputOptions(const CharacterizeSettings& s, const fs::path& res)
{
    tvdet::OutputOptions oo;
    oo.standardRes = res;
    oo.threads = characterizeThreads(s);
    oo.replace = s.force;
    if (s.photonsPerNode > 0) oo.unfoldPhotonsPerNode = s.photonsPerNode;
    return oo;
}

} // namespace tarvikcli
