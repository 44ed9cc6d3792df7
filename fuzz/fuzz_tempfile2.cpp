// TempFile2.dat as the conversion program reads it; an accepted request is
// converted with the shipped scatterer file it names and written out as a
// result.
#include "fuzz_support.h"
#include "shipped_tables.h"

#include "conv/conversion.h"
#include "conv/exchange.h"
#include "fixedio/fixedio.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzsupport::shippedCarbon();
    fuzzsupport::shippedPmma();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tvconv;
    const auto file = fuzzsupport::writeInput("TempFile2.dat", data, size);
    FUZZ_REFUSALS_BEGIN
        const ConversionRequest r = readConversionRequest(file);
        const bool pmma = r.scattererPath.filename() == "PMMA.dat";
        const ScattererData& scatterer = pmma ? fuzzsupport::shippedPmma() : fuzzsupport::shippedCarbon();
        const Spectrum primary = convertSpectrum(r.input, scatterer);
        const std::vector<std::string> header(headerLineCount, std::string(textColumns, ' '));
        fuzzsupport::requireResultLayout(formatResult(header, r.input.channelWidth, primary),
                                         headerLineCount + channelCount, "result");
    FUZZ_REFUSAL(fixedio::Error)
    FUZZ_REFUSAL(ConversionError)
    FUZZ_REFUSALS_END
    return 0;
}
