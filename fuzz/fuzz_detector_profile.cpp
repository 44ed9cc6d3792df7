// A detector profile as the stripping program's unfolding method reads it:
// through the loader of RES, beside response data made for the shipped
// profile (its lowest 23 nodes, 5 to 16 keV, written once per process).  A
// profile the loader accepts brings its resolution into the unfolding of a
// short fixed spectrum (12 kV at 0.5 keV per channel, a few iterations).
#include "fuzz_support.h"
#include "shipped_tables.h"

#include "strip/detector_profile.h"
#include "strip/stripping.h"
#include "strip/unfold.h"
#include "strip/unfold_response.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

constexpr std::size_t kNodes = 23;

std::filesystem::path resFolder()
{
    return fuzzsupport::scratchDir() / "RES";
}

// The shipped response data cut to their lowest nodes, in RES of the
// scratch folder.
void writeResponseData()
{
    using namespace tvstrip;
    const std::filesystem::path shipped = fuzzsupport::dataDir() / "RES" / kUnfoldResponseName;
    std::ifstream in(shipped, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in) fuzzsupport::finding("cannot read " + shipped.string());
    UnfoldResponse r = parseUnfoldResponse(bytes, shipped.string());
    if (r.nodes.size() < kNodes) fuzzsupport::finding(shipped.string() + " holds too few nodes");
    r.nodes.resize(kNodes);
    std::filesystem::create_directories(resFolder());
    const std::string text = formatUnfoldResponse(r);
    fuzzsupport::writeInput(std::string("RES/") + kUnfoldResponseName,
                            reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    writeResponseData();
    fuzzsupport::demoCounts();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tvstrip;
    fuzzsupport::writeInput(std::string("RES/") + kDetectorProfileName, data, size);
    FUZZ_REFUSALS_BEGIN
        const UnfoldResponse response = loadUnfoldResponse(resFolder());
        const DetectorProfile& p = response.profile;
        for (double e = 1.0; e <= 1000.0; e *= 1.5) {
            const double fwhm = p.fwhmKeV(e);
            if (!(fwhm > 0) || !std::isfinite(fwhm))
                fuzzsupport::finding("the accepted profile gives the resolution " + std::to_string(fwhm) + " keV at " +
                                     std::to_string(e) + " keV");
        }
        // Written again and read back, the profile is the same detector.
        try {
            const DetectorProfile again = parseDetectorProfile(formatDetectorProfile(p), "written again");
            if (again.transportFingerprint() != p.transportFingerprint() ||
                again.fwhm2Constant != p.fwhm2Constant || again.fwhm2Linear != p.fwhm2Linear ||
                again.fwhmProportional != p.fwhmProportional)
                fuzzsupport::finding("the accepted profile written again reads back differently");
        } catch (const ProfileError& e) {
            fuzzsupport::finding(std::string("the accepted profile written again was refused: ") + e.what());
        }
        fuzzsupport::unfoldShortSpectrum(response);
    FUZZ_REFUSAL(ProfileError)
    FUZZ_REFUSAL(ResponseDataError)
    FUZZ_REFUSAL(UnfoldError)
    FUZZ_REFUSALS_END
    return 0;
}
