// A spectrum file read as the .Spe block text, then imported
// and drawn (formats_support.h says what is checked).
#include "formats_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzzsupport::exerciseSpectrumFile(data, size, formats::Format::Spe);
    return 0;
}
