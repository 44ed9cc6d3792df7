// A spectrum file read as N42 XML, then imported
// and drawn (formats_support.h says what is checked).
#include "formats_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzzsupport::exerciseSpectrumFile(data, size, formats::Format::N42);
    return 0;
}
