// A response table as the stripping program reads it; an accepted table
// stands in for every energy while the shipped demo spectrum is stripped.
#include "fuzz_support.h"
#include "shipped_tables.h"

#include "fixedio/fixedio.h"
#include "strip/response_table.h"
#include "strip/stripping.h"

#include <cmath>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzsupport::demoCounts();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tvstrip;
    const auto file = fuzzsupport::writeInput("235kev.dat", data, size);
    FUZZ_REFUSALS_BEGIN
        const ResponseTable table = loadResponseTable(file);
        for (float v : table)
            if (!std::isfinite(v)) fuzzsupport::finding("a table value that is not finite was accepted");
        const Counts corrected = stripSpectrum(fuzzsupport::demoCounts(), 80, 0.1f,
                                               [&](int) -> const ResponseTable& { return table; });
        for (std::size_t i = 0; i < corrected.size(); ++i)
            if (corrected[i] < 0)
                fuzzsupport::finding("corrected channel " + std::to_string(i + 1) + " is negative");
    FUZZ_REFUSAL(fixedio::Error)
    FUZZ_REFUSAL(StripInputError)
    FUZZ_REFUSAL(StripArithmeticError)
    FUZZ_REFUSALS_END
    return 0;
}
