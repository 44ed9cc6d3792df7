// The response data of the stripping program's unfolding method as their
// reader takes them; accepted data unfold a short fixed spectrum (12 kV at
// 0.5 keV per channel, a few iterations) with the shipped detector profile.
#include "fuzz_support.h"
#include "shipped_tables.h"

#include "strip/detector_profile.h"
#include "strip/stripping.h"
#include "strip/unfold.h"
#include "strip/unfold_response.h"

#include <fstream>
#include <iterator>

namespace {

const tvstrip::DetectorProfile& shippedProfile()
{
    static const tvstrip::DetectorProfile p =
        tvstrip::loadDetectorProfile((fuzzsupport::dataDir() / "RES" / tvstrip::kDetectorProfileName).string());
    return p;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    shippedProfile();
    fuzzsupport::demoCounts();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tvstrip;
    const auto file = fuzzsupport::writeInput(kUnfoldResponseName, data, size);
    FUZZ_REFUSALS_BEGIN
        std::ifstream in(file, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        UnfoldResponse response = parseUnfoldResponse(bytes, file.string());
        // What the reader promises of accepted data.
        for (std::size_t i = 0; i < response.nodes.size(); ++i) {
            const ResponseNode& n = response.nodes[i];
            if (i > 0 && !(n.energyKeV > response.nodes[i - 1].energyKeV))
                fuzzsupport::finding("node energies that do not ascend were accepted");
            std::uint64_t sum = 0;
            for (std::uint32_t c : n.counts) sum += c;
            if (sum > response.photonsPerNode)
                fuzzsupport::finding("a node recording more photons than were simulated was accepted");
        }
        // Accepted data written by the generator's formatter read back the same.
        try {
            const UnfoldResponse again = parseUnfoldResponse(formatUnfoldResponse(response), "written again");
            bool same = again.profileFingerprint == response.profileFingerprint &&
                        again.lossBinKeV == response.lossBinKeV && again.photonsPerNode == response.photonsPerNode &&
                        again.nodes.size() == response.nodes.size();
            for (std::size_t i = 0; same && i < again.nodes.size(); ++i)
                same = again.nodes[i].energyKeV == response.nodes[i].energyKeV &&
                       again.nodes[i].counts == response.nodes[i].counts;
            if (!same) fuzzsupport::finding("accepted data written again read back differently");
        } catch (const ResponseDataError& e) {
            fuzzsupport::finding(std::string("accepted data written again were refused: ") + e.what());
        }
        response.profile = shippedProfile();
        UnfoldReport report;
        const Counts incident = fuzzsupport::unfoldShortSpectrum(response, &report);
        const int zeroed = static_cast<int>(10.0f / fuzzsupport::kShortWidth);
        for (int ch = 1; ch <= kChannels; ++ch) {
            const std::int32_t v = incident[static_cast<std::size_t>(ch - 1)];
            if (v != 0 && (ch <= zeroed || ch > report.lastChannel))
                fuzzsupport::finding("channel " + std::to_string(ch) + " outside the unfolded range holds " +
                                     std::to_string(v));
        }
    FUZZ_REFUSAL(ResponseDataError)
    FUZZ_REFUSAL(StripInputError)
    FUZZ_REFUSAL(UnfoldError)
    FUZZ_REFUSALS_END
    return 0;
}
