// A spectrum file read as the measured .csv (the formats library's reader), then imported
// and drawn (formats_support.h says what is checked).
#include "formats_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzzsupport::exerciseSpectrumFile(data, size, formats::Format::MeasuredCsv);
    return 0;
}
