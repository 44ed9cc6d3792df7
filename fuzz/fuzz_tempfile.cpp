// TempFile.dat as the stripping program reads it; an accepted file is
// stripped against the shipped response tables and written out as a result.
#include "fuzz_support.h"
#include "shipped_tables.h"

#include "fixedio/fixedio.h"
#include "fixedio/sjis.h"
#include "strip/exchange.h"
#include "strip/stripping.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzsupport::shippedResponseTables();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tvstrip;
    const auto file = fuzzsupport::writeInput(kTempFileName, data, size);
    FUZZ_REFUSALS_BEGIN
        fixedio::LineReader in(file, kTempFileName);
        StripJob job;
        readTempFile(in, job);
        const StripPlan plan = planStripping(job.voltage, job.kevPerChannel);
        (void)fixedio::exchangePath(job.resultPath);
        WorkingSpectrum s = prepareSpectrum(job.counts, plan);
        stripChannels(s, plan, fuzzsupport::shippedTable, {});
        const Counts corrected = finishSpectrum(s, plan);
        for (std::size_t i = 0; i < corrected.size(); ++i)
            if (corrected[i] < 0)
                fuzzsupport::finding("corrected channel " + std::to_string(i + 1) + " is negative");
        for (std::string& h : job.header) h.assign(kTextWidth, ' ');
        fuzzsupport::requireResultLayout(formatResult(job, corrected), 4 + kHeaderLines + 1 + kChannels, "result");
    FUZZ_REFUSAL(fixedio::Error)
    FUZZ_REFUSAL(StripInputError)
    FUZZ_REFUSAL(StripArithmeticError)
    FUZZ_REFUSALS_END
    return 0;
}
