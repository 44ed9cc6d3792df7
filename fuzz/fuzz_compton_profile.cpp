// A Compton-profile file as the conversion program reads it beside the
// scatterer file; an accepted profile, with the shipped Carbon.dat, unfolds
// the demo spectrum at 90 degrees (a few iterations, one energy per channel).
#include "fuzz_support.h"
#include "shipped_tables.h"

#include "conv/conversion.h"
#include "conv/profile.h"
#include "conv/unfold.h"
#include "fixedio/fixedio.h"

#include <algorithm>
#include <cmath>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzsupport::shippedCarbon();
    fuzzsupport::demoCounts();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tvconv;
    const auto file = fuzzsupport::writeInput("Carbon_profile.dat", data, size);
    FUZZ_REFUSALS_BEGIN
        ScatterModelData model{fuzzsupport::shippedCarbon(), readProfileFile(file)};
        const ProfileData& p = model.profile;
        // What the reader promises of an accepted profile.
        if (p.pz.size() != p.profile.size() || p.pz.size() < 2 || p.pz.size() > maxProfileRows)
            fuzzsupport::finding(std::to_string(p.pz.size()) + " momenta with " + std::to_string(p.profile.size()) +
                                 " profile values were accepted");
        for (std::size_t i = 0; i < p.pz.size(); ++i) {
            if (!std::isfinite(p.pz[i]) || (i > 0 && !(p.pz[i] > p.pz[i - 1])))
                fuzzsupport::finding("momenta that do not ascend were accepted");
            if (!(p.profile[i] >= 0) || !std::isfinite(p.profile[i]))
                fuzzsupport::finding("a negative or non-finite profile value was accepted");
        }
        if (!(p.restEnergy > 0 && p.kevAngstrom > 0 && p.momentumAtomic > 0))
            fuzzsupport::finding("a constant of the scattering model not above 0 was accepted");

        ConversionInput input;
        const tvstrip::Counts& demo = fuzzsupport::demoCounts();
        std::copy(demo.begin(), demo.end(), input.counts.begin());
        input.angle = 90;
        input.attenuationLength = 1.0f;
        input.channelWidth = 0.1f;
        UnfoldOptions options;
        options.maxIterations = 3;
        options.tolerance = 0.5;
        options.subSamples = 1;
        const UnfoldResult r = unfoldPrimary(input, model, options);
        long long measured = 0, primary = 0;
        for (std::size_t i = 0; i < r.primary.size(); ++i) {
            if (r.primary[i] < 0)
                fuzzsupport::finding("primary channel " + std::to_string(i + 1) + " is negative");
            if (i > 0) {
                measured += input.counts[i];
                primary += r.primary[i];
            }
        }
        // Each channel is truncated to a whole count after the scaling.
        if (primary > measured || measured - primary > static_cast<long long>(r.primary.size()))
            fuzzsupport::finding("channels 2 to 1024 hold " + std::to_string(primary) + " counts, not the measured " +
                                 std::to_string(measured));
    FUZZ_REFUSAL(fixedio::Error)
    FUZZ_REFUSAL(ConversionError)
    FUZZ_REFUSALS_END
    return 0;
}
