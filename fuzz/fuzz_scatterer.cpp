// A scatterer file as the conversion program reads it; accepted tables
// convert the shipped demo spectrum.
#include "fuzz_support.h"
#include "shipped_tables.h"

#include "conv/conversion.h"
#include "conv/scatterer.h"
#include "fixedio/fixedio.h"

namespace {
tvconv::ConversionInput demoInput()
{
    tvconv::ConversionInput in;
    const tvstrip::Counts& demo = fuzzsupport::demoCounts();
    std::copy(demo.begin(), demo.end(), in.counts.begin());
    in.angle = 90;
    in.attenuationLength = 1.0f;
    in.channelWidth = 0.1f;
    return in;
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzsupport::demoCounts();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tvconv;
    static const ConversionInput input = demoInput();
    const auto file = fuzzsupport::writeInput("Carbon.dat", data, size);
    FUZZ_REFUSALS_BEGIN
        const ScattererData scatterer = readScattererFile(file);
        (void)convertSpectrum(input, scatterer);
    FUZZ_REFUSAL(fixedio::Error)
    FUZZ_REFUSAL(ConversionError)
    FUZZ_REFUSALS_END
    return 0;
}
