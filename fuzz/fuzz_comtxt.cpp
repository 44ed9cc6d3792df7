// Com.txt, the header lines of the measured spectrum, as the stripping
// program reads them; accepted lines go into a complete result file.
#include "fuzz_support.h"
#include "shipped_tables.h"

#include "fixedio/fixedio.h"
#include "strip/exchange.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tvstrip;
    const auto file = fuzzsupport::writeInput(kHeaderFileName, data, size);
    FUZZ_REFUSALS_BEGIN
        fixedio::LineReader in(file, kHeaderFileName);
        StripJob job;
        job.resultPath = "Tarvik_data\\x.mca1";
        job.comment1.assign(kTextWidth, ' ');
        job.comment2.assign(kTextWidth, ' ');
        job.voltage = 80;
        job.kevPerChannel = 0.1f;
        readHeaderLines(in, job);
        for (std::size_t i = 0; i < job.header.size(); ++i)
            if (job.header[i].size() != kTextWidth)
                fuzzsupport::finding("header line " + std::to_string(i + 1) + " is " +
                                     std::to_string(job.header[i].size()) + " bytes long, not 60");
        fuzzsupport::requireResultLayout(formatResult(job, fuzzsupport::demoCounts()), 4 + kHeaderLines + 1 + kChannels, "result");
    FUZZ_REFUSAL(fixedio::Error)
    FUZZ_REFUSALS_END
    return 0;
}
