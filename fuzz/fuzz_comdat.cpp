// Com.dat, the header lines of a converted spectrum, as the conversion
// program reads them; accepted lines go into a complete result file.
#include "fuzz_support.h"
#include "shipped_tables.h"

#include "conv/conversion.h"
#include "conv/exchange.h"
#include "fixedio/fixedio.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tvconv;
    const auto file = fuzzsupport::writeInput("Com.dat", data, size);
    FUZZ_REFUSALS_BEGIN
        const std::vector<std::string> header = readResultHeader(file);
        if (header.size() != static_cast<std::size_t>(headerLineCount))
            fuzzsupport::finding(std::to_string(header.size()) + " header lines instead of 22");
        for (std::size_t i = 0; i < header.size(); ++i)
            if (header[i].size() != textColumns)
                fuzzsupport::finding("header line " + std::to_string(i + 1) + " is " +
                                     std::to_string(header[i].size()) + " bytes long, not 60");
        Spectrum counts{};
        const tvstrip::Counts& demo = fuzzsupport::demoCounts();
        std::copy(demo.begin(), demo.end(), counts.begin());
        fuzzsupport::requireResultLayout(formatResult(header, 0.1f, counts), headerLineCount + channelCount, "result");
    FUZZ_REFUSAL(fixedio::Error)
    FUZZ_REFUSALS_END
    return 0;
}
